#include "sc-fullscreen-toolbar.h"

#include "sc-compositor-watcher.h"

#include <QCursor>
#include <QDebug>
#include <QFile>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>

namespace {
const QString STYLE_SHEET = QStringLiteral(":/res/style/fullscreen-toolbar.qss");
const QString START_ICON = QStringLiteral(":/res/forms/images/start-recording.svg");
const QString STOP_ICON = QStringLiteral(":/res/forms/images/stop-recording.svg");
const QString PAUSE_ICON = QStringLiteral(":/res/forms/images/pause-recording.svg");
constexpr int BUTTON = 40;
constexpr int WIDTH = 320;
constexpr int FADE_MS = 150;
} // namespace

SCFullscreenToolbar::SCFullscreenToolbar(QWidget *parent)
    : QWidget(parent)
{
    setFixedSize(WIDTH, BUTTON);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);

    // Bypassing the window manager keeps the strip on top and unfocused, and lets it sit
    // at the very top edge where a manager might push it elsewhere.
    setWindowFlags(Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint | Qt::Tool
                   | Qt::NoDropShadowWindowHint | Qt::BypassWindowManagerHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    setAttribute(Qt::WA_AlwaysStackOnTop);
    setWindowFlag(Qt::WindowDoesNotAcceptFocus, true);
    setAttribute(Qt::WA_MacAlwaysShowToolWindow);

    winId();
    if (windowHandle()) {
        show();
        raise();
        setWindowFlag(Qt::WindowStaysOnTopHint, true);
        setWindowFlag(Qt::CustomizeWindowHint, true);
        setWindowFlag(Qt::WindowSystemMenuHint, false);
        setWindowFlag(Qt::WindowMinMaxButtonsHint, false);
        setWindowFlag(Qt::WindowContextHelpButtonHint, false);
        hide();
        show();
        setWindowState(windowState() | Qt::WindowActive);
        raise();
        // Only showToolbar() puts the strip on screen: a window left visible here would sit
        // at the screen's corner while the toolbar counts itself hidden, out of reach of
        // hideToolbar().
        hide();
    }

    loadStyleSheet();
    setupUI();
    connect(m_autoHideButton, &QPushButton::toggled, this, &SCFullscreenToolbar::onAutoHideToggled);
    connect(m_recordButton, &QPushButton::clicked, this, &SCFullscreenToolbar::toggleRecording);
    connect(m_pauseButton, &QPushButton::clicked, this, [this] { emit pauseToggled(!m_paused); });
    setupFade();

    m_mouseCheckTimer = new QTimer(this);
    m_mouseCheckTimer->setInterval(50);
    connect(m_mouseCheckTimer, &QTimer::timeout, this, &SCFullscreenToolbar::checkMousePosition);
}

void SCFullscreenToolbar::loadStyleSheet()
{
    QFile file(STYLE_SHEET);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qWarning() << "Failed to load stylesheet from:" << STYLE_SHEET;
        qWarning() << "Error:" << file.errorString();
        return;
    }
    const QString style = QString::fromUtf8(file.readAll());
    file.close();
    setStyleSheet(style);
    qDebug() << "Loaded stylesheet from:" << STYLE_SHEET;
}

void SCFullscreenToolbar::setupUI()
{
    auto *container = new QWidget(this);
    container->setObjectName(QStringLiteral("containerWidget"));
    container->setFixedSize(WIDTH, BUTTON);
    container->setAttribute(Qt::WA_AlwaysShowToolTips);
    // Style sheets paint a plain QWidget's background only with this attribute.
    container->setAttribute(Qt::WA_StyledBackground);

    m_autoHideButton = new QPushButton(container);
    m_autoHideButton->setObjectName(QStringLiteral("autoHideButton"));
    m_autoHideButton->setCheckable(true);
    m_autoHideButton->setChecked(!m_autoHide);
    m_autoHideButton->setFixedSize(40, 40);
    m_autoHideButton->setIcon(QIcon(QStringLiteral(":/res/forms/images/pin.svg")));
    m_autoHideButton->setIconSize(QSize(20, 20));
    m_autoHideButton->setToolTip(tr("Toggle Auto-Hide"));
    m_autoHideButton->setCursor(Qt::PointingHandCursor);

    m_timerLabel = new QLabel(QStringLiteral("00:00:00"), container);
    m_timerLabel->setObjectName(QStringLiteral("timerLabel"));
    m_timerLabel->setAlignment(Qt::AlignCenter);
    m_timerLabel->setFixedSize(WIDTH - 3 * BUTTON, BUTTON);

    m_pauseButton = new QPushButton(container);
    m_pauseButton->setObjectName(QStringLiteral("pauseButton"));
    m_pauseButton->setFixedSize(BUTTON, BUTTON);
    m_pauseButton->setIconSize(QSize(20, 20));
    m_pauseButton->setCursor(Qt::PointingHandCursor);

    m_recordButton = new QPushButton(container);
    m_recordButton->setObjectName(QStringLiteral("recordButton"));
    m_recordButton->setCheckable(true);
    m_recordButton->setFixedSize(40, 40);
    m_recordButton->setIcon(QIcon(START_ICON));
    m_recordButton->setIconSize(QSize(20, 20));
    m_recordButton->setToolTip(tr("Start Recording"));
    m_recordButton->setCursor(Qt::PointingHandCursor);

    auto *containerLayout = new QHBoxLayout(container);
    containerLayout->setContentsMargins(0, 0, 0, 0);
    containerLayout->setSpacing(0);
    containerLayout->addWidget(m_autoHideButton);
    containerLayout->addWidget(m_timerLabel);
    containerLayout->addWidget(m_pauseButton);
    containerLayout->addWidget(m_recordButton);
    applyRecordingLook();

    m_mainLayout = new QHBoxLayout(this);
    m_mainLayout->setContentsMargins(0, 0, 0, 0);
    m_mainLayout->setSpacing(0);
    m_mainLayout->addWidget(container, 0, Qt::AlignCenter);
}

void SCFullscreenToolbar::setupFade()
{
    m_opacityEffect = new QGraphicsOpacityEffect(this);
    m_opacityEffect->setOpacity(1.0);
    setGraphicsEffect(m_opacityEffect);

    m_fadeAnimation = new QPropertyAnimation(m_opacityEffect, "opacity", this);
    m_fadeAnimation->setDuration(FADE_MS);
    connect(m_fadeAnimation, &QPropertyAnimation::finished, this, [this] {
        if (m_fadeAnimation->endValue().toDouble() < 0.1)
            hide();
    });
    connect(m_fadeAnimation, &QPropertyAnimation::valueChanged, this, [this](const QVariant &v) {
        if (isVisible() && windowHandle())
            setWindowOpacity(v.toDouble());
    });

    // Without a compositing manager a half-transparent strip shows as black, so it
    // appears and disappears at once instead of fading.
    auto applyCompositing
            = [this](bool compositing) { m_fadeAnimation->setDuration(compositing ? FADE_MS : 0); };
    applyCompositing(SCCompositorWatcher::instance()->isCompositing());
    connect(SCCompositorWatcher::instance(), &SCCompositorWatcher::compositingChanged, this,
            applyCompositing);
}

void SCFullscreenToolbar::showToolbar()
{
    if (m_shown)
        return;
    QScreen *screen = QGuiApplication::primaryScreen();
    const QRect geometry = screen ? screen->geometry() : QRect();
    const int x = (geometry.width() - width()) / 2;
    int y = geometry.top();
    if (m_firstShow) {
        winId();
        y += 25;
        setWindowOpacity(0.0);
        m_firstShow = false;
    }
    move(x, y);
    show();
    m_shown = true;

    m_opacityEffect->setOpacity(0.0);
    m_fadeAnimation->stop();
    m_fadeAnimation->setStartValue(0.0);
    m_fadeAnimation->setEndValue(1.0);
    m_fadeAnimation->start();
}

void SCFullscreenToolbar::hideToolbar()
{
    if (!m_shown)
        return;
    m_shown = false;
    m_fadeAnimation->stop();
    m_fadeAnimation->setStartValue(m_opacityEffect->opacity());
    m_fadeAnimation->setEndValue(0.0);
    m_fadeAnimation->start();
}

void SCFullscreenToolbar::setAutoHide(bool on)
{
    m_autoHide = on;
    {
        // The button reflects the mode; its toggled signal must not set the mode again.
        const QSignalBlocker blocker(m_autoHideButton);
        m_autoHideButton->setChecked(!on);
    }
    if (on)
        m_mouseCheckTimer->start();
    else
        m_mouseCheckTimer->stop();
}

void SCFullscreenToolbar::setRecordingState(bool isRecording)
{
    m_isRecording = isRecording;
    if (!isRecording)
        m_paused = false;
    applyRecordingLook();
}

void SCFullscreenToolbar::setPausedState(bool paused)
{
    m_paused = paused && m_isRecording;
    applyRecordingLook();
}

void SCFullscreenToolbar::applyRecordingLook()
{
    m_recordButton->setIcon(QIcon(m_isRecording ? STOP_ICON : START_ICON));
    m_recordButton->setToolTip(m_isRecording ? tr("Stop Recording") : tr("Start Recording"));
    // Resuming shows the record icon: the click carries on recording.
    m_pauseButton->setEnabled(m_isRecording);
    m_pauseButton->setIcon(QIcon(m_paused ? START_ICON : PAUSE_ICON));
    m_pauseButton->setToolTip(m_paused ? tr("Resume Recording") : tr("Pause Recording"));
    showTime();
}

void SCFullscreenToolbar::updateTimerLabel(const QString &text)
{
    m_time = text;
    showTime();
}

void SCFullscreenToolbar::showTime()
{
    m_timerLabel->setText(m_paused ? tr("Paused %1").arg(m_time) : m_time);
}

void SCFullscreenToolbar::onAutoHideToggled(bool checked)
{
    setAutoHide(!checked);
}

void SCFullscreenToolbar::toggleRecording()
{
    m_isRecording = !m_isRecording;
    emit recordingToggled(m_isRecording);
}

bool SCFullscreenToolbar::cursorInside() const
{
    return rect().contains(mapFromGlobal(QCursor::pos()));
}

void SCFullscreenToolbar::checkMousePosition()
{
    if (!m_autoHide)
        return;
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QPoint cursor = QCursor::pos();
    if (inRevealBand(cursor.y(), screen->geometry().top())) {
        if (!m_shown)
            showToolbar();
    } else if (m_shown && !cursorInside()) {
        hideToolbar();
    }
}

void SCFullscreenToolbar::leaveEvent(QEvent *event)
{
    if (m_autoHide && m_shown && !cursorInside())
        hideToolbar();
    QWidget::leaveEvent(event);
}
