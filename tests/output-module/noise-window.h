#pragma once

#include <QImage>
#include <QRasterWindow>
#include <QTimer>

// Random pixels at the top left of the screen, repainted every frame: a picture no encoder can
// make small, and one whose colours change all the time.
class NoiseWindow : public QRasterWindow
{
public:
    NoiseWindow();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_image;
    QTimer m_timer;
};
