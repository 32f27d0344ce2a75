#include "desktop-input.h"
#include "sc-fullscreen-toolbar.h"

#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

class TestFullscreenToolbar : public QObject
{
    Q_OBJECT

private slots:
    void firstShowBelowTopThenAtTop();
    void autoHideFollowsThePointer();
    void recordAndPinButtons();

private:
    static double effectOpacity(SCFullscreenToolbar &bar)
    {
        return static_cast<QGraphicsOpacityEffect *>(bar.graphicsEffect())->opacity();
    }
    static QPoint centreOf(QWidget *w) { return w->mapToGlobal(w->rect().center()); }
};

void TestFullscreenToolbar::firstShowBelowTopThenAtTop()
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    SCFullscreenToolbar bar;
    QVERIFY(!bar.isVisible());
    // Hiding before any show does nothing.
    bar.hideToolbar();
    QVERIFY(!bar.isVisible());

    bar.showToolbar();
    QVERIFY(bar.isVisible());
    QCOMPARE(bar.pos(), QPoint((screen.width() - bar.width()) / 2, screen.top() + 25));
    QTRY_COMPARE(effectOpacity(bar), 1.0);
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    QTRY_COMPARE(bar.frameGeometry().topLeft(), QPoint(820, 25));

    // A second show neither moves the strip nor restarts its fade from transparent.
    bar.showToolbar();
    QCOMPARE(effectOpacity(bar), 1.0);
    QCOMPARE(bar.pos(), QPoint(820, 25));

    bar.hideToolbar();
    QTRY_VERIFY(!bar.isVisible());
    bar.showToolbar();
    QCOMPARE(bar.pos(), QPoint(820, screen.top()));
    QTRY_COMPARE(effectOpacity(bar), 1.0);
}

void TestFullscreenToolbar::autoHideFollowsThePointer()
{
    SCFullscreenToolbar bar;
    bar.showToolbar();
    bar.hideToolbar();
    QTRY_VERIFY(!bar.isVisible());
    QVERIFY(movePointer(100, 300));

    bar.setAutoHide(true);
    QVERIFY(bar.autoHide());
    QVERIFY(movePointer(100, 35));
    QTRY_VERIFY_WITH_TIMEOUT(bar.isVisible(), 3000);
    QCOMPARE(bar.pos().y(), 0);
    QVERIFY(QTest::qWaitForWindowExposed(&bar));

    QVERIFY(movePointer(100, 36));
    QTRY_VERIFY_WITH_TIMEOUT(!bar.isVisible(), 3000);

    QVERIFY(movePointer(100, 0));
    QTRY_VERIFY_WITH_TIMEOUT(bar.isVisible(), 3000);
    QTRY_COMPARE(effectOpacity(bar), 1.0);
    // On the strip but below the band: it stays.
    QVERIFY(movePointer(960, 38));
    QTest::qWait(300);
    QVERIFY(bar.isVisible());
    QVERIFY(movePointer(100, 38));
    QTRY_VERIFY_WITH_TIMEOUT(!bar.isVisible(), 3000);

    bar.setAutoHide(false);
    QVERIFY(movePointer(100, 0));
    QTest::qWait(300);
    QVERIFY(!bar.isVisible());
}

void TestFullscreenToolbar::recordAndPinButtons()
{
    SCFullscreenToolbar bar;
    auto *record = bar.findChild<QPushButton *>(QStringLiteral("recordButton"));
    auto *pin = bar.findChild<QPushButton *>(QStringLiteral("autoHideButton"));
    QVERIFY(record && pin);
    QCOMPARE(record->toolTip(), QStringLiteral("Start Recording"));
    QVERIFY(pin->isChecked());
    QVERIFY(!bar.autoHide());
    bar.showToolbar();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));
    QTRY_COMPARE(effectOpacity(bar), 1.0);
    QSignalSpy toggled(&bar, &SCFullscreenToolbar::recordingToggled);

    QVERIFY(clickAt(centreOf(record)));
    QTRY_COMPARE(toggled.count(), 1);
    QCOMPARE(toggled.at(0).at(0).toBool(), true);
    QVERIFY(record->isChecked());

    bar.setRecordingState(true);
    QCOMPARE(record->toolTip(), QStringLiteral("Stop Recording"));
    QCOMPARE(toggled.count(), 1);

    QVERIFY(xdotool({"click", "1"}));
    QTRY_COMPARE(toggled.count(), 2);
    QCOMPARE(toggled.at(1).at(0).toBool(), false);

    // The owner's state rules: after a stop reported as false, the next click starts again.
    QVERIFY(xdotool({"click", "1"}));
    QTRY_COMPARE(toggled.count(), 3);
    QCOMPARE(toggled.at(2).at(0).toBool(), true);
    bar.setRecordingState(false);
    QCOMPARE(record->toolTip(), QStringLiteral("Start Recording"));
    QVERIFY(xdotool({"click", "1"}));
    QTRY_COMPARE(toggled.count(), 4);
    QCOMPARE(toggled.at(3).at(0).toBool(), true);

    // Unpinned, the strip hides itself, but not while the pointer rests on it.
    QVERIFY(clickAt(centreOf(pin)));
    QTRY_VERIFY(!pin->isChecked());
    QVERIFY(bar.autoHide());
    QVERIFY(bar.isVisible());
    QVERIFY(xdotool({"click", "1"}));
    QTRY_VERIFY(pin->isChecked());
    QVERIFY(!bar.autoHide());
    QVERIFY(bar.isVisible());
    QCOMPARE(toggled.count(), 4);
}

QTEST_MAIN(TestFullscreenToolbar)
#include "test-fullscreen-toolbar.moc"
