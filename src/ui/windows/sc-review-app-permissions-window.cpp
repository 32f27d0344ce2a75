#include "sc-review-app-permissions-window.h"

#include "sc-permission-checks.h"

#include <QCloseEvent>
#include <QDebug>
#include <QFile>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextStream>
#include <QVBoxLayout>

SCReviewAppPermissionsWindow::SCReviewAppPermissionsWindow(QWidget *parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("SCReviewAppPermissionsWindow"));
    setWindowTitle(tr("Review App Permissions"));
    resize(649, 522);

    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralwidget"));
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(16, 12, 16, 16);
    layout->setSpacing(10);
    auto *title = new QLabel(tr("Vistrel requires explicit permissions to offer certain function."),
                             central);
    title->setObjectName(QStringLiteral("titleLabel"));
    layout->addWidget(title);

    const auto add
            = [&](Row &row, const char *group, const QString &groupTitle,
                  const QString &description, const char *buttonName, const QString &buttonText) {
                  row = addGroup(central, group, groupTitle, description, buttonName, buttonText);
                  layout->addWidget(row.button->parentWidget());
              };
    add(m_screen, "screen", tr("Screen Recording"),
        tr("Vistrel require this permission to be able to capture your screen."),
        "openScreenRecordingPreferencesBtn", tr("Open Screen Recroding Preferences"));
    add(m_camera, "camera", tr("Camera"),
        tr("This permission is needed in order to capture content from a webcam."),
        "requestCameraAccessBtn", tr("Request Access"));
    add(m_microphone, "microphone", tr("Microphone"),
        tr("Vistrel requires this permission if you want to capture your microphone or an "
           "external audio device."),
        "requestMicrophoneAccessBtn", tr("Request Access"));
    add(m_accessibility, "accessibility", tr("Accessibility"),
        tr("For keyboard shortcut(hotkeys) to work while other apps are focused, please enable "
           "this permission."),
        "openAccessibilityPreferencesBtn", tr("Open Accessibility Preferences"));
    layout->addStretch();

    auto *continueBtn = new QPushButton(tr("Continue"), central);
    continueBtn->setObjectName(QStringLiteral("continueBtn"));
    layout->addWidget(continueBtn);
    setCentralWidget(central);

    loadStyleSheet();
    connect(m_screen.button, &QPushButton::clicked, this,
            &SCReviewAppPermissionsWindow::onOpenScreenRecordingPreferences);
    connect(m_camera.button, &QPushButton::clicked, this,
            &SCReviewAppPermissionsWindow::onRequestCameraAccess);
    connect(m_microphone.button, &QPushButton::clicked, this,
            &SCReviewAppPermissionsWindow::onRequestMicrophoneAccess);
    connect(m_accessibility.button, &QPushButton::clicked, this,
            &SCReviewAppPermissionsWindow::onOpenAccessibilityPreferences);
    connect(continueBtn, &QPushButton::clicked, this, &QWidget::close);
    updatePermissionStates();
}

SCReviewAppPermissionsWindow::Row
SCReviewAppPermissionsWindow::addGroup(QWidget *parent, const char *group, const QString &title,
                                       const QString &description, const char *buttonName,
                                       const QString &buttonText)
{
    const QString name = QString::fromLatin1(group);
    auto *frame = new QFrame(parent);
    frame->setObjectName(name + QStringLiteral("Widget"));
    auto *layout = new QVBoxLayout(frame);
    auto *titleLabel = new QLabel(title, frame);
    titleLabel->setObjectName(name + QStringLiteral("TitleLabel"));
    titleLabel->setProperty("groupTitle", true);
    auto *descLabel = new QLabel(description, frame);
    descLabel->setObjectName(name + QStringLiteral("DescLabel"));
    layout->addWidget(titleLabel);
    layout->addWidget(descLabel);

    Row row;
    // What exactly is missing in this session; hidden while the capability works.
    row.state = new QLabel(frame);
    row.state->setObjectName(name + QStringLiteral("StateLabel"));
    row.state->setWordWrap(true);
    row.state->hide();
    layout->addWidget(row.state);

    auto *buttons = new QHBoxLayout;
    row.button = new QPushButton(buttonText, frame);
    row.button->setObjectName(QString::fromLatin1(buttonName));
    row.buttonText = buttonText;
    buttons->addWidget(row.button);
    buttons->addStretch();
    layout->addLayout(buttons);
    return row;
}

void SCReviewAppPermissionsWindow::loadStyleSheet()
{
    const QString path = QStringLiteral(":/res/style/review-app-permissions-window.qss");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qWarning() << "Failed to load stylesheet from:" << path << "Error:" << file.errorString();
        return;
    }
    setStyleSheet(QTextStream(&file).readAll());
}

bool SCReviewAppPermissionsWindow::checkScreenRecordingPermission() const
{
    const SCPermissionChecks::ScreenAccess access = SCPermissionChecks::screenAccess();
    return access == SCPermissionChecks::ScreenAccess::Full
            || access == SCPermissionChecks::ScreenAccess::Portal;
}

bool SCReviewAppPermissionsWindow::checkCameraPermission() const
{
    return SCPermissionChecks::unreadableVideoDevices().isEmpty();
}

bool SCReviewAppPermissionsWindow::checkMicrophonePermission() const
{
    return SCPermissionChecks::soundServerReachable();
}

bool SCReviewAppPermissionsWindow::checkAccessibilityPermission() const
{
    return SCPermissionChecks::keyGrabPossible();
}

bool SCReviewAppPermissionsWindow::allGranted() const
{
    return checkScreenRecordingPermission() && checkCameraPermission()
            && checkMicrophonePermission() && checkAccessibilityPermission();
}

void SCReviewAppPermissionsWindow::showState(Row &row, bool granted, const QString &why)
{
    row.button->setEnabled(!granted);
    row.button->setText(granted ? tr("Access granted") : row.buttonText);
    row.state->setText(why);
    row.state->setVisible(!granted && !why.isEmpty());
}

void SCReviewAppPermissionsWindow::updatePermissionStates()
{
    const SCPermissionChecks::ScreenAccess screen = SCPermissionChecks::screenAccess();
    QString screenWhy;
    if (screen == SCPermissionChecks::ScreenAccess::NoPortal) {
        screenWhy = tr("Screen recording on Wayland needs xdg-desktop-portal and a portal "
                       "backend for this desktop (xdg-desktop-portal-gnome, -kde or -wlr).");
    } else if (screen == SCPermissionChecks::ScreenAccess::None) {
        screenWhy = tr("No X11 display is available, so the screen cannot be captured.");
    }
    showState(m_screen,
              screen == SCPermissionChecks::ScreenAccess::Full
                      || screen == SCPermissionChecks::ScreenAccess::Portal,
              screenWhy);

    const QStringList cameras = SCPermissionChecks::unreadableVideoDevices();
    showState(m_camera, cameras.isEmpty(),
              tr("These camera devices cannot be opened: %1. Add your user to the \"video\" "
                 "group and log in again.")
                      .arg(cameras.join(QStringLiteral(", "))));

    showState(m_microphone, checkMicrophonePermission(),
              tr("No sound server (PulseAudio or PipeWire) answers, so no sound can be "
                 "recorded."));
    showState(m_accessibility, checkAccessibilityPermission(),
              tr("Keys cannot be grabbed on this display, so the hotkeys will not work while "
                 "other apps are focused."));
}

void SCReviewAppPermissionsWindow::onOpenScreenRecordingPreferences()
{
    if (!checkScreenRecordingPermission())
        SCPermissionChecks::openSystemPreferences("ScreenCapture");
    updatePermissionStates();
}

void SCReviewAppPermissionsWindow::onRequestCameraAccess()
{
    if (!checkCameraPermission())
        SCPermissionChecks::openSystemPreferences("Camera");
    updatePermissionStates();
}

void SCReviewAppPermissionsWindow::onRequestMicrophoneAccess()
{
    if (!checkMicrophonePermission())
        SCPermissionChecks::openSystemPreferences("Microphone");
    updatePermissionStates();
}

void SCReviewAppPermissionsWindow::onOpenAccessibilityPreferences()
{
    if (!checkAccessibilityPermission())
        SCPermissionChecks::openSystemPreferences("Accessibility");
    updatePermissionStates();
}

void SCReviewAppPermissionsWindow::closeEvent(QCloseEvent *event)
{
    QMainWindow::closeEvent(event);
    emit closed();
}
