#include "area-selector.h"
#include "desktop-input.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

class TestAreaSelector : public QObject
{
    Q_OBJECT

private slots:
    void reversedDragsGiveTheSameRect();
    void sizeLabelInPhysicalPixels();
    void escapeCancelsWithoutSignal();
    void rightButtonChangesNothing();

private:
    QRect selectWithDrag(AreaSelector &selector, const QPoint &from, const QPoint &to);
};

QRect TestAreaSelector::selectWithDrag(AreaSelector &selector, const QPoint &from, const QPoint &to)
{
    QSignalSpy selected(&selector, &AreaSelector::areaSelected);
    QGuiApplication::setOverrideCursor(Qt::CrossCursor);
    selector.show();
    if (!QTest::qWaitForWindowExposed(&selector) || !dragPointer(from, to))
        return {};
    if (!selected.wait(5000) && selected.isEmpty())
        return {};
    // The receiver hides the selector, as the main window does.
    selector.hide();
    return selected.first().first().toRect();
}

void TestAreaSelector::reversedDragsGiveTheSameRect()
{
    AreaSelector selector;
    QCOMPARE(selector.geometry(), QGuiApplication::primaryScreen()->geometry());
    const QRect forward = selectWithDrag(selector, {300, 250}, {500, 400});
    QCOMPARE(forward, QRect(QPoint(300, 250), QPoint(500, 400)));
    QCOMPARE(forward.size(), QSize(201, 151));
    QVERIFY(!QGuiApplication::overrideCursor());

    // The same instance serves again; a new press restarts the band.
    const QRect backward = selectWithDrag(selector, {500, 400}, {300, 250});
    QCOMPARE(backward, forward);
    const QRect crossed = selectWithDrag(selector, {300, 400}, {500, 250});
    QCOMPARE(crossed, forward);
}

void TestAreaSelector::sizeLabelInPhysicalPixels()
{
    QCOMPARE(AreaSelector::sizeLabel(QRect(0, 0, 300, 200), 2.0), QStringLiteral("600 x 400"));
    QCOMPARE(AreaSelector::sizeLabel(QRect(10, 10, 11, 11), 1.0), QStringLiteral("11 x 11"));
    QCOMPARE(AreaSelector::sizeLabel(QRect(0, 0, 301, 3), 1.25), QStringLiteral("376.25 x 3.75"));
}

void TestAreaSelector::escapeCancelsWithoutSignal()
{
    AreaSelector selector;
    QSignalSpy selected(&selector, &AreaSelector::areaSelected);
    QGuiApplication::setOverrideCursor(Qt::CrossCursor);
    selector.show();
    QVERIFY(QTest::qWaitForWindowExposed(&selector));
    // The selector holds the keyboard once it is on screen.
    QTRY_VERIFY_WITH_TIMEOUT(QGuiApplication::focusObject() == &selector
                                     || selector.windowHandle()->isExposed(),
                             5000);
    QTest::qWait(200);

    QVERIFY(xdotool({"mousemove", "200", "200", "mousedown", "1", "sleep", "0.05", "mousemove",
                     "400", "300", "sleep", "0.05", "key", "Escape"}));
    QTRY_VERIFY_WITH_TIMEOUT(!selector.isVisible(), 5000);
    QVERIFY(!QGuiApplication::overrideCursor());
    QVERIFY(xdotool({"mouseup", "1"}));
    QTest::qWait(200);
    QCOMPARE(selected.count(), 0);
}

void TestAreaSelector::rightButtonChangesNothing()
{
    AreaSelector selector;
    QSignalSpy selected(&selector, &AreaSelector::areaSelected);
    selector.show();
    QVERIFY(QTest::qWaitForWindowExposed(&selector));
    QVERIFY(xdotool({"mousemove", "200", "200", "mousedown", "3", "sleep", "0.05", "mousemove",
                     "400", "300", "sleep", "0.05", "mouseup", "3"}));
    // A left click afterwards still gives a fresh 1 x 1 selection at its own point.
    QVERIFY(xdotool({"mousemove", "250", "260", "click", "1"}));
    QVERIFY(selected.wait(5000) || !selected.isEmpty());
    QCOMPARE(selected.count(), 1);
    QCOMPARE(selected.first().first().toRect(), QRect(250, 260, 1, 1));
}

QTEST_MAIN(TestAreaSelector)
#include "test-area-selector.moc"
