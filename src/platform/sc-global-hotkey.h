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

    // The X11 key symbol of a Qt key, 0 when it has none.
    static uint32_t keysymForKey(int qtKey);
    // The X11 modifier mask of Qt's keyboard modifiers.
    static uint16_t modifierMaskFor(Qt::KeyboardModifiers modifiers);

signals:
    void activated();
    void released();

private:
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
