#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

class QTimer;

// Tells whether a compositing manager runs on the X screen, and when that changes.
// Without one, translucent windows show black where they are transparent, so overlays
// shape themselves to what they paint.
class SCCompositorWatcher : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    static SCCompositorWatcher *instance();
    ~SCCompositorWatcher() override;

    bool isCompositing() const;

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

signals:
    void compositingChanged(bool compositing);

private:
    explicit SCCompositorWatcher(QObject *parent);
    bool queryOwner() const;
    void refresh();

    uint32_t m_selection = 0;
    uint8_t m_xfixesEventBase = 0;
    bool m_hasXFixes = false;
    bool m_compositing = false;
    QTimer *m_pollTimer = nullptr;
};
