// libobs's hotkey thread asks the X server for the keyboard state every 25 ms and reads the
// reply without looking at it. Once the server is gone the reply is null, and the process would
// crash while it still finishes a recording. Defined in the program, this comes before libxcb's
// for every library loaded: a lost connection answers "no key is pressed".

#include <xcb/xcb.h>

#include <cstdlib>
#include <dlfcn.h>

extern "C" xcb_query_keymap_reply_t *xcb_query_keymap_reply(xcb_connection_t *connection,
                                                            xcb_query_keymap_cookie_t cookie,
                                                            xcb_generic_error_t **error)
{
    using Reply = xcb_query_keymap_reply_t *(*)(xcb_connection_t *, xcb_query_keymap_cookie_t,
                                                xcb_generic_error_t **);
    static const auto libxcb = reinterpret_cast<Reply>(dlsym(RTLD_NEXT, "xcb_query_keymap_reply"));
    xcb_query_keymap_reply_t *reply = libxcb ? libxcb(connection, cookie, error) : nullptr;
    if (!reply && (!error || !*error))
        reply = static_cast<xcb_query_keymap_reply_t *>(calloc(1, sizeof(*reply)));
    return reply;
}
