#!/usr/bin/python3
"""Portal backend of the headless Wayland test session (scripts/wayland-session.sh).

Answers the real xdg-desktop-portal frontend on the session bus as
org.freedesktop.impl.portal.desktop.vistrel-test: ScreenCast (v4), Screenshot (v2),
GlobalShortcuts (v1) and Access, without dialogs. Every screen cast gets a fresh PipeWire
video node fed by gst-launch-1.0, so a test can end one cast's stream without touching the
next. Tests steer it through org.vistrel.TestPortal (see test-portal-ctl).

Environment: VISTREL_TEST_SCREEN (WxH, default 1920x1080), VISTREL_WAYLAND_PATTERN
(a videotestsrc pattern such as ball, "quadrants": red, green / blue, white, or "screen":
the compositor's output as grim takes it, again and again, as a desktop's cast shows it),
VISTREL_WAYLAND_SCREENSHOT (grim: the compositor's output, default; pattern: the stream's
picture), VISTREL_PORTAL_DIR (where pictures go, default $XDG_RUNTIME_DIR).
"""
import ctypes
import itertools
import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import time
import zlib

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

BUS_NAME = "org.freedesktop.impl.portal.desktop.vistrel-test"
PORTAL_PATH = "/org/freedesktop/portal/desktop"
SCREENCAST = "org.freedesktop.impl.portal.ScreenCast"
SCREENSHOT = "org.freedesktop.impl.portal.Screenshot"
SHORTCUTS = "org.freedesktop.impl.portal.GlobalShortcuts"
ACCESS = "org.freedesktop.impl.portal.Access"
SESSION = "org.freedesktop.impl.portal.Session"
PROPERTIES = "org.freedesktop.DBus.Properties"
CONTROL_NAME = "org.vistrel.TestPortal"
CONTROL_PATH = "/org/vistrel/TestPortal"

SOURCE_MONITOR, SOURCE_WINDOW = 1, 2
CURSOR_HIDDEN, CURSOR_EMBEDDED, CURSOR_METADATA = 1, 2, 4
RESPONSE_OK, RESPONSE_CANCELLED, RESPONSE_OTHER = 0, 1, 2

PORTAL_PROPERTIES = {
    SCREENCAST: {"AvailableSourceTypes": dbus.UInt32(SOURCE_MONITOR | SOURCE_WINDOW),
                 "AvailableCursorModes": dbus.UInt32(CURSOR_HIDDEN | CURSOR_EMBEDDED | CURSOR_METADATA),
                 "version": dbus.UInt32(4)},
    SCREENSHOT: {"version": dbus.UInt32(2)},
    SHORTCUTS: {"version": dbus.UInt32(1)},
    ACCESS: {"version": dbus.UInt32(1)},
}


def log(*words):
    print(time.strftime("%H:%M:%S"), *words, file=sys.stderr, flush=True)


def plain(value):
    """D-Bus values as JSON-friendly Python values."""
    if value is None or isinstance(value, bool):
        return value
    if isinstance(value, dict):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, int):
        return int(value)
    if isinstance(value, float):
        return float(value)
    return str(value)


def empty():
    return dbus.Dictionary({}, signature="sv")


def screen_size():
    text = os.environ.get("VISTREL_TEST_SCREEN", "1920x1080")
    width, height = text.split("x")[:2]
    return int(width), int(height)


def write_quadrants_png(path, width, height):
    """Red, green / blue, white: each corner of a captured region tells where it came from."""
    left, right = width // 2, width - width // 2
    top_row = b"\0" + b"\xff\0\0" * left + b"\0\xff\0" * right
    bottom_row = b"\0" + b"\0\0\xff" * left + b"\xff\xff\xff" * right
    pixels = top_row * (height // 2) + bottom_row * (height - height // 2)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n"
                + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(pixels, 1)) + chunk(b"IEND", b""))


def die_with_parent():
    # A backend killed hard must not leave its streams behind.
    ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


class Picture:
    """What the screen streams show; also the Screenshot answer when grim is not used."""

    def __init__(self, folder):
        self.width, self.height = screen_size()
        self.pattern = os.environ.get("VISTREL_WAYLAND_PATTERN", "ball")
        self.folder = folder
        self.png = None
        self.grabber = None
        if self.pattern == "quadrants":
            self.png = os.path.join(folder, "quadrants.png")
            write_quadrants_png(self.png, self.width, self.height)

    def start_grabbing(self):
        """grim in a loop: screen.png is always a whole picture of the output, a few ms old."""
        path = os.path.join(self.folder, "screen.png")
        if self.grabber is None:
            loop = ('while :; do grim -l 0 "$1.next.png" && mv "$1.next.png" "$1"; '
                    'sleep 0.02; done')
            self.grabber = subprocess.Popen(["sh", "-c", loop, "grim-loop", path],
                                            preexec_fn=die_with_parent)
        for _ in range(200):
            if os.path.exists(path):
                break
            time.sleep(0.02)
        return path

    def source(self):
        """gst-launch words up to the raw BGRx caps of the screen."""
        caps = "video/x-raw,format=BGRx,width=%d,height=%d,framerate=30/1" % (self.width, self.height)
        if self.png:
            # Converted once, then the same buffer goes out at 30 fps. pipewiresink's buffer
            # pool must stay out of the allocation upstream: it has no buffers before the node
            # is negotiated, and the decoder would wait for one forever.
            return ["filesrc", "location=" + self.png, "!", "pngdec", "!", "videoconvert", "!",
                    "video/x-raw,format=BGRx", "!", "imagefreeze", "is-live=true", "!",
                    "identity", "drop-allocation=true", "!", caps]
        if self.pattern == "screen":
            # The newest picture each tenth of a second, paced by the sink's clock.
            return ["multifilesrc", "location=" + self.start_grabbing(), "loop=true",
                    "caps=image/png,framerate=10/1", "!", "pngdec", "!", "videoconvert", "!",
                    "videoscale", "!", "videorate", "!", "identity", "drop-allocation=true", "!",
                    caps]
        return ["videotestsrc", "is-live=true", "pattern=" + self.pattern, "!", caps]

    def save_png(self, path):
        if self.png:
            shutil.copyfile(self.png, path)
            return True
        words = (["gst-launch-1.0", "-q", "videotestsrc", "num-buffers=1", "pattern=" + self.pattern,
                  "!", "video/x-raw,width=%d,height=%d" % (self.width, self.height), "!",
                  "videoconvert", "!", "pngenc", "!", "filesink", "location=" + path])
        return subprocess.run(words, capture_output=True).returncode == 0


class Stream:
    """One PipeWire video node: a gst-launch-1.0 process feeding pipewiresink."""

    names = itertools.count(1)

    def __init__(self, picture, folder):
        self.name = "vistrel-screen-%d" % next(Stream.names)
        self.node = None
        props = "props,node.name=%s,node.description=Screen,media.class=Video/Source" % self.name
        words = (["gst-launch-1.0", "-q"] + picture.source()
                 + ["!", "pipewiresink", "mode=provide", "client-name=" + self.name,
                    "stream-properties=" + props])
        self.log_path = os.path.join(folder, self.name + ".log")
        with open(self.log_path, "w") as out:
            self.process = subprocess.Popen(words, stdout=out, stderr=subprocess.STDOUT,
                                            preexec_fn=die_with_parent)

    def find_node(self):
        """The node's id once PipeWire has it, else None."""
        if self.node is None and self.process.poll() is None:
            result = subprocess.run(["pw-dump", "-N"], capture_output=True, timeout=10)
            for item in json.loads(result.stdout or b"[]"):
                props = (item.get("info") or {}).get("props") or {}
                if item.get("type") == "PipeWire:Interface:Node" and props.get("node.name") == self.name:
                    self.node = int(item["id"])
        return self.node

    def alive(self):
        return self.process.poll() is None

    def stop(self):
        if self.alive():
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        log("stream", self.name, "node", self.node, "stopped")


class Session(dbus.service.Object):
    def __init__(self, backend, path, kind, app_id):
        super().__init__(backend.connection, path)
        self.backend, self.path, self.kind, self.app_id = backend, str(path), kind, str(app_id)
        self.selection = {}
        self.restored_from = None
        self.stream = None
        self.shortcuts = []  # (id, {description, trigger_description})

    @dbus.service.method(SESSION, in_signature="", out_signature="")
    def Close(self):
        self.backend.record("Session.Close", session=self.path)
        self.drop()

    @dbus.service.signal(SESSION, signature="")
    def Closed(self):
        pass

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return dbus.UInt32(1)

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return dbus.Dictionary({"version": dbus.UInt32(1)}, signature="sv")

    def drop(self):
        if self.stream:
            self.stream.stop()
        if self.backend.sessions.pop(self.path, None) is self:
            self.remove_from_connection()


class ShortcutsInterface(dbus.service.Object):
    # A class of its own: its CreateSession shares the member name with ScreenCast's, and
    # dbus-python finds a method by the first class in the MRO with that name and interface.

    @dbus.service.method(SHORTCUTS, in_signature="oosa{sv}", out_signature="ua{sv}")
    def CreateSession(self, handle, session_handle, app_id, options):
        self.record("GlobalShortcuts.CreateSession", session=session_handle, app_id=app_id)
        forced = self.forced_response("GlobalShortcuts.CreateSession")
        if forced is not None:
            return forced, empty()
        self.sessions[str(session_handle)] = Session(self, session_handle, "shortcuts", app_id)
        return RESPONSE_OK, empty()

    @dbus.service.method(SHORTCUTS, in_signature="ooa(sa{sv})sa{sv}", out_signature="ua{sv}")
    def BindShortcuts(self, handle, session_handle, shortcuts, parent_window, options):
        self.record("GlobalShortcuts.BindShortcuts", session=session_handle, shortcuts=shortcuts)
        forced = self.forced_response("GlobalShortcuts.BindShortcuts")
        session = self.sessions.get(str(session_handle))
        if forced is not None or session is None:
            return (RESPONSE_OTHER if forced is None else forced), empty()
        session.shortcuts = [
            (str(sid), {"description": dbus.String(props.get("description", "")),
                        "trigger_description": dbus.String(props.get("preferred_trigger", ""))})
            for sid, props in shortcuts]
        return RESPONSE_OK, dbus.Dictionary({"shortcuts": self.shortcut_list(session)}, signature="sv")

    @dbus.service.method(SHORTCUTS, in_signature="oo", out_signature="ua{sv}")
    def ListShortcuts(self, handle, session_handle):
        self.record("GlobalShortcuts.ListShortcuts", session=session_handle)
        session = self.sessions.get(str(session_handle))
        if session is None:
            return RESPONSE_OTHER, empty()
        return RESPONSE_OK, dbus.Dictionary({"shortcuts": self.shortcut_list(session)}, signature="sv")

    @dbus.service.signal(SHORTCUTS, signature="osta{sv}")
    def Activated(self, session_handle, shortcut_id, timestamp, options):
        pass

    @dbus.service.signal(SHORTCUTS, signature="osta{sv}")
    def Deactivated(self, session_handle, shortcut_id, timestamp, options):
        pass

    @staticmethod
    def shortcut_list(session):
        return dbus.Array([dbus.Struct((sid, dbus.Dictionary(props, signature="sv")))
                           for sid, props in session.shortcuts], signature="(sa{sv})")


class Backend(ShortcutsInterface):
    def __init__(self, connection, folder):
        super().__init__(connection, PORTAL_PATH)
        self.folder = folder
        self.picture = Picture(folder)
        self.sessions = {}
        self.known_restore_ids = set()
        self.restore_ids = itertools.count(1)
        self.screenshots = itertools.count(1)
        self.reset()

    def reset(self):
        self.calls = []
        self.next_responses = {}
        self.end_stream_after = None

    def record(self, method, **details):
        entry = {"method": method, "time": round(time.time(), 3)}
        entry.update({k: plain(v) for k, v in details.items()})
        self.calls.append(entry)
        log(json.dumps(entry))
        return entry

    def forced_response(self, method):
        """A response a test asked for, by full (ScreenCast.Start) or short (Start) name."""
        for key in (method, method.split(".")[-1]):
            if key in self.next_responses:
                code = self.next_responses.pop(key)
                log(method, "answers", code, "as asked")
                return dbus.UInt32(code)
        return None

    def stop_streams(self):
        for session in list(self.sessions.values()):
            if session.stream:
                session.stream.stop()

    # --- properties ---------------------------------------------------------------------

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return PORTAL_PROPERTIES.get(str(interface), {})[str(name)]

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return dbus.Dictionary(PORTAL_PROPERTIES.get(str(interface), {}), signature="sv")

    # --- ScreenCast ---------------------------------------------------------------------

    @dbus.service.method(SCREENCAST, in_signature="oosa{sv}", out_signature="ua{sv}")
    def CreateSession(self, handle, session_handle, app_id, options):
        self.record("ScreenCast.CreateSession", session=session_handle, app_id=app_id)
        forced = self.forced_response("ScreenCast.CreateSession")
        if forced is not None:
            return forced, empty()
        self.sessions[str(session_handle)] = Session(self, session_handle, "screencast", app_id)
        return RESPONSE_OK, empty()

    @dbus.service.method(SCREENCAST, in_signature="oosa{sv}", out_signature="ua{sv}")
    def SelectSources(self, handle, session_handle, app_id, options):
        restore_id = None
        if "restore_data" in options:
            vendor, version, data = options["restore_data"]
            if str(vendor) == "vistrel-test" and isinstance(data, dict):
                restore_id = str(data.get("id", ""))
        self.record("ScreenCast.SelectSources", session=session_handle,
                    types=options.get("types", SOURCE_MONITOR),
                    multiple=options.get("multiple", False),
                    cursor_mode=options.get("cursor_mode", CURSOR_HIDDEN),
                    persist_mode=options.get("persist_mode", 0),
                    restore_data=restore_id)
        forced = self.forced_response("ScreenCast.SelectSources")
        session = self.sessions.get(str(session_handle))
        if forced is not None or session is None:
            return (RESPONSE_OTHER if forced is None else forced), empty()
        session.selection = dict(options)
        # A token works once: the next Start hands out a new one.
        if restore_id in self.known_restore_ids:
            self.known_restore_ids.discard(restore_id)
            session.restored_from = restore_id
        return RESPONSE_OK, empty()

    @dbus.service.method(SCREENCAST, in_signature="oossa{sv}", out_signature="ua{sv}",
                         async_callbacks=("reply", "error"))
    def Start(self, handle, session_handle, app_id, parent_window, options, reply, error):
        session = self.sessions.get(str(session_handle))
        selection = session.selection if session else {}
        dialog = session is not None and session.restored_from is None
        entry = self.record("ScreenCast.Start", session=session_handle, app_id=app_id,
                            cursor_mode=selection.get("cursor_mode", CURSOR_HIDDEN),
                            persist_mode=selection.get("persist_mode", 0),
                            restored_from=session.restored_from if session else None,
                            dialog=dialog)
        forced = self.forced_response("ScreenCast.Start")
        if forced is not None or session is None:
            entry["response"] = int(RESPONSE_OTHER if forced is None else forced)
            reply(dbus.UInt32(entry["response"]), empty())
            return
        if session.stream:
            session.stream.stop()
        session.stream = Stream(self.picture, self.folder)
        deadline = time.monotonic() + 15

        def answer():
            if session.stream.find_node() is None:
                if session.stream.alive() and time.monotonic() < deadline:
                    return True
                log("stream", session.stream.name, "did not come up, see", session.stream.log_path)
                entry["response"] = RESPONSE_OTHER
                reply(dbus.UInt32(RESPONSE_OTHER), empty())
                return False
            reply(*self.started(session, entry))
            return False

        GLib.timeout_add(50, answer)

    def started(self, session, entry):
        types = int(session.selection.get("types", SOURCE_MONITOR)) or SOURCE_MONITOR
        stream = session.stream
        props = dbus.Dictionary({
            "id": dbus.String("0"),
            "position": dbus.Struct((dbus.Int32(0), dbus.Int32(0))),
            "size": dbus.Struct((dbus.Int32(self.picture.width), dbus.Int32(self.picture.height))),
            "source_type": dbus.UInt32(SOURCE_MONITOR if types & SOURCE_MONITOR else SOURCE_WINDOW),
        }, signature="sv")
        results = dbus.Dictionary({
            "streams": dbus.Array([dbus.Struct((dbus.UInt32(stream.node), props))], signature="(ua{sv})"),
        }, signature="sv")
        persist_mode = int(session.selection.get("persist_mode", 0))
        if persist_mode:
            restore_id = "restore-%d" % next(self.restore_ids)
            self.known_restore_ids.add(restore_id)
            results["persist_mode"] = dbus.UInt32(persist_mode)
            results["restore_data"] = dbus.Struct(
                ("vistrel-test", dbus.UInt32(1),
                 dbus.Dictionary({"id": restore_id}, signature="sv", variant_level=1)),
                signature="suv")
            entry["restore_data_issued"] = restore_id
        entry.update(response=RESPONSE_OK, node=stream.node, stream=stream.name)
        if self.end_stream_after is not None:
            seconds, self.end_stream_after = self.end_stream_after, None
            entry["ends_after"] = seconds
            GLib.timeout_add(int(seconds * 1000), lambda: stream.stop() and False)
        log("ScreenCast.Start answers node", stream.node)
        return dbus.UInt32(RESPONSE_OK), results

    # --- Screenshot ---------------------------------------------------------------------

    @dbus.service.method(SCREENSHOT, in_signature="ossa{sv}", out_signature="ua{sv}")
    def Screenshot(self, handle, app_id, parent_window, options):
        entry = self.record("Screenshot.Screenshot", app_id=app_id, options=options)
        forced = self.forced_response("Screenshot.Screenshot")
        if forced is not None:
            entry["response"] = int(forced)
            return forced, empty()
        path = os.path.join(self.folder, "screenshot-%d.png" % next(self.screenshots))
        source = os.environ.get("VISTREL_WAYLAND_SCREENSHOT", "grim")
        taken = source == "grim" and subprocess.run(["grim", path], capture_output=True).returncode == 0
        if not taken:
            source = "pattern"
            taken = self.picture.save_png(path)
        entry.update(response=RESPONSE_OK if taken else RESPONSE_OTHER, source=source, file=path)
        if not taken:
            return dbus.UInt32(RESPONSE_OTHER), empty()
        return dbus.UInt32(RESPONSE_OK), dbus.Dictionary({"uri": "file://" + path}, signature="sv")

    @dbus.service.method(SCREENSHOT, in_signature="ossa{sv}", out_signature="ua{sv}")
    def PickColor(self, handle, app_id, parent_window, options):
        self.record("Screenshot.PickColor", app_id=app_id)
        colour = dbus.Struct((dbus.Double(1.0), dbus.Double(0.0), dbus.Double(0.0)), signature="ddd")
        return RESPONSE_OK, dbus.Dictionary({"color": colour}, signature="sv")

    # --- Access: the frontend asks before a screenshot; the test user always agrees -----

    @dbus.service.method(ACCESS, in_signature="osssssa{sv}", out_signature="ua{sv}")
    def AccessDialog(self, handle, app_id, parent_window, title, subtitle, body, options):
        self.record("Access.AccessDialog", app_id=app_id, title=title, dialog=True)
        forced = self.forced_response("Access.AccessDialog")
        return (RESPONSE_OK if forced is None else forced), empty()


class Control(dbus.service.Object):
    """Hooks for tests: forced answers, ending streams, pressing shortcuts, the call log."""

    def __init__(self, connection, backend):
        super().__init__(connection, CONTROL_PATH)
        self.backend = backend

    @dbus.service.method(CONTROL_NAME, in_signature="su", out_signature="")
    def SetNextResponse(self, method, code):
        """The next call of method (Start, Screenshot, ...) answers code: 1 cancelled, 2 error."""
        self.backend.next_responses[str(method)] = int(code)
        log("next", method, "answers", int(code))

    @dbus.service.method(CONTROL_NAME, in_signature="d", out_signature="")
    def EndStreamAfter(self, seconds):
        """The next started cast's stream goes away this long after Start."""
        self.backend.end_stream_after = float(seconds)

    @dbus.service.method(CONTROL_NAME, in_signature="s", out_signature="u")
    def ActivateShortcut(self, shortcut_id):
        """Presses and releases shortcut_id in every session that bound it; returns how many."""
        pressed = 0
        now = int(time.time() * 1000)
        for session in list(self.backend.sessions.values()):
            if session.kind == "shortcuts" and any(sid == shortcut_id for sid, _ in session.shortcuts):
                path = dbus.ObjectPath(session.path)
                self.backend.Activated(path, shortcut_id, dbus.UInt64(now), empty())
                self.backend.Deactivated(path, shortcut_id, dbus.UInt64(now + 50), empty())
                pressed += 1
        self.backend.record("Control.ActivateShortcut", shortcut=shortcut_id, sessions=pressed)
        return dbus.UInt32(pressed)

    @dbus.service.method(CONTROL_NAME, in_signature="", out_signature="s")
    def GetLog(self):
        return json.dumps(self.backend.calls)

    @dbus.service.method(CONTROL_NAME, in_signature="", out_signature="")
    def Reset(self):
        """Forgets the log and pending test hooks; sessions and issued tokens stay valid."""
        self.backend.reset()
        log("reset")


def main():
    folder = os.environ.get("VISTREL_PORTAL_DIR") or os.environ.get("XDG_RUNTIME_DIR") or "/tmp"
    os.makedirs(folder, exist_ok=True)
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    backend = Backend(bus, folder)
    control = Control(bus, backend)
    names = [dbus.service.BusName(name, bus, do_not_queue=True) for name in (CONTROL_NAME, BUS_NAME)]
    loop = GLib.MainLoop()
    for number in (signal.SIGTERM, signal.SIGINT):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, number, loop.quit)
    log("ready, screen %dx%d, pattern %s" % (backend.picture.width, backend.picture.height,
                                             backend.picture.pattern))
    loop.run()
    backend.stop_streams()
    del names, control


if __name__ == "__main__":
    main()
