#include "platform-test-support.h"
#include "sc-global-hotkey.h"
#include "sc-x11.h"

#include <QApplication>
#include <QSignalSpy>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>

namespace {

// The pointer's modifier state says whether NumLock is on (Mod2).
bool numLockOn()
{
    xcb_connection_t *c = SCX11::connection();
    xcb_query_pointer_reply_t *reply
            = xcb_query_pointer_reply(c, xcb_query_pointer(c, SCX11::rootWindow()), nullptr);
    const bool on = reply && (reply->mask & XCB_MOD_MASK_2);
    std::free(reply);
    return on;
}

} // namespace

class TestGlobalHotkey : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void keysymsAndModifiers();
    void firesWhileAnotherWindowHasTheFocusOnceWhenHeld();
    void firesWithNumLockOn();
    void keyTakenElsewhereOrTwiceIsReported();

private:
    TestWindowProcess m_focused;
};

void TestGlobalHotkey::initTestCase()
{
    QVERIFY(m_focused.start({"--rect", "400,300,500,300", "--title", "Focused"}));
    QVERIFY(m_focused.waitReady());
    QVERIFY(xdotool({"windowactivate", "--sync", QString::number(m_focused.id())}));
    // Keys reach the other window while no hotkey holds them.
    QVERIFY(xdotool({"key", "F9"}));
    QCOMPARE(m_focused.waitForLine("key "), QStringLiteral("key F9"));
}

void TestGlobalHotkey::keysymsAndModifiers()
{
    QCOMPARE(SCGlobalHotkey::keysymForKey(Qt::Key_F1), 0xffbeu);
    QCOMPARE(SCGlobalHotkey::keysymForKey(Qt::Key_F10), 0xffc7u);
    QCOMPARE(SCGlobalHotkey::keysymForKey(Qt::Key_A), uint32_t('a'));
    QCOMPARE(SCGlobalHotkey::keysymForKey(Qt::Key_5), uint32_t('5'));
    QCOMPARE(SCGlobalHotkey::keysymForKey(Qt::Key_Escape), 0xff1bu);
    QCOMPARE(SCGlobalHotkey::keysymForKey(Qt::Key_unknown), 0u);
    QCOMPARE(SCGlobalHotkey::modifierMaskFor(Qt::ControlModifier | Qt::AltModifier),
             uint16_t(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1));
    QCOMPARE(SCGlobalHotkey::modifierMaskFor(Qt::ShiftModifier | Qt::MetaModifier),
             uint16_t(XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_4));
    QCOMPARE(SCGlobalHotkey::modifierMaskFor(Qt::KeypadModifier), uint16_t(0));
}

void TestGlobalHotkey::firesWhileAnotherWindowHasTheFocusOnceWhenHeld()
{
    SCGlobalHotkey hotkey(QKeySequence("F9"), true);
    QVERIFY2(hotkey.isRegistered(), qPrintable(hotkey.errorString()));
    QCOMPARE(hotkey.shortcut(), QKeySequence("F9"));
    QSignalSpy activated(&hotkey, &SCGlobalHotkey::activated);
    QSignalSpy released(&hotkey, &SCGlobalHotkey::released);

    QVERIFY(xdotool({"key", "F9"}));
    QTRY_COMPARE_WITH_TIMEOUT(released.count(), 1, 5000);
    QCOMPARE(activated.count(), 1);
    // Modified presses are another combination.
    QVERIFY(xdotool({"key", "ctrl+F9"}));
    QVERIFY(xdotool({"key", "F9"}));
    QTRY_COMPARE_WITH_TIMEOUT(released.count(), 2, 5000);
    QCOMPARE(activated.count(), 2);
    QVERIFY(!m_focused.waitForLine("key Ctrl+F9", 5000).isEmpty());
    QCOMPARE(m_focused.pending("key F9"), 0);

    QVERIFY(xdotool({"keydown", "F9"}));
    QTRY_COMPARE_WITH_TIMEOUT(activated.count(), 3, 5000);
    // Long enough for the server's key repeat to start.
    QTest::qWait(1000);
    QVERIFY(xdotool({"keyup", "F9"}));
    QTRY_COMPARE_WITH_TIMEOUT(released.count(), 3, 5000);
    QCOMPARE(activated.count(), 3);

    // A window of this program that takes the keyboard while the key is down, as the region
    // selection does, receives the release: the press is over all the same.
    QWidget grabber(nullptr, Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint);
    grabber.setGeometry(0, 0, 40, 40);
    grabber.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grabber));
    QVERIFY(xdotool({"keydown", "F9"}));
    QTRY_COMPARE_WITH_TIMEOUT(activated.count(), 4, 5000);
    QVERIFY(grabber.windowHandle()->setKeyboardGrabEnabled(true));
    QVERIFY(xdotool({"keyup", "F9"}));
    QTRY_COMPARE_WITH_TIMEOUT(released.count(), 4, 5000);
    grabber.hide();
    QVERIFY(xdotool({"key", "F9"}));
    QTRY_COMPARE_WITH_TIMEOUT(activated.count(), 5, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(released.count(), 5, 5000);

    QVERIFY(hotkey.resetShortcut());
    QVERIFY(!hotkey.isRegistered());
    QVERIFY(hotkey.shortcut().isEmpty());
    // The focused window gets the key now, and the hotkey stays silent.
    QVERIFY(xdotool({"key", "F9"}));
    QCOMPARE(m_focused.waitForLine("key ", 5000), QStringLiteral("key F9"));
    QCOMPARE(activated.count(), 5);

    // Registering again works; unregistering hands the key back.
    QVERIFY(hotkey.setShortcut(QKeySequence("F9"), true));
    QVERIFY(hotkey.isRegistered());
    QVERIFY(hotkey.setRegistered(false));
    QVERIFY(!hotkey.isRegistered());
    QVERIFY(xdotool({"key", "F9"}));
    QCOMPARE(m_focused.waitForLine("key ", 5000), QStringLiteral("key F9"));
    QCOMPARE(activated.count(), 5);
}

void TestGlobalHotkey::firesWithNumLockOn()
{
    SCGlobalHotkey plain(QKeySequence("F4"), true);
    SCGlobalHotkey modified(QKeySequence("Ctrl+Shift+F7"), true);
    QVERIFY2(plain.isRegistered(), qPrintable(plain.errorString()));
    QVERIFY2(modified.isRegistered(), qPrintable(modified.errorString()));
    QSignalSpy plainReleased(&plain, &SCGlobalHotkey::released);
    QSignalSpy modifiedReleased(&modified, &SCGlobalHotkey::released);

    const bool wasOn = numLockOn();
    QVERIFY(xdotool({"key", "F4"}));
    QTRY_COMPARE_WITH_TIMEOUT(plainReleased.count(), 1, 5000);
    QVERIFY(xdotool({"key", "ctrl+shift+F7"}));
    QTRY_COMPARE_WITH_TIMEOUT(modifiedReleased.count(), 1, 5000);

    QVERIFY(xdotool({"key", "Num_Lock"}));
    QTRY_COMPARE_WITH_TIMEOUT(numLockOn(), !wasOn, 5000);
    QVERIFY(xdotool({"key", "F4"}));
    QTRY_COMPARE_WITH_TIMEOUT(plainReleased.count(), 2, 5000);
    QVERIFY(xdotool({"key", "ctrl+shift+F7"}));
    QTRY_COMPARE_WITH_TIMEOUT(modifiedReleased.count(), 2, 5000);
    QVERIFY(xdotool({"key", "Num_Lock"}));
    QTRY_COMPARE_WITH_TIMEOUT(numLockOn(), wasOn, 5000);
    QCOMPARE(m_focused.pending("key "), 0);
}

void TestGlobalHotkey::keyTakenElsewhereOrTwiceIsReported()
{
    TestWindowProcess holder;
    QVERIFY(holder.start({"--rect", "100,100,200,100", "--title", "Holder", "--hotkey", "F8"}));
    QCOMPARE(holder.waitForLine("hotkey "), QStringLiteral("hotkey 1"));

    SCGlobalHotkey hotkey(QKeySequence("F8"), true);
    QVERIFY(!hotkey.isRegistered());
    QVERIFY(!hotkey.errorString().isEmpty());
    QVERIFY(hotkey.errorString().contains("F8"));
    // Another combination of the same key is free.
    SCGlobalHotkey other(QKeySequence("Shift+F8"), true);
    QVERIFY2(other.isRegistered(), qPrintable(other.errorString()));

    // Taken twice in this program: the second is refused.
    SCGlobalHotkey first(QKeySequence("F5"), true);
    QVERIFY(first.isRegistered());
    {
        SCGlobalHotkey second(QKeySequence("F5"), true);
        QVERIFY(!second.isRegistered());
        QVERIFY(!second.errorString().isEmpty());
    }
    // The failed second one did not take the first one's grab with it.
    QSignalSpy activated(&first, &SCGlobalHotkey::activated);
    QVERIFY(xdotool({"key", "F5"}));
    QTRY_COMPARE_WITH_TIMEOUT(activated.count(), 1, 5000);
}

QTEST_MAIN(TestGlobalHotkey)
#include "test-global-hotkey.moc"
