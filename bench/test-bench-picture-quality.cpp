#include "bench-animation-window.h"
#include "bench-picture-quality.h"
#include "bench-time-code.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The record bench's picture comparison: the animation drawn again from a time code, SSIM,
// and the whole measurement on files encoded from known pictures.
class TestBenchPictureQuality : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void redrawnPictureCarriesItsTimeCode();
    void ssimSeesMotionAndNoise();
    void measuresEncodedFilesInTheirOwnColourMatrix_data();
    void measuresEncodedFilesInTheirOwnColourMatrix();

private:
    static QImage picture(const QSize &size, uint32_t start, uint32_t time)
    {
        QImage image(size, QImage::Format_RGB32);
        QPainter painter(&image);
        BenchAnimationWindow::paintPicture(painter, size, start, time);
        return image;
    }
};

void TestBenchPictureQuality::redrawnPictureCarriesItsTimeCode()
{
    const QSize size(1280, 720);
    for (bool bt709 : {true, false}) {
        const QImage luma = BenchPictureQuality::luma(picture(size, 1000, 987654), bt709);
        QCOMPARE(luma.format(), QImage::Format_Grayscale8);
        QCOMPARE(BenchTimeCode::read(luma, BenchAnimationWindow::TIME_CODE_ORIGIN),
                 std::optional<uint32_t>(987654));
    }
    // One time, one picture: the comparison depends on it.
    QCOMPARE(picture(size, 1000, 5000), picture(size, 1000, 5000));
    QVERIFY(picture(size, 1000, 5000) != picture(size, 1000, 5040));
}

void TestBenchPictureQuality::ssimSeesMotionAndNoise()
{
    const QSize size(640, 360);
    const QImage still = BenchPictureQuality::luma(picture(size, 0, 2000), true);
    QCOMPARE(BenchPictureQuality::ssim(still, still), 1.0);

    QImage noisy = still.copy();
    for (int y = 0; y < noisy.height(); ++y) {
        uchar *line = noisy.scanLine(y);
        for (int x = 0; x < noisy.width(); ++x)
            line[x] = uchar(qBound(0, line[x] + ((x * 7 + y * 13) % 5) - 2, 255));
    }
    const double noise = BenchPictureQuality::ssim(still, noisy);
    // 100 ms later: the square has moved 60 pixels and the band scrolled.
    const double moved = BenchPictureQuality::ssim(
            still, BenchPictureQuality::luma(picture(size, 0, 2100), true));
    QVERIFY2(noise < 0.999 && noise > 0.9, qPrintable(QString::number(noise)));
    QVERIFY2(moved < noise, qPrintable(QString::number(moved)));
    QCOMPARE(BenchPictureQuality::ssim(still, QImage(320, 180, QImage::Format_Grayscale8)), 0.0);
}

void TestBenchPictureQuality::measuresEncodedFilesInTheirOwnColourMatrix_data()
{
    QTest::addColumn<bool>("bt709");
    QTest::newRow("BT.709, tagged") << true;
    QTest::newRow("BT.601, untagged") << false;
}

void TestBenchPictureQuality::measuresEncodedFilesInTheirOwnColourMatrix()
{
    QFETCH(bool, bt709);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Wide enough for the time code.
    const QSize size(1280, 720);
    const int frames = 30;
    const QString file = dir.filePath(QStringLiteral("pictures.mp4"));
    QStringList arguments {
            "-v",   "error",    "-y",
            "-f",   "rawvideo", "-pix_fmt",
            "bgr0", "-s",       QStringLiteral("%1x%2").arg(size.width()).arg(size.height()),
            "-r",   "30",       "-i",
            "-"};
    if (bt709)
        arguments << "-vf"
                  << "scale=out_color_matrix=bt709:out_range=tv"
                  << "-colorspace"
                  << "bt709";
    // Lossless luma: what is left of the difference is the matrix and rounding.
    arguments << "-pix_fmt"
              << "yuv420p"
              << "-c:v"
              << "libx264"
              << "-qp"
              << "0" << file;
    QProcess encoder;
    encoder.start(QStringLiteral("ffmpeg"), arguments);
    QVERIFY(encoder.waitForStarted());
    for (int i = 0; i < frames; ++i) {
        const QImage image = picture(size, 100, 100 + uint32_t(i) * 33);
        encoder.write(reinterpret_cast<const char *>(image.constBits()), image.sizeInBytes());
        QVERIFY(encoder.waitForBytesWritten(10000));
    }
    encoder.closeWriteChannel();
    QVERIFY(encoder.waitForFinished(60000));
    QCOMPARE(encoder.exitCode(), 0);

    const auto result = BenchPictureQuality::measure(file, size, 100, 10);
    QVERIFY(result);
    QCOMPARE(result->frames, 10);
    // The other matrix would give about 0.9998.
    QVERIFY2(result->ssim > 0.99995, qPrintable(QString::number(result->ssim, 'f', 6)));
    // Measured against the wrong start, every picture differs from its redrawing.
    const auto shifted = BenchPictureQuality::measure(file, size, 400, 10);
    QVERIFY(shifted);
    QVERIFY2(shifted->ssim < result->ssim - 0.01, qPrintable(QString::number(shifted->ssim)));
}

int main(int argc, char *argv[])
{
    // Pictures only: no desktop needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    TestBenchPictureQuality test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-bench-picture-quality.moc"
