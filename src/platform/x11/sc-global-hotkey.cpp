#include "sc-global-hotkey.h"

#include "sc-logger.h"
#include "sc-x11.h"

#include <QCoreApplication>
#include <QList>
#include <QTimer>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>

namespace {

// A repeated press follows its release at once; a real one takes longer than this.
constexpr int REPEAT_GAP_MS = 30;
constexpr uint16_t ALL_MODIFIERS = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_LOCK | XCB_MOD_MASK_CONTROL
        | XCB_MOD_MASK_1 | XCB_MOD_MASK_2 | XCB_MOD_MASK_3 | XCB_MOD_MASK_4 | XCB_MOD_MASK_5;
constexpr uint32_t KEYSYM_NUM_LOCK = 0xff7f;

// X11 grabs belong to the connection, so two objects of this process holding the same key
// would silently share one grab; the first one keeps it.
QList<SCGlobalHotkey *> &registeredHotkeys()
{
    static QList<SCGlobalHotkey *> list;
    return list;
}

uint8_t keycodeFor(xcb_connection_t *c, uint32_t keysym)
{
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(c);
    if (!symbols)
        return 0;
    uint8_t result = 0;
    if (xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, keysym)) {
        result = codes[0] == XCB_NO_SYMBOL ? 0 : codes[0];
        std::free(codes);
    }
    xcb_key_symbols_free(symbols);
    return result;
}

// The modifier bit that NumLock sets: Mod2 on nearly every keymap, but not on all.
uint16_t numLockMask(xcb_connection_t *c)
{
    const uint8_t numLock = keycodeFor(c, KEYSYM_NUM_LOCK);
    xcb_get_modifier_mapping_reply_t *reply = numLock
            ? xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr)
            : nullptr;
    uint16_t mask = XCB_MOD_MASK_2;
    if (reply) {
        const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(reply);
        const int perModifier = reply->keycodes_per_modifier;
        for (int modifier = 0; modifier < 8; ++modifier) {
            for (int i = 0; i < perModifier; ++i) {
                if (codes[modifier * perModifier + i] == numLock)
                    mask = static_cast<uint16_t>(1u << modifier);
            }
        }
    }
    std::free(reply);
    return mask;
}

// Whether the X server acts on this key with Ctrl+Alt itself (switching consoles or video
// modes, or ending the server), so that a grab succeeds but never sees a press.
bool keptByServer(xcb_connection_t *c, uint8_t keycode)
{
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(c);
    if (!symbols)
        return false;
    bool kept = false;
    for (int column = 0; column < 16 && !kept; ++column) {
        const xcb_keysym_t keysym = xcb_key_symbols_get_keysym(symbols, keycode, column);
        kept = (keysym >= 0x1008fe01 && keysym <= 0x1008fe0c) // XF86Switch_VT_1 … 12
                || keysym == 0x1008fe22 || keysym == 0x1008fe23 // XF86Next_VMode, Prev
                || keysym == 0xfed5; // Terminate_Server
    }
    xcb_key_symbols_free(symbols);
    return kept;
}

} // namespace

SCGlobalHotkey::SCGlobalHotkey(QObject *parent)
    : QObject(parent)
    , m_releaseTimer(new QTimer(this))
{
    m_releaseTimer->setSingleShot(true);
    m_releaseTimer->setInterval(REPEAT_GAP_MS);
    connect(m_releaseTimer, &QTimer::timeout, this, &SCGlobalHotkey::finishRelease);
    QCoreApplication::instance()->installNativeEventFilter(this);
}

SCGlobalHotkey::SCGlobalHotkey(const QKeySequence &shortcut, bool autoRegister, QObject *parent)
    : SCGlobalHotkey(parent)
{
    setShortcut(shortcut, autoRegister);
}

SCGlobalHotkey::~SCGlobalHotkey()
{
    ungrab();
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

QKeySequence SCGlobalHotkey::shortcut() const
{
    return m_shortcut;
}

bool SCGlobalHotkey::setShortcut(const QKeySequence &shortcut, bool autoRegister)
{
    if (shortcut.isEmpty())
        return resetShortcut();
    const bool wasRegistered = m_registered;
    ungrab();
    m_shortcut = shortcut;
    m_errorString.clear();
    if (autoRegister || wasRegistered)
        return grab();
    return true;
}

bool SCGlobalHotkey::resetShortcut()
{
    ungrab();
    m_shortcut = QKeySequence();
    m_errorString.clear();
    return true;
}

bool SCGlobalHotkey::isRegistered() const
{
    return m_registered;
}

bool SCGlobalHotkey::setRegistered(bool registered)
{
    if (registered == m_registered)
        return true;
    if (registered)
        return grab();
    ungrab();
    return true;
}

QString SCGlobalHotkey::errorString() const
{
    return m_errorString;
}

bool SCGlobalHotkey::resolve(const QKeySequence &shortcut, uint8_t *keycode, uint16_t *modifiers,
                             QString *error)
{
    const QString text = shortcut.toString(QKeySequence::NativeText);
    if (shortcut.isEmpty()) {
        *error = tr("No key combination is set.");
        return false;
    }
    xcb_connection_t *c = SCX11::connection();
    if (!c) {
        *error = tr("Global hotkeys need an X11 session.");
        return false;
    }
    const QKeyCombination combination = shortcut[0];
    const uint32_t keysym = keysymForKey(combination.key());
    *keycode = keysym ? keycodeFor(c, keysym) : 0;
    if (!*keycode) {
        *error = tr("The key %1 is not on this keyboard.").arg(text);
        return false;
    }
    *modifiers = modifierMaskFor(combination.keyboardModifiers());
    // The server's own keys are Ctrl+Alt+key; with Shift as well they are the plain key again.
    const uint16_t ctrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
    if ((*modifiers & (ctrlAlt | XCB_MOD_MASK_SHIFT)) == ctrlAlt && keptByServer(c, *keycode)) {
        *error = tr("The X server keeps the key combination %1 for itself.").arg(text);
        return false;
    }
    return true;
}

bool SCGlobalHotkey::grabAllStates(uint8_t keycode, uint16_t modifiers, uint16_t numLock)
{
    xcb_connection_t *c = SCX11::connection();
    // CapsLock and NumLock change nothing about which hotkey the user means.
    const uint16_t variants[4]
            = {0, XCB_MOD_MASK_LOCK, numLock, static_cast<uint16_t>(XCB_MOD_MASK_LOCK | numLock)};
    const uint32_t root = SCX11::rootWindow();
    xcb_void_cookie_t cookies[4];
    for (int i = 0; i < 4; ++i) {
        // Not owner_events: with it, presses in our own windows would skip the hotkey.
        cookies[i] = xcb_grab_key_checked(c, false, root, modifiers | variants[i], keycode,
                                          XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    }
    bool granted[4] = {};
    bool allGranted = true;
    for (int i = 0; i < 4; ++i) {
        xcb_generic_error_t *error = xcb_request_check(c, cookies[i]);
        granted[i] = !error;
        allGranted = allGranted && granted[i];
        std::free(error);
    }
    if (!allGranted) {
        // Half a hotkey would fire or not depending on NumLock: give back what we got.
        for (int i = 0; i < 4; ++i) {
            if (granted[i])
                xcb_ungrab_key(c, keycode, root, modifiers | variants[i]);
        }
        xcb_flush(c);
    }
    return allGranted;
}

void SCGlobalHotkey::ungrabAllStates(uint8_t keycode, uint16_t modifiers, uint16_t numLock)
{
    xcb_connection_t *c = SCX11::connection();
    if (!c)
        return;
    const uint32_t root = SCX11::rootWindow();
    const uint16_t variants[4]
            = {0, XCB_MOD_MASK_LOCK, numLock, static_cast<uint16_t>(XCB_MOD_MASK_LOCK | numLock)};
    for (uint16_t variant : variants)
        xcb_ungrab_key(c, keycode, root, modifiers | variant);
    xcb_flush(c);
}

bool SCGlobalHotkey::canRegister(const QKeySequence &shortcut, QString *error)
{
    uint8_t keycode = 0;
    uint16_t modifiers = 0;
    QString reason;
    if (!resolve(shortcut, &keycode, &modifiers, &reason)) {
        if (error)
            *error = reason;
        return false;
    }
    for (SCGlobalHotkey *held : registeredHotkeys()) {
        if (held->m_keycode == keycode && held->m_modifiers == modifiers)
            return true;
    }
    const uint16_t numLock = numLockMask(SCX11::connection());
    if (!grabAllStates(keycode, modifiers, numLock)) {
        if (error) {
            *error = tr("The key combination %1 is already taken by another application.")
                             .arg(shortcut.toString(QKeySequence::NativeText));
        }
        return false;
    }
    ungrabAllStates(keycode, modifiers, numLock);
    return true;
}

bool SCGlobalHotkey::grab()
{
    m_errorString.clear();
    const QString text = m_shortcut.toString(QKeySequence::NativeText);
    uint8_t keycode = 0;
    uint16_t modifiers = 0;
    if (!resolve(m_shortcut, &keycode, &modifiers, &m_errorString)) {
        if (!m_shortcut.isEmpty() && SCX11::connection())
            SCLogger::instance()->warning(QStringLiteral("Hotkey %1: %2").arg(text, m_errorString));
        return false;
    }
    for (SCGlobalHotkey *other : registeredHotkeys()) {
        if (other->m_keycode == keycode && other->m_modifiers == modifiers) {
            m_errorString = tr("The key combination %1 is already used in this program.").arg(text);
            SCLogger::instance()->warning(QStringLiteral("Hotkey %1: %2").arg(text, m_errorString));
            return false;
        }
    }
    const uint16_t numLock = numLockMask(SCX11::connection());
    if (!grabAllStates(keycode, modifiers, numLock)) {
        m_errorString
                = tr("The key combination %1 is already taken by another application.").arg(text);
        SCLogger::instance()->warning(QStringLiteral("Hotkey %1: %2").arg(text, m_errorString));
        return false;
    }
    m_keycode = keycode;
    m_modifiers = modifiers;
    m_numLockMask = numLock;
    m_registered = true;
    m_pressed = false;
    registeredHotkeys().append(this);
    return true;
}

void SCGlobalHotkey::ungrab()
{
    if (!m_registered)
        return;
    registeredHotkeys().removeAll(this);
    ungrabAllStates(m_keycode, m_modifiers, m_numLockMask);
    m_registered = false;
    m_pressed = false;
    m_releaseTimer->stop();
    m_keycode = 0;
    m_modifiers = 0;
}

void SCGlobalHotkey::finishRelease()
{
    if (!m_pressed)
        return;
    m_pressed = false;
    emit released();
}

bool SCGlobalHotkey::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (!m_registered || eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<xcb_generic_event_t *>(message);
    const uint8_t type = event->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    // Press and release events share one layout.
    const auto *key = reinterpret_cast<const xcb_key_press_event_t *>(event);
    if (key->detail != m_keycode)
        return false;
    // A window of this program that takes the keyboard while the key is down (the region
    // selection does) gets the release; it still ends the press, or the next one would be
    // taken for a held key.
    if (type == XCB_KEY_PRESS && key->event != SCX11::rootWindow())
        return false;
    // People let go of the modifiers before the key as often as after it: a release
    // belongs to the press that started it, whatever the modifiers are by then.
    const uint16_t relevant = ALL_MODIFIERS & ~(XCB_MOD_MASK_LOCK | m_numLockMask);
    const bool ours = (key->state & relevant) == m_modifiers;
    if (type == XCB_KEY_PRESS ? !ours : !m_pressed)
        return false;

    if (type == XCB_KEY_PRESS) {
        if (m_releaseTimer->isActive()) {
            m_releaseTimer->stop();
            // The server's key repeat sends a release and a press with one timestamp.
            if (key->time == m_releaseTime)
                return true;
            finishRelease();
        }
        // With detectable repeat, held keys send presses only.
        if (m_pressed)
            return true;
        m_pressed = true;
        emit activated();
    } else {
        // Whether a repeat follows is known only once the next event is in.
        m_releaseTime = key->time;
        m_releaseTimer->start();
    }
    return true;
}

uint16_t SCGlobalHotkey::modifierMaskFor(Qt::KeyboardModifiers modifiers)
{
    uint16_t mask = 0;
    if (modifiers & Qt::ShiftModifier)
        mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & Qt::ControlModifier)
        mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & Qt::AltModifier)
        mask |= XCB_MOD_MASK_1;
    if (modifiers & Qt::MetaModifier)
        mask |= XCB_MOD_MASK_4;
    return mask;
}

uint32_t SCGlobalHotkey::keysymForKey(int key)
{
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return 0xffbe + static_cast<uint32_t>(key - Qt::Key_F1);
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return static_cast<uint32_t>(key - Qt::Key_A + 'a');
    // Latin-1 keys share their codes with X11's key symbols.
    if (key >= Qt::Key_Space && key <= Qt::Key_ydiaeresis)
        return static_cast<uint32_t>(key);
    switch (key) {
    case Qt::Key_Escape:
        return 0xff1b;
    case Qt::Key_Tab:
        return 0xff09;
    case Qt::Key_Backtab:
        return 0xfe20;
    case Qt::Key_Backspace:
        return 0xff08;
    case Qt::Key_Return:
        return 0xff0d;
    case Qt::Key_Enter:
        return 0xff8d;
    case Qt::Key_Insert:
        return 0xff63;
    case Qt::Key_Delete:
        return 0xffff;
    case Qt::Key_Pause:
        return 0xff13;
    case Qt::Key_Print:
        return 0xff61;
    case Qt::Key_SysReq:
        return 0xff15;
    case Qt::Key_Home:
        return 0xff50;
    case Qt::Key_End:
        return 0xff57;
    case Qt::Key_Left:
        return 0xff51;
    case Qt::Key_Up:
        return 0xff52;
    case Qt::Key_Right:
        return 0xff53;
    case Qt::Key_Down:
        return 0xff54;
    case Qt::Key_PageUp:
        return 0xff55;
    case Qt::Key_PageDown:
        return 0xff56;
    case Qt::Key_ScrollLock:
        return 0xff14;
    case Qt::Key_Menu:
        return 0xff67;
    case Qt::Key_Help:
        return 0xff6a;
    case Qt::Key_VolumeDown:
        return 0x1008ff11;
    case Qt::Key_VolumeMute:
        return 0x1008ff12;
    case Qt::Key_VolumeUp:
        return 0x1008ff13;
    case Qt::Key_MediaPlay:
        return 0x1008ff14;
    case Qt::Key_MediaStop:
        return 0x1008ff15;
    case Qt::Key_MediaPrevious:
        return 0x1008ff16;
    case Qt::Key_MediaNext:
        return 0x1008ff17;
    default:
        return 0;
    }
}
