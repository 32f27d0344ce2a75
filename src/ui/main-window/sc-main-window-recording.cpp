// The recording workflow of the main window: engine bring-up, start with countdown, stop,
// status, elapsed time, the floating toolbar and the recording hotkey.

#include "sc-main-window.h"
#include "ui_sc-main-window.h"

#include "sc-countdown-widget.h"
#include "sc-desktop-session.h"
#include "sc-display-choice.h"
#include "sc-draw-window.h"
#include "sc-file-manager.h"
#include "sc-fullscreen-toolbar.h"
#include "sc-logger.h"
#include "sc-obs-wrapper.h"
#include "sc-recording-name.h"
#include "sc-settings.h"
#include "sc-types.h"
#include "sc-window-tracker.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStorageInfo>
#include <QTemporaryFile>
#include <QThread>
#include <QTimer>

namespace {
constexpr int FPS = 30;
constexpr int BITRATE_ARGUMENT = 4;
// Below this a new recording may not fit; below the second one a running recording is
// ended while its file can still be finished properly.
constexpr qint64 LOW_DISK_BEFORE_START = 500LL * 1024 * 1024;
constexpr qint64 LOW_DISK_WHILE_RECORDING = 100LL * 1024 * 1024;

qint64 storageFreeBytes(const QString &folder)
{
    const QStorageInfo storage(folder);
    return storage.isValid() ? storage.bytesAvailable() : -1;
}
} // namespace

void SCMainWindow::setFreeSpaceProbe(FreeSpaceProbe probe)
{
    m_freeSpaceProbe = std::move(probe);
}

void SCMainWindow::initObsRecording()
{
    // One shot at each whole recorded second, so that the clock neither lags nor skips one.
    m_recordingTimer = new QTimer(this);
    m_recordingTimer->setSingleShot(true);
    m_recordingTimer->setTimerType(Qt::PreciseTimer);
    connect(m_recordingTimer, &QTimer::timeout, this, &SCMainWindow::updateRecordingTimer);

    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        qWarning() << "Failed to get primary screen";
        return;
    }
    setupDisplayChoice();
    const QRect geometry = fullScreenSpace().logical;
    m_startPoint = geometry.topLeft();
    m_endPoint = geometry.bottomRight();
    m_areaSet = true;
    const qreal ratio = devicePixelRatioF();
    const int width = int(geometry.width() * ratio);
    const int height = int(geometry.height() * ratio);

    m_obs->setScreenCastOnly(SCDesktopSession::isWayland());
    if (m_obs->initObs(width, height, FPS) < 1) {
        SCLogger::instance()->warning(QStringLiteral("Failed to initialize OBS"));
        return;
    }
    m_obsReady = true;
    SCLogger::instance()->info(QStringLiteral("OBS initialized successfully"));
    m_obs->addSceneSource(REC_SCREEN);
    m_obs->searchRecTargets(REC_SCREEN);
    m_obs->searchMicDevice();
    m_obs->searchPlayerDevice();
    setupRecordingDevices();
    setupRecordingArea();
    setupOBSConnection();
    setupMeterWidgets();

    ui->screenSwitch->setChecked(m_settings.value(SCSettings::RECORDING_SCREEN_SWITCH).toBool());
    ui->speakerSwitch->setChecked(m_settings.value(SCSettings::RECORDING_SPEAKER_SWITCH).toBool());
    ui->micSwitch->setChecked(m_settings.value(SCSettings::RECORDING_MIC_SWITCH).toBool());
    ui->mouseSwitch->setChecked(m_settings.value(SCSettings::MOUSE_SWITCH).toBool());
    // A switch whose stored state equals its current one emits nothing; its source must
    // still follow it.
    onSpeakerSwitchChanged(ui->speakerSwitch->isChecked());
    if (!ui->micSwitch->isChecked())
        onMicSwitchChanged(false);
    emit engineReady();
}

void SCMainWindow::setupRecordingDevices()
{
    applySoundGains();
    m_obs->recMicAudio(true, soundDevice(true));
    m_obs->recPlayerAudio(true, soundDevice(false));
}

void SCMainWindow::setupOBSConnection()
{
    connect(m_obs.get(), &ObsWrapper::recordStatusChanged, this,
            &SCMainWindow::onRecordStatusChanged, Qt::QueuedConnection);
    connect(m_obs.get(), &ObsWrapper::recordingFailed, this, &SCMainWindow::onRecordingFailed,
            Qt::QueuedConnection);
    connect(m_obs.get(), &ObsWrapper::screenCastEnded, this, &SCMainWindow::onScreenShareEnded);
}

void SCMainWindow::setupMeterWidgets()
{
    const int channel = m_obs->audioChannel();
    ui->micMeter->setChannelCount(m_obs->micChannelCount());
    ui->micMeter->setAudioChannel(channel);
    ui->micMeter->setInverting(true);
    ui->speakerMeter->setChannelCount(m_obs->playerChannelCount());
    ui->speakerMeter->setAudioChannel(channel);
    ui->speakerMeter->setInverting(true);
}

bool SCMainWindow::ensureSaveFolder(QString *message) const
{
    const QString folder = ui->saveLocationLineEdit->text();
    const QFileInfo info(folder);
    if (folder.isEmpty() || (info.exists() && !info.isDir())) {
        *message = tr("The save folder \"%1\" is not a folder.").arg(folder);
        return false;
    }
    if (!info.exists() && !QDir().mkpath(folder)) {
        *message = tr("The save folder \"%1\" cannot be created.").arg(folder);
        return false;
    }
    // Permission bits say nothing for root or on some mounts: try a real file.
    QTemporaryFile probe(folder + QStringLiteral("/.vistrel-XXXXXX"));
    if (!probe.open()) {
        *message = tr("Vistrel cannot write to the save folder \"%1\".").arg(folder);
        return false;
    }
    return true;
}

void SCMainWindow::startRecording(bool)
{
    // A question already on screen is answered first; a second start does not stack another.
    if (m_openDialog) {
        m_openDialog->raise();
        emit recordingStartFailed(SCControlErrors::BUSY,
                                  tr("A message of Vistrel is waiting for an answer."));
        return;
    }
    // A full or read-only save folder is found now, not after the countdown.
    if (!m_obs->isRecordingStart()) {
        QString problem;
        if (!ensureSaveFolder(&problem)) {
            SCLogger::instance()->warning(problem);
            emit recordingStartFailed(SCControlErrors::FAILED, problem);
            showWarning(tr("Warning"), problem);
            return;
        }
        if (!confirmLowDiskSpace(ui->saveLocationLineEdit->text())) {
            emit recordingStartFailed(SCControlErrors::FAILED,
                                      tr("Not started: the save folder's disk is almost full."));
            return;
        }
        // The desktop's sharing dialog comes before the countdown, not after it.
        if (m_obsReady && !shareScreenForRecording())
            return;
    }

    setWindowState(windowState() | Qt::WindowMinimized);

    setControlState(QStringLiteral("countdown"));
    const int countdown = std::exchange(m_skipNextCountdown, false) ? 0 : m_countdownSeconds;
    m_countdownWidget = new SCCountdownWidget(nullptr);
    const int cx = m_startPoint.x() + (m_endPoint.x() - m_startPoint.x()) / 2;
    const int cy = m_startPoint.y() + (m_endPoint.y() - m_startPoint.y()) / 2;
    m_countdownWidget->move(cx - m_countdownWidget->width() / 2,
                            cy - m_countdownWidget->height() / 2);
    m_countdownWidget->startCountdown(countdown);
    m_countdownWidget->blockUntilFinished();
    m_countdownWidget->deleteLater();
    m_countdownWidget = nullptr;

    if (m_countdownCancelled) {
        m_countdownCancelled = false;
        endScreenShare();
        setControlState(QStringLiteral("idle"));
        emit recordingStartFailed(SCControlErrors::CANCELLED, tr("The countdown was cancelled."));
        return;
    }
    // Lets the countdown disc leave the screen before the first frame is taken.
    QThread::msleep(100);

    if (!m_obs || !m_obsReady) {
        SCLogger::instance()->warning(QStringLiteral("OBS wrapper not initialized"));
        failRecordingStart(tr("The recording engine could not be started. Details are in the "
                              "log file."));
        return;
    }
    if (m_obs->isRecordingStart()) {
        SCLogger::instance()->info(QStringLiteral("Stopping existing recording"));
        stopRecording();
        return;
    }
    if (!prepareRecording()) {
        SCLogger::instance()->error(QStringLiteral("Failed to prepare recording"));
        failRecordingStart(tr("The recording could not be prepared for this area. Details are "
                              "in the log file."));
        return;
    }
    m_obs->captureMouseCursor(m_settings.value(SCSettings::MOUSE_SHOW_CURSOR).toBool());
    m_obs->enableMouseEffect(m_settings.value(SCSettings::MOUSE_SWITCH).toBool());

    makeWindowRecordingTransparent(this);

    m_recordingTime = QTime(0, 0, 0, 0);
    const QString zero = QStringLiteral("00:00:00");
    if (m_fullscreenToolbar)
        m_fullscreenToolbar->updateTimerLabel(zero);
    if (m_drawWindow)
        m_drawWindow->updateTimerLabel(zero);
    m_recordedMs = 0;
    m_paused = false;
    m_runClock.start();
    scheduleClockTick();
    m_stoppedForLowDisk = false;

    const QString path = generateOutputPath();
    SCLogger::instance()->info(QStringLiteral("Starting recording to file: %1").arg(path));
    startRecordingToFile(path);
}

void SCMainWindow::startRecordingHandler()
{
    startRecording(false);
}

bool SCMainWindow::prepareRecording()
{
    // A window shared by a Wayland desktop is all of the shared picture.
    const bool wholePicture = m_recordingMode == FullScreen
            || (m_recordingMode == Window && SCDesktopSession::isWayland());
    if (!m_areaSet || !m_screenEnabled || wholePicture) {
        const SCCaptureSpace space = fullScreenSpace();
        if (!space.isValid())
            return false;
        m_startPoint = space.logical.topLeft();
        m_endPoint = space.logical.bottomRight();
        m_areaSet = true;
    }
    // Applied afresh, so that the crop, the canvas, the size fields and the file agree with
    // whatever the frame went through since.
    if (!setupRecordingArea())
        return false;
    // The server's devices may have changed since the last recording.
    m_obs->searchMicDevice();
    m_obs->searchPlayerDevice();
    m_obs->recMicAudio(ui->micSwitch->isChecked(), soundDevice(true));
    m_obs->recPlayerAudio(ui->speakerSwitch->isChecked(), soundDevice(false));
    return true;
}

QString SCMainWindow::generateOutputPath() const
{
    QString name = SCRecordingName::sanitize(ui->filenameEdit->text());
    if (name.isEmpty())
        name = SCRecordingName::generated(QDateTime::currentDateTime());
    const QString folder = ui->saveLocationLineEdit->text();
    QDir().mkpath(folder);
    const int index = qMax(0, ui->recordFormatComboBox->currentIndex());
    const QString extension = OUTPUT_FORMAT_STRINGS.at(static_cast<OutputFormat>(index)).toLower();
    return SCRecordingName::uniqueBase(folder, name, extension);
}

void SCMainWindow::startRecordingToFile(const QString &path)
{
    const int index = ui->recordFormatComboBox->count() > 0
            ? qMax(0, ui->recordFormatComboBox->currentIndex())
            : 0;
    const auto format = static_cast<OutputFormat>(index);
    const QSize size = requestedVideoSize();
    m_obs->setVideoEncoder(SCSettings::recordingEncoder(m_settings, format));
    m_obs->setupFFmpeg(path, size.width(), size.height(), recordingFps(), BITRATE_ARGUMENT, format,
                       SCSettings::recordingQuality(m_settings, format));
    // A refused start has reported itself through the engine's signals; there is no file.
    if (m_obs->startRecording() != 0) {
        m_recordingTimer->stop();
        endScreenShare();
        setControlState(QStringLiteral("idle"));
        return;
    }
    SCLogger::instance()->info(QStringLiteral("Recording started..."));
    m_recordingFileListed = true;
    m_recordingFile = m_obs->outputFilePath();
    if (m_recordingMode == Region && m_screenEnabled)
        m_lastRegion = QRect(m_startPoint, m_endPoint);
    setControlState(QStringLiteral("recording"));
    emit recordingStarted(m_recordingFile);
    if (m_fileManager) {
        m_fileManager->addFile(path + QLatin1Char('.') + OUTPUT_FORMAT_STRINGS.at(format).toLower(),
                               isAudioOnlyFormat(format) ? QStringLiteral("audio")
                                                         : QStringLiteral("video"));
    }
}

// The size the user asked for; an edit holding no positive number gives the area's size.
QSize SCMainWindow::requestedVideoSize() const
{
    bool widthOk = false;
    bool heightOk = false;
    const int width = ui->widthLineEdit->text().toInt(&widthOk);
    const int height = ui->heightLineEdit->text().toInt(&heightOk);
    if (widthOk && heightOk && width > 0 && height > 0)
        return {width, height};
    const qreal ratio = devicePixelRatioF();
    const QSize area(int((m_endPoint.x() - m_startPoint.x() + 1) * ratio),
                     int((m_endPoint.y() - m_startPoint.y() + 1) * ratio));
    SCLogger::instance()->warning(
            QStringLiteral("Width \"%1\" or height \"%2\" is not a size; recording %3x%4")
                    .arg(ui->widthLineEdit->text(), ui->heightLineEdit->text())
                    .arg(area.width())
                    .arg(area.height()));
    return area;
}

void SCMainWindow::failRecordingStart(const QString &reason)
{
    endScreenShare();
    setControlState(QStringLiteral("idle"));
    emit recordingStartFailed(SCControlErrors::FAILED, reason);
    if (m_recordingTimer)
        m_recordingTimer->stop();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    showWarning(tr("Recording Error"), reason);
}

bool SCMainWindow::confirmLowDiskSpace(const QString &folder)
{
    const qint64 freeBytes = m_freeSpaceProbe ? m_freeSpaceProbe(folder) : storageFreeBytes(folder);
    if (freeBytes < 0 || freeBytes >= LOW_DISK_BEFORE_START)
        return true;
    const qint64 freeMb = freeBytes / (1024 * 1024);
    SCLogger::instance()->warning(
            QStringLiteral("Only %1 MB free in %2 before recording").arg(freeMb).arg(folder));
    // Below the level at which a recording is ended, one would stop at once: not offered.
    if (freeBytes < LOW_DISK_WHILE_RECORDING) {
        showWarning(tr("Low Disk Space"),
                    tr("Only %1 MB are free in the save folder. A recording needs at least "
                       "%2 MB; free some space or choose another folder.")
                            .arg(freeMb)
                            .arg(LOW_DISK_BEFORE_START / (1024 * 1024)));
        return false;
    }
    QMessageBox box(QMessageBox::Warning, tr("Low Disk Space"),
                    tr("Only %1 MB are free in the save folder. The recording will stop when "
                       "less than 100 MB are left.\n\nRecord anyway?")
                            .arg(freeMb));
    QPushButton *record = box.addButton(tr("Record Anyway"), QMessageBox::AcceptRole);
    box.addButton(tr("Cancel"), QMessageBox::RejectRole);
    box.setStyleSheet(loadMessageBoxStyle());
    m_openDialog = &box;
    box.exec();
    m_openDialog = nullptr;
    const bool goOn = box.clickedButton() == record;
    if (!goOn)
        SCLogger::instance()->info(QStringLiteral("Recording not started: low disk space"));
    return goOn;
}

void SCMainWindow::checkDiskSpaceWhileRecording()
{
    if (!m_obs || !m_obs->isRecordingStart() || m_stoppedForLowDisk)
        return;
    const QString folder = QFileInfo(m_obs->outputFilePath()).absolutePath();
    const qint64 freeBytes = m_freeSpaceProbe ? m_freeSpaceProbe(folder) : storageFreeBytes(folder);
    if (freeBytes < 0 || freeBytes >= LOW_DISK_WHILE_RECORDING)
        return;
    SCLogger::instance()->warning(QStringLiteral("Stopping the recording: only %1 MB free in %2")
                                          .arg(freeBytes / (1024 * 1024))
                                          .arg(folder));
    m_stoppedForLowDisk = true;
    stopRecording();
}

void SCMainWindow::stopRecording()
{
    if (!m_obs || !m_obs->isRecordingStart())
        return;
    const int result = m_obs->stopRecording(false);
    setControlState(QStringLiteral("stopping"));
    SCLogger::instance()->info(QStringLiteral("Recording stopped... %1").arg(result));
}

void SCMainWindow::showRecordingControls(bool recording)
{
    const int index = ui->recordFormatComboBox->currentIndex();
    const bool soundOnly = isAudioOnlyFormatIndex(index);
    if (!recording) {
        if (m_fullscreenToolbar) {
            m_fullscreenToolbar->setAutoHide(false);
            m_fullscreenToolbar->hideToolbar();
            m_fullscreenToolbar->setRecordingState(false);
            m_fullscreenToolbar->updateTimerLabel(QStringLiteral("00:00:00"));
        }
        return;
    }
    // A region or window keeps its controls on its frame, outside the recorded area. The
    // whole screen has no outside: the toolbar waits at the top edge and shows only while the
    // pointer is there. A sound recording has no picture to keep clear of.
    const bool frameShown = m_drawWindow && m_drawWindow->isVisible() && !soundOnly;
    if (frameShown)
        return;
    initFullscreenToolbar();
    m_fullscreenToolbar->setRecordingState(true);
    m_fullscreenToolbar->setAutoHide(!soundOnly);
    if (soundOnly)
        m_fullscreenToolbar->showToolbar();
    else
        m_fullscreenToolbar->hideToolbar();
}

void SCMainWindow::onRecordStatusChanged(int status)
{
    const int index = ui->recordFormatComboBox->currentIndex();
    switch (status) {
    case 0:
        m_isRecording = true;
        setControlState(QStringLiteral("recording"));
        ui->recordingIcon->setPixmap(
                QPixmap(QStringLiteral(":/res/forms/images/stop-recording.svg")));
        ui->recordingLabel->setText(tr("Stop Recording"));
        if (std::exchange(m_paused, false)) {
            m_runClock.restart();
            scheduleClockTick();
            if (m_fullscreenToolbar)
                m_fullscreenToolbar->setPausedState(false);
            if (m_drawWindow)
                m_drawWindow->setPausedState(false);
            break;
        }
        if (m_drawWindow)
            m_drawWindow->setRecordingState(true);
        showRecordingControls(true);
        // A followed window is asked after more often while its place decides the file.
        m_windowTracker->setInterval(50);
        break;
    case 1:
        // Still a recording: its controls stay, only the clock stops.
        m_paused = true;
        m_recordedMs += m_runClock.elapsed();
        if (m_recordingTimer)
            m_recordingTimer->stop();
        updateRecordingTimer();
        if (m_fullscreenToolbar)
            m_fullscreenToolbar->setPausedState(true);
        if (m_drawWindow)
            m_drawWindow->setPausedState(true);
        setControlState(QStringLiteral("paused"));
        ui->recordingIcon->setPixmap(
                QPixmap(QStringLiteral(":/res/forms/images/pause-recording.svg")));
        ui->recordingLabel->setText(tr("Pause Recording"));
        setWindowState(windowState() | Qt::WindowMinimized);
        break;
    case 2: {
        m_isRecording = false;
        m_paused = false;
        endScreenShare();
        m_windowTracker->setInterval(250);
        ui->recordingIcon->setPixmap(
                QPixmap(QStringLiteral(":/res/forms/images/start-recording.svg")));
        ui->recordingLabel->setText(tr("Start Recording"));
        if (m_recordingTimer)
            m_recordingTimer->stop();
        makeWindowRecordingVisible(this);
        const QString zero = QStringLiteral("00:00:00");
        showRecordingControls(false);
        if (m_drawWindow) {
            m_drawWindow->setRecordingState(false);
            m_drawWindow->updateTimerLabel(zero);
        }
        setWindowState(windowState() & ~Qt::WindowMinimized);
        setControlState(QStringLiteral("idle"));
        if (!m_recordingFileListed)
            break;
        m_recordingFileListed = false;
        // The file is whole and in the library.
        emit recordingFinished(m_recordingFile);
        const QString type
                = isAudioOnlyFormatIndex(index) ? QStringLiteral("audio") : QStringLiteral("video");
        const bool lowDisk = std::exchange(m_stoppedForLowDisk, false);
        if (lowDisk)
            emit recordingInterrupted(m_recordingFile, lowDiskStopText());
        QTimer::singleShot(0, this, [this, type, lowDisk] {
            showFilesPage(type);
            if (lowDisk) {
                showWarning(tr("Low Disk Space"), lowDiskStopText());
            }
        });
        break;
    }
    default:
        break;
    }
}

QString SCMainWindow::lowDiskStopText() const
{
    return tr("The recording was stopped because less than 100 MB of disk space is left. The "
              "file was saved.");
}

void SCMainWindow::onRecordingFailed(const QString &message)
{
    emit recordingFailed(message);
    showWarning(tr("Recording Error"), tr("The recording failed: %1").arg(message));
}

qint64 SCMainWindow::recordedMs() const
{
    return m_recordedMs + (m_paused || !m_runClock.isValid() ? 0 : m_runClock.elapsed());
}

void SCMainWindow::updateRecordingTimer()
{
    // Called by its own timer only while running; a pause updates it once and stops it. The
    // next tick is set before the disk check, so that a stop the check makes cancels it.
    if (!m_paused)
        scheduleClockTick();
    checkDiskSpaceWhileRecording();
    m_recordingTime = QTime(0, 0).addMSecs(int(recordedMs()));
    const QString text = m_recordingTime.toString(QStringLiteral("hh:mm:ss"));
    if (m_fullscreenToolbar)
        m_fullscreenToolbar->updateTimerLabel(text);
    if (m_drawWindow)
        m_drawWindow->updateTimerLabel(text);
}

void SCMainWindow::scheduleClockTick()
{
    // A little past the boundary, so that the second shown is the one just begun.
    m_recordingTimer->start(int(1000 - recordedMs() % 1000) + 2);
}

void SCMainWindow::initFullscreenToolbar()
{
    if (m_fullscreenToolbar)
        return;
    m_fullscreenToolbar = std::make_unique<SCFullscreenToolbar>();
    connect(m_fullscreenToolbar.get(), &SCFullscreenToolbar::pauseToggled, this,
            &SCMainWindow::pauseRequested);
    connect(m_fullscreenToolbar.get(), &SCFullscreenToolbar::recordingToggled, this,
            [this](bool start) {
                if (start)
                    startRecording(false);
                else
                    stopRecording();
            });
}

void SCMainWindow::onRecordingHotkey()
{
    if (m_countdownWidget) {
        m_countdownCancelled = true;
        m_countdownWidget->stopCountdown();
        m_countdownWidget->hide();
        m_isRecording = false;
        setWindowState(windowState() & ~Qt::WindowMinimized);
        activateWindow();
        raise();
    } else if (m_isRecording) {
        stopRecording();
        setWindowState(windowState() & ~Qt::WindowMinimized);
        activateWindow();
        raise();
    } else {
        startRecording(false);
    }
}

void SCMainWindow::onPauseHotkey()
{
    if (m_obs && m_obs->isRecordingStart())
        pauseRequested(!m_obs->isPaused());
}

bool SCMainWindow::pauseRequested(bool pause)
{
    if (!m_obs || !m_obs->isRecordingStart())
        return false;
    return m_obs->setPaused(pause) == 0;
}

void SCMainWindow::finishFilesNow()
{
    if (m_obs)
        m_obs->finishFilesNow();
}
