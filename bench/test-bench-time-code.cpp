#include "bench-time-code.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

// The benchmark's time code, drawn and read back from plain images.
class TestBenchTimeCode : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsWhatWasDrawn_data();
    void readsWhatWasDrawn();
    void survivesMildBlurAndNoise();
    void blankPictureIsNoCode();
    void rowsThatDisagreeAreRefused();
    void codeCutOffAtTheEdgeIsRefused();

private:
    static QImage canvas() { return QImage(1280, 200, QImage::Format_RGB32); }
    static QImage drawn(uint32_t value, const QPoint &origin);
};

QImage TestBenchTimeCode::drawn(uint32_t value, const QPoint &origin)
{
    QImage image = canvas();
    image.fill(QColor(24, 40, 64));
    QPainter painter(&image);
    BenchTimeCode::paint(painter, origin, value);
    return image;
}

void TestBenchTimeCode::readsWhatWasDrawn_data()
{
    QTest::addColumn<uint>("value");
    QTest::newRow("zero") << 0u;
    QTest::newRow("all ones") << 0xffffffffu;
    QTest::newRow("alternating") << 0xaaaaaaaau;
    QTest::newRow("a clock") << 123456789u;
}

void TestBenchTimeCode::readsWhatWasDrawn()
{
    QFETCH(uint, value);
    const QPoint origin(64, 64);
    const auto read = BenchTimeCode::read(drawn(value, origin), origin);
    QVERIFY(read.has_value());
    QCOMPARE(*read, uint32_t(value));
    // The small code of region recordings, read at its own size only.
    QImage small = canvas();
    small.fill(QColor(24, 40, 64));
    QPainter painter(&small);
    BenchTimeCode::paint(painter, origin, value, 16);
    painter.end();
    QCOMPARE(BenchTimeCode::read(small, origin, 16), std::optional<uint32_t>(value));
    QVERIFY(!BenchTimeCode::read(small, origin).has_value());
}

void TestBenchTimeCode::survivesMildBlurAndNoise()
{
    // What a lossy encoder does to the cells: soft edges and some grey noise.
    const QPoint origin(64, 64);
    QImage image = drawn(0x5a5a0f0fu, origin)
                           .scaled(640, 100, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                           .scaled(1280, 200, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            const int noise = ((x * 7 + y * 13) % 41) - 20;
            const auto clamp = [](int v) { return std::clamp(v, 0, 255); };
            image.setPixel(x, y,
                           qRgb(clamp(qRed(p) + noise), clamp(qGreen(p) + noise),
                                clamp(qBlue(p) + noise)));
        }
    const auto read = BenchTimeCode::read(image, origin);
    QVERIFY(read.has_value());
    QCOMPARE(*read, 0x5a5a0f0fu);
}

void TestBenchTimeCode::blankPictureIsNoCode()
{
    QImage black = canvas();
    black.fill(Qt::black);
    QVERIFY(!BenchTimeCode::read(black, QPoint(64, 64)).has_value());
    QImage white = canvas();
    white.fill(Qt::white);
    QVERIFY(!BenchTimeCode::read(white, QPoint(64, 64)).has_value());
}

void TestBenchTimeCode::rowsThatDisagreeAreRefused()
{
    // A frame caught while the code was being repainted: top row new, bottom row old.
    const QPoint origin(64, 64);
    QImage image = drawn(1000u, origin);
    const QImage older = drawn(999u, origin);
    const int secondRow = origin.y() + BenchTimeCode::CELL + BenchTimeCode::ROW_GAP;
    QPainter(&image).drawImage(QPoint(0, secondRow), older,
                               QRect(0, secondRow, older.width(), BenchTimeCode::CELL));
    QVERIFY(!BenchTimeCode::read(image, origin).has_value());
}

void TestBenchTimeCode::codeCutOffAtTheEdgeIsRefused()
{
    const QPoint origin(64, 64);
    const QImage image = drawn(77u, origin).copy(0, 0, 600, 200);
    QVERIFY(!BenchTimeCode::read(image, origin).has_value());
}

QTEST_GUILESS_MAIN(TestBenchTimeCode)
#include "test-bench-time-code.moc"
