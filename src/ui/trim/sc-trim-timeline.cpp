#include "sc-trim-timeline.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace {

const QColor TRACK_COLOR(QStringLiteral("#1E1E1E"));
const QColor KEPT_COLOR(QStringLiteral("#5A2A27"));
const QColor HANDLE_COLOR(QStringLiteral("#BC382F"));
const QColor POSITION_COLOR(QStringLiteral("#FFFFFF"));
const QColor SNAP_COLOR(QStringLiteral("#F0A050"));

constexpr int HANDLE_WIDTH = 10;
constexpr int MARGIN = HANDLE_WIDTH / 2 + 1;

} // namespace

SCTrimTimeline::SCTrimTimeline(QWidget *parent)
    : QWidget(parent)
{
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize SCTrimTimeline::sizeHint() const
{
    return QSize(480, 40);
}

QSize SCTrimTimeline::minimumSizeHint() const
{
    return QSize(160, 40);
}

void SCTrimTimeline::setDuration(qint64 ms)
{
    m_duration = std::max<qint64>(ms, 0);
    setRange(0, m_duration);
}

void SCTrimTimeline::setRange(qint64 start, qint64 end)
{
    const qint64 shortest = std::min(MIN_LENGTH_MS, m_duration);
    start = std::clamp<qint64>(start, 0, m_duration - shortest);
    end = std::clamp<qint64>(end, start + shortest, m_duration);
    if (start == m_start && end == m_end)
        return;
    m_start = start;
    m_end = end;
    update();
    emit rangeChanged(m_start, m_end);
}

void SCTrimTimeline::setPosition(qint64 ms)
{
    m_position = std::clamp<qint64>(ms, 0, m_duration);
    update();
}

void SCTrimTimeline::setSnapMark(qint64 ms)
{
    m_snap = ms;
    update();
}

QRect SCTrimTimeline::bar() const
{
    return QRect(MARGIN, 10, width() - 2 * MARGIN, 16);
}

int SCTrimTimeline::xOf(qint64 ms) const
{
    const QRect track = bar();
    if (m_duration <= 0)
        return track.left();
    return track.left() + int(double(ms) * track.width() / double(m_duration));
}

qint64 SCTrimTimeline::timeAt(int x) const
{
    const QRect track = bar();
    if (track.width() <= 0)
        return 0;
    const double share = double(x - track.left()) / track.width();
    return std::clamp<qint64>(qint64(share * m_duration + 0.5), 0, m_duration);
}

QRect SCTrimTimeline::handleRect(qint64 ms) const
{
    const QRect track = bar();
    return QRect(xOf(ms) - HANDLE_WIDTH / 2, track.top() - 4, HANDLE_WIDTH, track.height() + 8);
}

void SCTrimTimeline::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect track = bar();
    painter.fillRect(track, TRACK_COLOR);
    painter.fillRect(QRect(QPoint(xOf(m_start), track.top()), QPoint(xOf(m_end), track.bottom())),
                     KEPT_COLOR);
    if (m_snap >= 0 && m_snap < m_start) {
        painter.setPen(QPen(SNAP_COLOR, 2));
        const int x = xOf(m_snap);
        painter.drawLine(x, track.bottom() + 3, x, height() - 2);
    }
    painter.setPen(QPen(POSITION_COLOR, 1));
    painter.drawLine(xOf(m_position), track.top(), xOf(m_position), track.bottom());
    painter.setPen(Qt::NoPen);
    painter.setBrush(HANDLE_COLOR);
    for (const qint64 at : {m_start, m_end})
        painter.drawRoundedRect(handleRect(at), 2, 2);
}

void SCTrimTimeline::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    const QPoint pos = event->position().toPoint();
    // The end handle wins when both sit on one spot at the start, the start one elsewhere.
    const bool onStart = handleRect(m_start).contains(pos);
    const bool onEnd = handleRect(m_end).contains(pos);
    if (onStart && onEnd)
        m_drag = m_start == 0 ? Handle::End : Handle::Start;
    else
        m_drag = onStart ? Handle::Start : onEnd ? Handle::End : Handle::None;
    if (m_drag == Handle::None)
        emit seekRequested(timeAt(pos.x()));
}

void SCTrimTimeline::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (m_drag != Handle::None)
        dragTo(pos.x());
    const bool over = handleRect(m_start).contains(pos) || handleRect(m_end).contains(pos);
    setCursor(over || m_drag != Handle::None ? Qt::SizeHorCursor : Qt::ArrowCursor);
}

void SCTrimTimeline::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_drag != Handle::None)
        dragTo(event->position().toPoint().x());
    m_drag = Handle::None;
}

void SCTrimTimeline::dragTo(int x)
{
    const qint64 at = timeAt(x);
    if (m_drag == Handle::Start)
        setRange(std::min(at, m_end - MIN_LENGTH_MS), m_end);
    else
        setRange(m_start, std::max(at, m_start + MIN_LENGTH_MS));
}
