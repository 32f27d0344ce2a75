#include "volume-control.h"

#include <QImage>
#include <QtTest>

#include <cmath>
#include <limits>

// The meter's arithmetic and what it actually paints.
class TestVolumeControl : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void paintedSegmentsFollowTheLevelResetAndSwitch();

private:
    static void setAll(VolumeControl &meter, float magnitude);
    static int litInImage(const VolumeControl &meter);
};

void TestVolumeControl::setAll(VolumeControl &meter, float magnitude)
{
    float levels[8];
    std::fill(std::begin(levels), std::end(levels), magnitude);
    meter.setLevels(levels, levels, levels);
}

// Counts segments whose centre differs from the unlit colour in a real rendering.
int TestVolumeControl::litInImage(const VolumeControl &meter)
{
    const QImage image = const_cast<VolumeControl &>(meter).grab().toImage();
    const int count = VolumeControl::segmentCount(meter.width());
    const double segment = VolumeControl::segmentWidth(meter.width());
    int lit = 0;
    for (int i = 0; i < count; ++i) {
        const int x = int(i * (segment + 3) + segment / 2);
        const QColor c = image.pixelColor(x, meter.height() / 2);
        if (c != QColor(57, 57, 61))
            ++lit;
    }
    return lit;
}

void TestVolumeControl::paintedSegmentsFollowTheLevelResetAndSwitch()
{
    VolumeControl meter;
    meter.resize(100, 12);
    meter.setInverting(true);
    QCOMPARE(litInImage(meter), 0);
    // Below -60 dB nothing lights, -50 dB lights three, full scale all but the outermost.
    setAll(meter, -70.0f);
    QCOMPARE(litInImage(meter), 0);
    setAll(meter, -50.0f);
    QCOMPARE(litInImage(meter), 3);
    setAll(meter, -40.5f);
    QVERIFY(litInImage(meter) > 3);
    // All zeros is the engine's "switched off"; just below full scale is the loudest level.
    setAll(meter, -0.5f);
    QCOMPARE(litInImage(meter), 16);
    QCOMPARE(litInImage(meter), meter.litSegments());
    // Silence is minus infinity and must not wrap round to a full meter.
    setAll(meter, -std::numeric_limits<float>::infinity());
    QCOMPARE(litInImage(meter), 0);

    setAll(meter, -50.0f);
    meter.resetLevels();
    QCOMPARE(litInImage(meter), 0);
    setAll(meter, -20.0f);
    QVERIFY(meter.litSegments() > 3);
    meter.setEnabled(false);
    QCOMPARE(litInImage(meter), 0);
    meter.setEnabled(true);
    setAll(meter, 0.0f);
    QCOMPARE(meter.litSegments(), 0);
    // The levels arrive for at most eight channels.
    meter.setChannelCount(12);
    QCOMPARE(meter.channelCount(), 8);
    meter.setChannelCount(2);
    QCOMPARE(meter.channelCount(), 2);

    // Too narrow for a segment, a meter lights nothing.
    VolumeControl narrow;
    narrow.resize(10, 12);
    narrow.setInverting(true);
    setAll(narrow, -1.0f);
    QCOMPARE(narrow.litSegments(), 0);
    // Only background and outline: no unlit segment colour anywhere.
    const QImage image = narrow.grab().toImage();
    for (int x = 0; x < image.width(); ++x)
        QVERIFY(image.pixelColor(x, 6) != QColor(57, 57, 61));
}

QTEST_MAIN(TestVolumeControl)
#include "test-volume-control.moc"
