#include "desktop-input.h"
#include "sc-pin-window.h"

#include <QClipboard>
#include <QMimeData>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QtTest>

namespace {

// Every pixel its own colour, so a shifted or scaled picture cannot pass.
QPixmap gradient()
{
    QImage image(120, 80, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x * 2, y * 3, 255 - x));
    return QPixmap::fromImage(image);
}

QString xprop(const QWidget &window)
{
    QProcess process;
    process.start("xprop", {"-id", QString::number(window.winId()), "_NET_WM_STATE"});
    process.waitForFinished(5000);
    return QString::fromLatin1(process.readAllStandardOutput());
}

// Where the X server has the window: Qt's geometry is what it asked for, and the window
// manager carries that out later.
QRect serverGeometry(const QWidget &window)
{
    static const QRegularExpression numbers("Position: (-?\\d+),(-?\\d+).*Geometry: (\\d+)x(\\d+)",
                                            QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match
            = numbers.match(xdotoolOutput({"getwindowgeometry", QString::number(window.winId())}));
    if (!match.hasMatch())
        return {};
    return QRect(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt(),
                 match.captured(4).toInt());
}

QPointer<SCPinWindow> showPin(const QPoint &at)
{
    QPointer<SCPinWindow> pin = new SCPinWindow(gradient(), at);
    pin->show();
    pin->activateWindow();
    if (!QTest::qWaitForWindowExposed(pin, 10000) || !QTest::qWaitForWindowActive(pin, 5000))
        return nullptr;
    return pin;
}

} // namespace

class TestPinWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(waitForWindowManager()); }
    void staysOnTopWithItsPixelsAndZoomsAroundThePointer();
    void copiesMovesAndCloses();
};

void TestPinWindow::staysOnTopWithItsPixelsAndZoomsAroundThePointer()
{
    const QPoint at(300, 200);
    QPointer<SCPinWindow> pin = showPin(at);
    QVERIFY(pin);
    QTRY_VERIFY(xprop(*pin).contains("_NET_WM_STATE_ABOVE"));
    QVERIFY(xprop(*pin).contains("_NET_WM_STATE_SKIP_TASKBAR"));
    const QImage expected = gradient().toImage();
    QTRY_COMPARE(QGuiApplication::primaryScreen()->grabWindow(0, at.x(), at.y(), 120, 80).toImage(),
                 expected);

    // Two notches in at a point of the picture: that point stays under the pointer.
    const QPoint pointer = at + QPoint(90, 20);
    QVERIFY(movePointer(pointer));
    QVERIFY(xdotool({"click", "--repeat", "2", "--delay", "50", "4"}));
    QTRY_COMPARE(pin->zoom(), 1.1 * 1.1);
    // Until then the point under the pointer is the old picture's, which passes too.
    QTRY_COMPARE(serverGeometry(*pin).size(), QSize(145 + 2, 97 + 2));
    // Smooth scaling blends neighbours, which differ by a few steps in the gradient.
    const auto nearly = [](const QColor &a, const QColor &b) {
        return qAbs(a.red() - b.red()) + qAbs(a.green() - b.green()) + qAbs(a.blue() - b.blue())
                <= 12;
    };
    QTRY_VERIFY2(nearly(screenPixel(pointer), expected.pixelColor(90, 20)),
                 qPrintable(screenPixel(pointer).name()));
    QVERIFY(xdotool({"click", "--repeat", "2", "--delay", "50", "5"}));
    QTRY_COMPARE(pin->zoom(), 1.0);
    QTRY_COMPARE(serverGeometry(*pin), QRect(at - QPoint(1, 1), QSize(122, 82)));
    pin->setZoom(100);
    QCOMPARE(pin->zoom(), 8.0);
    pin->close();
    QTRY_VERIFY(!pin);
}

void TestPinWindow::copiesMovesAndCloses()
{
    QPointer<SCPinWindow> first = showPin({100, 100});
    QPointer<SCPinWindow> second = showPin({500, 400});
    QVERIFY(first && second);

    QTest::keyClick(second, Qt::Key_C, Qt::ControlModifier);
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    QVERIFY(data && data->hasFormat("image/png"));
    QCOMPARE(QImage::fromData(data->data("image/png"), "PNG").size(), QSize(120, 80));

    QVERIFY(dragPointer({560, 440}, {660, 490}));
    QTRY_COMPARE(second->pos(), QPoint(599, 449));

    QTest::keyClick(second, Qt::Key_Escape);
    QTRY_VERIFY(!second);
    QVERIFY(first->isVisible());
    QTest::mouseDClick(first, Qt::LeftButton, {}, {20, 20});
    QTRY_VERIFY(!first);
}

QTEST_MAIN(TestPinWindow)
#include "test-pin-window.moc"
