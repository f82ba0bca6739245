#!/usr/bin/env python3
"""Brindle native on Wayland: Weston with its headless back end, the console with
QT_QPA_PLATFORM=wayland and no X display, driven through its accessibility tree (there is no X
input to send). The window must reach the compositor as a Wayland toplevel with its fixed size,
a command must reach kestra-emu over the pseudo-terminal, and the address dialog must connect
over TCP. Exit status: 0 passed, 1 a check failed, 77 a package is missing (skipped)."""

import argparse
import glob
import os
import re
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import a11ytree  # noqa: E402
from acceptance import CLIENT_HEIGHT, CLIENT_WIDTH, DIALOG_TITLE, TITLE, Suite  # noqa: E402
from kestra import Emulator, Exchange, command_frame, hex_bytes  # noqa: E402
from xdrive import Failure, print_log_tails, die_with_parent, stop_process, wait_until  # noqa: E402

SOCKET = "brindle-wayland-0"


def wayland_plugin():
    return glob.glob("/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so")


class Weston:
    """weston --backend=headless-backend.so on a socket of its own in a private runtime folder."""

    def __init__(self, workdir):
        self.runtime = os.path.join(workdir, "wayland-runtime")
        os.mkdir(self.runtime, 0o700)
        self.log = open(os.path.join(workdir, "weston.log"), "w")
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime)
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        self.process = subprocess.Popen(
            ["weston", "--backend=headless-backend.so", f"--socket={SOCKET}", "--width=1280", "--height=1024",
             "--idle-time=0"], env=env, stdout=self.log, stderr=self.log, preexec_fn=die_with_parent)
        wait_until(lambda: os.path.exists(os.path.join(self.runtime, SOCKET)) or self.process.poll() is not None,
                   15, "Weston's socket")
        if self.process.poll() is not None:
            raise Failure(f"weston ended at start with status {self.process.returncode}")

    def stop(self):
        stop_process(self.process)
        self.log.close()


class ProtocolLog:
    """The console's side of the Wayland protocol (WAYLAND_DEBUG=client on its standard error)."""

    def __init__(self, path):
        self.path = path

    def requests(self, name):
        """The arguments of every request `name` (e.g. xdg_toplevel.set_max_size), in order, per object."""
        with open(self.path, errors="replace") as f:
            text = f.read()
        pattern = re.compile(r"-> (xdg_toplevel@\d+)\." + re.escape(name) + r"\((.*)\)$", re.M)
        return [(m.group(1), m.group(2)) for m in pattern.finditer(text)]

    def toplevel(self, title):
        """The toplevel object that was given this title."""
        for obj, args in self.requests("set_title"):
            if args == f'"{title}"':
                return obj
        return None

    def size_hints(self, obj):
        def last(name):
            values = [args for o, args in self.requests(name) if o == obj]
            return tuple(int(v) for v in values[-1].split(", ")) if values else None
        return last("set_min_size"), last("set_max_size")


def session(suite, args):
    workdir = tempfile.mkdtemp(prefix="brindle-wayland-")
    weston = Weston(workdir)
    emulator = Emulator(args.emulator, workdir)
    console = None
    state = {}
    try:
        if not emulator.wait_ready():
            raise Failure("kestra-emu did not report ready")
        env = a11ytree.program_env(dict(os.environ, QT_QPA_PLATFORM="wayland", WAYLAND_DISPLAY=SOCKET,
                                        XDG_RUNTIME_DIR=weston.runtime, WAYLAND_DEBUG="client",
                                        PLENKO_COM1=emulator.pty_path, PLENKO_TCP_PORT=str(emulator.port)))
        env.pop("DISPLAY", None)  # no X11 to fall back to
        log_path = os.path.join(workdir, "brindle.log")
        log = open(log_path, "w")
        console = subprocess.Popen([args.brindle], env=env, stdout=log, stderr=log, preexec_fn=die_with_parent)
        protocol = ProtocolLog(log_path)
        tree = a11ytree.Tree(console.pid)

        def native():
            state["main"] = tree.window(TITLE)
            state["toplevel"] = wait_until(lambda: protocol.toplevel(TITLE), 10, "an xdg_toplevel titled " + TITLE)

        def fixed_size():
            minimum, maximum = protocol.size_hints(state["toplevel"])
            if minimum is None or minimum != maximum:
                raise Failure(f"size hints min {minimum} max {maximum}: the compositor may resize the window")
            width, height = minimum
            if width != CLIENT_WIDTH or not 10 <= height - CLIENT_HEIGHT <= 60:
                raise Failure(f"fixed size {width}x{height}, expected {CLIENT_WIDTH} x {CLIENT_HEIGHT} plus a menu bar")
            state["size"] = minimum
            if tree.size(state["main"]) != minimum:
                raise Failure(f"the window reports {tree.size(state['main'])}, the compositor was told {minimum}")

        def command():
            tree.press(tree.find(state["main"], "menu item", "COM1"))
            wait_until(lambda: [n for n in tree.walk(state["main"]) if n.getRoleName() == "label"
                                and n.name == "Setting:="], 10, "the label Setting:= after COM1")
            exchange = Exchange(emulator, "pty")
            tree.press(tree.find(state["main"], "push button", "バッファ消去"))
            wait_until(lambda: exchange.complete(1), 20, "the buffer clear frame")
            if exchange.sent_frames() != [command_frame(0x49)]:
                raise Failure(f"received {[hex_bytes(f) for f in exchange.sent_frames()]}, expected 02 00 01 49 03 4b")

        def address_dialog():
            tree.press(tree.find(state["main"], "menu item", "IP Address"))
            window = tree.window(DIALOG_TITLE, 10)
            wait_until(lambda: protocol.toplevel(DIALOG_TITLE), 10, "an xdg_toplevel for the address dialog")
            for n, part in enumerate(("127", "0", "0", "1"), 1):
                tree.set_text(tree.find(window, "text", f"IP Address part {n}"), part)
            exchange = Exchange(emulator, "tcp")
            tree.press(tree.find(window, "push button", "Set"))
            wait_until(lambda: any(e.startswith("connected from 127.0.0.1:") for e in exchange.events()), 10,
                       "a TCP connection after Set")
            read = Exchange(emulator, "tcp")
            tree.press(tree.find(state["main"], "push button", "磁気リード"))
            wait_until(lambda: read.complete(1), 20, "the magnetic read over TCP")
            if read.sent_frames() != [command_frame(0x22)]:
                raise Failure(f"received {[hex_bytes(f) for f in read.sent_frames()]}, expected 02 00 01 22 03 20")

        def still_fixed():
            if protocol.size_hints(state["toplevel"]) != (state["size"], state["size"]):
                raise Failure(f"size hints now {protocol.size_hints(state['toplevel'])}")
            if tree.size(state["main"]) != state["size"]:
                raise Failure(f"the window is now {tree.size(state['main'])}, was {state['size']}")

        ok = suite.run_all("wayland", [
            ("the window comes up as a Wayland toplevel with its title", native),
            ("its minimum and maximum size are one: 602 wide, 414 plus the menu bar high", fixed_size),
            ("COM1 from the menu; buffer clear reaches the emulator over the pseudo-terminal", command),
            ("the address dialog is a toplevel too; Set connects; magnetic read goes over TCP", address_dialog),
            ("the window keeps its size", still_fixed),
        ])
        if not ok:
            print_log_tails(workdir, ("weston.log", "trace.log"))
            lines = [line for line in open(log_path, errors="replace") if "@" not in line]
            print(f"--- {log_path} (without protocol lines)\n" + "".join(lines[-40:]))
    finally:
        if console is not None and console.poll() is None:
            console.kill()
            console.wait()
        emulator.stop()
        weston.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--brindle", required=True)
    parser.add_argument("--emulator", required=True)
    args = parser.parse_args()

    missing = a11ytree.missing_packages(("weston",))
    if not wayland_plugin():
        missing.append("qt6-wayland")
    if missing:
        print(f"SKIP: missing {', '.join(missing)} (scripts/deps.sh --test installs them)")
        return a11ytree.SKIPPED
    if not os.environ.get(a11ytree.BUS_MARK):
        return a11ytree.run_on_private_bus(os.path.abspath(__file__), sys.argv[1:])

    started = time.monotonic()
    suite = Suite()
    session(suite, args)
    print(f"took {time.monotonic() - started:.1f} s")
    print(f"wayland: {suite.passed} passed, {suite.failed} failed")
    return 0 if suite.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
