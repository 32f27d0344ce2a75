#include "sc-countdown-widget.h"

#include "sc-compositor-watcher.h"
#include "sc-settings.h"
#include "sc-window-shape.h"

#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainterPath>
#include <QTimer>
#include <QVBoxLayout>

SCCountdownWidget::SCCountdownWidget(QWidget *parent)
    : QWidget(parent)
    , m_settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION)
{
    // Past the window manager, which would keep it below a full-screen application.
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool
                   | Qt::NoDropShadowWindowHint | Qt::X11BypassWindowManagerHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_MacAlwaysShowToolWindow);
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(200, 240);

    m_container = new QWidget(this);
    m_container->setFixedSize(200, 200);
    m_numberLabel = new QLabel(m_container);
    m_numberLabel->setFixedSize(200, 200);
    m_numberLabel->setAlignment(Qt::AlignCenter);
    QFont numberFont(QStringLiteral("Segoe UI"), 60, QFont::Bold);
    numberFont.setFamilies({QStringLiteral("Segoe UI"), QStringLiteral("DejaVu Sans"),
                            QStringLiteral("Sans Serif")});
    m_numberLabel->setFont(numberFont);
    m_numberLabel->setStyleSheet(
            QStringLiteral("QLabel {color: #FFFFFF;background-color: #28282E;border: 2px solid "
                           "#007ACC;border-radius: 100px;width: 200px;height: 200px;}"));

    const QString hotkey = m_settings.value(SCSettings::HOTKEYS_RECORDING).toString();
    if (hotkey != SCSettings::NO_HOTKEY) {
        m_hint = new QWidget(this);
        m_hint->setFixedSize(180, 30);
        m_hint->setStyleSheet(
                QStringLiteral("QWidget {background-color: #28282E;border-radius: 4px;}"));
        auto *hintLayout = new QHBoxLayout(m_hint);
        hintLayout->setContentsMargins(0, 0, 0, 0);
        hintLayout->setSpacing(8);

        const QString labelStyle = QStringLiteral(
                "QLabel {color: #FFFFFF;background-color: transparent;padding: 4px 12px;}");
        QFont hintFont(QStringLiteral("Segoe UI"), 10, QFont::Normal);
        hintFont.setFamilies({QStringLiteral("Segoe UI"), QStringLiteral("DejaVu Sans"),
                              QStringLiteral("Sans Serif")});
        m_hintLabel = new QLabel(tr("Start/Stop"), m_hint);
        m_hintLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_hintLabel->setFont(hintFont);
        m_hintLabel->setStyleSheet(labelStyle);

        QFont hotkeyFont = hintFont;
        hotkeyFont.setWeight(QFont::Bold);
        m_hotkeyLabel = new QLabel(hotkey, m_hint);
        m_hotkeyLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        m_hotkeyLabel->setFont(hotkeyFont);
        m_hotkeyLabel->setStyleSheet(labelStyle);

        hintLayout->addWidget(m_hintLabel);
        hintLayout->addStretch();
        hintLayout->addWidget(m_hotkeyLabel);
    }

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(m_container, 0, Qt::AlignCenter);
    if (m_hint)
        layout->addWidget(m_hint, 0, Qt::AlignCenter);

    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &SCCountdownWidget::updateCountdown);

    // Without a compositing manager the transparent corners would show black.
    connect(SCCompositorWatcher::instance(), &SCCompositorWatcher::compositingChanged, this,
            &SCCountdownWidget::updateShape);
}

SCCountdownWidget::~SCCountdownWidget()
{
    // A caller still blocked in blockUntilFinished() must not wait on a dead widget.
    if (m_eventLoop)
        m_eventLoop->quit();
}

void SCCountdownWidget::startCountdown(int seconds)
{
    if (seconds <= 0) {
        emit countdownFinished();
        return;
    }
    m_remaining = seconds;
    updateCountdown();
    show();
    m_timer->start();
}

void SCCountdownWidget::blockUntilFinished()
{
    if (!m_timer->isActive())
        return;
    m_eventLoop = new QEventLoop(this);
    m_eventLoop->exec();
    delete m_eventLoop;
    m_eventLoop = nullptr;
}

void SCCountdownWidget::stopCountdown()
{
    if (!m_timer->isActive())
        return;
    m_timer->stop();
    if (m_eventLoop)
        m_eventLoop->quit();
}

void SCCountdownWidget::updateCountdown()
{
    m_numberLabel->setText(QString::number(m_remaining));
    --m_remaining;
    if (m_remaining < 0) {
        m_timer->stop();
        hide();
        emit countdownFinished();
        if (m_eventLoop)
            m_eventLoop->quit();
    }
}

QRegion SCCountdownWidget::paintedRegion() const
{
    QRegion region(m_container->geometry(), QRegion::Ellipse);
    if (m_hint) {
        // Its rounded corners are transparent, and would show black.
        QPainterPath rounded;
        rounded.addRoundedRect(QRectF(m_hint->geometry()), 4, 4);
        region += QRegion(rounded.toFillPolygon().toPolygon());
    }
    return region;
}

void SCCountdownWidget::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateShape();
}

void SCCountdownWidget::updateShape()
{
    if (!testAttribute(Qt::WA_WState_Created))
        return;
    const bool compositing = SCCompositorWatcher::instance()->isCompositing();
    SCWindowShape::setVisibleRegion(this, compositing ? QRegion() : paintedRegion());
}
