// The per-picture arithmetic of the screen-reading path: colour conversion and the pointer
// shapes, each against an independent reference.
#include <QtTest>

#include "bgrx-to-i420.h"
#include "pointer-effects-painter.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <random>
#include <vector>

namespace {

struct I420
{
    int width;
    int height;
    std::vector<uint8_t> y, u, v;
    I420(int w, int h)
        : width(w)
        , height(h)
        , y(size_t(w) * h)
        , u(size_t((w + 1) / 2) * ((h + 1) / 2))
        , v(u.size())
    { }
};

I420 convert(const std::vector<uint8_t> &bgrx, int w, int h)
{
    I420 out(w, h);
    uint8_t *planes[3] = {out.y.data(), out.u.data(), out.v.data()};
    int strides[3] = {w, (w + 1) / 2, (w + 1) / 2};
    bgrxToI420(bgrx.data(), w * 4, w, h, planes, strides);
    return out;
}

std::vector<uint8_t> flat(int w, int h, uint8_t r, uint8_t g, uint8_t b)
{
    std::vector<uint8_t> pixels(size_t(w) * h * 4);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = b;
        pixels[i + 1] = g;
        pixels[i + 2] = r;
    }
    return pixels;
}

} // namespace

class TestPictureArithmetic : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void knownColoursGiveBt709LimitedLevels();
    void matchesTheGeneralConverter_data();
    void matchesTheGeneralConverter();
    void discAndRingBlendWhereTheFilterDoes();
};

void TestPictureArithmetic::knownColoursGiveBt709LimitedLevels()
{
    // BT.709 limited range, rounded: R, G, B to Y, U, V.
    const struct
    {
        const char *name;
        uint8_t rgb[3];
        int yuv[3];
    } colours[]
            = {{"white", {255, 255, 255}, {235, 128, 128}}, {"black", {0, 0, 0}, {16, 128, 128}},
               {"grey", {128, 128, 128}, {126, 128, 128}},  {"red", {255, 0, 0}, {63, 102, 240}},
               {"green", {0, 255, 0}, {173, 42, 26}},       {"blue", {0, 0, 255}, {32, 240, 118}}};
    for (const auto &c : colours) {
        // odd sizes: the last column and row make blocks of their own
        const I420 out = convert(flat(5, 3, c.rgb[0], c.rgb[1], c.rgb[2]), 5, 3);
        const std::vector<uint8_t> *planes[] = {&out.y, &out.u, &out.v};
        for (int p = 0; p < 3; ++p)
            for (uint8_t value : *planes[p])
                QVERIFY2(std::abs(value - c.yuv[p]) <= 1,
                         qPrintable(
                                 QStringLiteral("%1, plane %2: %3").arg(c.name).arg(p).arg(value)));
    }
}

void TestPictureArithmetic::matchesTheGeneralConverter_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("even") << 64 << 36;
    QTest::newRow("odd") << 33 << 17;
}

void TestPictureArithmetic::matchesTheGeneralConverter()
{
    QFETCH(int, width);
    QFETCH(int, height);
    // Blocks of 2x2 equal pixels in random colours: the chroma of each block is then
    // the same whichever way a converter filters it.
    std::mt19937 random(7);
    std::vector<uint8_t> pixels(size_t(width) * height * 4);
    for (int by = 0; by < height; by += 2)
        for (int bx = 0; bx < width; bx += 2) {
            const uint32_t colour = random();
            for (int y = by; y < std::min(by + 2, height); ++y)
                for (int x = bx; x < std::min(bx + 2, width); ++x)
                    std::memcpy(&pixels[(size_t(y) * width + x) * 4], &colour, 4);
        }
    const I420 ours = convert(pixels, width, height);

    AVFrame *frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    QCOMPARE(av_frame_get_buffer(frame, 0), 0);
    SwsContext *sws
            = sws_getContext(width, height, AV_PIX_FMT_BGR0, width, height, AV_PIX_FMT_YUV420P,
                             SWS_POINT | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    QVERIFY(sws);
    const int *bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(sws, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
    const uint8_t *source[1] = {pixels.data()};
    const int strides[1] = {width * 4};
    sws_scale(sws, source, strides, 0, height, frame->data, frame->linesize);
    sws_freeContext(sws);

    int worst = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            worst = std::max(worst,
                             std::abs(ours.y[size_t(y) * width + x]
                                      - frame->data[0][y * frame->linesize[0] + x]));
    QVERIFY2(worst <= 1, qPrintable(QStringLiteral("luma off by %1").arg(worst)));
    // The general converter spreads an odd width's chroma over the whole row; these
    // encoders take each chroma sample for its own 2x2 block, as checked with flat colours.
    if (width % 2)
        return;
    const int cw = (width + 1) / 2;
    for (int y = 0; y < (height + 1) / 2; ++y)
        for (int x = 0; x < cw; ++x) {
            worst = std::max(worst,
                             std::abs(ours.u[size_t(y) * cw + x]
                                      - frame->data[1][y * frame->linesize[1] + x]));
            worst = std::max(worst,
                             std::abs(ours.v[size_t(y) * cw + x]
                                      - frame->data[2][y * frame->linesize[2] + x]));
        }
    QVERIFY2(worst <= 2, qPrintable(QStringLiteral("chroma off by %1").arg(worst)));
    av_frame_free(&frame);
}

void TestPictureArithmetic::discAndRingBlendWhereTheFilterDoes()
{
    const int size = 100;
    std::vector<uint8_t> pixels = flat(size, size, 0, 0, 0);
    const BgrxPicture picture {pixels.data(), size * 4, size, size};
    auto green = [&](int x, int y) { return int(pixels[(size_t(y) * size + x) * 4 + 1]); };

    // half-transparent green disc of radius 10 about (50, 50)
    PointerShapes::disc(picture, 50.f, 50.f, 10.f, Rgba {0.f, 1.f, 0.f, 0.5f});
    QCOMPARE(green(50, 50), 128);
    QCOMPARE(green(41, 50), 128); // centre 8.5 away: inside
    QCOMPARE(green(61, 50), 0); // centre 11.5 away: outside
    QVERIFY(green(59, 50) > 0 && green(59, 50) < 128); // the soft edge, 9.5 away
    // the disc is round, not square
    QCOMPARE(green(58, 58), 0);

    // opaque ring of radius 30, 6 wide, about the same point, over a fresh picture
    std::fill(pixels.begin(), pixels.end(), 0);
    PointerShapes::ring(picture, 50.f, 50.f, 30.f, 6.f, Rgba {0.f, 1.f, 0.f, 1.f});
    QCOMPARE(green(50, 50), 0);
    QCOMPARE(green(79, 50), 255);
    QCOMPARE(green(49, 20), 255);
    QCOMPARE(green(85, 50), 0);
    // a ring that reaches past the picture's edges is cut, not wrapped or overrun
    std::fill(pixels.begin(), pixels.end(), 0);
    PointerShapes::ring(picture, 2.f, 2.f, 30.f, 6.f, Rgba {0.f, 1.f, 0.f, 1.f});
    QCOMPARE(green(31, 2), 255);
    QCOMPARE(green(size - 1, size - 1), 0);
}

QTEST_APPLESS_MAIN(TestPictureArithmetic)
#include "test-picture-arithmetic.moc"
