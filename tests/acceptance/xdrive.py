"""The X side of the real-display suite: a private Xvfb, windows found by title, real input through
the XTEST extension (xdotool), geometry (xwininfo), screenshots and pixels (ImageMagick), and the
close request that a window manager sends when the operator presses a window's close box."""

import ctypes
import ctypes.util
import os
import re
import select
import shutil
import signal
import subprocess
import time

REQUIRED_TOOLS = ("Xvfb", "xdotool", "xwininfo", "import")
POLL_SECONDS = 0.05


class Failure(Exception):
    """A check that did not hold; the message says what was expected and what was seen."""


def wait_until(predicate, seconds, what):
    """Polls `predicate` until it returns something true, or fails after `seconds`. The driver sits
    outside the processes it watches, so a short sleep between looks is all it can do."""
    deadline = time.monotonic() + seconds
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise Failure(f"timed out after {seconds} s waiting for {what}")
        time.sleep(POLL_SECONDS)


def die_with_parent():
    """For a child process (preexec_fn): end with SIGTERM when the driver ends, also when CTest
    kills the driver at its time-out, so that no X server or emulator is left behind."""
    libc = ctypes.CDLL(ctypes.util.find_library("c") or "libc.so.6", use_errno=True)
    libc.prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def stop_process(process):
    """Ends a helper process politely (SIGTERM), then for good after 5 seconds."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def print_log_tails(folder, names, chars=3000):
    """After a failure: the end of each named log in folder that exists."""
    for name in names:
        path = os.path.join(folder, name)
        if os.path.exists(path):
            print(f"--- {path}\n" + open(path, errors="replace").read()[-chars:])


def missing_tools():
    return [tool for tool in REQUIRED_TOOLS if shutil.which(tool) is None]


class Geometry:
    def __init__(self, x, y, width, height, viewable=True):
        self.x, self.y, self.width, self.height, self.viewable = x, y, width, height, viewable

    def point(self, fx, fy):
        """A point inside, as fractions of the width and height."""
        return self.x + int(self.width * fx), self.y + int(self.height * fy)

    def __repr__(self):
        return f"{self.width}x{self.height}+{self.x}+{self.y}"


class _ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class _XEvent(ctypes.Union):
    _fields_ = [("xclient", _ClientMessage), ("pad", ctypes.c_long * 24)]


class XServer:
    """Xvfb on the first free display number (it picks one itself and reports it), at 96 dpi, no
    window manager. Every tool runs against it with a UTF-8 locale, so that window titles come
    back as the bytes the console set."""

    def __init__(self, log_path, width=1280, height=1024):
        self.width, self.height = width, height
        read_end, write_end = os.pipe()
        self._log = open(log_path, "w")
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{width}x{height}x24",
             "-dpi", "96", "-nolisten", "tcp", "-fp", "built-ins"],
            pass_fds=(write_end,), stdout=self._log, stderr=self._log, preexec_fn=die_with_parent)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 15
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            readable, _, _ = select.select([read_end], [], [], 0.2)
            if readable:
                chunk = os.read(read_end, 16)
                if not chunk:
                    break
                number += chunk
        os.close(read_end)
        if not number.strip().isdigit():
            self.stop()
            raise Failure(f"Xvfb did not start (see {log_path})")
        self.display = ":" + number.strip().decode()
        self.env = dict(os.environ, DISPLAY=self.display, LC_ALL="C.UTF-8")
        self.env.pop("WAYLAND_DISPLAY", None)

    def stop(self):
        stop_process(self.process)
        self._log.close()

    def run(self, *args, check=True):
        result = subprocess.run(args, env=self.env, capture_output=True, timeout=15)
        if check and result.returncode != 0:
            raise Failure(f"{' '.join(args)} failed: {result.stderr.decode(errors='replace').strip()}")
        return result.stdout.decode(errors="replace")

    # Windows

    def find_windows(self, name_pattern):
        """Viewable windows whose title matches the regular expression (xdotool's search)."""
        out = self.run("xdotool", "search", "--onlyvisible", "--name", name_pattern, check=False)
        return [int(w) for w in out.split()]

    def window_name(self, wid):
        return self.run("xdotool", "getwindowname", str(wid)).rstrip("\n")

    def geometry(self, wid):
        out = self.run("xwininfo", "-id", str(wid))

        def field(label):
            m = re.search(rf"^\s*{label}:\s*(-?\d+)", out, re.M)
            return int(m.group(1))

        viewable = "Map State: IsViewable" in out
        return Geometry(field("Absolute upper-left X"), field("Absolute upper-left Y"),
                        field("Width"), field("Height"), viewable)

    def size_hints(self, wid):
        """The program's minimum and maximum size hints, as (w, h) pairs (None when absent)."""
        out = self.run("xwininfo", "-id", str(wid), "-size")

        def hint(label):
            m = re.search(rf"Program supplied {label} size: (\d+) by (\d+)", out)
            return (int(m.group(1)), int(m.group(2))) if m else None

        return hint("minimum"), hint("maximum")

    def top_level_windows(self):
        """Every viewable top-level window with its geometry: popup menus have no title to
        search for, so they are told apart by what is new."""
        out = self.run("xwininfo", "-root", "-children")
        ids = [int(m.group(1), 16) for m in re.finditer(r"^\s+(0x[0-9a-f]+) ", out, re.M)]
        windows = {}
        for wid in ids:
            try:
                g = self.geometry(wid)
            except Failure:
                continue  # gone in the meantime
            if g.viewable and g.width > 1 and g.height > 1:
                windows[wid] = g
        return windows

    # Input

    def focus(self, wid):
        self.run("xdotool", "windowfocus", "--sync", str(wid))

    def move(self, x, y):
        self.run("xdotool", "mousemove", "--sync", str(x), str(y))

    def click(self, x, y):
        self.move(x, y)
        self.run("xdotool", "click", "1")

    def key(self, *keys):
        self.run("xdotool", "key", "--clearmodifiers", *keys)

    def type(self, text):
        self.run("xdotool", "type", "--delay", "15", "--", text)

    def request_close(self, wid):
        """What a window manager does for the close box: a WM_DELETE_WINDOW client message."""
        xlib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        xlib.XOpenDisplay.restype = ctypes.c_void_p
        xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        xlib.XInternAtom.restype = ctypes.c_ulong
        xlib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        xlib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                    ctypes.POINTER(_XEvent)]
        xlib.XFlush.argtypes = [ctypes.c_void_p]
        xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        dpy = xlib.XOpenDisplay(self.display.encode())
        if not dpy:
            raise Failure(f"cannot open display {self.display}")
        try:
            event = _XEvent()
            event.xclient.type = 33  # ClientMessage
            event.xclient.window = wid
            event.xclient.message_type = xlib.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
            event.xclient.format = 32
            event.xclient.data[0] = xlib.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
            event.xclient.data[1] = 0  # CurrentTime
            xlib.XSendEvent(dpy, wid, 0, 0, ctypes.byref(event))
            xlib.XFlush(dpy)
        finally:
            xlib.XCloseDisplay(dpy)

    # Pictures

    def screenshot(self, path, geometry=None):
        """The screen, or the part of it that `geometry` covers (popups included)."""
        args = ["import", "-window", "root"]
        if geometry is not None:
            args += ["-crop", f"{geometry.width}x{geometry.height}+{geometry.x}+{geometry.y}", "+repage"]
        self.run(*args, path)

    def pixel(self, x, y):
        out = self.run("import", "-window", "root", "-crop", f"1x1+{x}+{y}", "-depth", "8", "txt:-")
        m = re.search(r"#([0-9A-Fa-f]{6})", out)
        if not m:
            raise Failure(f"cannot read the pixel at {x},{y}: {out!r}")
        value = int(m.group(1), 16)
        return value >> 16, (value >> 8) & 0xFF, value & 0xFF
