// Trimming a recording: the cut by stream copy and by re-encoding, checked on real files with
// a frame number burnt into every picture, and the Trim window opened from the Files list.

#include "bench-time-code.h"
#include "lean-a-files.h"
#include "media-probe.h"
#include "sc-file-item-delegate.h"
#include "sc-file-manager.h"
#include "sc-media-trimmer.h"
#include "sc-settings.h"
#include "sc-trim-timeline.h"
#include "sc-trim-window.h"
#include "test-home.h"

#include <QApplication>
#include <QCheckBox>
#include <QCryptographicHash>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QtTest>

#include <sys/mount.h>

namespace {

constexpr int FPS = 30;
const QPoint CODE_ORIGIN(16, 8);

QByteArray hashOf(const QString &path)
{
    return QCryptographicHash::hash(readAll(path), QCryptographicHash::Sha256);
}

// 10 s at 30 fps, a keyframe every 2 s, each picture carrying its number, with a tone.
bool makeTimeCodedMp4(const QString &path)
{
    QImage picture(QSize(1120, 96), QImage::Format_RGB32);
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {"-v",
                  "error",
                  "-y",
                  "-f",
                  "rawvideo",
                  "-pix_fmt",
                  "bgra",
                  "-s",
                  "1120x96",
                  "-r",
                  QString::number(FPS),
                  "-i",
                  "-",
                  "-f",
                  "lavfi",
                  "-i",
                  "sine=frequency=440:duration=10",
                  "-c:v",
                  "libx264",
                  "-preset",
                  "ultrafast",
                  "-g",
                  "60",
                  "-keyint_min",
                  "60",
                  "-sc_threshold",
                  "0",
                  "-pix_fmt",
                  "yuv420p",
                  "-c:a",
                  "aac",
                  "-shortest",
                  path});
    if (!ffmpeg.waitForStarted())
        return false;
    for (int n = 0; n < 10 * FPS; ++n) {
        picture.fill(Qt::darkGray);
        QPainter painter(&picture);
        BenchTimeCode::paint(painter, CODE_ORIGIN, uint32_t(n));
        painter.end();
        ffmpeg.write(reinterpret_cast<const char *>(picture.constBits()), picture.sizeInBytes());
    }
    ffmpeg.closeWriteChannel();
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0;
}

SCMediaTrimResult cut(const QString &source, const QString &target, qint64 from, qint64 to,
                      bool exact = false)
{
    const std::atomic<bool> never(false);
    return SCMediaTrimmer::trim(
            {source, target, from, to, exact}, [](int) {}, never);
}

std::optional<uint32_t> firstCode(const QString &file, const QString &png)
{
    return BenchTimeCode::read(MediaProbe::frame(file, png), CODE_ORIGIN);
}

} // namespace

class TestTrim : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void streamCopySnapsToTheKeyframeBefore();
    void exactCutStartsOnTheFrame();
    void failuresLeaveNoFile();
    void otherFormatsAreCut_data();
    void otherFormatsAreCut();
    void trimWindowFromTheFilesList();

private:
    QTemporaryDir m_dir;
    QString m_source;
    QByteArray m_sourceHash;
};

void TestTrim::initTestCase()
{
    m_source = m_dir.filePath(QStringLiteral("Recording_1.mp4"));
    QVERIFY(makeTimeCodedMp4(m_source));
    m_sourceHash = hashOf(m_source);
    QCOMPARE(firstCode(m_source, m_dir.filePath("check.png")), std::optional<uint32_t>(0));
}

void TestTrim::streamCopySnapsToTheKeyframeBefore()
{
    QCOMPARE(SCMediaTrimmer::keyframeAtOrBefore(m_source, 3000), 2000);
    QCOMPARE(SCMediaTrimmer::keyframeAtOrBefore(m_source, 4000), 4000);
    const QString target = SCMediaTrimmer::defaultTarget(m_source);
    QCOMPARE(QFileInfo(target).fileName(), QStringLiteral("Recording_1_trimmed.mp4"));

    const SCMediaTrimResult result = cut(m_source, target, 3000, 7000);
    QVERIFY2(result.ok(), qPrintable(result.detail));
    QCOMPARE(result.startMs, 2000);
    QCOMPARE(firstCode(target, m_dir.filePath("copy.png")), std::optional<uint32_t>(2 * FPS));
    const MediaProbe probe(target);
    QCOMPARE(probe.codecs(), QStringList({"h264", "aac"}));
    QVERIFY2(qAbs(probe.formatDuration() - 5.0) < 0.1,
             qPrintable(QString::number(probe.formatDuration())));
    QVERIFY(qAbs(probe.stream("video").value("start_time").toString().toDouble()) < 0.01);
    QVERIFY(MediaProbe::decodes(target));
    // The next default name does not take the first one's place.
    QCOMPARE(QFileInfo(SCMediaTrimmer::defaultTarget(m_source)).fileName(),
             QStringLiteral("Recording_1_trimmed (2).mp4"));
    QCOMPARE(hashOf(m_source), m_sourceHash);
}

void TestTrim::exactCutStartsOnTheFrame()
{
    const QString target = m_dir.filePath(QStringLiteral("exact.mp4"));
    const SCMediaTrimResult result = cut(m_source, target, 3000, 7000, true);
    QVERIFY2(result.ok(), qPrintable(result.detail));
    QCOMPARE(firstCode(target, m_dir.filePath("exact.png")), std::optional<uint32_t>(3 * FPS));
    const MediaProbe probe(target);
    QCOMPARE(probe.codecs(), QStringList({"h264", "aac"}));
    QVERIFY2(qAbs(probe.packetEnd("video") - 4.0) <= 1.0 / FPS + 1e-3,
             qPrintable(QString::number(probe.packetEnd("video"))));
    QCOMPARE(MediaProbe::frameCount(target), std::optional<long>(4 * FPS));
    QCOMPARE(hashOf(m_source), m_sourceHash);
}

void TestTrim::failuresLeaveNoFile()
{
    QTemporaryDir full;
    const QByteArray mountPoint = full.path().toUtf8();
    QVERIFY(mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=64k") == 0);
    auto unmount = qScopeGuard([&mountPoint] { umount(mountPoint.constData()); });
    const QString target = QDir(full.path()).filePath(QStringLiteral("big.mp4"));
    for (const bool exact : {false, true}) {
        const SCMediaTrimResult result = cut(m_source, target, 0, 10000, exact);
        QCOMPARE(result.failure, SCMediaTrimResult::Failure::DiskFull);
        QVERIFY(QDir(full.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    }
    unmount.dismiss();
    umount(mountPoint.constData());

    const QString broken = m_dir.filePath(QStringLiteral("broken.mp4"));
    writeFile(broken, QByteArray(4096, 'x'));
    const QString brokenTarget = m_dir.filePath(QStringLiteral("broken_trimmed.mp4"));
    QCOMPARE(cut(broken, brokenTarget, 0, 1000).failure, SCMediaTrimResult::Failure::Unreadable);
    QVERIFY(!QFileInfo::exists(brokenTarget));
    QVERIFY(!QFileInfo::exists(brokenTarget + ".part"));
    // Cancelled on its first progress report, the cut off the GUI thread leaves nothing.
    SCMediaTrimmer trimmer;
    const QString cancelled = m_dir.filePath(QStringLiteral("cancelled.mp4"));
    QList<int> reports;
    std::optional<SCMediaTrimResult> outcome;
    connect(&trimmer, &SCMediaTrimmer::progressChanged, &trimmer, [&](int percent) {
        reports << percent;
        trimmer.cancel();
    });
    connect(&trimmer, &SCMediaTrimmer::finished, &trimmer,
            [&](const SCMediaTrimResult &result) { outcome = result; });
    trimmer.start({m_source, cancelled, 0, 10000, true});
    QTRY_VERIFY_WITH_TIMEOUT(outcome.has_value(), 30000);
    QCOMPARE(outcome->failure, SCMediaTrimResult::Failure::Cancelled);
    QVERIFY(!reports.isEmpty() && reports.first() < 100);
    QVERIFY(!QFileInfo::exists(cancelled) && !QFileInfo::exists(cancelled + ".part"));
    // The source itself is never the target.
    QCOMPARE(cut(m_source, m_source, 0, 1000).failure, SCMediaTrimResult::Failure::NotWritable);
    QCOMPARE(hashOf(m_source), m_sourceHash);
}

void TestTrim::otherFormatsAreCut_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("codecs");
    QTest::addColumn<QStringList>("exactCodecs");
    const auto row = [](const char *name, QStringList codecs, QStringList exact = {}) {
        QTest::newRow(name) << name << codecs << (exact.isEmpty() ? codecs : exact);
    };
    row("a.mkv", {"h264", "aac"});
    row("a.webm", {"vp9", "opus"});
    row("a.flv", {"flv1", "mp3"}, {"h264", "mp3"});
    row("a.avi", {"mpeg4", "mp3"});
    row("a.mp3", {"mp3"});
    row("a.aac", {"aac"});
    row("a.flac", {"flac"});
    row("a.gif", {"gif"});
}

// Each format keeps its codecs, and the file's own length (header) agrees with what decodes.
void TestTrim::otherFormatsAreCut()
{
    QFETCH(QString, name);
    QFETCH(QStringList, codecs);
    QFETCH(QStringList, exactCodecs);
    const QString source = m_dir.filePath(name);
    QStringList args = {"-v",
                        "error",
                        "-y",
                        "-f",
                        "lavfi",
                        "-i",
                        "testsrc2=size=160x120:rate=30:duration=6",
                        "-f",
                        "lavfi",
                        "-i",
                        "sine=duration=6",
                        "-g",
                        "60",
                        "-ar",
                        "48000"};
    const QMap<QString, QString> video = {{"vp9", "libvpx-vp9"}, {"flv1", "flv"}};
    const QMap<QString, QString> audio = {{"mp3", "libmp3lame"}, {"opus", "libopus"}};
    args << (codecs.size() > 1 || name.endsWith(".gif")
                     ? QStringList {"-c:v", video.value(codecs.first(), codecs.first())}
                     : QStringList {"-vn"});
    if (!name.endsWith(".gif"))
        args << "-c:a" << audio.value(codecs.last(), codecs.last());
    QVERIFY(MediaProbe::runTool("ffmpeg", args << "-shortest" << source));
    const QByteArray hash = hashOf(source);
    for (const bool exact : {false, true}) {
        const QString target = SCMediaTrimmer::defaultTarget(source);
        const SCMediaTrimResult result = cut(source, target, 2100, 4000, exact);
        QVERIFY2(result.ok(), qPrintable(result.detail));
        const MediaProbe probe(target);
        QCOMPARE(probe.codecs(), exact ? exactCodecs : codecs);
        const double decoded = MediaProbe::decodedDuration(target);
        QVERIFY2(qAbs(decoded - (4000 - result.startMs) / 1000.0) < 0.2
                         && qAbs(probe.formatDuration() - decoded) < 0.1,
                 qPrintable(QStringLiteral("%1 from %2: %3 s, header %4 s")
                                    .arg(target)
                                    .arg(result.startMs)
                                    .arg(decoded)
                                    .arg(probe.formatDuration())));
        if (exact || !SCMediaTrimmer::copiesStreams(source))
            QCOMPARE(result.startMs, 2100);
        else
            QVERIFY(result.startMs <= 2100 && result.startMs > 1900);
    }
    QCOMPARE(hashOf(source), hash);
}

// The Files list's menu opens the window on the recording; the times typed there are the
// cut's, and the new file joins the library and the list.
void TestTrim::trimWindowFromTheFilesList()
{
    SCFileManager manager;
    const QString shot = m_dir.filePath(QStringLiteral("Screenshot_1.png"));
    writeFile(shot, "png");
    manager.addFile(shot, QStringLiteral("screenshot"));
    manager.addFile(m_source, QStringLiteral("video"));
    QListView view;
    view.resize(400, 200);
    manager.updateListView(&view, QString());
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QCOMPARE(view.model()->index(1, 0).data(SCFileManager::TrimmableRole).toBool(), false);

    const auto menuFor = [&view](int row) {
        const QPoint at = view.visualRect(view.model()->index(row, 0)).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, view.viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(view.viewport(), &event);
        return view.findChild<QMenu *>(SCFileManager::CONTEXT_MENU_NAME);
    };
    QMenu *menu = menuFor(1);
    QVERIFY(menu && !menu->findChild<QAction *>("trimAction"));
    menu->close();
    QTRY_VERIFY(!view.findChild<QMenu *>(SCFileManager::CONTEXT_MENU_NAME));
    menu = menuFor(0);
    QVERIFY(menu);
    QAction *trim = menu->findChild<QAction *>("trimAction");
    QVERIFY(trim);
    trim->trigger();
    menu->close();
    SCTrimWindow *window = nullptr;
    QTRY_VERIFY((window = view.findChild<SCTrimWindow *>()) != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto *timeline = window->findChild<SCTrimTimeline *>("trimTimeline");
    QCOMPARE(timeline->duration(), 10000);
    QCOMPARE(QFileInfo(window->targetPath()).fileName(),
             QFileInfo(SCMediaTrimmer::defaultTarget(m_source)).fileName());
    // The icon of the row opens no second window on the same file.
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {},
                      SCFileManager::FileItemDelegate::trimIconRect(
                              view.visualRect(view.model()->index(0, 0)))
                              .center());
    QCOMPARE(view.findChildren<SCTrimWindow *>().size(), 1);

    window->findChild<QTimeEdit *>("trimStartEdit")->setTime(QTime(0, 0, 1, 500));
    window->findChild<QTimeEdit *>("trimEndEdit")->setTime(QTime(0, 0, 4, 250));
    QCOMPARE(timeline->start(), 1500);
    QCOMPARE(timeline->end(), 4250);
    auto *note = window->findChild<QLabel *>("trimSnapNote");
    QTRY_VERIFY2(note->text().contains("00:00:00.000"), qPrintable(note->text()));
    window->findChild<QCheckBox *>("trimExactCut")->setChecked(true);
    auto *name = window->findChild<QLineEdit *>("trimNameEdit");
    name->setText(QStringLiteral("piece"));
    QTest::mouseClick(window->findChild<QPushButton *>("trimSaveButton"), Qt::LeftButton);
    const QString piece = m_dir.filePath(QStringLiteral("piece.mp4"));
    QTRY_VERIFY_WITH_TIMEOUT(manager.getAllFiles().size() == 3, 30000);
    QCOMPARE(manager.getAllFiles().first().filepath, piece);
    QCOMPARE(manager.getAllFiles().first().properties.value("type").toString(), "video");
    QCOMPARE(view.model()->index(0, 0).data(SCFileManager::PathRole).toString(), piece);
    QCOMPARE(firstCode(piece, m_dir.filePath("piece.png")), std::optional<uint32_t>(45));
    QVERIFY(qAbs(MediaProbe(piece).packetEnd("video") - 2.75) <= 1.0 / FPS + 1e-3);

    // Saving the same name again is refused with a message, not written over.
    name->setText(QStringLiteral("piece.mp4"));
    QTest::mouseClick(window->findChild<QPushButton *>("trimSaveButton"), Qt::LeftButton);
    QVERIFY(window->findChild<QLabel *>("trimStatus")->text().contains("piece.mp4"));
    QCOMPARE(manager.getAllFiles().size(), 3);
    window->close();
    QTRY_VERIFY(!view.findChild<SCTrimWindow *>());
    QCOMPARE(hashOf(m_source), m_sourceHash);
}

int main(int argc, char **argv)
{
    TestHome home;
    QApplication app(argc, argv);
    home.openLog();
    QCoreApplication::setOrganizationName(SCSettings::ORGANIZATION);
    QCoreApplication::setApplicationName(SCSettings::APPLICATION);
    TestTrim test;
    return QTest::qExec(&test, argc, argv);
}
#include "test-trim.moc"
