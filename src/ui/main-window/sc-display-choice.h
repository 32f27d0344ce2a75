#pragma once

#include <QComboBox>
#include <QRect>
#include <QSettings>

class QScreen;

// Where an area is measured for the engine: the screen it lies on, or the box around all of
// them, in logical pixels and in the X root's device pixels.
struct SCCaptureSpace
{
    QRect logical;
    QRect device;
    qreal ratio = 1.0;
    bool isValid() const { return logical.isValid() && device.isValid(); }
};

// The monitor that full-screen recordings take: each screen by name and size, and "All
// monitors"; shown only while the desktop has more than one. The choice is stored by the
// screen's name and survives that screen going away: the primary one is taken meanwhile.
class SCDisplayChoice : public QComboBox
{
    Q_OBJECT

public:
    // The stored value of "All monitors".
    static inline const QString ALL_MONITORS = QStringLiteral("all");

    explicit SCDisplayChoice(QWidget *parent = nullptr);

    // The space a full-screen recording records now.
    SCCaptureSpace fullScreenSpace() const;
    // The space of an area in logical pixels: the one screen holding all of it, else the box
    // around every screen.
    static SCCaptureSpace spaceFor(const QRect &area);
    static SCCaptureSpace screenSpace(const QScreen *screen);
    static SCCaptureSpace allScreensSpace();
    void retranslate();

Q_SIGNALS:
    void displayChanged();

private:
    void refill();
    void onActivated(int index);

    QSettings m_settings;
    // The missing monitor already reported, so that the log has it once.
    mutable QString m_reportedMissing;
};
