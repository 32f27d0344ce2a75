#pragma once

#include <QColor>
#include <QRasterWindow>

// Covers an area (the whole screen by default) with one flat colour, above everything and
// outside the window manager: whatever else shows in a picture of it was drawn by the program.
class FlatWindow : public QRasterWindow
{
public:
    explicit FlatWindow(const QColor &colour = Qt::black, const QRect &geometry = QRect());
    void fill(const QColor &colour);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_colour;
};
