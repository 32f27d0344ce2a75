#!/usr/bin/python3
"""Checks the headless Wayland test session end to end, through the real portal frontend:

  scripts/test-env.sh --wayland tests/support/portal-backend/check-session.py

Prints one line per check; exit status 0 only when every check passed.
"""
import json
import os
import subprocess
import sys
import tempfile
import time

import dbus
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

DESKTOP = "org.freedesktop.portal.Desktop"
DESKTOP_PATH = "/org/freedesktop/portal/desktop"
SCREENCAST = "org.freedesktop.portal.ScreenCast"
SCREENSHOT = "org.freedesktop.portal.Screenshot"
SHORTCUTS = "org.freedesktop.portal.GlobalShortcuts"
CTL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "test-portal-ctl")

DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
portal = bus.get_object(DESKTOP, DESKTOP_PATH)
sender = bus.get_unique_name()[1:].replace(".", "_")
screen = tuple(int(n) for n in os.environ.get("VISTREL_TEST_SCREEN", "1920x1080").split("x")[:2])
work = tempfile.mkdtemp(prefix="check-session.", dir=os.environ.get("XDG_RUNTIME_DIR"))
failures = []
tokens = iter(range(1, 1000))


def check(name, passed, detail=""):
    print("%s %s%s" % ("ok  " if passed else "FAIL", name, "  (%s)" % detail if detail else ""), flush=True)
    if not passed:
        failures.append(name)
    return passed


def ctl(*words):
    return subprocess.run([CTL] + list(words), capture_output=True, text=True, check=True).stdout


def last_call(method):
    calls = [c for c in json.loads(ctl("log")) if c["method"] == method]
    return calls[-1] if calls else {}


def request(interface, method, *args, timeout=20):
    """Calls a portal method taking options last; returns the Request's (response, results)."""
    token = "check%d" % next(tokens)
    options = dict(args[-1], handle_token=token)
    path = "%s/request/%s/%s" % (DESKTOP_PATH, sender, token)
    answer = {}
    loop = GLib.MainLoop()

    def on_response(code, results):
        answer.update(code=int(code), results=results)
        loop.quit()

    match = bus.add_signal_receiver(on_response, "Response", "org.freedesktop.portal.Request", DESKTOP, path)
    getattr(dbus.Interface(portal, interface), method)(*args[:-1], dbus.Dictionary(options, signature="sv"))
    GLib.timeout_add_seconds(timeout, loop.quit)
    loop.run()
    match.remove()
    return answer.get("code", -1), answer.get("results", {})


def png_size(path):
    try:
        with open(path, "rb") as f:
            head = f.read(24)
    except OSError:
        return None
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")


def pipewire_objects():
    """Every object pw-dump lists; it prints a second array when objects change meanwhile."""
    text = subprocess.run(["pw-dump", "-N"], capture_output=True).stdout.decode(errors="replace")
    decoder, objects, at = json.JSONDecoder(), [], 0
    while True:
        while at < len(text) and text[at].isspace():
            at += 1
        if at >= len(text):
            return objects
        part, at = decoder.raw_decode(text, at)
        objects.extend(part if isinstance(part, list) else [part])


def node_exists(node):
    return any(o.get("id") == node and o.get("type") == "PipeWire:Interface:Node"
               for o in pipewire_objects())


def start_cast(restore_token=None):
    """CreateSession, SelectSources, Start: (session path, Start's response, results)."""
    code, results = request(SCREENCAST, "CreateSession", {"session_handle_token": "s%d" % next(tokens)})
    session = dbus.ObjectPath(results.get("session_handle", "/"))
    if code != 0:
        return session, code, {}
    options = {"types": dbus.UInt32(1), "multiple": False, "cursor_mode": dbus.UInt32(2),
               "persist_mode": dbus.UInt32(2)}
    if restore_token:
        options["restore_token"] = restore_token
    code, _ = request(SCREENCAST, "SelectSources", session, options)
    if code != 0:
        return session, code, {}
    code, results = request(SCREENCAST, "Start", session, "", {})
    return session, code, results


def close(session):
    try:
        dbus.Interface(bus.get_object(DESKTOP, session), "org.freedesktop.portal.Session").Close()
    except dbus.DBusException:
        pass  # the frontend closes a session whose Start failed itself


def stream_of(results):
    streams = results.get("streams", [])
    if not streams:
        return None, None
    node, props = streams[0]
    return int(node), tuple(int(n) for n in props.get("size", ()))


def grab_frame(session, node, png, rgb):
    """One frame of the cast, as a PNG and as raw RGB."""
    fd = dbus.Interface(portal, SCREENCAST).OpenPipeWireRemote(session, dbus.Dictionary({}, signature="sv")).take()
    try:
        run = subprocess.run(["gst-launch-1.0", "-q", "pipewiresrc", "fd=%d" % fd, "path=%d" % node,
                              "num-buffers=1", "!", "videoconvert", "!", "video/x-raw,format=RGB", "!",
                              "tee", "name=t", "t.", "!", "queue", "!", "pngenc", "!",
                              "filesink", "location=" + png, "t.", "!", "queue", "!",
                              "filesink", "location=" + rgb],
                             pass_fds=[fd], capture_output=True, text=True, timeout=30)
    finally:
        os.close(fd)
    return run.returncode, run.stderr.strip()[-200:]


def quadrant_colours(rgb):
    """The colours at the middles of the four quadrants of a raw RGB frame of the screen."""
    width, height = screen
    stride = (width * 3 + 3) // 4 * 4  # GStreamer pads raw RGB rows to 4 bytes
    with open(rgb, "rb") as f:
        data = f.read()
    colours = []
    for y in (height // 4, height * 3 // 4):
        for x in (width // 4, width * 3 // 4):
            colours.append(tuple(data[y * stride + x * 3: y * stride + x * 3 + 3]))
    return colours


def check_screencast():
    version = dbus.Interface(portal, "org.freedesktop.DBus.Properties").Get(SCREENCAST, "version")
    check("ScreenCast offered by the frontend", int(version) == 4, "version %d" % version)

    session, code, results = start_cast()
    node, size = stream_of(results)
    token = str(results.get("restore_token", ""))
    check("ScreenCast Start gives a stream of the screen's size", code == 0 and size == screen,
          "response %d, node %s, size %s" % (code, node, size))
    check("ScreenCast Start gives a restore token", bool(token), token)
    call = last_call("ScreenCast.Start")
    check("backend saw cursor_mode 2, persist_mode 2, and showed a dialog",
          call.get("cursor_mode") == 2 and call.get("persist_mode") == 2 and call.get("dialog") is True,
          call)
    if node is not None:
        png, rgb = os.path.join(work, "frame.png"), os.path.join(work, "frame.rgb")
        status, errors = grab_frame(session, node, png, rgb)
        check("pipewiresrc reads a frame of the screen's size through the portal's fd",
              status == 0 and png_size(png) == screen, "%s %s %s" % (png, png_size(png), errors))
        if os.environ.get("VISTREL_WAYLAND_PATTERN") == "quadrants" and status == 0:
            colours = quadrant_colours(rgb)
            check("the frame shows red, green / blue, white quadrants",
                  colours == [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255)], colours)
    close(session)

    session, code, results = start_cast(token)
    second = str(results.get("restore_token", ""))
    call = last_call("ScreenCast.Start")
    check("restore token restores without a dialog", code == 0 and call.get("dialog") is False,
          "restored from %s" % call.get("restored_from"))
    close(session)

    # The 1.16 frontend hands the same token back, with the backend's new restore data behind it.
    session, code, results = start_cast(second)
    call = last_call("ScreenCast.Start")
    check("the token Start gave back restores again", code == 0 and call.get("dialog") is False,
          "token %s, restored from %s" % ("same" if second == token else "new", call.get("restored_from")))
    close(session)

    ctl("next-response", "Start", "1")
    session, code, _ = start_cast()
    check("next-response Start 1 cancels Start", code == 1, "response %d" % code)
    close(session)

    ctl("end-stream-after", "1")
    session, code, results = start_cast()
    node, _ = stream_of(results)
    there = node is not None and node_exists(node)
    deadline = time.monotonic() + 6
    while there and node_exists(node) and time.monotonic() < deadline:
        time.sleep(0.1)
    check("end-stream-after 1 removes the stream's node", there and not node_exists(node),
          "node %s" % node)
    close(session)


def check_screenshot():
    code, results = request(SCREENSHOT, "Screenshot", "", {"interactive": False})
    uri = str(results.get("uri", ""))
    path = uri[len("file://"):] if uri.startswith("file://") else ""
    check("Screenshot gives a file:// PNG of the screen's size", code == 0 and png_size(path) == screen,
          "%s %s, %s" % (uri, png_size(path), last_call("Screenshot.Screenshot").get("source")))
    ctl("next-response", "Screenshot", "2")
    code, _ = request(SCREENSHOT, "Screenshot", "", {"interactive": False})
    check("next-response Screenshot 2 refuses the screenshot", code == 2, "response %d" % code)


def check_shortcuts():
    code, results = request(SHORTCUTS, "CreateSession", {"session_handle_token": "s%d" % next(tokens)})
    session = dbus.ObjectPath(results.get("session_handle", "/"))
    shortcuts = dbus.Array([("toggle-recording", {"description": "Start or stop recording",
                                                  "preferred_trigger": "CTRL+SHIFT+R"})],
                           signature="(sa{sv})")
    code, results = request(SHORTCUTS, "BindShortcuts", session, shortcuts, "", {})
    check("GlobalShortcuts BindShortcuts", code == 0 and len(results.get("shortcuts", [])) == 1,
          "response %d" % code)
    activated = []
    loop = GLib.MainLoop()

    def on_activated(session_handle, shortcut_id, timestamp, options):
        activated.append(str(shortcut_id))
        loop.quit()

    bus.add_signal_receiver(on_activated, "Activated", SHORTCUTS, DESKTOP, DESKTOP_PATH)
    pressed = ctl("activate-shortcut", "toggle-recording").strip()
    GLib.timeout_add_seconds(5, loop.quit)
    loop.run()
    check("activate-shortcut reaches the client as Activated", activated == ["toggle-recording"],
          "%s session(s), got %s" % (pressed, activated))
    close(session)


def check_sound():
    info = subprocess.run(["pactl", "info"], capture_output=True, text=True).stdout
    check("pactl through pipewire-pulse: speakers and microphone are the defaults",
          "Default Sink: speakers" in info and "Default Source: microphone" in info,
          "; ".join(line for line in info.splitlines() if line.startswith(("Server Name", "Default S"))))


def main():
    for part in (check_screencast, check_screenshot, check_shortcuts, check_sound):
        try:
            part()
        except Exception as error:  # a broken piece fails its checks, the others still run
            check(part.__name__, False, repr(error))
    print("%s: %d failed" % ("passed" if not failures else "FAILED", len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
