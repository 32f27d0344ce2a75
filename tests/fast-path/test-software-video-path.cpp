#include <QtTest>

#include "media-probe.h"
#include "obs-capture-area.h"
#include "sc-obs-wrapper.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPainter>
#include <QRasterWindow>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

// Saturated primaries and mixes show a wrong colour matrix, swapped red and blue or a
// wrong range; the greys show a wrong range or gamma.
const QColor PATCHES[]
        = {QColor(255, 0, 0),     QColor(0, 255, 0),     QColor(0, 0, 255),     QColor(255, 255, 0),
           QColor(0, 255, 255),   QColor(255, 0, 255),   QColor(255, 255, 255), QColor(0, 0, 0),
           QColor(128, 128, 128), QColor(40, 90, 200),   QColor(230, 120, 30),  QColor(16, 16, 16),
           QColor(235, 235, 235), QColor(100, 200, 120), QColor(200, 60, 90),   QColor(60, 40, 20)};
const int COLUMNS = 8;

// The whole screen: a grid of flat patches over a grey ramp.
class PatchWindow : public QRasterWindow
{
public:
    explicit PatchWindow(const QRect &geometry)
    {
        setFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint
                 | Qt::WindowStaysOnTopHint);
        setGeometry(geometry);
    }

    QRect patch(int index) const
    {
        const int w = width() / COLUMNS;
        const int h = height() / 4;
        return QRect((index % COLUMNS) * w, (index / COLUMNS) * h, w, h);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        QLinearGradient ramp(0, 0, width(), 0);
        ramp.setColorAt(0, Qt::black);
        ramp.setColorAt(1, Qt::white);
        p.fillRect(QRect(QPoint(0, 0), size()), ramp);
        for (int i = 0; i < int(std::size(PATCHES)); ++i)
            p.fillRect(patch(i), PATCHES[i]);
    }
};

// Mean colour of the middle half of a rectangle, away from the chroma-blurred edges.
QColor meanColour(const QImage &image, const QRect &area)
{
    const QRect inner = area.adjusted(area.width() / 4, area.height() / 4, -area.width() / 4,
                                      -area.height() / 4);
    qint64 r = 0, g = 0, b = 0, n = 0;
    for (int y = inner.top(); y <= inner.bottom(); y += 2)
        for (int x = inner.left(); x <= inner.right(); x += 2) {
            const QRgb c = image.pixel(x, y);
            r += qRed(c);
            g += qGreen(c);
            b += qBlue(c);
            ++n;
        }
    return n ? QColor(int(r / n), int(g / n), int(b / n)) : QColor();
}

int maxChannelDifference(const QColor &a, const QColor &b)
{
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                     std::abs(a.blue() - b.blue())});
}

QByteArray run(const QString &program, const QStringList &arguments)
{
    return MediaProbe::runTool(program, arguments, 60000).value_or(QByteArray());
}

// Structural similarity of two pictures of the same size, as ffmpeg's ssim filter gives it.
double ssim(const QString &a, const QString &b)
{
    const QByteArray stats = run(QStringLiteral("ffmpeg"),
                                 {"-v", "error", "-nostdin", "-i", a, "-i", b, "-lavfi",
                                  "ssim=stats_file=-", "-f", "null", "-"});
    const int at = stats.lastIndexOf("All:");
    return at < 0 ? 0.0 : stats.mid(at + 4).split(' ').value(0).toDouble();
}

} // namespace

class TestSoftwareVideoPath : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void softwareRenderersAreRecognised();
    void recordedPictureEqualsTheScreen_data();
    void recordedPictureEqualsTheScreen();

private:
    std::unique_ptr<ObsWrapper> m_obs;
    bool m_composed = false;
    std::unique_ptr<PatchWindow> m_window;
    QImage m_shown;
};

void TestSoftwareVideoPath::softwareRenderersAreRecognised()
{
    QVERIFY(ObsWrapper::isSoftwareRenderer("llvmpipe (LLVM 15.0.6, 256 bits)"));
    QVERIFY(ObsWrapper::isSoftwareRenderer("softpipe"));
    QVERIFY(ObsWrapper::isSoftwareRenderer("Software Rasterizer"));
    // Hardware drivers built on LLVM name it too.
    QVERIFY(!ObsWrapper::isSoftwareRenderer(
            "AMD Radeon RX 580 (polaris10, LLVM 15.0.6, DRM 3.49)"));
    QVERIFY(!ObsWrapper::isSoftwareRenderer("Mesa Intel(R) UHD Graphics 620 (KBL GT2)"));
    QVERIFY(!ObsWrapper::isSoftwareRenderer("NVIDIA GeForce GTX 1060/PCIe/SSE2"));
    QVERIFY(!ObsWrapper::isSoftwareRenderer(QString()));
}

void TestSoftwareVideoPath::recordedPictureEqualsTheScreen_data()
{
    QTest::addColumn<bool>("composed");
    QTest::addColumn<QRect>("region"); // empty: the whole screen
    QTest::addColumn<bool>("highlight");
    QTest::addColumn<bool>("unreadable"); // the output cannot open the display
    // Video recordings read the screen in the output; the engine's composed picture stays
    // the way back.
    QTest::newRow("read from the screen") << false << QRect() << false << false;
    QTest::newRow("read from the screen, region stretched")
            << false << QRect(50, 30, 802, 601) << false << false;
    QTest::newRow("read from the screen, pointer highlight")
            << false << QRect(100, 60, 800, 600) << true << false;
    QTest::newRow("screen unreadable at the start") << false << QRect() << false << true;
    // The composed rows come last: only they need an engine of their own.
    QTest::newRow("composed by the engine") << true << QRect() << false << false;
    QTest::newRow("composed by the engine, pointer highlight")
            << true << QRect(100, 60, 800, 600) << true << false;
}

void TestSoftwareVideoPath::recordedPictureEqualsTheScreen()
{
    QFETCH(bool, composed);
    QFETCH(QRect, region);
    QFETCH(bool, highlight);
    QFETCH(bool, unreadable);
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QScreen *screen = QGuiApplication::primaryScreen();
    const QSize size = screen->size();
    if (region.isEmpty())
        region = QRect(QPoint(0, 0), size);

    if (!m_window) {
        m_window = std::make_unique<PatchWindow>(screen->geometry());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QTRY_COMPARE_WITH_TIMEOUT(
                screen->grabWindow(0).toImage().pixelColor(m_window->patch(0).center()), PATCHES[0],
                5000);
        m_shown = screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
    }
    const QImage &shown = m_shown;
    const PatchWindow &window = *m_window;
    QCOMPARE(shown.size(), size);

    // The switch to a composed picture is read at bring-up.
    if (!m_obs || m_composed != composed) {
        m_obs.reset();
        if (composed)
            qputenv("VISTREL_COMPOSE_PICTURE", "1");
        else
            qunsetenv("VISTREL_COMPOSE_PICTURE");
        m_composed = composed;
        m_obs = std::make_unique<ObsWrapper>();
        QVERIFY(m_obs->initObs(size.width(), size.height(), 30));
        // Only a forced composition gives libobs a real graphics device; the test desktop's
        // is llvmpipe, whose picture the output converts on the processor.
        QCOMPARE(m_obs->drawsPicture(), composed);
        QCOMPARE(m_obs->softwareRenderer(), composed);
        QCOMPARE(m_obs->addSceneSource(REC_SCREEN), 0);
        m_obs->searchRecTargets(REC_SCREEN);
        QVERIFY(!m_obs->getRecTargets().isEmpty());
    }
    ObsWrapper *obs = m_obs.get();
    const auto area
            = ObsCaptureArea::fromCorners(region.topLeft(), region.bottomRight(), size, 1.0);
    QVERIFY(obs->updateRecItem(obs->getRecTargets().first().toUtf8().constData(), REC_SCREEN,
                               !area.fullScreen, area.left, area.right, area.top, area.bottom));
    obs->resetVideo(area.canvasWidth, area.canvasHeight, area.canvasWidth, area.canvasHeight, 30);
    obs->captureMouseCursor(false);
    obs->enableMouseEffect(highlight);
    // over the grey ramp, below the patches
    const QPoint pointer(region.x() + region.width() / 4, region.y() + region.height() * 7 / 8);
    QCursor::setPos(screen, pointer);
    obs->recMicAudio(false, QString());
    obs->recPlayerAudio(false, QString());
    // let the capture source see the screen once before the output asks for its size
    QTest::qWait(300);

    const QString base = dir.filePath(QStringLiteral("screen"));
    obs->setupFFmpeg(base, area.frameWidth, area.frameHeight, 30, 4, OutputFormat::MP4);
    QSignalSpy status(obs, &ObsWrapper::recordStatusChanged);
    QSignalSpy failed(obs, &ObsWrapper::recordingFailed);
    const QByteArray display = qgetenv("DISPLAY");
    if (unreadable)
        qputenv("DISPLAY", "unreadable:0");
    const int started = obs->startRecording();
    qputenv("DISPLAY", display);
    if (unreadable) {
        // A display that stops being readable after bring-up refuses the start and says why;
        // no half-written file is left.
        QCOMPARE(started, -1);
        QCOMPARE(failed.count(), 1);
        QVERIFY2(failed.first().first().toString().contains("cannot be read"),
                 qPrintable(failed.first().first().toString()));
        QVERIFY(!QFileInfo::exists(obs->outputFilePath()));
        QString reason;
        qputenv("DISPLAY", "unreadable:0");
        QVERIFY(!ObsWrapper::screenReadable(&reason));
        qputenv("DISPLAY", display);
        QVERIFY(!reason.isEmpty());
        QVERIFY(ObsWrapper::screenReadable(&reason));
        return;
    }
    QCOMPARE(started, 0);
    // Reading the screen leaves libobs its tiny canvas; composing takes the area's, and only
    // then is the capture source in the picture.
    obs_video_info canvas = {};
    QVERIFY(obs_get_video_info(&canvas));
    QCOMPARE(int(canvas.base_width), composed ? area.canvasWidth : int(ObsWrapper::IDLE_CANVAS));
    QCOMPARE(obs->capturing(), composed);
    QTest::qWait(1500);
    obs->stopRecording(false);
    QTRY_VERIFY_WITH_TIMEOUT(status.count() >= 2, 30000);
    QCOMPARE(status.last().at(0).toInt(), 2);
    // Back at rest: nothing read from the screen, nearly nothing drawn.
    QVERIFY(obs_get_video_info(&canvas));
    QCOMPARE(int(canvas.base_width), int(ObsWrapper::IDLE_CANVAS));
    QVERIFY(!obs->capturing());
    const QString file = obs->outputFilePath();

    // The file says BT.709 limited range; decoded with exactly that, as players do.
    const QByteArray tags = run(QStringLiteral("ffprobe"),
                                {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                 "stream=pix_fmt,color_range,color_space", "-of", "csv=p=0", file});
    QCOMPARE(tags.trimmed(), QByteArray("yuv420p,tv,bt709"));
    // Compared at the area's own size: the canvas may round it up a little.
    const QString png = dir.filePath(QStringLiteral("frame.png"));
    run(QStringLiteral("ffmpeg"),
        {"-v", "error", "-y", "-ss", "1", "-i", file, "-frames:v", "1", "-vf",
         QStringLiteral("scale=%1:%2:in_color_matrix=bt709:in_range=tv:out_range=pc,format=rgb24")
                 .arg(region.width())
                 .arg(region.height()),
         png});
    const QImage recorded = QImage(png).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(recorded.size(), region.size());

    // Flat areas: within a few levels of rounding and lossy coding.
    int compared = 0;
    for (int i = 0; i < int(std::size(PATCHES)); ++i) {
        const QRect patch = window.patch(i).intersected(region);
        if (patch.width() < 16 || patch.height() < 16)
            continue;
        const QColor want = meanColour(shown, patch);
        const QColor got = meanColour(recorded, patch.translated(-region.topLeft()));
        QVERIFY2(maxChannelDifference(want, got) <= 6,
                 qPrintable(QStringLiteral("patch %1: screen %2, file %3")
                                    .arg(i)
                                    .arg(want.name(), got.name())));
        ++compared;
    }
    QVERIFY(compared >= 6);

    // Against the lossless screen, the file is at least as close as the x264 tool makes it
    // with the same encoder settings.
    if (region.size() == size && !highlight && !composed && !unreadable) {
        const QString screenPng = dir.filePath(QStringLiteral("screen.png"));
        const QString reference = dir.filePath(QStringLiteral("reference.mp4"));
        const QString referencePng = dir.filePath(QStringLiteral("reference.png"));
        QVERIFY(shown.save(screenPng));
        run(QStringLiteral("ffmpeg"),
            {"-v",      "error",   "-y",       "-loop", "1",     "-framerate",     "30",
             "-i",      screenPng, "-t",       "2",     "-vf",   "format=yuv420p", "-c:v",
             "libx264", "-preset", "veryfast", "-crf",  "23",    reference});
        run(QStringLiteral("ffmpeg"),
            {"-v", "error", "-y", "-ss", "1", "-i", reference, "-frames:v", "1", referencePng});
        const double ours = ssim(png, screenPng);
        const double veryfast = ssim(referencePng, screenPng);
        qInfo("SSIM against the screen: %.5f, x264 veryfast crf 23 %.5f", ours,
              veryfast);
        QVERIFY(veryfast > 0.9);
        QVERIFY2(ours >= veryfast - 0.002, qPrintable(QString::number(ours)));
    }
    // The highlight: the pointer's disc blended over the screen, and nothing of it elsewhere.
    const QRgb under = shown.pixel(pointer);
    const QRgb disc = recorded.pixel(pointer - region.topLeft());
    const QColor blended(qRound(0.7 * qRed(under)), qRound(0.3 * 255 + 0.7 * qGreen(under)),
                         qRound(0.3 * 127.5 + 0.7 * qBlue(under)));
    const QColor expected = highlight ? blended : QColor(under);
    QVERIFY2(maxChannelDifference(expected, QColor(disc)) <= 8,
             qPrintable(QStringLiteral("at the pointer: expected %1, file %2")
                                .arg(expected.name(), QColor(disc).name())));
    // The whole picture, edges and ramp included: a shifted, scaled or stale picture fails.
    qint64 total = 0;
    qint64 samples = 0;
    for (int y = 0; y < region.height(); y += 3)
        for (int x = 0; x < region.width(); x += 3) {
            const QRgb a = shown.pixel(region.x() + x, region.y() + y);
            const QRgb b = recorded.pixel(x, y);
            total += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b))
                    + std::abs(qBlue(a) - qBlue(b));
            ++samples;
        }
    const double meanError = double(total) / (3.0 * double(samples));
    QVERIFY2(meanError < 2.5, qPrintable(QStringLiteral("mean error %1").arg(meanError)));
}

QTEST_MAIN(TestSoftwareVideoPath)
#include "test-software-video-path.moc"
