#!/usr/bin/env python3
"""Installs a build into a scratch prefix and checks what lands there: the two programs and
nothing else in bin/, their manual pages, a desktop entry that a menu can start, the icon it names,
the AppStream data, the copyright and the changelog."""

import argparse
import configparser
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

DESKTOP_ID = "org.brindle.Brindle"
EXPECTED = {
    "bin/brindle",
    "bin/kestra-emu",
    "bin/kestra-send",
    "bin/kestra-journal",
    "share/brindle/wireshark/kestra.lua",
    f"share/applications/{DESKTOP_ID}.desktop",
    f"share/icons/hicolor/scalable/apps/{DESKTOP_ID}.svg",
    f"share/metainfo/{DESKTOP_ID}.metainfo.xml",
    "share/man/man1/brindle.1.gz",
    "share/man/man1/kestra-emu.1.gz",
    "share/man/man1/kestra-send.1.gz",
    "share/man/man1/kestra-journal.1.gz",
    "share/doc/brindle/copyright",
    "share/doc/brindle/changelog.gz",
}


def check(prefix, failures):
    found = {os.path.relpath(os.path.join(d, f), prefix) for d, _, files in os.walk(prefix) for f in files}
    if found != EXPECTED:
        failures.append(f"installed files differ: missing {sorted(EXPECTED - found)}, extra {sorted(found - EXPECTED)}")
        return
    for program in ("bin/brindle", "bin/kestra-emu", "bin/kestra-send", "bin/kestra-journal"):
        if not os.access(os.path.join(prefix, program), os.X_OK):
            failures.append(f"{program} is not executable")

    entry = configparser.ConfigParser(interpolation=None)
    entry.optionxform = str  # keys are case-sensitive
    entry.read(os.path.join(prefix, f"share/applications/{DESKTOP_ID}.desktop"), encoding="utf-8")
    if not entry.has_section("Desktop Entry"):
        failures.append("the desktop entry has no [Desktop Entry] group")
        return
    desktop = entry["Desktop Entry"]
    for key, value in (("Type", "Application"), ("Exec", "brindle"), ("Icon", DESKTOP_ID), ("Terminal", "false")):
        if desktop.get(key) != value:
            failures.append(f"desktop entry {key}={desktop.get(key)!r}, expected {value!r}")
    for key in ("Name", "Comment", "Categories"):
        if not desktop.get(key):
            failures.append(f"desktop entry without {key}")
    if not desktop.get("Categories", "").endswith(";"):
        failures.append("desktop entry Categories must end with ';'")

    icon = ET.parse(os.path.join(prefix, f"share/icons/hicolor/scalable/apps/{DESKTOP_ID}.svg")).getroot()
    if icon.tag != "{http://www.w3.org/2000/svg}svg" or icon.get("viewBox") is None:
        failures.append(f"the icon is not a scalable SVG picture (root {icon.tag}, viewBox {icon.get('viewBox')})")

    help_run = subprocess.run([os.path.join(prefix, "bin/kestra-emu"), "--help"], capture_output=True, timeout=30)
    if help_run.returncode != 0 or b"--tcp" not in help_run.stdout:
        failures.append(f"installed kestra-emu --help: status {help_run.returncode}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="the build folder to install from")
    parser.add_argument("--cmake", default="cmake", help="the cmake executable")
    args = parser.parse_args()
    failures = []
    with tempfile.TemporaryDirectory(prefix="brindle-install-") as prefix:
        result = subprocess.run([args.cmake, "--install", args.build, "--prefix", prefix], capture_output=True, text=True)
        if result.returncode != 0:
            failures.append(f"cmake --install failed:\n{result.stdout}{result.stderr}")
        else:
            check(prefix, failures)
    for failure in failures:
        print(f"FAIL {failure}")
    print(f"install: {0 if failures else 1} passed, {1 if failures else 0} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
