#include "area-selector.h"
#include "desktop-input.h"
#include "sc-countdown-widget.h"
#include "sc-frame-geometry.h"
#include "sc-fullscreen-toolbar.h"
#include "sc-helpers.h"
#include "sc-settings.h"
#include "sc-switch-widget.h"

#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace SCFrameGeometry;

// The overlays' small windows and widgets: countdown, switch, title helper, area selector
// and the full-screen toolbar, driven on the session's X server; the frame's geometry.
class TestOverlayWidgets : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void countsThreeTwoOneThenFinishes();
    void stopOrNonPositiveStartReturns();
    void noHotkeyNoHint();
    void switchTogglesOnLeftReleaseAndPaintsItsState();
    void titleHelperCentresTheTitle();
    void reversedDragsGiveTheSameRect();
    void rightButtonChangesNothingEscapeCancels();
    void firstShowBelowTopThenAtTopAutoHideFollowsThePointer();
    void recordAndPinButtons();
    void zonesResizesMovesAndPresetFrames();

private:
    QRect selectWithDrag(AreaSelector &selector, const QPoint &from, const QPoint &to);
    static double effectOpacity(SCFullscreenToolbar &bar)
    {
        return static_cast<QGraphicsOpacityEffect *>(bar.graphicsEffect())->opacity();
    }
    static QPoint centreOf(QWidget *w) { return w->mapToGlobal(w->rect().center()); }

    QTemporaryDir m_config;
};

void TestOverlayWidgets::initTestCase()
{
    QVERIFY(m_config.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_config.path());
    QSettings(SCSettings::ORGANIZATION, SCSettings::APPLICATION)
            .setValue(SCSettings::HOTKEYS_RECORDING, QStringLiteral("Ctrl+Alt+R"));
}

void TestOverlayWidgets::countsThreeTwoOneThenFinishes()
{
    SCCountdownWidget countdown;
    auto *number = countdown.findChildren<QLabel *>().value(0);
    QVERIFY(number);
    // The recording hotkey is named under the number.
    QStringList texts;
    for (auto *label : countdown.findChildren<QLabel *>())
        texts << label->text();
    QVERIFY(texts.contains(QStringLiteral("Start/Stop")));
    QVERIFY(texts.contains(QStringLiteral("Ctrl+Alt+R")));

    QStringList seen;
    QSignalSpy finished(&countdown, &SCCountdownWidget::countdownFinished);
    // Record the number on screen at each tick, before the widget hides itself.
    QTimer probe;
    probe.setInterval(50);
    connect(&probe, &QTimer::timeout, this, [&] {
        if (countdown.isVisible() && (seen.isEmpty() || seen.last() != number->text()))
            seen << number->text();
    });
    probe.start();

    countdown.startCountdown(3);
    QVERIFY(countdown.isVisible());
    QCOMPARE(number->text(), QStringLiteral("3"));
    QCOMPARE(finished.count(), 0);

    countdown.blockUntilFinished();
    probe.stop();
    QCOMPARE(finished.count(), 1);
    QVERIFY(!countdown.isVisible());
    QCOMPARE(seen, QStringList({"3", "2", "1"}));
}

void TestOverlayWidgets::stopOrNonPositiveStartReturns()
{
    SCCountdownWidget countdown;
    QSignalSpy finished(&countdown, &SCCountdownWidget::countdownFinished);
    countdown.startCountdown(3);
    QTimer::singleShot(200, &countdown, &SCCountdownWidget::stopCountdown);
    countdown.blockUntilFinished();
    QCOMPARE(finished.count(), 0);
    QVERIFY(countdown.isVisible());

    // Nothing more arrives later: the timer is really stopped.
    QVERIFY(!finished.wait(1300));

    // A start at zero or below finishes at once.
    for (const int start : {0, -2}) {
        SCCountdownWidget countdown;
        QSignalSpy finished(&countdown, &SCCountdownWidget::countdownFinished);
        countdown.startCountdown(start);
        QCOMPARE(finished.count(), 1);
        QVERIFY(!countdown.isVisible());
        countdown.blockUntilFinished();
        // Returning at all is the point; an idle countdown has nothing to wait for.
        QCOMPARE(finished.count(), 1);
    }
}

void TestOverlayWidgets::noHotkeyNoHint()
{
    QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    settings.setValue(SCSettings::HOTKEYS_RECORDING, SCSettings::NO_HOTKEY);
    settings.sync();
    SCCountdownWidget countdown;
    QCOMPARE(countdown.findChildren<QLabel *>().size(), 1);
    QCOMPARE(countdown.size(), QSize(200, 240));
    settings.setValue(SCSettings::HOTKEYS_RECORDING, QStringLiteral("Ctrl+Alt+R"));
}

void TestOverlayWidgets::switchTogglesOnLeftReleaseAndPaintsItsState()
{
    QWidget host;
    auto *sw = new SCSwitchWidget(&host);
    sw->resize(25, 12);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    QSignalSpy changed(sw, &SCSwitchWidget::checkedChanged);
    sw->setChecked(false);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(sw->position(), 0.0);

    QTest::mousePress(sw, Qt::LeftButton);
    QCOMPARE(changed.count(), 0);
    QVERIFY(!sw->isChecked());
    QTest::mouseRelease(sw, Qt::LeftButton);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toBool(), true);
    QVERIFY(sw->isChecked());

    QTest::mouseClick(sw, Qt::RightButton);
    QCOMPARE(changed.count(), 1);
    QVERIFY(sw->isChecked());

    // The knob travels to the end within its animation.
    QTRY_COMPARE(sw->position(), 1.0);
    sw->setChecked(true);
    QCOMPARE(changed.count(), 1);
    // Track in the active colour beside the white knob at the right end; off, a grey knob left.
    const QImage on = sw->grab().toImage();
    QCOMPARE(on.pixelColor(5, 6), QColor("#BC382F"));
    QCOMPARE(on.pixelColor(18, 6), QColor(Qt::white));
    QTest::mouseClick(sw, Qt::LeftButton);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(changed.at(1).at(0).toBool(), false);
    QTRY_COMPARE(sw->position(), 0.0);
    const QImage off = sw->grab().toImage();
    QCOMPARE(off.pixelColor(18, 6), QColor("#1E1E1E"));
    QCOMPARE(off.pixelColor(7, 6), QColor("#AAAAAA"));
    // Set as a property, as style sheets and the settings page do.
    sw->setProperty("checked", true);
    QCOMPARE(changed.count(), 3);
    QTRY_COMPARE(sw->position(), 1.0);
}

void TestOverlayWidgets::titleHelperCentresTheTitle()
{
    QWidget bar;
    auto *layout = new QHBoxLayout(&bar);
    auto *logo = new QLabel("logo", &bar);
    auto *title = new QLabel("Vistrel", &bar);
    title->setObjectName("titleWidget");
    auto *menu = new QPushButton("Menu and more", &bar);
    menu->setObjectName("menuWidget");
    layout->addWidget(logo);
    layout->addWidget(title);
    layout->addWidget(menu);

    Helpers::centerTitleWidget(layout);

    // The logo is taken out of the layout, not deleted; the title sits in the middle of the
    // bar whatever the menu's width, and the menu stays at the right end.
    QCOMPARE(layout->indexOf(logo), -1);
    QCOMPARE(logo->parentWidget(), &bar);
    bar.resize(800, 40);
    layout->activate();
    QVERIFY(qAbs(title->geometry().center().x() - bar.rect().center().x()) <= 1);
    QCOMPARE(layout->itemAt(layout->count() - 1)->widget(), menu);
    QVERIFY(menu->geometry().right() >= bar.rect().right() - layout->contentsMargins().right());

    // Other layouts are left alone.
    Helpers::centerTitleWidget(nullptr);
    QWidget plain;
    auto *single = new QHBoxLayout(&plain);
    auto *only = new QLabel("Vistrel", &plain);
    only->setObjectName("titleWidget");
    single->addWidget(only);
    Helpers::centerTitleWidget(single);
    QCOMPARE(single->count(), 1);
    QCOMPARE(single->itemAt(0)->widget(), only);
}

QRect TestOverlayWidgets::selectWithDrag(AreaSelector &selector, const QPoint &from,
                                         const QPoint &to)
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

void TestOverlayWidgets::reversedDragsGiveTheSameRect()
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

void TestOverlayWidgets::rightButtonChangesNothingEscapeCancels()
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

    // Escape during a drag hides the selector without a selection.
    QGuiApplication::setOverrideCursor(Qt::CrossCursor);
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
    QCOMPARE(selected.count(), 1);
}

void TestOverlayWidgets::firstShowBelowTopThenAtTopAutoHideFollowsThePointer()
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
    QTRY_COMPARE(bar.frameGeometry().topLeft(), QPoint(800, 25));

    // A second show neither moves the strip nor restarts its fade from transparent.
    bar.showToolbar();
    QCOMPARE(effectOpacity(bar), 1.0);
    QCOMPARE(bar.pos(), QPoint(800, 25));

    bar.hideToolbar();
    QTRY_VERIFY(!bar.isVisible());
    bar.showToolbar();
    QCOMPARE(bar.pos(), QPoint(800, screen.top()));
    QTRY_COMPARE(effectOpacity(bar), 1.0);

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

void TestOverlayWidgets::recordAndPinButtons()
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

    // Pause beside stop: it asks, the owner's answer sets the look and the time's text.
    auto *pause = bar.findChild<QPushButton *>(QStringLiteral("pauseButton"));
    auto *time = bar.findChild<QLabel *>(QStringLiteral("timerLabel"));
    QSignalSpy paused(&bar, &SCFullscreenToolbar::pauseToggled);
    QVERIFY(pause->isEnabled());
    QVERIFY(clickAt(centreOf(pause)));
    QTRY_COMPARE(paused.count(), 1);
    QCOMPARE(paused.at(0).at(0).toBool(), true);
    QCOMPARE(pause->toolTip(), QStringLiteral("Pause Recording"));
    bar.setPausedState(true);
    bar.updateTimerLabel(QStringLiteral("00:01:02"));
    QCOMPARE(time->text(), QStringLiteral("Paused 00:01:02"));
    QCOMPARE(pause->toolTip(), QStringLiteral("Resume Recording"));
    QVERIFY(xdotool({"click", "1"}));
    QTRY_COMPARE(paused.count(), 2);
    QCOMPARE(paused.at(1).at(0).toBool(), false);
    bar.setPausedState(false);
    QCOMPARE(time->text(), QStringLiteral("00:01:02"));
    QCOMPARE(toggled.count(), 1);
    QVERIFY(movePointer(centreOf(record)));

    QVERIFY(xdotool({"click", "1"}));
    QTRY_COMPARE(toggled.count(), 2);
    QCOMPARE(toggled.at(1).at(0).toBool(), false);

    // The owner's state rules: after a stop reported as false, the next click starts again.
    QVERIFY(xdotool({"click", "1"}));
    QTRY_COMPARE(toggled.count(), 3);
    QCOMPARE(toggled.at(2).at(0).toBool(), true);
    bar.setRecordingState(false);
    QCOMPARE(record->toolTip(), QStringLiteral("Start Recording"));
    QVERIFY(!pause->isEnabled());
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

// The frame's pure geometry: drag zones of an 800 x 600 frame, resizes, moves kept on the
// screen, preset frames, and the selector's size label in physical pixels.
void TestOverlayWidgets::zonesResizesMovesAndPresetFrames()
{
    const struct
    {
        QPoint pos;
        bool drawing;
        int mode;
    } zones[] = {{{0, 0}, false, TopLeft},
                 {{790, 0}, false, TopRight},
                 {{5, 595}, false, BottomLeft},
                 {{799, 599}, false, BottomRight},
                 // Beyond the painted border, and 12 px inside.
                 {{8, 300}, false, Left},
                 {{795, 300}, false, Right},
                 {{400, 3}, false, Top},
                 {{12, 300}, false, Move},
                 {{400, 300}, false, Move},
                 {{0, 0}, true, Draw},
                 {{400, 300}, true, Draw}};
    for (const auto &z : zones)
        QCOMPARE(int(dragModeAt(QSize(800, 600), z.pos, z.drawing)), z.mode);

    // An 800 x 600 frame at (100, 100): right 899, bottom 699, ratio 4/3, at least 200 x 150.
    const QRect g(100, 100, 800, 600);
    const struct
    {
        int mode;
        QPoint delta;
        bool locked;
        QRect expected;
    } resizes[]
            = {{Right, {80, 33}, false, g.adjusted(0, 0, 80, 0)},
               {Top, {7, 40}, false, g.adjusted(0, 40, 0, 0)},
               {TopLeft, {10, -5}, false, g.adjusted(10, -5, 0, 0)},
               {TopRight, {4, 6}, false, g.adjusted(0, 6, 4, 0)},
               {BottomLeft, {4, 6}, false, g.adjusted(4, 0, 0, 6)},
               {Move, {4, 6}, false, g}, // a move is not a resize
               // Right edge + 80: h = trunc(879 * 3/4) = 659, d = 59, top and bottom move by 29.
               {Right, {80, 0}, true, QRect(QPoint(100, 71), QPoint(979, 728))},
               {Left, {-40, 0}, true, QRect(QPoint(60, 86), QPoint(899, 713))},
               // Bottom + 60: w = trunc(659 * 4/3) = 878, d = 78, left and right by 39.
               {Bottom, {0, 60}, true, QRect(QPoint(61, 100), QPoint(938, 759))},
               // Bottom-right + (80, 0): bottom = 100 + trunc(879 * 3/4) = 759.
               {BottomRight, {80, 0}, true, QRect(QPoint(100, 100), QPoint(979, 759))},
               // Top-left + (40, 0): top = 699 - trunc((899 - 140) * 3/4) = 699 - 569 = 130.
               {TopLeft, {40, 0}, true, QRect(QPoint(140, 130), QPoint(899, 699))},
               // Never below the minimum size.
               {Left, {700, 0}, false, QRect(QPoint(700, 100), g.bottomRight())},
               {Top, {0, 590}, false, QRect(QPoint(100, 550), g.bottomRight())},
               {TopLeft, {900, 900}, false, QRect(QPoint(700, 550), g.bottomRight())}};
    for (const auto &r : resizes)
        QCOMPARE(resized(r.mode, g, r.delta, r.locked, QSize(200, 150)), r.expected);

    const QRect available(0, 0, 1920, 1080);
    QCOMPARE(moved(g, QPoint(50, 20), available, 30), QPoint(150, 120));
    QCOMPARE(moved(g, QPoint(-500, -500), available, 30), QPoint(0, 0));
    // Right edge stops at the available right edge (inclusive 1919 - 800).
    QCOMPARE(moved(g, QPoint(5000, 0), available, 30).x(), 1119);
    QCOMPARE(moved(g, QPoint(0, 5000), available, 30).y(), 1079 - 600 + 30);
    // The bar drags only sideways limited.
    QCOMPARE(barDragged(QPoint(5000, -300), QSize(800, 600), available), QPoint(1119, -300));
    QCOMPARE(barDragged(QPoint(-50, 4000), QSize(800, 600), available), QPoint(0, 4000));

    // 9:16 on a 1440 x 900 screen at ratio 2: 304 x 540 logical pixels of content.
    QCOMPARE(presetFrame(QSize(1440, 900), 2.0, QSize(608, 1080), 4), QRect(564, 176, 312, 548));
    // A frame taller than the screen starts above it rather than being squeezed.
    QCOMPARE(presetFrame(QSize(1920, 1080), 1.0, QSize(608, 1080), 4), QRect(652, -4, 616, 1088));
    // Odd logical sizes are truncated, as the engine's sizes are.
    QCOMPARE(presetFrame(QSize(1440, 900), 1.5, QSize(1920, 1080), 0).size(), QSize(1280, 720));

    QCOMPARE(AreaSelector::sizeLabel(QRect(0, 0, 300, 200), 2.0), QStringLiteral("600 x 400"));
    QCOMPARE(AreaSelector::sizeLabel(QRect(10, 10, 11, 11), 1.0), QStringLiteral("11 x 11"));
    QCOMPARE(AreaSelector::sizeLabel(QRect(0, 0, 301, 3), 1.25), QStringLiteral("376.25 x 3.75"));
}

QTEST_MAIN(TestOverlayWidgets)
#include "test-overlay-widgets.moc"
