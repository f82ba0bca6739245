#!/usr/bin/env python3
"""Builds the Debian package from a finished build, has lintian check it, unpacks it into a scratch
root (dpkg -x) and runs each program's --version from there. lintian may report no error, and no
warning beyond those packaging/lintian-warnings.md lists with the reason each stays."""

import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

import install_check

SKIP = 77
# Each program in the package answers --version with "NAME VERSION" and then Qt's version.
# brindle learns --version with its own command line; until then its run is reported, not
# failed. Take it out of this set once it answers (and kestra-send, a program this package
# does not yet hold, is checked as soon as it is in bin/).
# Every program the package must carry; each answers --version without a display.
PROGRAMS = {"brindle", "kestra-emu", "kestra-send", "kestra-journal"}


def listed_warnings(path):
    """The lintian tags that packaging/lintian-warnings.md lists: each as `tag-name` at a line's start."""
    with open(path, encoding="utf-8") as text:
        return set(re.findall(r"^[-*] `([a-z0-9][a-z0-9+.-]*)`", text.read(), re.M))


def run_lintian(deb, allowed, failures):
    if shutil.which("lintian") is None:
        return "lintian not installed (scripts/deps.sh --test installs it): the package was not checked"
    result = subprocess.run(["lintian", "--tag-display-limit", "0", deb], capture_output=True, text=True, timeout=600)
    print(result.stdout, end="")
    for line in result.stdout.splitlines():
        m = re.match(r"^([EW]): [^:]+: (\S+)", line)
        if m and (m.group(1) == "E" or m.group(2) not in allowed):
            failures.append(f"lintian: {line}")
    if result.returncode != 0 and not failures:
        failures.append(f"lintian ended with status {result.returncode}:\n{result.stderr}")
    return None


def run_versions(root, version, failures):
    bindir = os.path.join(root, "usr/bin")
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    present = set(os.listdir(bindir))
    if present != PROGRAMS:
        failures.append(f"programs in the package: {sorted(present)}, expected {sorted(PROGRAMS)}")
    for program in sorted(present):
        try:
            result = subprocess.run([os.path.join(bindir, program), "--version"], capture_output=True, text=True,
                                    env=env, timeout=30)
            lines = result.stdout.splitlines()
            ok = result.returncode == 0 and lines[:1] == [f"{program} {version}"] \
                and len(lines) > 1 and lines[1].startswith("Qt ")
            answer = f"status {result.returncode}, output {result.stdout!r}"
        except subprocess.TimeoutExpired:
            ok, answer = False, "no answer"
        if ok:
            print(f"PASS {program} --version")
        else:
            failures.append(f"{program} --version from the package: {answer}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="the build folder to package")
    parser.add_argument("--cpack", default="cpack", help="the cpack executable")
    parser.add_argument("--version", required=True, help="the version the package and programs carry")
    parser.add_argument("--lintian-warnings", required=True, help="packaging/lintian-warnings.md")
    args = parser.parse_args()
    if shutil.which("dpkg-deb") is None:
        print("SKIP dpkg-deb not installed: no Debian package can be built here")
        return SKIP
    failures = []
    skipped = None
    with tempfile.TemporaryDirectory(prefix="brindle-package-") as scratch:
        result = subprocess.run([args.cpack, "-G", "DEB", "--config", os.path.join(args.build, "CPackConfig.cmake"),
                                 "-B", scratch], capture_output=True, text=True, timeout=600)
        debs = glob.glob(os.path.join(scratch, "*.deb"))
        if result.returncode != 0 or len(debs) != 1:
            failures.append(f"cpack failed (status {result.returncode}, {debs}):\n{result.stdout}{result.stderr}")
        else:
            skipped = run_lintian(debs[0], listed_warnings(args.lintian_warnings), failures)
            root = os.path.join(scratch, "root")
            subprocess.run(["dpkg-deb", "-x", debs[0], root], check=True)
            install_check.check(os.path.join(root, "usr"), failures)
            run_versions(root, args.version, failures)
    for failure in failures:
        print(f"FAIL {failure}")
    if skipped and not failures:
        print(f"SKIP {skipped}")
        return SKIP
    print(f"package: {0 if failures else 1} passed, {1 if failures else 0} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
