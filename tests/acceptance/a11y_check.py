#!/usr/bin/env python3
"""Brindle as a screen reader meets it: the real program on its own Xvfb and D-Bus session,
driven only through its AT-SPI accessibility tree (pyatspi).

Every push button, text box, check box and option button of the main window and the address
dialog must have a name, the text boxes the names of the labels beside them; buffer clear and
magnetic read pressed through their accessible action must put their frames on the emulator's
wire, and the response boxes read through the tree must hold what the device answered. Exit
status: 0 all checks passed, 1 a check failed, 77 a package is missing (reported as skipped)."""

import argparse
import os
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import a11ytree  # noqa: E402
from acceptance import TITLE, DIALOG_TITLE, Suite  # noqa: E402
from kestra import Emulator, Exchange, command_frame, hex_bytes  # noqa: E402
from xdrive import Failure, print_log_tails, XServer, die_with_parent, wait_until  # noqa: E402

# What a screen reader speaks for each text box: the name of the label beside it (two are
# "Command": the free command's code and the response's), and the heading as its description.
TEXT_BOXES = [("Command", "Any Command"), ("Parameter", "Any Command"),
              ("Time Out ( Invalid when 0ms )", "Any Command"), ("Command", "Response"),
              ("Kestra Response", "Response"), ("Data from Kestra", "Response"), ("RsCom", "Response")]
DIALOG_BOXES = ["IP Address part 1", "IP Address part 2", "IP Address part 3", "IP Address part 4"]
CLEAR, MAGNETIC_READ = "バッファ消去", "磁気リード"


def expected_boxes(response_body, code):
    """The four response boxes as the window shows them for a response frame's body."""
    status, data = response_body[0], response_body[1:]
    return {"Command": f"&h {code:X}", "Kestra Response": f"&H {status:X}",
            "Data from Kestra": data.decode("cp932", errors="replace"),
            "RsCom": "0" if status == 0x20 else "-1"}


def session(suite, x, args):
    workdir = tempfile.mkdtemp(prefix="brindle-a11y-")
    emulator = Emulator(args.emulator, workdir)
    console = None
    state = {}
    try:
        if not emulator.wait_ready():
            raise Failure("kestra-emu did not report ready")
        runtime = os.path.join(workdir, "runtime")
        os.mkdir(runtime, 0o700)
        env = a11ytree.program_env(dict(x.env, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=runtime,
                                        PLENKO_COM1=emulator.pty_path, PLENKO_TCP_PORT=str(emulator.port)))
        log = open(os.path.join(workdir, "brindle.log"), "w")
        console = subprocess.Popen([args.brindle], env=env, stdout=log, stderr=log, preexec_fn=die_with_parent)
        tree = a11ytree.Tree(console.pid)

        def names():
            main = state["main"] = tree.window(TITLE)
            nameless = [n.getRoleName() for n in tree.controls(main) if not n.name.strip()]
            if nameless:
                raise Failure(f"nameless controls: {nameless}")
            counts = {role: len(tree.controls(main, (role,))) for role in a11ytree.NAMED_ROLES}
            if counts != {"push button": 12, "text": 7, "check box": 1, "radio button": 2}:
                raise Failure(f"controls by role {counts}, expected 12 push buttons, 7 text boxes, "
                              "1 check box, 2 radio buttons")
            boxes = [(n.name, n.description) for n in tree.controls(main, ("text",))]
            if sorted(boxes) != sorted(TEXT_BOXES):
                raise Failure(f"text boxes (name, description) {boxes}, expected {TEXT_BOXES}")

        def dsr_group():
            group = tree.find(state["main"], "panel", "DSR Check")
            members = [(n.getRoleName(), n.name) for n in tree.walk(group)]
            if members != [("radio button", "Check"), ("radio button", "No Check")]:
                raise Failure(f"the DSR Check group holds {members}")

        def connect():
            tree.press(tree.find(state["main"], "menu item", "COM1"))
            # The connection labels are rewritten last, once the link is started.
            wait_until(lambda: [n for n in tree.walk(state["main"]) if n.getRoleName() == "label"
                                and n.name == "Setting:="], 10, "the label Setting:= after COM1")

        def press_and_check(name, code):
            exchange = Exchange(emulator, "pty")
            tree.press(tree.find(state["main"], "push button", name))
            wait_until(lambda: exchange.complete(1), 20, f"the frame of {name}")
            sent = exchange.sent_frames()
            if sent != [command_frame(code)]:
                raise Failure(f"{name} put {[hex_bytes(f) for f in sent]} on the wire, "
                              f"expected {hex_bytes(command_frame(code))}")
            response = [e.data for e in exchange.since() if e.direction == "out" and e.kind == "frame"][-1]
            want = expected_boxes(response[3:-2], code)
            main = state["main"]

            def shown():
                boxes = {n.description + ":" + n.name: tree.text(n) for n in tree.controls(main, ("text",))}
                return {name: boxes["Response:" + name] for name in want}
            wait_until(lambda: shown() == want, 10, f"the response boxes to read {want} (they read {shown()})")

        def dialog():
            tree.press(tree.find(state["main"], "menu item", "IP Address"))
            window = tree.window(DIALOG_TITLE, 10)
            boxes = [n.name for n in tree.controls(window, ("text",))]
            buttons = [n.name for n in tree.controls(window, ("push button",))]
            if boxes != DIALOG_BOXES or buttons != ["Set"]:
                raise Failure(f"address dialog: text boxes {boxes}, buttons {buttons}")
            # A part out of range: the red box says so in its description, and Set is unavailable.
            first, set_button = tree.find(window, "text", boxes[0]), tree.find(window, "push button", "Set")
            tree.set_text(first, "256")
            wait_until(lambda: first.description.startswith("not accepted") and not set_button.getState().contains(
                tree.pyatspi.STATE_SENSITIVE), 10, "part 1 to be refused for 256 and Set to be unavailable")
            for box, part in zip(boxes, ("127", "0", "0", "1")):
                tree.set_text(tree.find(window, "text", box), part)
            wait_until(lambda: not first.description, 10, "part 1 to lose its refusal")
            exchange = Exchange(emulator, "tcp")
            tree.press(tree.find(window, "push button", "Set"))
            wait_until(lambda: any(e.startswith("connected from 127.0.0.1:") for e in exchange.events()), 10,
                       "a TCP connection after Set")

        ok = suite.run_all("accessibility", [
            ("every push button, text box, check box and option button has a name", names),
            ("the DSR choice is a group named DSR Check", dsr_group),
            ("Com Setting > Port > COM1 through its menu item's action", connect),
            ("buffer clear pressed through the tree puts 49 on the wire", lambda: press_and_check(CLEAR, 0x49)),
            ("magnetic read pressed through the tree; the boxes read what the device answered",
             lambda: press_and_check(MAGNETIC_READ, 0x22)),
            ("address dialog: named boxes, 256 refused aloud; 127.0.0.1 typed and Set pressed", dialog),
        ])
        if not ok:
            print_log_tails(workdir, ("brindle.log", "trace.log"))
    finally:
        if console is not None and console.poll() is None:
            console.kill()
            console.wait()
        emulator.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--brindle", required=True)
    parser.add_argument("--emulator", required=True)
    parser.add_argument("--out", required=True, help="folder for the X server's log")
    args = parser.parse_args()

    missing = a11ytree.missing_packages(("Xvfb",))
    if missing:
        print(f"SKIP: missing {', '.join(missing)} (scripts/deps.sh --test installs them)")
        return a11ytree.SKIPPED
    if not os.environ.get(a11ytree.BUS_MARK):
        return a11ytree.run_on_private_bus(os.path.abspath(__file__), sys.argv[1:])

    os.makedirs(args.out, exist_ok=True)
    suite = Suite()
    x = XServer(os.path.join(args.out, "xvfb-a11y.log"))
    try:
        session(suite, x, args)
    finally:
        x.stop()
    print(f"accessibility: {suite.passed} passed, {suite.failed} failed")
    return 0 if suite.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
