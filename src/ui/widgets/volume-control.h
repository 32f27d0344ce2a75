#pragma once

#include <QColor>
#include <QMutex>
#include <QTimer>
#include <QWidget>

// A horizontal audio level meter: rounded segments lit from blue through green to orange.
// Levels arrive at any rate through setLevels; a 40 ms timer paces the repaints.
class VolumeControl : public QWidget
{
    Q_OBJECT

public:
    static constexpr int MAX_CHANNELS = 8;
    static constexpr int SEGMENT_GAP = 3;

    explicit VolumeControl(QWidget *parent = nullptr);

    void setChannelCount(int count);
    int channelCount() const { return m_channelCount; }
    void setAudioChannel(int channel) { m_audioChannel = channel; }
    int audioChannel() const { return m_audioChannel; }
    void setInverting(bool inverting) { m_inverting = inverting; }
    bool inverting() const { return m_inverting; }
    void setEnabled(bool enabled);
    bool isMeterEnabled() const { return m_enabled; }

    // The number of segments that the next paint lights.
    int litSegments() const;

    // The meter's arithmetic for a widget width, pure so that it can be checked on its own.
    static int segmentCount(int width);
    static double segmentWidth(int width);
    static int levelPosition(float magnitude, int width, bool inverting, double minimumLevel);
    static int litCount(float magnitude, int width, bool inverting, double minimumLevel);
    static QColor segmentColor(int index, int count);

public Q_SLOTS:
    void setLevels(const float *magnitude, const float *peak, const float *inputPeak);
    void resetLevels();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_channelCount = MAX_CHANNELS;
    int m_audioChannel = 0;
    bool m_inverting = false;
    bool m_enabled = true;
    float m_magnitude[MAX_CHANNELS] = {};
    float m_peak[MAX_CHANNELS] = {};
    float m_inputPeak[MAX_CHANNELS] = {};
    mutable QMutex m_levelLock;
    double m_minimumLevel = -90.0;
    QTimer m_repaintTimer;
    int m_paintedLit = -1;
};
