// The recording area and capture options of the main window: mode tiles, region frame,
// ratio presets, exact sizes, the lock, the five switches and the format combo.

#include "sc-main-window.h"
#include "ui_sc-main-window.h"

#include "area-selector.h"
#include "obs-capture-area.h"
#include "sc-camera-window.h"
#include "sc-desktop-session.h"
#include "sc-display-choice.h"
#include "sc-draw-window.h"
#include "sc-frame-geometry.h"
#include "sc-fullscreen-toolbar.h"
#include "sc-logger.h"
#include "sc-multimedia-check.h"
#include "sc-obs-wrapper.h"
#include "sc-settings.h"
#include "sc-types.h"
#include "sc-window-tracker.h"
#include "window-highlighter.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

namespace {

constexpr int FPS = 30;
// Where a sound-only recording goes when the screen is switched off.
constexpr int FIRST_AUDIO_FORMAT = static_cast<int>(OutputFormat::MP3);

struct TileIcons
{
    const char *tile;
    const char *iconLabel;
    const char *normal;
    const char *active;
};

constexpr TileIcons MODE_TILES[] = {
        {"fullScreenWidget", "fullScreenIcon", ":/res/forms/images/full-screen.svg",
         ":/res/forms/images/full-screen-white.svg"},
        {"selectRegionWidget", "selectRegionIcon", ":/res/forms/images/select-region.svg",
         ":/res/forms/images/select-region-white.svg"},
        {"selectWindowWidget", "selectWindowIcon", ":/res/forms/images/lock-window.svg",
         ":/res/forms/images/lock-window-white.svg"},
};

QSize presetSize(const QString &text)
{
    if (text == QLatin1String("16:9"))
        return {1920, 1080};
    if (text == QLatin1String("9:16"))
        return {608, 1080};
    if (text == QLatin1String("4:3"))
        return {1440, 1080};
    if (text == QLatin1String("1:1"))
        return {1080, 1080};
    return {};
}

} // namespace

void SCMainWindow::highlightActiveRecordingMode(QWidget *active)
{
    for (const TileIcons &t : MODE_TILES) {
        auto *tile = findChild<QWidget *>(QLatin1String(t.tile));
        auto *icon = findChild<QLabel *>(QLatin1String(t.iconLabel));
        if (!tile || !icon)
            continue;
        if (tile == active) {
            tile->setStyleSheet(QStringLiteral("QWidget#%1 { background: #37373D; border-radius: "
                                               "4px; } QWidget#%1 QLabel { color: #FFFFFF; "
                                               "font-weight: 600; }")
                                        .arg(QLatin1String(t.tile)));
            icon->setPixmap(QPixmap(QLatin1String(t.active)));
        } else {
            tile->setStyleSheet(
                    QStringLiteral("QWidget#%1 QLabel { color: #99A1B0; font-weight: 500; }")
                            .arg(QLatin1String(t.tile)));
            icon->setPixmap(QPixmap(QLatin1String(t.normal)));
        }
    }
    if (!active)
        return;
    if (!m_screenEnabled) {
        m_screenEnabled = true;
        ui->screenSwitch->setChecked(true);
        if (isAudioOnlyFormatIndex(ui->recordFormatComboBox->currentIndex()))
            ui->recordFormatComboBox->setCurrentIndex(0);
    }
}

void SCMainWindow::onModeTileReleased(QWidget *tile)
{
    ui->screenSwitch->setChecked(true);
    m_settings.setValue(SCSettings::RECORDING_SCREEN_SWITCH, true);
    changeFormatFromAudioToMP4();
    highlightActiveRecordingMode(tile);
    if (tile == ui->fullScreenWidget) {
        m_recordingMode = FullScreen;
        onFullScreenClicked();
    } else if (tile == ui->selectRegionWidget) {
        m_recordingMode = Region;
        selectAreaWithSelector();
    } else if (SCDesktopSession::isWayland()) {
        // The desktop's sharing dialog picks the window when the recording starts; its
        // whole picture is recorded.
        m_recordingMode = Window;
        onFullScreenClicked();
    } else {
        m_recordingMode = Window;
        selectWindowForRecording();
    }
}

void SCMainWindow::changeFormatFromAudioToMP4()
{
    if (isAudioOnlyFormatIndex(ui->recordFormatComboBox->currentIndex())) {
        ui->recordFormatComboBox->setCurrentIndex(0);
        m_settings.setValue(SCSettings::RECORDING_FORMAT, QStringLiteral("MP4"));
    }
}

void SCMainWindow::onFullScreenClicked()
{
    const SCCaptureSpace space = fullScreenSpace();
    if (space.isValid()) {
        m_startPoint = space.logical.topLeft();
        m_endPoint = space.logical.bottomRight();
        m_areaSet = true;
    }
    setupRecordingArea();
    if (m_drawWindow)
        m_drawWindow->hide();
}

void SCMainWindow::onSelectRegionClicked()
{
    SCLogger::instance()->info(QStringLiteral("Select region clicked"));
    if (m_fullscreenToolbar)
        m_fullscreenToolbar->hideToolbar();
}

void SCMainWindow::onSelectScreenClicked()
{
    SCLogger::instance()->info(QStringLiteral("Select screen clicked"));
    if (m_fullscreenToolbar)
        m_fullscreenToolbar->hideToolbar();
}

void SCMainWindow::selectAreaWithSelector()
{
    if (m_fullscreenToolbar)
        m_fullscreenToolbar->hideToolbar();
    if (!m_recordingAreaSelector) {
        m_recordingAreaSelector = std::make_unique<AreaSelector>();
        // A drag of 600 px records 600 px.
        m_recordingAreaSelector->setExtent(AreaSelector::Extent::DraggedDistance);
        connect(m_recordingAreaSelector.get(), &AreaSelector::areaSelected, this,
                [this](const QRect &rect) {
                    SCLogger::instance()->debug(
                            QStringLiteral("Selected Area - x=%1, y=%2, width=%3, height=%4")
                                    .arg(rect.x())
                                    .arg(rect.y())
                                    .arg(rect.width())
                                    .arg(rect.height()));
                    // The selector goes first: it holds the keyboard, and setting up the
                    // area takes a moment in which the user may already press the hotkey.
                    QGuiApplication::restoreOverrideCursor();
                    // The selector is the sender: let it finish this signal first.
                    AreaSelector *selector = m_recordingAreaSelector.release();
                    selector->hide();
                    selector->disconnect(this);
                    selector->deleteLater();
                    placeFrameAround(rect);
                    if (std::exchange(m_startAfterRegionPick, false))
                        QTimer::singleShot(0, this, [this] { startRecording(false); });
                });
        connect(m_recordingAreaSelector.get(), &AreaSelector::cancelled, this, [this] {
            if (std::exchange(m_startAfterRegionPick, false))
                emit recordingStartFailed(SCControlErrors::CANCELLED,
                                          tr("The region selection was cancelled."));
        });
    }
    QGuiApplication::setOverrideCursor(Qt::CrossCursor);
    showSelector(m_recordingAreaSelector.get(), false);
}

void SCMainWindow::selectWindowForRecording()
{
    if (!m_windowHighlighter)
        m_windowHighlighter = std::make_unique<WindowHighlighter>();
    if (m_fullscreenToolbar)
        m_fullscreenToolbar->hideToolbar();
    m_windowHighlighter->show();
    disconnect(m_windowHighlighter.get(), &WindowHighlighter::windowClicked, this, nullptr);
    connect(m_windowHighlighter.get(), &WindowHighlighter::windowClicked, this,
            [this](const QRect &rect) {
                placeFrameAround(rect);
                m_windowTracker->track(m_windowHighlighter->clickedWindow(), rect);
                if (std::exchange(m_startAfterWindowPick, false))
                    QTimer::singleShot(0, this, [this] { startRecording(false); });
                disconnect(m_windowHighlighter.get(), &WindowHighlighter::windowClicked, this,
                           nullptr);
                m_windowHighlighter->hide();
                ui->ratioComboBox->setCurrentIndex(0);
                ui->lockRadioBtn->setChecked(false);
            });
}

void SCMainWindow::followPickedWindow(const QRect &frame)
{
    if (!m_drawWindow || m_recordingMode != Window)
        return;
    SCLogger::instance()->debug(QStringLiteral("Recorded window moved to %1,%2 %3x%4")
                                        .arg(frame.x())
                                        .arg(frame.y())
                                        .arg(frame.width())
                                        .arg(frame.height()));
    const int b = m_drawWindow->borderWidth();
    m_drawWindow->setGeometry(frame.adjusted(-b, -b, b, b));
    m_startPoint = frame.topLeft();
    m_endPoint = frame.bottomRight();
    setupRecordingArea();
}

void SCMainWindow::onFollowedWindowClosed()
{
    SCLogger::instance()->info(QStringLiteral("The recorded window was closed"));
    if (!m_obs || !m_obs->isRecordingStart())
        return;
    stopRecording();
    showWarning(tr("Recording Stopped"),
                tr("The window being recorded was closed. The recording was stopped and saved."));
}

void SCMainWindow::placeFrameAround(const QRect &area)
{
    m_windowTracker->stop();
    DrawWindow *frame = ensureDrawWindowCreated();
    const int b = frame->borderWidth();
    m_startPoint = area.topLeft();
    m_endPoint = area.bottomRight();
    m_areaSet = true;
    frame->setGeometry(area.adjusted(-b, -b, b, b));
    frame->show();
    frame->raise();
    frame->activateWindow();
    setupRecordingArea();
}

DrawWindow *SCMainWindow::ensureDrawWindowCreated()
{
    if (m_drawWindow)
        return m_drawWindow;
    m_drawWindow = new DrawWindow(nullptr);
    connect(m_drawWindow, &DrawWindow::windowGeometryChanged, this,
            &SCMainWindow::onDrawWindowGeometryChanged);
    connect(m_drawWindow, &DrawWindow::hideDrawWindow, this, [this] {
        // Closed is closed: the frame comes back only with a new region or window.
        m_windowTracker->stop();
        m_recordingMode = FullScreen;
        highlightActiveRecordingMode(ui->fullScreenWidget);
        onFullScreenClicked();
    });
    connect(m_drawWindow, &DrawWindow::startRecording, this, &SCMainWindow::startRecordingHandler);
    connect(m_drawWindow, &DrawWindow::stopRecording, this, &SCMainWindow::stopRecording);
    connect(m_drawWindow, &DrawWindow::pauseToggled, this, &SCMainWindow::pauseRequested);
    return m_drawWindow;
}

void SCMainWindow::onDrawWindowGeometryChanged(bool isMoving, const QPoint &topLeft,
                                               const QPoint &bottomRight)
{
    SCLogger::instance()->debug(QStringLiteral("Window coords: (%1,%2) (%3,%4)")
                                        .arg(topLeft.x())
                                        .arg(topLeft.y())
                                        .arg(bottomRight.x())
                                        .arg(bottomRight.y()));
    m_startPoint = topLeft;
    m_endPoint = bottomRight;
    m_areaSet = true;
    // The user took the frame somewhere else: it no longer follows a window.
    m_windowTracker->stop();
    // Every move and resize reaches the engine, while recording as well: the file follows the
    // frame. Only the canvas waits for the next recording.
    Q_UNUSED(isMoving);
    setupRecordingArea();
    if (!ui->lockRadioBtn->isChecked() && !m_applyingPreset)
        ui->ratioComboBox->setCurrentIndex(0);
}

void SCMainWindow::onRatioSelectionChanged(const QString &text)
{
    const QSize size = presetSize(text);
    if (!size.isValid())
        return;
    m_recordingMode = Region;
    highlightActiveRecordingMode(ui->selectRegionWidget);
    // The frame's own report of the preset must not reset the choice to "Custom".
    m_applyingPreset = true;
    createDrawWindowWithDimensions(size.width(), size.height());
    m_applyingPreset = false;
    ui->lockRadioBtn->setChecked(true);
}

void SCMainWindow::createDrawWindowWithDimensions(int width, int height)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect g = screen->geometry();
    const qreal ratio = screen->devicePixelRatio();
    DrawWindow *frame = ensureDrawWindowCreated();
    const int b = frame->borderWidth();
    const QRect placed = SCFrameGeometry::presetFrame(g.size(), ratio, {width, height}, b);
    frame->setGeometry(placed);
    frame->show();
    frame->raise();
    frame->activateWindow();
    // Inclusive corners: the inside of the frame, no more.
    m_startPoint = placed.topLeft() + QPoint(b, b);
    m_endPoint = placed.bottomRight() - QPoint(b, b);
    m_areaSet = true;
    m_windowTracker->stop();
    setupRecordingArea();
}

void SCMainWindow::applyCrop(const ObsCaptureArea &area)
{
    SCLogger::instance()->debug(QStringLiteral("position %1 %2 %3 %4")
                                        .arg(area.left)
                                        .arg(area.right)
                                        .arg(area.top)
                                        .arg(area.bottom));
    const QStringList targets = m_obs->getRecTargets();
    if (targets.isEmpty())
        return;
    m_obs->updateRecItem(targets.first().toUtf8().constData(), REC_SCREEN, !area.fullScreen,
                         area.left, area.right, area.top, area.bottom);
}

bool SCMainWindow::setupRecordingArea()
{
    const SCCaptureSpace space = sharedSpace(recordingSpace());
    if (!space.isValid() || !m_obsReady)
        return false;
    const QRect g = space.logical;
    const qreal ratio = space.ratio;
    SCLogger::instance()->debug(QStringLiteral("Screen geometry: x=%1, y=%2, width=%3, height=%4")
                                        .arg(g.x())
                                        .arg(g.y())
                                        .arg(g.width())
                                        .arg(g.height()));
    m_obs->setCaptureSpace(space.device);
    // One computation for the fields, the crop, the canvas and the file: they always agree.
    // A shared picture's size is the desktop's word; a scaled output's logical size is rounded.
    const QSize picture = m_obs->readsScreenCast() ? space.device.size() : QSize();
    ObsCaptureArea area = ObsCaptureArea::fromCorners(
            m_startPoint - g.topLeft(), m_endPoint - g.topLeft(), g.size(), ratio, picture);
    if (area.fullScreen) {
        // Monitors of different pixel ratios side by side have no one ratio: the whole box
        // is simply all of their device pixels.
        area.frameWidth = space.device.width();
        area.frameHeight = space.device.height();
        area.canvasWidth = ObsCaptureArea::roundUpTo4(space.device.width());
        area.canvasHeight = ObsCaptureArea::roundUpTo4(space.device.height());
    }
    if (!m_syncingFromEdits) {
        const QSignalBlocker blockWidth(ui->widthLineEdit);
        const QSignalBlocker blockHeight(ui->heightLineEdit);
        ui->widthLineEdit->setText(QString::number(area.frameWidth));
        ui->heightLineEdit->setText(QString::number(area.frameHeight));
    }
    applyCrop(area);
    SCLogger::instance()->debug(QStringLiteral("Recording area set to: %1x%2")
                                        .arg(area.canvasWidth)
                                        .arg(area.canvasHeight));
    if (m_isRecording)
        return true;
    if (m_obs->resetVideo(area.canvasWidth, area.canvasHeight, area.canvasWidth, area.canvasHeight,
                          recordingFps())
        != 0) {
        SCLogger::instance()->warning(QStringLiteral("Failed to reset video"));
        return false;
    }
    return true;
}

int SCMainWindow::recordingFps() const
{
    // Chosen per format in the preferences; a sound recording keeps the canvas at the usual rate.
    const int index = ui->recordFormatComboBox->currentIndex();
    if (index < 0 || index >= OUTPUT_FORMAT_COUNT || isAudioOnlyFormatIndex(index))
        return FPS;
    return SCSettings::recordingFps(m_settings, static_cast<OutputFormat>(index));
}

void SCMainWindow::setupRecordingAreaWithoutUpdatingLineEdits()
{
    m_syncingFromEdits = true;
    setupRecordingArea();
    m_syncingFromEdits = false;
}

void SCMainWindow::onLockToggled(bool checked)
{
    ui->lockRadioBtn->setIcon(QIcon(checked ? QStringLiteral(":/res/forms/images/lock.svg")
                                            : QStringLiteral(":/res/forms/images/unlock.svg")));
    if (m_drawWindow)
        m_drawWindow->setLockRatio(checked);
}

void SCMainWindow::onWidthEdited(const QString &text)
{
    resizeFrameFromEdits(text.toInt(), 0);
}

void SCMainWindow::onHeightEdited(const QString &text)
{
    resizeFrameFromEdits(0, text.toInt());
}

// A side typed in physical pixels; a side given as 0 stays as the frame has it.
void SCMainWindow::resizeFrameFromEdits(int width, int height)
{
    const qreal ratio = recordingSpace().ratio;
    if (width < 0 || height < 0 || (width == 0 && height == 0) || !m_drawWindow)
        return;
    const int border = 2 * m_drawWindow->borderWidth();
    m_syncingFromEdits = true;
    m_drawWindow->resizeContent(width > 0 ? int(width / ratio) : m_drawWindow->width() - border,
                                height > 0 ? int(height / ratio) : m_drawWindow->height() - border);
    m_syncingFromEdits = false;
}

void SCMainWindow::onRecordFormatChanged(int index)
{
    if (!isAudioOnlyFormatIndex(index) && !m_screenEnabled) {
        m_screenEnabled = true;
        m_recordingMode = FullScreen;
        highlightActiveRecordingMode(ui->fullScreenWidget);
        onFullScreenClicked();
        ui->screenSwitch->setChecked(true);
    } else if (isAudioOnlyFormatIndex(index) && m_screenEnabled) {
        m_screenEnabled = false;
        highlightActiveRecordingMode(nullptr);
        ui->screenSwitch->setChecked(false);
    }
    // The canvas follows the format's frame rate.
    setupRecordingArea();
    if (index >= 0)
        m_settings.setValue(SCSettings::RECORDING_FORMAT,
                            OUTPUT_FORMAT_STRINGS.at(static_cast<OutputFormat>(index)));
}

void SCMainWindow::onScreenSwitchChanged(bool on)
{
    if (on) {
        m_screenEnabled = true;
        m_recordingMode = FullScreen;
        highlightActiveRecordingMode(ui->fullScreenWidget);
        onFullScreenClicked();
        if (isAudioOnlyFormatIndex(ui->recordFormatComboBox->currentIndex()))
            ui->recordFormatComboBox->setCurrentIndex(0);
    } else {
        m_screenEnabled = false;
        highlightActiveRecordingMode(nullptr);
        m_windowTracker->stop();
        if (m_drawWindow)
            m_drawWindow->hide();
        if (!isAudioOnlyFormatIndex(ui->recordFormatComboBox->currentIndex()))
            ui->recordFormatComboBox->setCurrentIndex(FIRST_AUDIO_FORMAT);
    }
    m_settings.setValue(SCSettings::RECORDING_SCREEN_SWITCH, on);
}

void SCMainWindow::followSoundSwitch(VolumeControl *meter, LevelSignal levels, bool on)
{
    disconnect(m_obs.get(), levels, meter, nullptr);
    if (on)
        connect(m_obs.get(), levels, meter, &VolumeControl::setLevels);
    else
        meter->resetLevels();
    meter->setEnabled(on);
}

void SCMainWindow::onSpeakerSwitchChanged(bool on)
{
    if (m_obs && m_obsReady) {
        m_obs->recPlayerAudio(on, soundDevice(false));
        followSoundSwitch(ui->speakerMeter, &ObsWrapper::playerVolumeDataChange, on);
    }
    m_settings.setValue(SCSettings::RECORDING_SPEAKER_SWITCH, on);
}

void SCMainWindow::onMicSwitchChanged(bool on)
{
    if (on && m_obs && m_obsReady && !m_obs->hasMicDevice()) {
        showWarning(tr("Warning"), tr("No microphone device found!"));
        ui->micSwitch->setChecked(false);
        return;
    }
    if (m_obs && m_obsReady) {
        m_obs->recMicAudio(on, soundDevice(true));
        followSoundSwitch(ui->micMeter, &ObsWrapper::micVolumeDataChange, on);
    }
    m_settings.setValue(SCSettings::RECORDING_MIC_SWITCH, on);
}

void SCMainWindow::onWebcamSwitchChanged(bool on)
{
    // The window follows the switch; off hides it even when its camera has gone meanwhile.
    if (!on) {
        if (m_cameraWindow && m_cameraWindow->isVisible()) {
            SCLogger::instance()->info(QStringLiteral("Hiding camera window"));
            m_cameraWindow->hide();
        }
        return;
    }
    if (SCMultimediaCheck::cameraDevices().isEmpty()) {
        showWarning(tr("Warning"), tr("No camera device found!"));
        ui->webcamSwitch->setChecked(false);
        return;
    }
    if (!m_cameraWindow) {
        SCLogger::instance()->info(QStringLiteral("Creating new camera window"));
        // A top-level window of its own, but it must not outlive this one with a camera open.
        auto *camera = new SCCameraWindow(nullptr);
        connect(this, &QObject::destroyed, camera, [camera] { delete camera; });
        camera->resize(320, 240);
        m_cameraWindow = camera;
    } else {
        SCLogger::instance()->info(QStringLiteral("Showing existing camera window"));
    }
    m_cameraWindow->show();
    m_cameraWindow->raise();
}

void SCMainWindow::onMouseSwitchChanged(bool on)
{
    if (m_obs && m_obsReady)
        m_obs->enableMouseEffect(on);
    if (on)
        m_settings.setValue(SCSettings::MOUSE_SHOW_CURSOR, true);
    m_settings.setValue(SCSettings::MOUSE_SHOW_HIGHLIGHT, on);
    m_settings.setValue(SCSettings::MOUSE_SWITCH, on);
}
