#include "sc-note.h"

#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QtDebug>

namespace {

const QString STYLE_SHEET = QStringLiteral(":/res/style/note.qss");
// Above the bottom edge of the window, or of the screen's free area.
constexpr int WINDOW_BOTTOM_GAP = 16;
constexpr int SCREEN_BOTTOM_GAP = 48;

} // namespace

SCNote::SCNote(QWidget *parent)
    : QWidget(parent)
{
    // Past the window manager, so that it neither takes the focus nor appears in the task bar.
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                   | Qt::NoDropShadowWindowHint | Qt::WindowDoesNotAcceptFocus
                   | Qt::X11BypassWindowManagerHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_MacAlwaysShowToolWindow);
    setAttribute(Qt::WA_StyledBackground);
    setObjectName(QStringLiteral("note"));
    setCursor(Qt::PointingHandCursor);

    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("noteText"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_label);

    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &QWidget::hide);
    loadStyleSheet();
}

void SCNote::loadStyleSheet()
{
    QFile file(STYLE_SHEET);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qWarning() << "Failed to load stylesheet from:" << STYLE_SHEET
                   << "Error:" << file.errorString();
        return;
    }
    setStyleSheet(QString::fromUtf8(file.readAll()));
    qDebug() << "Loaded stylesheet from:" << STYLE_SHEET;
}

void SCNote::showMessage(const QString &text, QWidget *anchor, int durationMs)
{
    if (m_anchor)
        m_anchor->removeEventFilter(this);
    m_anchor = anchor;
    if (m_anchor)
        m_anchor->installEventFilter(this);
    m_label->setText(text);
    adjustSize();
    place();
    show();
    raise();
    m_timer->start(durationMs);
}

QString SCNote::text() const
{
    return m_label->text();
}

void SCNote::place()
{
    const bool onWindow = m_anchor && m_anchor->isVisible() && !m_anchor->isMinimized();
    QRect bounds;
    int gap = SCREEN_BOTTOM_GAP;
    if (onWindow) {
        bounds = m_anchor->frameGeometry();
        gap = WINDOW_BOTTOM_GAP;
    } else if (QScreen *screen = QGuiApplication::primaryScreen()) {
        bounds = screen->availableGeometry();
    }
    move(bounds.left() + (bounds.width() - width()) / 2, bounds.bottom() + 1 - gap - height());
}

void SCNote::mouseReleaseEvent(QMouseEvent *event)
{
    QWidget::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    hide();
    emit clicked();
}

bool SCNote::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_anchor && isVisible()) {
        if (event->type() == QEvent::Hide
            || (event->type() == QEvent::WindowStateChange && m_anchor->isMinimized()))
            hide();
        else if (event->type() == QEvent::Move || event->type() == QEvent::Resize)
            place();
    }
    return QWidget::eventFilter(watched, event);
}
