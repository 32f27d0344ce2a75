#include "bench-picture-quality.h"

#include "bench-animation-window.h"
#include "bench-time-code.h"
#include "media-probe.h"

#include <QImage>
#include <QPainter>
#include <QProcess>

#include <cmath>

namespace {

QString colourMatrix(const QString &file)
{
    const auto out = MediaProbe::runTool(QStringLiteral("ffprobe"),
                                         {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                          "stream=color_space", "-of",
                                          "default=noprint_wrappers=1:nokey=1", file});
    return out ? QString::fromLatin1(out->trimmed()) : QString();
}

} // namespace

QImage BenchPictureQuality::luma(const QImage &rgb, bool bt709)
{
    const QImage source = rgb.convertToFormat(QImage::Format_RGB32);
    const double kr = bt709 ? 0.2126 : 0.299;
    const double kb = bt709 ? 0.0722 : 0.114;
    const double kg = 1.0 - kr - kb;
    QImage out(source.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < source.height(); ++y) {
        const auto *in = reinterpret_cast<const QRgb *>(source.constScanLine(y));
        uchar *line = out.scanLine(y);
        for (int x = 0; x < source.width(); ++x) {
            const double value = kr * qRed(in[x]) + kg * qGreen(in[x]) + kb * qBlue(in[x]);
            line[x] = uchar(std::lround(16.0 + value * 219.0 / 255.0));
        }
    }
    return out;
}

std::optional<uint32_t> BenchPictureQuality::timeCode(const QImage &picture, const QSize &screen,
                                                      const QRect &area)
{
    // A region holds only the small code.
    if (area.isEmpty() || area.size() == screen)
        return BenchTimeCode::read(picture, BenchAnimationWindow::TIME_CODE_ORIGIN);
    return BenchTimeCode::read(picture,
                               BenchAnimationWindow::smallCodeOrigin(screen) - area.topLeft(),
                               BenchAnimationWindow::SMALL_CODE_CELL);
}

double BenchPictureQuality::ssim(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.width() < 8 || a.height() < 8)
        return 0.0;
    const double c1 = (0.01 * 255) * (0.01 * 255);
    const double c2 = (0.03 * 255) * (0.03 * 255);
    double total = 0.0;
    long windows = 0;
    for (int top = 0; top + 8 <= a.height(); top += 4) {
        for (int left = 0; left + 8 <= a.width(); left += 4) {
            double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
            for (int y = top; y < top + 8; ++y) {
                const uchar *la = a.constScanLine(y) + left;
                const uchar *lb = b.constScanLine(y) + left;
                for (int x = 0; x < 8; ++x) {
                    sa += la[x];
                    sb += lb[x];
                    saa += la[x] * la[x];
                    sbb += lb[x] * lb[x];
                    sab += la[x] * lb[x];
                }
            }
            const double n = 64.0;
            const double ma = sa / n, mb = sb / n;
            const double va = saa / n - ma * ma, vb = sbb / n - mb * mb;
            const double cov = sab / n - ma * mb;
            total += (2 * ma * mb + c1) * (2 * cov + c2)
                    / ((ma * ma + mb * mb + c1) * (va + vb + c2));
            ++windows;
        }
    }
    return windows ? total / double(windows) : 0.0;
}

std::optional<BenchPictureQuality::Result>
BenchPictureQuality::measure(const QString &file, const QSize &screen, uint32_t animationStartMs,
                             int samples, const QRect &area)
{
    const QRect part = area.isEmpty() ? QRect(QPoint(0, 0), screen) : area;
    const bool whole = part.size() == screen;
    const auto frames = MediaProbe::frameCount(file);
    if (!frames || *frames <= 0 || screen.isEmpty())
        return std::nullopt;
    const bool bt709 = colourMatrix(file) == QLatin1String("bt709");
    const long step = std::max(1L, *frames / std::max(1, samples));
    // The file's own 4:2:0 planes, so that no conversion of the decoder's stands between
    // the encoder and the comparison.
    // A file a few pixels larger than the area (sizes rounded for the encoder) is cut to it.
    const int width = part.width();
    const int height = part.height();
    QProcess decoder;
    decoder.start(QStringLiteral("ffmpeg"),
                  {"-v", "error", "-nostdin", "-i", file, "-map", "0:v:0", "-vf",
                   QStringLiteral("select=not(mod(n\\,%1)),crop=%2:%3:0:0")
                           .arg(step)
                           .arg(width)
                           .arg(height),
                   "-vsync", "passthrough", "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"});
    if (!decoder.waitForStarted(10000))
        return std::nullopt;
    const qint64 frameBytes
            = qint64(width) * height + 2 * qint64((width + 1) / 2) * ((height + 1) / 2);
    QByteArray buffer;
    Result result;
    double sum = 0.0;
    QImage reference(screen, QImage::Format_RGB32);
    for (;;) {
        while (buffer.size() < frameBytes && decoder.waitForReadyRead(60000))
            buffer += decoder.readAllStandardOutput();
        if (buffer.size() < frameBytes) {
            buffer += decoder.readAllStandardOutput();
            if (buffer.size() < frameBytes)
                break;
        }
        const QImage recorded = QImage(reinterpret_cast<const uchar *>(buffer.constData()), width,
                                       height, width, QImage::Format_Grayscale8)
                                        .copy();
        buffer.remove(0, int(frameBytes));
        const auto code = timeCode(recorded, screen, part);
        if (!code)
            continue;
        QPainter painter(&reference);
        BenchAnimationWindow::paintPicture(painter, screen, animationStartMs, *code);
        painter.end();
        sum += ssim(recorded, luma(whole ? reference : reference.copy(part), bt709));
        ++result.frames;
    }
    decoder.waitForFinished(60000);
    if (result.frames == 0)
        return std::nullopt;
    result.ssim = sum / result.frames;
    return result;
}
