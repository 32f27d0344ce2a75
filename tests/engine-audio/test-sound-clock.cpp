// A sound source whose samples run on a clock of their own, stamped with the system time at
// each packet, jittered as a sound thread's wake-ups are: the kept clock stays on the stamps
// for an hour, changing about as many samples as the clocks differ by, and no more; a step of
// the stamps is followed within a second. After a pause, the sound libobs handed over too much
// or too little is evened out once. A pause cut on two clocks whose frames fall apart is
// evened out to the pictures' length.

#include "pause-alignment.h"
#include "resume-sound-check.h"
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
    int steps = 0;
    double errorMsAfterJump = 0.0; // a second after it
};

// `ppm`: how much faster than the system the source's clock runs; the stamps say when the
// packet's first sample was taken, late by up to `jitterMs`. At `jumpAtSeconds` the source's
// time moves on by `jumpMs`.
Run simulate(double ppm, double jitterMs, double seconds, double jumpAtSeconds = -1.0,
             double jumpMs = 500.0)
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
            trueNs += jumpMs * 1e6;
            jumped = true;
        }
        const uint64_t stamp = uint64_t(trueNs + random.bounded(jitterMs) * 1e6);
        const SoundClock::Step step = clock.next(stamp, kPacket);
        run.restarts += step.restarted;
        const double errorMs = (double(step.timestamp) - trueNs) / 1e6;
        if (jumped && elapsed >= jumpAtSeconds + 1.0 && run.errorMsAfterJump == 0.0)
            run.errorMsAfterJump = errorMs;
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
    run.steps = clock.steps();
    run.meanLastMinuteMs = lastMinuteCount ? lastMinuteSum / lastMinuteCount : 0.0;
    return run;
}

QString describe(const Run &run)
{
    return QStringLiteral("largest %1 ms, last minute %2 ms, %3 added, %4 dropped, %5 restarts, "
                          "%6 steps, %7 ms a second after the jump")
            .arg(run.largestErrorMs)
            .arg(run.meanLastMinuteMs)
            .arg(run.added)
            .arg(run.dropped)
            .arg(run.restarts)
            .arg(run.steps)
            .arg(run.errorMsAfterJump);
}

} // namespace

class TestSoundClock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void followsAClockOffTheSystemForAnHour_data();
    void followsAClockOffTheSystemForAnHour();
    void aJumpStartsTheClockAgain();
    void aSmallerStepIsTakenAtOnce_data();
    void aSmallerStepIsTakenAtOnce();
    void aResumeEvensOutTheSoundLibobsGaveTooMuchOrTooLittle_data();
    void aResumeEvensOutTheSoundLibobsGaveTooMuchOrTooLittle();
    void theSoundLeavesOutWhatThePicturesLeftOut_data();
    void theSoundLeavesOutWhatThePicturesLeftOut();
    void aResumeThePicturesHaveNotSeenWaitsForThem();
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
    // the jitter is never taken for a step
    QCOMPARE(run.steps, 0);
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

// A sink whose latency changed moves the stamps by tens of ms, less than libobs re-times by:
// one sample a packet would take a minute to catch up, so the sound stays off all that time.
void TestSoundClock::aSmallerStepIsTakenAtOnce_data()
{
    QTest::addColumn<double>("jumpMs");
    QTest::newRow("later") << 45.0;
    QTest::newRow("earlier") << -30.0;
}

void TestSoundClock::aSmallerStepIsTakenAtOnce()
{
    QFETCH(double, jumpMs);
    const Run run = simulate(0.0, 4.0, 120.0, 60.0, jumpMs);
    const QString what = describe(run);
    qInfo().noquote() << what;
    QCOMPARE(run.restarts, 0);
    QVERIFY2(run.steps >= 1 && run.steps <= 3, qPrintable(what));
    // the stamps' mean lateness is half the jitter
    QVERIFY2(std::fabs(run.errorMsAfterJump - 2.0) < 4.0, qPrintable(what));
    QVERIFY2(std::fabs(run.meanLastMinuteMs - 2.0) < 1.0, qPrintable(what));
}

// The mixer's packets come ~85 ms after their stamps, jittered; after a pause libobs's stamps
// have counted `extraMs` more sound than the pause left out.
void TestSoundClock::aResumeEvensOutTheSoundLibobsGaveTooMuchOrTooLittle_data()
{
    QTest::addColumn<double>("extraMs");
    QTest::addColumn<int64_t>("expected");
    QTest::newRow("too much") << 43.0 << int64_t(-43 * 48);
    QTest::newRow("too little") << -20.0 << int64_t(20 * 48);
    QTest::newRow("as it should") << 1.5 << int64_t(0);
}

void TestSoundClock::aResumeEvensOutTheSoundLibobsGaveTooMuchOrTooLittle()
{
    QFETCH(double, extraMs);
    QFETCH(int64_t, expected);
    ResumeSoundCheck check(kRate);
    QRandomGenerator random(11);
    const auto lag = [&random](double ms) { return int64_t((ms + random.bounded(2.0)) * 1e6); };
    int64_t owed = 0;
    for (int i = 0; i < 200; ++i)
        owed += check.next(lag(85.0), 0);
    QCOMPARE(owed, int64_t(0));
    // paused for two seconds: nothing came meanwhile
    for (int i = 0; i < 200; ++i)
        owed += check.next(lag(85.0 - extraMs), 2000000000ULL);
    QVERIFY2(std::llabs(owed - expected) <= 48, qPrintable(QString::number(owed)));
    // once only, and the next pause is measured from the lag after this one
    const int64_t first = owed;
    for (int i = 0; i < 50; ++i)
        owed += check.next(lag(85.0 - extraMs), 3000000000ULL);
    QVERIFY2(std::llabs(owed - first) <= 48, qPrintable(QString::number(owed - first)));
}

namespace {

constexpr uint64_t kFrameNs = 33333333;

// The first frame time at or after `ns` on a clock whose frames fall at `phaseNs`.
uint64_t frameAtOrAfter(uint64_t ns, uint64_t phaseNs)
{
    const uint64_t since = ns - phaseNs;
    return phaseNs + (since + kFrameNs - 1) / kFrameNs * kFrameNs;
}

} // namespace

void TestSoundClock::theSoundLeavesOutWhatThePicturesLeftOut_data()
{
    QTest::addColumn<double>("phaseMs");
    QTest::newRow("same frames") << 0.0;
    QTest::newRow("a third apart") << 11.0;
    QTest::newRow("nearly a frame apart") << 30.0;
}

// Pauses begun and ended anywhere between the frames: after each resume the sound has given
// or taken exactly the difference of the two lengths left out so far.
void TestSoundClock::theSoundLeavesOutWhatThePicturesLeftOut()
{
    QFETCH(double, phaseMs);
    const uint64_t soundPhase = uint64_t(phaseMs * 1e6);
    PauseAlignment alignment(kRate);
    QRandomGenerator random(5);
    uint64_t now = 10 * kFrameNs * 30;
    uint64_t picturesPaused = 0;
    uint64_t soundPaused = 0;
    int64_t owed = 0;
    bool differed = false;
    for (int pause = 0; pause < 40; ++pause) {
        const uint64_t begin = now + uint64_t(random.bounded(5e9));
        const uint64_t end = begin + uint64_t(random.bounded(3e9)) + 1;
        picturesPaused += frameAtOrAfter(end, 0) - frameAtOrAfter(begin, 0);
        soundPaused += frameAtOrAfter(end, soundPhase) - frameAtOrAfter(begin, soundPhase);
        alignment.picturesResumed(picturesPaused);
        for (int packet = 0; packet < 20; ++packet)
            owed += alignment.next(soundPaused);
        const int64_t expected
                = std::llround((double(soundPaused) - double(picturesPaused)) * kRate / 1e9);
        differed = differed || expected != 0;
        QCOMPARE(owed, expected);
        now = end;
    }
    // the clocks' frames a third of a frame apart or more: some pause fell between them
    QCOMPARE(differed, phaseMs > 10.0);
}

void TestSoundClock::aResumeThePicturesHaveNotSeenWaitsForThem()
{
    PauseAlignment alignment(kRate);
    int64_t owed = alignment.next(0);
    // libobs ended the pause a frame later than the screen reader will
    owed += alignment.next(2 * 1000000000ULL + kFrameNs);
    owed += alignment.next(2 * 1000000000ULL + kFrameNs);
    QCOMPARE(owed, int64_t(0));
    alignment.picturesResumed(2 * 1000000000ULL);
    owed += alignment.next(2 * 1000000000ULL + kFrameNs);
    QCOMPARE(owed, std::llround(kFrameNs * kRate / 1e9));
    owed += alignment.next(2 * 1000000000ULL + kFrameNs);
    QCOMPARE(owed, std::llround(kFrameNs * kRate / 1e9));
}

QTEST_APPLESS_MAIN(TestSoundClock)
#include "test-sound-clock.moc"
