#pragma once

#include <QAbstractNativeEventFilter>
#include <QKeySequence>
#include <QObject>
#include <QString>
#include <QVector>

class QTimer;

// A key combination that fires while any application has the focus: a passive grab of the
// key on the X11 root window.
class SCGlobalHotkey : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    explicit SCGlobalHotkey(QObject *parent = nullptr);
    SCGlobalHotkey(const QKeySequence &shortcut, bool autoRegister, QObject *parent = nullptr);
    ~SCGlobalHotkey() override;

    QKeySequence shortcut() const;
    bool setShortcut(const QKeySequence &shortcut, bool autoRegister = false);
    bool resetShortcut();

    bool isRegistered() const;
    bool setRegistered(bool registered);

    QString errorString() const;

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

    // Whether `shortcut` can be a global hotkey now: a key this keyboard has, in a combination
    // no other program holds. Tried with a grab that is given back at once; a combination
    // this program holds already counts as free. `error` says why not.
    static bool canRegister(const QKeySequence &shortcut, QString *error);

    // The X11 key symbol of a Qt key, 0 when it has none.
    static uint32_t keysymForKey(int qtKey);
    // The X11 modifier mask of Qt's keyboard modifiers.
    static uint16_t modifierMaskFor(Qt::KeyboardModifiers modifiers);

signals:
    void activated();
    void released();

private:
    // The key code and modifier mask of `shortcut`'s first combination; false, with the
    // reason, when this keyboard has no such key.
    static bool resolve(const QKeySequence &shortcut, uint8_t *keycode, uint16_t *modifiers,
                        QString *error);
    // Grabs the combination in every CapsLock and NumLock state, or none of them.
    static bool grabAllStates(uint8_t keycode, uint16_t modifiers, uint16_t numLock);
    static void ungrabAllStates(uint8_t keycode, uint16_t modifiers, uint16_t numLock);
    bool grab();
    void ungrab();
    void finishRelease();

    QKeySequence m_shortcut;
    QString m_errorString;
    uint8_t m_keycode = 0;
    uint16_t m_modifiers = 0;
    uint16_t m_numLockMask = 0;
    bool m_registered = false;
    bool m_pressed = false;
    uint32_t m_releaseTime = 0;
    QTimer *m_releaseTimer = nullptr;
};
