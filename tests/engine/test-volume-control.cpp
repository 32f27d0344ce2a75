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
    void segmentsOfAHundredPixelMeter();
    void minusFiftyLightsThree();
    void quietLevelsLightNothing();
    void justAboveMinusFortyLightsOne();
    void fullScaleLightsEverySegment();
    void narrowMeterLightsNothing();
    void silenceDoesNotOverflow();
    void channelCountIsCapped();
    void zeroedResetAndDisabledMetersAreDark();
    void paintedSegmentsMatchTheLevel();

private:
    static void setAll(VolumeControl &meter, float magnitude);
    static int litInImage(const VolumeControl &meter);
};

void TestVolumeControl::setAll(VolumeControl &meter, float magnitude)
{
    float m[8];
    float p[8];
    float ip[8];
    std::fill(std::begin(m), std::end(m), magnitude);
    std::fill(std::begin(p), std::end(p), magnitude);
    std::fill(std::begin(ip), std::end(ip), magnitude);
    meter.setLevels(m, p, ip);
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

void TestVolumeControl::segmentsOfAHundredPixelMeter()
{
    QCOMPARE(VolumeControl::segmentCount(100), 17);
    QVERIFY(std::abs(VolumeControl::segmentWidth(100) - 52.0 / 17.0) < 1e-9);
    QCOMPARE(VolumeControl::segmentWidth(2), 3.0);
}

void TestVolumeControl::minusFiftyLightsThree()
{
    // 96 pixels of inner width: p = 43, 7 segments by position, half of them at -50 dB.
    QCOMPARE(VolumeControl::levelPosition(-50.0f, 100, true, -90.0), 43);
    QCOMPARE(VolumeControl::litCount(-50.0f, 100, true, -90.0), 3);
}

void TestVolumeControl::quietLevelsLightNothing()
{
    QCOMPARE(VolumeControl::litCount(-70.0f, 100, true, -90.0), 0);
    QCOMPARE(VolumeControl::litCount(-60.0f, 100, true, -90.0), 0);
}

void TestVolumeControl::justAboveMinusFortyLightsOne()
{
    QVERIFY(VolumeControl::litCount(-40.5f, 100, true, -90.0) >= 1);
    QVERIFY(VolumeControl::litCount(-59.9f, 100, true, -90.0) >= 1);
}

void TestVolumeControl::fullScaleLightsEverySegment()
{
    QCOMPARE(VolumeControl::levelPosition(0.0f, 100, true, -90.0), 96);
    QCOMPARE(VolumeControl::litCount(0.0f, 100, true, -90.0), 16);
    // The position reaches the inner width only, so the outermost segment stays dark.
    QCOMPARE(VolumeControl::litCount(0.0f, 300, true, -90.0), 296 / 6);
}

void TestVolumeControl::narrowMeterLightsNothing()
{
    QCOMPARE(VolumeControl::litCount(0.0f, 10, true, -90.0), 0);
    QCOMPARE(VolumeControl::litCount(0.0f, 3, true, -90.0), 0);
    VolumeControl meter;
    meter.resize(10, 12);
    meter.setInverting(true);
    setAll(meter, -1.0f);
    QCOMPARE(meter.litSegments(), 0);
    // Only background and outline: no unlit segment colour anywhere.
    const QImage image = meter.grab().toImage();
    for (int x = 0; x < image.width(); ++x)
        QVERIFY(image.pixelColor(x, 6) != QColor(57, 57, 61));
}

void TestVolumeControl::silenceDoesNotOverflow()
{
    const float silence = -std::numeric_limits<float>::infinity();
    QCOMPARE(VolumeControl::levelPosition(silence, 100, true, -90.0), 0);
    QCOMPARE(VolumeControl::litCount(silence, 100, true, -90.0), 0);
    QCOMPARE(VolumeControl::levelPosition(silence, 100, false, -90.0), 96);
}

void TestVolumeControl::channelCountIsCapped()
{
    VolumeControl meter;
    QCOMPARE(meter.channelCount(), 8);
    meter.setChannelCount(12);
    QCOMPARE(meter.channelCount(), 8);
    meter.setChannelCount(2);
    QCOMPARE(meter.channelCount(), 2);
}

void TestVolumeControl::zeroedResetAndDisabledMetersAreDark()
{
    VolumeControl meter;
    meter.resize(100, 12);
    meter.setInverting(true);
    QCOMPARE(meter.litSegments(), 0);

    setAll(meter, -50.0f);
    QCOMPARE(meter.litSegments(), 3);
    meter.resetLevels();
    QCOMPARE(meter.litSegments(), 0);

    setAll(meter, -20.0f);
    QVERIFY(meter.litSegments() > 3);
    meter.setEnabled(false);
    QCOMPARE(meter.litSegments(), 0);
    meter.setEnabled(true);
    setAll(meter, 0.0f);
    QCOMPARE(meter.litSegments(), 0);
}

void TestVolumeControl::paintedSegmentsMatchTheLevel()
{
    VolumeControl meter;
    meter.resize(100, 12);
    meter.setInverting(true);
    QCOMPARE(litInImage(meter), 0);
    setAll(meter, -50.0f);
    QCOMPARE(litInImage(meter), 3);
    setAll(meter, -10.0f);
    QCOMPARE(litInImage(meter), meter.litSegments());
    QVERIFY(litInImage(meter) > 3);
    meter.resetLevels();
    QCOMPARE(litInImage(meter), 0);
}

QTEST_MAIN(TestVolumeControl)
#include "test-volume-control.moc"
