#pragma once

#include <QWidget>

// The length of a recording as a bar with a start and an end handle to drag, the kept piece
// between them lit, and the player's position as a thin line. A click outside the handles
// moves the position there.
class SCTrimTimeline : public QWidget
{
    Q_OBJECT

public:
    // The kept piece is never shorter than this.
    static constexpr qint64 MIN_LENGTH_MS = 100;

    explicit SCTrimTimeline(QWidget *parent = nullptr);

    void setDuration(qint64 ms);
    qint64 duration() const { return m_duration; }
    // Clamped to the duration, the end kept after the start.
    void setRange(qint64 start, qint64 end);
    qint64 start() const { return m_start; }
    qint64 end() const { return m_end; }
    void setPosition(qint64 ms);
    // Where a stream copy really starts, marked below the bar; -1 for none.
    void setSnapMark(qint64 ms);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void rangeChanged(qint64 start, qint64 end);
    void seekRequested(qint64 ms);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    enum class Handle { None, Start, End };

    QRect bar() const;
    int xOf(qint64 ms) const;
    qint64 timeAt(int x) const;
    QRect handleRect(qint64 ms) const;
    void dragTo(int x);

    qint64 m_duration = 0;
    qint64 m_start = 0;
    qint64 m_end = 0;
    qint64 m_position = 0;
    qint64 m_snap = -1;
    Handle m_drag = Handle::None;
};
