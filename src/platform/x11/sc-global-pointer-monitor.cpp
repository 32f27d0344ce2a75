#include "sc-global-pointer-monitor.h"

#include "sc-x11.h"

#include <QGuiApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QVector>

#include <X11/Xlib.h>
#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <cstdlib>

namespace {

constexpr int POLL_INTERVAL_MS = 40;

} // namespace

SCGlobalPointerMonitor::SCGlobalPointerMonitor(QObject *parent)
    : QObject(parent)
    , m_pollInterval(POLL_INTERVAL_MS)
{ }

void SCGlobalPointerMonitor::setPollInterval(int ms)
{
    m_pollInterval = qMax(0, ms);
}

int SCGlobalPointerMonitor::pollInterval() const
{
    return m_pollInterval;
}

SCGlobalPointerMonitor::~SCGlobalPointerMonitor()
{
    stop();
}

bool SCGlobalPointerMonitor::isActive() const
{
    return m_connection != nullptr;
}

QString SCGlobalPointerMonitor::errorString() const
{
    return m_errorString;
}

bool SCGlobalPointerMonitor::start()
{
    if (m_connection)
        return true;
    m_errorString.clear();
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->display()) {
        m_errorString = QStringLiteral("not an X11 session");
        return false;
    }
    // A connection of our own: Qt's would hand raw events to its own input handling.
    xcb_connection_t *c = xcb_connect(DisplayString(x11->display()), nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        m_errorString = QStringLiteral("cannot connect to the X server");
        return false;
    }
    const xcb_query_extension_reply_t *ext = xcb_get_extension_data(c, &xcb_input_id);
    xcb_input_xi_query_version_reply_t *version = nullptr;
    if (ext && ext->present)
        version = xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr);
    const bool usable = version
            && (version->major_version > 2
                || (version->major_version == 2 && version->minor_version >= 1));
    std::free(version);
    if (!usable) {
        xcb_disconnect(c);
        m_errorString = QStringLiteral("the X server lacks XInput 2.1");
        return false;
    }
    m_xinputOpcode = ext->major_opcode;

    struct
    {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } selection;
    selection.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
    selection.head.mask_len = 1;
    selection.mask = XCB_INPUT_XI_EVENT_MASK_RAW_MOTION | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_generic_error_t *error = xcb_request_check(
            c,
            xcb_input_xi_select_events_checked(c, SCX11::rootWindow() ? SCX11::rootWindow() : root,
                                               1, &selection.head));
    if (error) {
        std::free(error);
        xcb_disconnect(c);
        m_errorString = QStringLiteral("cannot select raw pointer events");
        return false;
    }
    m_connection = c;
    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(c), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SCGlobalPointerMonitor::readEvents);
    m_lastPos = pointerPosition();
    // Warped pointers (and some input tools) move without raw events.
    if (m_pollInterval > 0) {
        m_pollTimer = new QTimer(this);
        m_pollTimer->setInterval(m_pollInterval);
        connect(m_pollTimer, &QTimer::timeout, this, &SCGlobalPointerMonitor::poll);
        m_pollTimer->start();
    }
    // Events read during set-up sit in xcb's queue, where the socket no longer signals them.
    QMetaObject::invokeMethod(this, &SCGlobalPointerMonitor::readEvents, Qt::QueuedConnection);
    return true;
}

void SCGlobalPointerMonitor::stop()
{
    if (!m_connection)
        return;
    delete m_notifier;
    m_notifier = nullptr;
    delete m_pollTimer;
    m_pollTimer = nullptr;
    xcb_disconnect(m_connection);
    m_connection = nullptr;
}

QPoint SCGlobalPointerMonitor::pointerPosition() const
{
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    xcb_query_pointer_reply_t *reply = xcb_query_pointer_reply(
            m_connection,
            xcb_query_pointer(m_connection, SCX11::rootWindow() ? SCX11::rootWindow() : root),
            nullptr);
    if (!reply)
        return QPoint();
    const QPoint device(reply->root_x, reply->root_y);
    std::free(reply);
    return SCX11::toLogical(QRect(device, QSize(1, 1))).topLeft();
}

void SCGlobalPointerMonitor::readEvents()
{
    if (!m_connection)
        return;
    struct Report
    {
        bool press;
        QPoint pos;
    };
    QVector<Report> reports;
    auto reportMove = [&](const QPoint &pos) {
        if (pos == m_lastPos)
            return;
        m_lastPos = pos;
        reports.append({false, pos});
    };
    // Raw events carry no position, so the pointer is asked where it is. That round trip
    // may queue more events, hence the outer loop.
    bool motion = m_pollDue;
    m_pollDue = false;
    for (;;) {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
            if ((event->response_type & 0x7f) == XCB_GE_GENERIC) {
                const auto *ge = reinterpret_cast<xcb_ge_generic_event_t *>(event);
                if (ge->extension == m_xinputOpcode) {
                    if (ge->event_type == XCB_INPUT_RAW_MOTION) {
                        motion = true;
                    } else if (ge->event_type == XCB_INPUT_RAW_BUTTON_PRESS
                               && reinterpret_cast<xcb_input_raw_button_press_event_t *>(event)
                                               ->detail
                                       == 1) {
                        const QPoint pos = pointerPosition();
                        reportMove(pos);
                        motion = false;
                        reports.append({true, pos});
                    }
                }
            }
            std::free(event);
        }
        if (!motion)
            break;
        motion = false;
        reportMove(pointerPosition());
    }
    if (xcb_connection_has_error(m_connection)) {
        m_errorString = QStringLiteral("the X server closed the connection");
        stop();
    }

    // Receivers may stop or delete this monitor from their slots.
    QPointer<SCGlobalPointerMonitor> guard(this);
    for (const Report &report : reports) {
        if (report.press)
            emit leftButtonPressed(report.pos);
        else
            emit moved(report.pos);
        if (!guard || !m_connection)
            return;
    }
}

void SCGlobalPointerMonitor::poll()
{
    m_pollDue = true;
    readEvents();
}
