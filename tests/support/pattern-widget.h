#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QRect>
#include <QWidget>

// The desktop behind the screenshot tests: each 16 x 16 cell of the screen has its own colour,
// so a shifted or cut-off picture cannot pass.
QColor desktopColour(int x, int y);

// Pixels of `image`, taken at global `origin`, that differ from `colour` there by more than
// `tolerance` (summed over the channels), leaving out `skip` (image coordinates).
int patternMismatches(const QImage &image, const QPoint &origin, int tolerance = 0,
                      QColor (*colour)(int, int) = desktopColour, const QRect &skip = QRect());

// A frameless window painted with `colour`, by screen coordinates when `global`, else by its
// own; keeps where it was pressed.
class PatternWidget : public QWidget
{
public:
    explicit PatternWidget(QColor (*colour)(int, int) = desktopColour, bool global = true,
                           Qt::WindowFlags flags = Qt::WindowStaysOnBottomHint);

    QList<QPoint> presses;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QColor (*m_colour)(int, int);
    bool m_global;
};
