// Which monitor full-screen recordings take and which sound devices the two sources record,
// with their gains: the main window's display combo and the preferences' Sound page.

#include "sc-main-window.h"
#include "ui_sc-main-window.h"

#include "sc-display-choice.h"
#include "sc-logger.h"
#include "sc-note.h"
#include "sc-obs-wrapper.h"
#include "sc-settings-sound-page.h"
#include "sc-settings-window.h"
#include "sc-settings.h"
#include "volume-control.h"

#include <QGuiApplication>
#include <QScreen>

namespace {
const QString DEFAULT_AUDIO_DEVICE = QStringLiteral("default");
} // namespace

void SCMainWindow::setupDisplayChoice()
{
    if (m_displayChoice)
        return;
    m_displayChoice = new SCDisplayChoice(ui->screenModes);
    m_displayChoice->retranslate();
    // Beside the Full Screen tile, whose recordings it decides.
    ui->screenModesLayout->insertWidget(1, m_displayChoice, 0, Qt::AlignVCenter);
    connect(m_displayChoice, &SCDisplayChoice::displayChanged, this, [this] {
        if (m_recordingMode == FullScreen && !m_isRecording && m_screenEnabled)
            onFullScreenClicked();
    });
}

SCCaptureSpace SCMainWindow::fullScreenSpace() const
{
    return m_displayChoice ? m_displayChoice->fullScreenSpace()
                           : SCDisplayChoice::screenSpace(QGuiApplication::primaryScreen());
}

SCCaptureSpace SCMainWindow::recordingSpace() const
{
    if (m_recordingMode == FullScreen)
        return fullScreenSpace();
    return SCDisplayChoice::spaceFor(QRect(m_startPoint, m_endPoint).normalized());
}

QString SCMainWindow::soundDevice(bool mic)
{
    const QString saved = m_settings
                                  .value(mic ? SCSettings::RECORDING_MIC_DEVICE
                                             : SCSettings::RECORDING_SPEAKER_DEVICE,
                                         DEFAULT_AUDIO_DEVICE)
                                  .toString();
    if (!m_obs || saved.isEmpty())
        return DEFAULT_AUDIO_DEVICE;
    const bool known = mic ? m_obs->micDeviceKnown(saved) : m_obs->playerDeviceKnown(saved);
    if (known)
        return saved;
    QString &reported = mic ? m_reportedMissingMic : m_reportedMissingSpeaker;
    if (reported != saved) {
        reported = saved;
        SCLogger::instance()->warning(
                QStringLiteral("The saved %1 device \"%2\" is not there; recording from the "
                               "default one")
                        .arg(mic ? QStringLiteral("microphone") : QStringLiteral("system sound"),
                             saved));
        if (!m_deviceNote)
            m_deviceNote = new SCNote(this);
        m_deviceNote->showMessage(
                mic ? tr("The saved microphone is not connected: the default one is recorded.")
                    : tr("The saved sound output is not connected: the default one is "
                         "recorded."),
                this, 6000);
    }
    return DEFAULT_AUDIO_DEVICE;
}

void SCMainWindow::applySoundGains()
{
    if (!m_obs)
        return;
    m_obs->setMicGain(m_settings.value(SCSettings::RECORDING_MIC_GAIN, 100).toInt() / 100.0f);
    m_obs->setPlayerGain(m_settings.value(SCSettings::RECORDING_SPEAKER_GAIN, 100).toInt()
                         / 100.0f);
}

void SCMainWindow::connectSoundPage(SCSettingsWindow *window)
{
    SCSettingsSoundPage *page = window->soundPage();
    if (!page || !m_obs || !m_obsReady)
        return;
    m_obs->searchMicDevice();
    m_obs->searchPlayerDevice();
    page->setDevices(SCSettingsSoundPage::Microphone, m_obs->micphoneDeviceName(),
                     m_obs->micDeviceIds());
    page->setDevices(SCSettingsSoundPage::SystemSound, m_obs->playerDeviceName(),
                     m_obs->playerDeviceIds());
    for (auto source : {SCSettingsSoundPage::Microphone, SCSettingsSoundPage::SystemSound}) {
        const bool mic = source == SCSettingsSoundPage::Microphone;
        VolumeControl *meter = page->meter(source);
        VolumeControl *mainMeter = mic ? ui->micMeter : ui->speakerMeter;
        meter->setChannelCount(mainMeter->channelCount());
        meter->setAudioChannel(mainMeter->audioChannel());
        meter->setInverting(mainMeter->inverting());
        connect(m_obs.get(),
                mic ? &ObsWrapper::micVolumeDataChange : &ObsWrapper::playerVolumeDataChange, meter,
                &VolumeControl::setLevels);
    }
    connect(page, &SCSettingsSoundPage::gainChanged, this, [this](int, int) { applySoundGains(); });
    connect(page, &SCSettingsSoundPage::deviceChosen, this, [this](int source, const QString &) {
        // A running recording keeps its sources; the next one takes the new device.
        if (m_isRecording)
            return;
        if (source == SCSettingsSoundPage::Microphone)
            m_obs->recMicAudio(ui->micSwitch->isChecked(), soundDevice(true));
        else
            m_obs->recPlayerAudio(ui->speakerSwitch->isChecked(), soundDevice(false));
    });
}
