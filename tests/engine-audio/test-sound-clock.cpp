// A sound source whose samples run on a clock of their own, stamped with the system time at
// each packet, jittered as a sound thread's wake-ups are: the kept clock stays on the stamps
// for an hour, changing about as many samples as the clocks differ by, and no more.

#include "sound-clock.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <cmath>

namespace {

constexpr uint32_t kRate = 48000;
constexpr uint32_t kPacket = 1200; // 25 ms, as PulseAudio hands them over

struct Run
{
    double largestErrorMs = 0.0; // kept clock against the true time, after the first seconds
    double meanLastMinuteMs = 0.0;
    int64_t added = 0;
    int64_t dropped = 0;
    int restarts = 0;
};

// `ppm`: how much faster than the system the source's clock runs; the stamps say when the
// packet's first sample was taken, late by up to `jitterMs`.
Run simulate(double ppm, double jitterMs, double seconds, double jumpAtSeconds = -1.0)
{
    SoundClock clock(kRate);
    QRandomGenerator random(7);
    Run run;
    double trueNs = 1e12;
    const double packetNs = kPacket * 1e9 / kRate / (1.0 + ppm * 1e-6);
    double lastMinuteSum = 0.0;
    int lastMinuteCount = 0;
    bool jumped = false;
    for (double elapsed = 0.0; elapsed < seconds; elapsed += packetNs / 1e9) {
        if (jumpAtSeconds >= 0.0 && !jumped && elapsed >= jumpAtSeconds) {
            trueNs += 0.5e9;
            jumped = true;
        }
        const uint64_t stamp = uint64_t(trueNs + random.bounded(jitterMs) * 1e6);
        const SoundClock::Step step = clock.next(stamp, kPacket);
        run.restarts += step.restarted;
        const double errorMs = (double(step.timestamp) - trueNs) / 1e6;
        if (elapsed > 20.0)
            run.largestErrorMs = std::max(run.largestErrorMs, std::fabs(errorMs));
        if (elapsed > seconds - 60.0) {
            lastMinuteSum += errorMs;
            ++lastMinuteCount;
        }
        trueNs += packetNs;
    }
    run.added = clock.samplesAdded();
    run.dropped = clock.samplesDropped();
    run.meanLastMinuteMs = lastMinuteCount ? lastMinuteSum / lastMinuteCount : 0.0;
    return run;
}

QString describe(const Run &run)
{
    return QStringLiteral("largest %1 ms, last minute %2 ms, %3 added, %4 dropped, %5 restarts")
            .arg(run.largestErrorMs)
            .arg(run.meanLastMinuteMs)
            .arg(run.added)
            .arg(run.dropped)
            .arg(run.restarts);
}

} // namespace

class TestSoundClock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void followsAClockOffTheSystemForAnHour_data();
    void followsAClockOffTheSystemForAnHour();
    void aJumpStartsTheClockAgain();
};

void TestSoundClock::followsAClockOffTheSystemForAnHour_data()
{
    QTest::addColumn<double>("ppm");
    QTest::newRow("slow card") << -40.0;
    QTest::newRow("fast card") << 60.0;
    QTest::newRow("on the system clock") << 0.0;
}

void TestSoundClock::followsAClockOffTheSystemForAnHour()
{
    QFETCH(double, ppm);
    const double jitterMs = 4.0;
    const Run run = simulate(ppm, jitterMs, 3600.0);
    const QString what = describe(run);
    qInfo().noquote() << what;
    QCOMPARE(run.restarts, 0);
    // The stamps are late by half the jitter on average; around that, within a millisecond.
    QVERIFY2(std::fabs(run.meanLastMinuteMs - jitterMs / 2) < 1.0, qPrintable(what));
    QVERIFY2(run.largestErrorMs < jitterMs / 2 + 2.0, qPrintable(what));
    // An hour at `ppm` is this many samples; the jitter must not add changes back and forth.
    const double needed = std::fabs(ppm) * 1e-6 * kRate * 3600.0;
    const int64_t changed = run.added + run.dropped;
    QVERIFY2(changed <= needed * 1.05 + 50, qPrintable(what));
    QVERIFY2(changed >= needed * 0.95, qPrintable(what));
    if (ppm > 0)
        QCOMPARE(run.added, 0);
    if (ppm < 0)
        QCOMPARE(run.dropped, 0);
}

// A source that stops for half a second (a new device, a sound server that came back) starts
// on the new time at once instead of catching up by changing samples.
void TestSoundClock::aJumpStartsTheClockAgain()
{
    const Run run = simulate(30.0, 2.0, 120.0, 60.0);
    const QString what = describe(run);
    QCOMPARE(run.restarts, 1);
    QVERIFY2(run.largestErrorMs < 3.0, qPrintable(what));
}

QTEST_APPLESS_MAIN(TestSoundClock)
#include "test-sound-clock.moc"
