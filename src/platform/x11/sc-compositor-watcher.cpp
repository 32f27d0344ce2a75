#include "sc-compositor-watcher.h"

#include "sc-x11.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdlib>

SCCompositorWatcher *SCCompositorWatcher::instance()
{
    // Owned by the application object, so a second application gets a fresh watcher.
    static QPointer<SCCompositorWatcher> watcher;
    if (!watcher)
        watcher = new SCCompositorWatcher(QCoreApplication::instance());
    return watcher;
}

SCCompositorWatcher::SCCompositorWatcher(QObject *parent)
    : QObject(parent)
{
    xcb_connection_t *c = SCX11::connection();
    if (!c)
        return;
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(SCX11::screenNumber());
    m_selection = SCX11::atom(name.constData());

    const xcb_query_extension_reply_t *ext = xcb_get_extension_data(c, &xcb_xfixes_id);
    if (ext && ext->present) {
        xcb_xfixes_query_version_reply_t *version = xcb_xfixes_query_version_reply(
                c, xcb_xfixes_query_version(c, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
                nullptr);
        if (version && version->major_version >= 1) {
            m_hasXFixes = true;
            m_xfixesEventBase = ext->first_event;
            const uint32_t mask = XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER
                    | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY
                    | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE;
            // Qt's connection delivers the notifications to the application's filters.
            xcb_xfixes_select_selection_input(c, SCX11::rootWindow(), m_selection, mask);
            xcb_flush(c);
            QCoreApplication::instance()->installNativeEventFilter(this);
        }
        std::free(version);
    }
    if (!m_hasXFixes) {
        m_pollTimer = new QTimer(this);
        m_pollTimer->setInterval(1000);
        connect(m_pollTimer, &QTimer::timeout, this, &SCCompositorWatcher::refresh);
        m_pollTimer->start();
    }
    m_compositing = queryOwner();
}

SCCompositorWatcher::~SCCompositorWatcher()
{
    if (m_hasXFixes && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool SCCompositorWatcher::isCompositing() const
{
    return m_compositing;
}

bool SCCompositorWatcher::queryOwner() const
{
    xcb_connection_t *c = SCX11::connection();
    if (!c || !m_selection)
        return false;
    xcb_get_selection_owner_reply_t *reply
            = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, m_selection), nullptr);
    const bool owned = reply && reply->owner != XCB_NONE;
    std::free(reply);
    return owned;
}

void SCCompositorWatcher::refresh()
{
    const bool compositing = queryOwner();
    if (compositing == m_compositing)
        return;
    m_compositing = compositing;
    emit compositingChanged(compositing);
}

bool SCCompositorWatcher::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != m_xfixesEventBase + XCB_XFIXES_SELECTION_NOTIFY)
        return false;
    const auto *notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t *>(event);
    if (notify->selection != m_selection)
        return false;
    // Ask the server rather than trust the subtype: a quick restart may leave several
    // notifications queued, and only the present owner counts.
    refresh();
    return false;
}
