"""The accessibility side of the real-display suites: the program's AT-SPI tree as a screen reader
reads it, through pyatspi on a private D-Bus session. Controls are found by role and name, never
by position; buttons are pressed through their accessible action and text is read and written
through the text interfaces, so this works on X11 and on Wayland alike.

pyatspi is a Debian package (python3-pyatspi) that the Debian interpreter sees; the driver may run
under another python3 first. `interpreter()` names one that has it, `run_on_private_bus()` starts
the driver again under dbus-run-session, where at-spi-bus-launcher and the registry are started on
demand."""

import os
import shutil
import subprocess
import sys
import tempfile

from xdrive import Failure, wait_until

BUS_MARK = "BRINDLE_A11Y_BUS"
SKIPPED = 77
# Controls that take or show text, or are pressed: each must have a name a screen reader speaks.
NAMED_ROLES = ("push button", "text", "check box", "radio button")
ACTION_NAMES = ("Press", "press", "click", "Toggle")


def interpreter():
    """A Python interpreter that can import pyatspi, or None."""
    for candidate in (sys.executable, "/usr/bin/python3"):
        if candidate and os.path.exists(candidate):
            probe = subprocess.run([candidate, "-c", "import pyatspi"], capture_output=True)
            if probe.returncode == 0:
                return candidate
    return None


def missing_packages(extra_tools=()):
    """What stops an accessibility run here, as the Debian packages to install."""
    missing = []
    if shutil.which("dbus-run-session") is None:
        missing.append("dbus (dbus-run-session)")
    if not any(os.path.exists(p) for p in ("/usr/libexec/at-spi-bus-launcher",
                                           "/usr/lib/at-spi2-core/at-spi-bus-launcher")):
        missing.append("at-spi2-core (at-spi-bus-launcher)")
    if interpreter() is None:
        missing.append("python3-pyatspi")
    missing += [tool for tool in extra_tools if shutil.which(tool) is None]
    return missing


def run_on_private_bus(script, argv):
    """Runs `script` again on its own session bus; returns its exit status. Inside that run
    BUS_MARK is set, so the script knows it is there."""
    env = dict(os.environ, **{BUS_MARK: "1"})
    # Nothing of a desktop the run may have been started from: its display, its accessibility bus.
    for variable in ("DISPLAY", "WAYLAND_DISPLAY", "AT_SPI_BUS_ADDRESS", "DBUS_SESSION_BUS_ADDRESS"):
        env.pop(variable, None)
    # The accessibility bus's socket goes under XDG_RUNTIME_DIR, else under ~/.cache/at-spi, one
    # path for every run of this user: two runs at once (CTest runs tests side by side) would take
    # that socket from each other. Each run gets a runtime folder of its own.
    with tempfile.TemporaryDirectory(prefix="a11y-runtime-") as runtime:
        os.chmod(runtime, 0o700)
        env["XDG_RUNTIME_DIR"] = runtime
        return subprocess.call(["dbus-run-session", "--", interpreter(), script, *argv], env=env)


def program_env(env):
    """`env` for the program under test: it publishes its tree without a desktop's settings.
    Under AddressSanitizer the strict string check is left out, as in the X11 suite: the keyboard
    library that Qt loads for a display hands strndup() a legal but unterminated buffer."""
    env = dict(env, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    for scaling in ("QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_FONT_DPI"):
        env.pop(scaling, None)
    if env.get("ASAN_OPTIONS"):
        env["ASAN_OPTIONS"] += ":strict_string_checks=0"
    return env


class Tree:
    """The tree of one running program, found by its process id."""

    def __init__(self, pid):
        import pyatspi  # only here: the module is on the Debian interpreter only
        self.pyatspi = pyatspi
        self.pid = pid

    def application(self):
        desktop = self.pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            try:
                if app is not None and app.get_process_id() == self.pid:
                    return app
            except Exception:  # an application that went away in the meantime
                continue
        return None

    def window(self, title, seconds=30):
        """The top-level window (frame) with this title."""
        def find():
            app = self.application()
            if app is None:
                return None
            for i in range(app.childCount):
                child = app.getChildAtIndex(i)
                if child is not None and child.name == title:
                    return child
            return None
        return wait_until(find, seconds, f"the window {title!r} in the accessibility tree")

    @staticmethod
    def walk(node):
        """Every node below `node`, depth first, in the tree's order."""
        for i in range(node.childCount):
            child = node.getChildAtIndex(i)
            if child is None:
                continue
            yield child
            yield from Tree.walk(child)

    def controls(self, window, roles=NAMED_ROLES):
        return [n for n in self.walk(window) if n.getRoleName() in roles]

    def find(self, window, role, name, index=0):
        found = [n for n in self.walk(window) if n.getRoleName() == role and n.name == name]
        if len(found) <= index:
            raise Failure(f"no {role} named {name!r} (#{index + 1}) in {window.name!r}")
        return found[index]

    def press(self, node):
        """Carries out the control's own action (what a screen reader's "activate" does)."""
        action = node.queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        for wanted in ACTION_NAMES:
            if wanted in names:
                action.doAction(names.index(wanted))
                return
        raise Failure(f"{node.getRoleName()} {node.name!r} offers no press action, only {names}")

    @staticmethod
    def text(node):
        return node.queryText().getText(0, -1)

    @staticmethod
    def set_text(node, value):
        node.queryEditableText().setTextContents(value)

    @staticmethod
    def size(node):
        extents = node.queryComponent().getExtents(0)  # 0: screen coordinates
        return extents.width, extents.height
