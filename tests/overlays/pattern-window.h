#pragma once

#include <QColor>
#include <QWidget>

// An ordinary application window below the overlays: paints a known pattern and counts
// the presses it receives.
class PatternWindow : public QWidget
{
    Q_OBJECT

public:
    explicit PatternWindow(QWidget *parent = nullptr);

    // The colour painted at `pos` (window coordinates).
    static QColor colourAt(const QPoint &pos);
    int presses() const { return m_presses; }
    void resetPresses() { m_presses = 0; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    int m_presses = 0;
};
