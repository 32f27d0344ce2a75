// Sound stays in step with the picture over a recording: the sync source flashes and beeps
// once a second while the engine records half a minute, and the offset between each flash and
// its beep at the end is the one at the start, within a frame.

#include "bench-av-sync.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <vector>

class TestAvSync : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void edgesAndPairs();
    void offsetHoldsOverHalfAMinute();
};

void TestAvSync::edgesAndPairs()
{
    // a rise counts only after a quiet gap; a dip inside a flash is no new flash
    const std::vector<std::pair<double, double>> values
            = {{0.0, 0}, {1.0, 200}, {1.1, 50}, {1.2, 200}, {1.3, 0}, {2.0, 0}, {2.5, 128}};
    QCOMPARE(BenchAvSync::risingEdges(values, 128, 0.5), (std::vector<double> {1.0, 2.5}));

    // limited-range black is the flash's start, white the end of its ramp
    QCOMPARE(BenchAvSync::sinceFlashStart(16.0, 0.2), 0.0);
    QVERIFY(std::abs(BenchAvSync::sinceFlashStart(125.5, 0.2) - 0.1) < 1e-9);
    QCOMPARE(BenchAvSync::sinceFlashStart(250.0, 0.2), 0.2);

    // each flash takes its nearest beep; a flash without one is left out
    const auto pairs = BenchAvSync::pairUp({1.0, 2.0, 3.0}, {0.95, 2.03, 5.0}, 0.4);
    QCOMPARE(pairs.size(), size_t(2));
    QCOMPARE(pairs[0].at, 1.0);
    QVERIFY(std::abs(pairs[0].seconds + 0.05) < 1e-9);
    QVERIFY(std::abs(pairs[1].seconds - 0.03) < 1e-9);
}

void TestAvSync::offsetHoldsOverHalfAMinute()
{
    constexpr int SECONDS = 30;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QProcess recorder;
    recorder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    recorder.start(RELIABILITY_RECORDER,
                   {dir.path(), QString::number(SECONDS + 3), QStringLiteral("mp4")});
    QVERIFY(recorder.waitForStarted());
    while (!recorder.readAllStandardOutput().contains("recording")) {
        QVERIFY2(recorder.state() == QProcess::Running, "the recorder ended before recording");
        recorder.waitForReadyRead(60000);
    }

    QProcess source;
    source.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    source.start(AV_SYNC_SOURCE, {QString::number(SECONDS)});
    QVERIFY(source.waitForFinished((SECONDS + 30) * 1000));
    QCOMPARE(source.exitCode(), 0);
    QVERIFY(recorder.waitForFinished(60000));
    QCOMPARE(recorder.exitCode(), 0);

    QString error;
    const auto offsets = BenchAvSync::measure(dir.filePath("mp4.mp4"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    // a flash now and then may fall between two captured pictures
    QVERIFY2(offsets.size() >= size_t(SECONDS * 3 / 4),
             qPrintable(QStringLiteral("%1 flashes with their beeps").arg(offsets.size())));
    // The median of nine pairs at either end: one pair carries a frame's worth of capture
    // jitter, and a busy machine now and then delays a single picture far more.
    const auto median = [](auto begin, auto end) {
        std::vector<double> seconds;
        for (auto it = begin; it != end; ++it)
            seconds.push_back(it->seconds);
        std::nth_element(seconds.begin(), seconds.begin() + seconds.size() / 2, seconds.end());
        return seconds[seconds.size() / 2];
    };
    const double start = median(offsets.begin(), offsets.begin() + 9);
    const double end = median(offsets.end() - 9, offsets.end());
    const QString summary = QStringLiteral("%1 pairs; offset at the start %2 ms, at the end %3 ms")
                                    .arg(offsets.size())
                                    .arg(start * 1000.0, 0, 'f', 1)
                                    .arg(end * 1000.0, 0, 'f', 1);
    qInfo().noquote() << summary;
    QVERIFY2(std::abs(end - start) <= 0.033, qPrintable(summary));
}

QTEST_GUILESS_MAIN(TestAvSync)
#include "test-av-sync.moc"
