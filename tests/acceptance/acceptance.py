#!/usr/bin/env python3
"""Brindle on a real X display, driven the way an operator drives it.

Starts its own Xvfb (no window manager), the real `brindle` executable and `kestra-emu`, presses
keys and clicks menu entries with real X input, and checks byte for byte, from the emulator's
trace, what reached the device. Screenshots land in --out. Exit status: 0 all checks passed,
1 a check failed, 77 a tool is missing (CTest reports the test as skipped)."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import traceback
import xml.etree.ElementTree as ET

sys.dont_write_bytecode = True  # the helper modules sit in the source tree; leave it clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from kestra import Emulator, Exchange, command_frame, hex_bytes  # noqa: E402
from xdrive import Failure, Geometry, XServer, die_with_parent, missing_tools, wait_until  # noqa: E402

TITLE = "Kestraシリーズ Brindle Ver2.50"
DIALOG_TITLE = "IP Address Setting"
CLIENT_WIDTH, CLIENT_HEIGHT = 602, 414   # 9030 x 6210 twips at 96 dpi
DIALOG_WIDTH, DIALOG_HEIGHT = 288, 73    # 4320 x 1095 twips
RED = (255, 0, 0)
SKIPPED = 77

# The sample print text as the device must receive it: 16 lines joined by line feeds alone.
SAMPLE_PRINT = b"\n".join([
    b"2, 0, 23,Hello, World!", b" ", b"This is Kestra.", b" Rewritable Card R/W",
    b"  From Orvell, Velden.", b" ", b"/www.example.com/", b" ", b"You can use Kestra for...",
    b"* Point card", b"* Pre-Paid card", b"* Member's card", b"* Library ID Card",
    b"* Medical ID card", b"", b"......And more!!",
])
STRIPE_TEXT = "Brindle 2.50 acceptance #0123"
BIN_PARAMETER = "$41$FF$00x"

# The Com Setting menu: Port, Baud Rate, IP Address; the Port submenu: COM1 to COM9.
COM_SETTING_ENTRIES = 3
PORT_ENTRIES = 9
# The console re-enables its buttons right after it acknowledges the last response; leave it
# that moment before the next key, which a disabled button would ignore.
SETTLE_SECONDS = 0.2


def frame_differences(sent, expected):
    """Where the frames that arrived part from those expected, frame by frame."""
    lines = []
    for i in range(max(len(sent), len(expected))):
        got = sent[i] if i < len(sent) else None
        want = expected[i] if i < len(expected) else None
        if got == want:
            lines.append(f"  frame {i + 1}: as expected ({len(got)} bytes)")
        elif got is None or want is None:
            lines.append(f"  frame {i + 1}: " + ("missing, expected " + hex_bytes(want) if got is None
                                                   else "not expected: " + hex_bytes(got)))
        else:
            at = next((k for k in range(min(len(got), len(want))) if got[k] != want[k]), min(len(got), len(want)))
            lines.append(f"  frame {i + 1}: differs at byte {at}: got ...{hex_bytes(got[at:at + 12])} "
                         f"({len(got)} bytes), expected ...{hex_bytes(want[at:at + 12])} ({len(want)} bytes)")
    return "\n".join(lines)


class Form:
    """Control rectangles of a Designer form, relative to the form's client area. At 96 dpi one
    design pixel is one screen pixel, so these are where the controls appear."""

    def __init__(self, path):
        self.rects = {}
        top = ET.parse(path).getroot().find("widget")
        self._walk(top, 0, 0)

    def _walk(self, widget, ox, oy):
        for child in widget.findall("widget"):
            x, y = ox, oy
            rect = child.find("property[@name='geometry']/rect")
            if rect is not None:
                rx, ry, rw, rh = (int(rect.findtext(k)) for k in ("x", "y", "width", "height"))
                self.rects[child.get("name")] = Geometry(ox + rx, oy + ry, rw, rh)
                x, y = ox + rx, oy + ry
            self._walk(child, x, y)

    def __getitem__(self, name):
        return self.rects[name]


class Session:
    """One run of the console against its own emulator on the shared X server."""

    def __init__(self, x, args, name, emulator_args=()):
        self.x, self.args, self.name = x, args, name
        self.workdir = tempfile.mkdtemp(prefix=f"brindle-{name}-")
        self.emulator = Emulator(args.emulator, self.workdir, emulator_args)
        self.console = None
        self.main = None
        self.menubar = None
        self.main_form = Form(os.path.join(args.source, "source/console/frmMain.ui"))
        self.dialog_form = Form(os.path.join(args.source, "source/netaddress/frm_IP.ui"))

    def start(self):
        if not self.emulator.wait_ready():
            raise Failure("kestra-emu did not report ready")
        runtime = os.path.join(self.workdir, "runtime")
        os.mkdir(runtime, 0o700)
        env = dict(self.x.env, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=runtime,
                   PLENKO_COM1=self.emulator.pty_path, PLENKO_TCP_PORT=str(self.emulator.port))
        for scaling in ("QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_ENABLE_HIGHDPI_SCALING",
                        "QT_FONT_DPI", "QT_USE_PHYSICAL_DPI", "QT_AUTO_SCREEN_SCALE_FACTOR"):
            env.pop(scaling, None)
        if env.get("ASAN_OPTIONS"):
            # Under AddressSanitizer: libxkbcommon-x11 hands strndup() a keymap name that is not
            # NUL-terminated within its buffer, which strndup allows but the strict string check
            # reports while Qt's xcb plugin starts. Only the real display loads that library.
            env["ASAN_OPTIONS"] += ":strict_string_checks=0"
        self.log = open(os.path.join(self.workdir, "brindle.log"), "w")
        self.console = subprocess.Popen([self.args.brindle], env=env, stdout=self.log, stderr=self.log,
                                        preexec_fn=die_with_parent)

        def main_window():
            if self.console.poll() is not None:
                raise Failure(f"brindle ended at start with status {self.console.returncode}")
            found = self.x.find_windows(r"Brindle Ver2\.50$")
            return found[0] if len(found) == 1 else None

        self.main = wait_until(main_window, 30, "the main window")
        name = self.x.window_name(self.main)
        if name != TITLE:
            raise Failure(f"window title {name!r}, expected {TITLE!r}")

    def stop(self):
        if self.console is not None and self.console.poll() is None:
            self.console.kill()
            self.console.wait()
        self.emulator.stop()

    def logs(self):
        text = []
        for file in ("brindle.log", "emulator.err", "trace.log"):
            path = os.path.join(self.workdir, file)
            if os.path.exists(path):
                with open(path, errors="replace") as f:
                    text.append(f"--- {path} (last lines)\n" + "".join(f.readlines()[-25:]))
        return "\n".join(text)

    # Where things are on the screen

    def main_geometry(self):
        return self.x.geometry(self.main)

    def control_point(self, name):
        """The centre of a control of the main window, on the screen."""
        main = self.main_geometry()
        r = self.main_form[name]
        return main.x + r.x + r.width // 2, main.y + self.menubar + r.y + r.height // 2

    def click_control(self, name):
        self.x.click(*self.control_point(name))

    def new_popup(self, known, left, top):
        """The one new top-level window whose corner lies in the ranges `left` and `top`: a popup
        menu opens where its menu bar title or parent entry is. (Qt marks only the first showing
        of a popup as a menu for window managers, so the place is what tells it apart.)"""
        fresh = {w: g for w, g in self.x.top_level_windows().items()
                 if w not in known and left[0] <= g.x <= left[1] and top[0] <= g.y <= top[1]}
        return next(iter(fresh.items())) if len(fresh) == 1 else None

    def choose_menu(self, entry, sub_entry=None, picture=None):
        """Com Setting, then its entry number `entry` (0 = Port, 2 = IP Address) and, for Port,
        the submenu entry `sub_entry` (0 = COM1), all with the mouse."""
        main = self.main_geometry()
        known = set(self.x.top_level_windows())
        self.x.click(main.x + 30, main.y + 8)  # "Com Setting", the menu bar's one title
        popup_id, popup = wait_until(
            lambda: self.new_popup(known, (main.x - 5, main.x + 60), (main.y + 5, main.y + 80)),
            10, "the Com Setting menu")
        # The menu opens right under the menu bar: that gives the bar's height.
        self.menubar = popup.y - main.y
        known.add(popup_id)
        self.x.click(*popup.point(0.5, (2 * entry + 1) / (2 * COM_SETTING_ENTRIES)))
        menus = {popup_id}
        if sub_entry is not None:
            sub_id, sub = wait_until(
                lambda: self.new_popup(known, (popup.x + popup.width // 2, popup.x + popup.width + 20),
                                       (popup.y - 10, popup.y + popup.height)),
                10, "the Port submenu")
            if sub.height <= 2 * popup.height:
                raise Failure(f"the Port submenu ({sub}) is not three times as tall as Com Setting ({popup})")
            if picture:
                left, top = main.x, main.y
                right = max(main.x + main.width, sub.x + sub.width)
                bottom = max(main.y + main.height, sub.y + sub.height)
                self.x.screenshot(picture, Geometry(left, top, right - left, bottom - top))
            menus.add(sub_id)
            self.x.click(*sub.point(0.5, (2 * sub_entry + 1) / (2 * PORT_ENTRIES)))
        wait_until(lambda: not menus & set(self.x.top_level_windows()), 10, "the menus to close")

    # Actions with their checks

    def press(self, keys, link, expected, timeout=20):
        """Presses `keys` in the main window and checks that exactly `expected` (command code and
        parameter pairs) reached the emulator on `link`, each answered and acknowledged."""
        frames = [command_frame(code, parameter) for code, parameter in expected]
        exchange = Exchange(self.emulator, link)
        self.x.focus(self.main)
        self.x.key(keys)
        wait_until(lambda: exchange.complete(len(frames)) or len(exchange.sent_frames()) > len(frames),
                   timeout, f"{len(frames)} command(s) after {keys}")
        sent = exchange.sent_frames()
        if sent != frames:
            raise Failure(f"after {keys} the emulator received on {link}:\n" + frame_differences(sent, frames))
        time.sleep(SETTLE_SECONDS)

    def darkest(self, geometry):
        """The darkest grey in a screen rectangle, 0 (black) to 1: a button's caption is black
        while it is enabled and grey while it is disabled."""
        out = self.x.run("import", "-window", "root", "-crop",
                         f"{geometry.width}x{geometry.height}+{geometry.x}+{geometry.y}",
                         "-colorspace", "gray", "-format", "%[fx:minima]", "info:")
        return float(out.strip())

    def set_address(self, octets, pictures=False):
        """Opens the address dialog from the menu, types the four parts and presses Set. Each
        box is first given 256, so that it turns red: that proves the keys reach that box before
        the real value goes in, and Set is never pressed on an address that was not typed."""
        self.choose_menu(2)
        dialog = wait_until(lambda: (self.x.find_windows(f"^{DIALOG_TITLE}$") or [None])[0], 10,
                            "the IP Address Setting dialog")
        g = self.x.geometry(dialog)
        if (g.width, g.height) != (DIALOG_WIDTH, DIALOG_HEIGHT):
            raise Failure(f"dialog client area {g.width}x{g.height}, expected {DIALOG_WIDTH}x{DIALOG_HEIGHT}")
        out = self.args.out
        if pictures:
            self.x.screenshot(os.path.join(out, "dialog-open.png"), g)
        form = self.dialog_form
        set_button = form["cmd_IPSet"]
        set_rect = Geometry(g.x + set_button.x + 4, g.y + set_button.y + 4, set_button.width - 8, set_button.height - 8)
        self.x.focus(dialog)
        for n, value in enumerate(octets, 1):
            r = form[f"txt_IP{n}"]
            centre = (g.x + r.x + r.width // 2, g.y + r.y + r.height // 2)
            probe = (g.x + r.x + r.width - 5, g.y + r.y + r.height // 2)
            self.x.click(*centre)
            self.x.key("ctrl+a")
            self.x.type("256")
            wait_until(lambda: self.x.pixel(*probe) == RED, 10, f"txt_IP{n} to turn red for 256")
            wait_until(lambda: self.darkest(set_rect) > 0.4, 5, f"Set to grey out while txt_IP{n} holds 256")
            if pictures and n == 1:
                self.x.screenshot(os.path.join(out, "dialog-refused.png"), g)
            self.x.key("ctrl+a")
            self.x.type(str(value))
            wait_until(lambda: self.x.pixel(*probe) != RED, 10, f"txt_IP{n} to lose its red for {value}")
        wait_until(lambda: self.darkest(set_rect) < 0.2, 10, "Set to be enabled")
        if pictures:
            self.x.screenshot(os.path.join(out, "dialog.png"), g)
        exchange = Exchange(self.emulator, "tcp")
        self.x.click(g.x + set_button.x + set_button.width // 2, g.y + set_button.y + set_button.height // 2)
        address = ".".join(str(o) for o in octets)
        wait_until(lambda: any(e.startswith(f"connected from {address}:") for e in exchange.events()), 10,
                   f"a TCP connection from {address}")
        wait_until(lambda: not self.x.find_windows(f"^{DIALOG_TITLE}$"), 10, "the dialog to close after Set")
        return exchange.since()[0].link

    def wait_exit(self, seconds=15):
        try:
            return self.console.wait(seconds)
        except subprocess.TimeoutExpired:
            raise Failure(f"brindle still runs {seconds} s after the close")


class Suite:
    def __init__(self):
        self.passed, self.failed = 0, 0

    def check(self, name, action):
        try:
            action()
        except Failure as failure:
            self.failed += 1
            print(f"FAIL {name}: {failure}", flush=True)
            return False
        except Exception:  # a fault of the driver itself counts as a failure too
            self.failed += 1
            print(f"FAIL {name}: driver error\n{traceback.format_exc()}", flush=True)
            return False
        self.passed += 1
        print(f"PASS {name}", flush=True)
        return True

    def run_all(self, name, checks):
        """Runs checks in order; each builds on the state the previous left, so the first failure
        ends the sequence."""
        for check_name, action in checks:
            if not self.check(f"{name}: {check_name}", action):
                return False
        return True


def operator_session(suite, x, args):
    """Menu to COM1, the card buttons by access key, a BIN free command, the address dialog, a
    command over TCP, Alt+Q."""
    s = Session(x, args, "operator")
    out = args.out
    state = {}

    def start():
        s.start()
        x.screenshot(os.path.join(out, "main-start.png"), s.main_geometry())

    def com1():
        s.choose_menu(0, 0, picture=os.path.join(out, "menu-port.png"))

    def window_geometry():
        g = s.main_geometry()
        if g.width != CLIENT_WIDTH or g.height - s.menubar != CLIENT_HEIGHT:
            raise Failure(f"window {g.width}x{g.height} with a {s.menubar}-pixel menu bar: client area "
                          f"{g.width}x{g.height - s.menubar}, expected {CLIENT_WIDTH}x{CLIENT_HEIGHT}")
        if not 10 <= s.menubar <= 60:
            raise Failure(f"implausible menu bar height {s.menubar}")
        minimum, maximum = x.size_hints(s.main)
        if minimum != (g.width, g.height) or maximum != (g.width, g.height):
            raise Failure(f"size hints min {minimum} max {maximum}: the size is not fixed at {g.width}x{g.height}")
        centre = ((x.width - g.width) // 2, (x.height - g.height) // 2)
        if abs(g.x - centre[0]) > 1 or abs(g.y - centre[1]) > 1:
            raise Failure(f"window at {g.x},{g.y}, the centre of the screen puts it at {centre}")

    def rewrite():
        s.press("alt+e", "pty", [(0x41, SAMPLE_PRINT), (0x46, b"1")])
        surface = wait_until(lambda: os.path.exists(s.emulator.surface_path) and s.emulator.surface_path, 10,
                             "the card's surface picture")
        shutil.copy(surface, os.path.join(out, "card-surface.png"))

    def magnetic_write():
        # The focus starts in the command box; Tab moves on to the parameter box.
        x.key("Tab")
        x.type(STRIPE_TEXT)
        s.press("alt+w", "pty", [(0x39, STRIPE_TEXT.encode()), (0x31, b"2"), (0x50, b"1")])

    def bin_command():
        s.click_control("opt_Bin")
        s.click_control("txt_UserParameter")
        x.key("ctrl+a")
        x.type(BIN_PARAMETER)
        s.click_control("txt_UserCommand")
        x.key("ctrl+a")
        x.type("41")
        s.press("alt+s", "pty", [(0x41, b"\x41\xff\x00x")])
        x.screenshot(os.path.join(out, "main-bin.png"), s.main_geometry())

    def address():
        state["link"] = s.set_address((127, 0, 0, 1), pictures=True)

    def over_tcp():
        s.press("alt+s", state["link"], [(0x41, b"\x41\xff\x00x")])
        x.screenshot(os.path.join(out, "main-tcp.png"), s.main_geometry())

    def alt_q():
        exchange = Exchange(s.emulator, state["link"])
        x.focus(s.main)
        x.key("alt+q")
        status = s.wait_exit()
        if status != 0:
            raise Failure(f"brindle ended with status {status}")
        wait_until(lambda: "closed" in exchange.events(), 10, f"the emulator to see {state['link']} closed")

    try:
        ok = suite.run_all("operator", [
            ("the main window appears with its title", start),
            ("Com Setting > Port > COM1 with the mouse", com1),
            ("client area 602 x 414 below the menu bar, fixed size, centred", window_geometry),
            ("Alt+E sends the sample print data and the rewrite over COM1", rewrite),
            ("Alt+W writes the typed parameter to the stripe and ejects", magnetic_write),
            ("BIN ticked, command 41, Alt+S sends the escapes as bytes", bin_command),
            ("IP Address dialog: red on 256, 127.0.0.1, Set connects over TCP", address),
            ("Alt+S reaches the emulator over TCP after Set", over_tcp),
            ("Alt+Q ends the program with status 0 and closes the link", alt_q),
        ])
        if not ok:
            print(s.logs())
    finally:
        s.stop()
        if suite.failed == 0:
            shutil.rmtree(s.workdir, ignore_errors=True)


def close_box_session(suite, x, args):
    """The close box pressed while a command waits for a device that never answers."""
    s = Session(x, args, "closebox", emulator_args=("--fault", "silent"))
    state = {}

    def start():
        s.start()
        state["link"] = s.set_address((127, 0, 0, 1))

    def waiting_command():
        exchange = Exchange(s.emulator, state["link"])
        x.focus(s.main)
        x.type("22")  # the focus is back in the command box
        x.key("alt+s")
        wait_until(lambda: exchange.sent_frames(), 10, "the magnetic read to reach the emulator")
        if exchange.sent_frames() != [command_frame(0x22)]:
            raise Failure(f"received {[hex_bytes(f) for f in exchange.sent_frames()]}, expected 02 00 01 22 03 20")

    def cancel_and_resend():
        # Alt+C abandons the command and gives the buttons back, so Alt+S can send it again.
        exchange = Exchange(s.emulator, state["link"])
        x.key("alt+c")
        time.sleep(SETTLE_SECONDS)
        x.key("alt+s")
        wait_until(lambda: exchange.sent_frames(), 10, "the magnetic read to be sent again after Alt+C")
        if exchange.sent_frames() != [command_frame(0x22)]:
            raise Failure(f"received {[hex_bytes(f) for f in exchange.sent_frames()]}, expected 02 00 01 22 03 20")

    def close_box():
        exchange = Exchange(s.emulator, state["link"])
        x.request_close(s.main)
        status = s.wait_exit()
        if status != 0:
            raise Failure(f"brindle ended with status {status}")
        wait_until(lambda: "closed" in exchange.events(), 10, f"the emulator to see {state['link']} closed")

    try:
        ok = suite.run_all("close box", [
            ("the window appears and connects to 127.0.0.1", start),
            ("a magnetic read waits for a silent device", waiting_command),
            ("Alt+C ends the wait; Alt+S sends the command again", cancel_and_resend),
            ("the close box ends the program with status 0 and closes the link", close_box),
        ])
        if not ok:
            print(s.logs())
    finally:
        s.stop()
        if suite.failed == 0:
            shutil.rmtree(s.workdir, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--brindle", required=True, help="the brindle executable")
    parser.add_argument("--emulator", required=True, help="the kestra-emu executable")
    parser.add_argument("--source", required=True, help="the source tree (for the form layouts)")
    parser.add_argument("--out", required=True, help="folder for the screenshots")
    args = parser.parse_args()

    missing = missing_tools()
    if missing:
        print(f"SKIP: missing {', '.join(missing)} (scripts/deps.sh --test installs them)")
        return SKIPPED
    os.makedirs(args.out, exist_ok=True)
    for old in os.listdir(args.out):
        if old.endswith(".png"):
            os.remove(os.path.join(args.out, old))

    started = time.monotonic()
    suite = Suite()
    x = XServer(os.path.join(args.out, "xvfb.log"))
    try:
        print(f"Xvfb on {x.display}; screenshots in {args.out}", flush=True)
        operator_session(suite, x, args)
        close_box_session(suite, x, args)
    finally:
        x.stop()
    print(f"took {time.monotonic() - started:.1f} s")
    print(f"acceptance: {suite.passed} passed, {suite.failed} failed")
    return 0 if suite.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
