#include <QtTest>

#include "obs-capture-area.h"
#include "sc-obs-wrapper.h"

#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
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
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QByteArray();
    return process.readAllStandardOutput();
}

} // namespace

class TestSoftwareVideoPath : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void softwareRenderersAreRecognised();
    void recordedPictureEqualsTheScreen();
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

void TestSoftwareVideoPath::recordedPictureEqualsTheScreen()
{
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QScreen *screen = QGuiApplication::primaryScreen();
    const QSize size = screen->size();

    PatchWindow window(screen->geometry());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(300);
    const QImage shown = screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shown.size(), size);

    auto obs = std::make_unique<ObsWrapper>();
    QVERIFY(obs->initObs(size.width(), size.height(), 30));
    // The test desktop renders with llvmpipe: this is the path under test.
    QVERIFY2(obs->softwareRenderer(), "the test desktop was expected to render in software");
    QCOMPARE(obs->addSceneSource(REC_SCREEN), 0);
    obs->searchRecTargets(REC_SCREEN);
    QVERIFY(!obs->getRecTargets().isEmpty());
    const auto area = ObsCaptureArea::fromCorners(
            QPoint(0, 0), QPoint(size.width() - 1, size.height() - 1), size, 1.0);
    QVERIFY(obs->updateRecItem(obs->getRecTargets().first().toUtf8().constData(), REC_SCREEN, false,
                               area.left, area.right, area.top, area.bottom));
    obs->resetVideo(area.canvasWidth, area.canvasHeight, area.canvasWidth, area.canvasHeight, 30);
    obs->captureMouseCursor(false);
    obs->enableMouseEffect(false);
    obs->recMicAudio(false, QString());
    obs->recPlayerAudio(false, QString());

    const QString base = dir.filePath(QStringLiteral("screen"));
    obs->setupFFmpeg(base, area.frameWidth, area.frameHeight, 30, 4, OutputFormat::MP4);
    QSignalSpy status(obs.get(), &ObsWrapper::recordStatusChanged);
    QCOMPARE(obs->startRecording(), 0);
    QTest::qWait(2000);
    obs->stopRecording(false);
    QTRY_VERIFY_WITH_TIMEOUT(status.count() >= 2, 30000);
    QCOMPARE(status.last().at(0).toInt(), 2);
    const QString file = obs->outputFilePath();
    obs.reset();

    // The file says BT.709 limited range; decoded with exactly that, as players do.
    const QByteArray tags = run(QStringLiteral("ffprobe"),
                                {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                 "stream=pix_fmt,color_range,color_space", "-of", "csv=p=0", file});
    QCOMPARE(tags.trimmed(), QByteArray("yuv420p,tv,bt709"));
    const QString png = dir.filePath(QStringLiteral("frame.png"));
    run(QStringLiteral("ffmpeg"),
        {"-v", "error", "-y", "-ss", "1", "-i", file, "-frames:v", "1", "-vf",
         "scale=in_color_matrix=bt709:in_range=tv:out_range=pc,format=rgb24", png});
    const QImage recorded = QImage(png).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(recorded.size(), size);

    // Flat areas: within a few levels of rounding and lossy coding.
    for (int i = 0; i < int(std::size(PATCHES)); ++i) {
        const QColor want = meanColour(shown, window.patch(i));
        const QColor got = meanColour(recorded, window.patch(i));
        QVERIFY2(maxChannelDifference(want, got) <= 6,
                 qPrintable(QStringLiteral("patch %1: screen %2, file %3")
                                    .arg(i)
                                    .arg(want.name(), got.name())));
    }
    // The whole picture, edges and ramp included: a shifted, scaled or stale picture fails.
    qint64 total = 0;
    for (int y = 0; y < size.height(); y += 3)
        for (int x = 0; x < size.width(); x += 3) {
            const QRgb a = shown.pixel(x, y);
            const QRgb b = recorded.pixel(x, y);
            total += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b))
                    + std::abs(qBlue(a) - qBlue(b));
        }
    const double meanError = double(total) / (3.0 * (size.width() / 3) * (size.height() / 3));
    QVERIFY2(meanError < 2.5, qPrintable(QStringLiteral("mean error %1").arg(meanError)));
}

QTEST_MAIN(TestSoftwareVideoPath)
#include "test-software-video-path.moc"
