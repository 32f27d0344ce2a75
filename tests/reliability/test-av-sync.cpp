// Sound stays in step with the picture over a recording: the sync source flashes and beeps
// once a second while the engine records, and the offset between each flash and its beep at
// the end, and after a pause, is the one at the start, within a frame.

#include "bench-av-sync.h"
#include "media-probe.h"

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
    void offsetHoldsOverTwentySeconds();
    void pauseKeepsStepAndLeavesItsTimeOut();
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

    // five-minute spans: their own pairs only, the largest keeps its sign, gaps are skipped
    const auto spans = BenchAvSync::spans(
            {{10.0, 0.010}, {200.0, -0.030}, {299.9, 0.020}, {300.0, 0.005}, {950.0, -0.002}},
            300.0);
    QCOMPARE(spans.size(), size_t(3));
    QCOMPARE(spans[0].pairs, 3);
    QVERIFY(std::abs(spans[0].mean - 0.0) < 1e-9);
    QCOMPARE(spans[0].largest, -0.030);
    QCOMPARE(spans[1].from, 300.0);
    QCOMPARE(spans[1].pairs, 1);
    QCOMPARE(spans[2].from, 900.0);
    QCOMPARE(spans[2].largest, -0.002);
    QVERIFY(BenchAvSync::spans({}, 300.0).empty());
}

namespace {

// The median of the pairs' offsets: one pair carries a frame's worth of capture jitter, and a
// busy machine now and then delays a single picture far more.
template<typename It> double median(It begin, It end)
{
    std::vector<double> seconds;
    for (auto it = begin; it != end; ++it)
        seconds.push_back(it->seconds);
    std::nth_element(seconds.begin(), seconds.begin() + seconds.size() / 2, seconds.end());
    return seconds[seconds.size() / 2];
}

struct SyncRecording
{
    QString file;
    std::vector<BenchAvSync::Offset> offsets;
    double recorded = 0.0; // seconds, pauses left out
};

// Records MP4 the way the main window does while the sync source flashes and beeps for
// `seconds`; `pause` is the recorder's VISTREL_PAUSE.
SyncRecording recordSync(const QTemporaryDir &dir, int seconds, const QString &pause = {})
{
    SyncRecording result;
    QProcess recorder;
    recorder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VISTREL_PAUSE", pause);
    recorder.setProcessEnvironment(env);
    recorder.start(RELIABILITY_RECORDER,
                   {dir.path(), QString::number(seconds + 3), QStringLiteral("mp4")});
    if (!recorder.waitForStarted())
        return result;
    QByteArray output;
    while (!output.contains("recording") && recorder.state() == QProcess::Running) {
        recorder.waitForReadyRead(60000);
        output += recorder.readAllStandardOutput();
    }
    QProcess source;
    source.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    source.start(AV_SYNC_SOURCE, {QString::number(seconds)});
    if (!source.waitForFinished((seconds + 30) * 1000) || source.exitCode() != 0) {
        qWarning() << "the sync source failed" << source.exitCode();
        return result;
    }
    if (!recorder.waitForFinished(60000) || recorder.exitCode() != 0) {
        qWarning() << "the recorder failed" << recorder.exitCode();
        return result;
    }
    output += recorder.readAllStandardOutput();
    // libobs's log shares the output
    const int at = output.indexOf("\nrecorded ");
    const int end = output.indexOf('\n', at + 1);
    result.recorded = at < 0 ? 0.0 : output.mid(at + 10, end - at - 10).toDouble() / 1000.0;
    result.file = dir.filePath("mp4.mp4");
    QString error;
    result.offsets = BenchAvSync::measure(result.file, &error);
    if (!error.isEmpty())
        qWarning().noquote() << error;
    return result;
}

} // namespace

void TestAvSync::offsetHoldsOverTwentySeconds()
{
    constexpr int SECONDS = 20;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const SyncRecording recording = recordSync(dir, SECONDS);
    const auto &offsets = recording.offsets;
    // a flash now and then may fall between two captured pictures
    QVERIFY2(offsets.size() >= size_t(SECONDS * 3 / 4),
             qPrintable(QStringLiteral("%1 flashes with their beeps").arg(offsets.size())));
    const double start = median(offsets.begin(), offsets.begin() + 9);
    const double end = median(offsets.end() - 9, offsets.end());
    const QString summary = QStringLiteral("%1 pairs; offset at the start %2 ms, at the end %3 ms")
                                    .arg(offsets.size())
                                    .arg(start * 1000.0, 0, 'f', 1)
                                    .arg(end * 1000.0, 0, 'f', 1);
    qInfo().noquote() << summary;
    QVERIFY2(std::abs(end - start) <= 0.033, qPrintable(summary));
    // Each beep is where its flash is: not mixed-time early, as the sink's monitor hands the
    // sound over before it is heard.
    QVERIFY2(std::abs(start) <= 0.025 && std::abs(end) <= 0.025, qPrintable(summary));
}

// A pause leaves its time out of the picture and the sound alike: the file lasts what was
// recorded, and each beep keeps its distance to its flash after the resume.
void TestAvSync::pauseKeepsStepAndLeavesItsTimeOut()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const SyncRecording recording = recordSync(dir, 14, QStringLiteral("5,8"));
    QVERIFY2(recording.recorded > 0.0, "the recorder did not finish");
    const MediaProbe probe(recording.file);
    QVERIFY2(probe.ok(), qPrintable(probe.error()));
    const double frame = 1.0 / 30.0;
    for (const QString type : {"video", "audio"}) {
        // H.264's reordering shows the first picture two frames in
        const double lasts = probe.packetEnd(type) - probe.packetStart(type);
        const QString summary = QStringLiteral("%1 lasts %2 s, recorded %3 s")
                                        .arg(type)
                                        .arg(lasts, 0, 'f', 3)
                                        .arg(recording.recorded, 0, 'f', 3);
        qInfo().noquote() << summary;
        QVERIFY2(std::abs(lasts - recording.recorded) <= 3 * frame, qPrintable(summary));
    }
    const auto &offsets = recording.offsets;
    const auto resumed = std::find_if(offsets.begin(), offsets.end(),
                                      [](const BenchAvSync::Offset &o) { return o.at > 5.5; });
    QVERIFY2(resumed - offsets.begin() >= 3 && offsets.end() - resumed >= 3,
             qPrintable(QStringLiteral("%1 pairs").arg(offsets.size())));
    const double before = median(offsets.begin(), resumed);
    const double after = median(resumed, offsets.end());
    const QString summary = QStringLiteral("offset before the pause %1 ms, after it %2 ms")
                                    .arg(before * 1000.0, 0, 'f', 1)
                                    .arg(after * 1000.0, 0, 'f', 1);
    qInfo().noquote() << summary;
    QVERIFY2(std::abs(after - before) <= frame, qPrintable(summary));
}

QTEST_GUILESS_MAIN(TestAvSync)
#include "test-av-sync.moc"
