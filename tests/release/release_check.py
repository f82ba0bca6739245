#!/usr/bin/env python3
"""Checks the release's hand-written data files with the distribution's own tools: the manual pages
(groff and man, no warning allowed), the desktop entry (desktop-file-validate) and the AppStream
data (appstreamcli), and that debian/changelog carries the project's version. A missing tool skips the
check (status 77) and says which."""

import argparse
import gzip
import os
import re
import shutil
import subprocess
import sys

SKIP = 77
MAN_SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "ENVIRONMENT", "FILES", "EXIT STATUS",
                "EXAMPLES", "SEE ALSO"]


def need(*tools):
    missing = [t for t in tools if shutil.which(t) is None]
    if missing:
        print(f"SKIP {', '.join(missing)} not installed (scripts/deps.sh --test installs it)")
        sys.exit(SKIP)


def run(command, env=None):
    result = subprocess.run(command, capture_output=True, text=True, env=env, timeout=120)
    return result.returncode, result.stdout, result.stderr


def check_man(args, failures):
    need("groff", "man")
    env = dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8")
    for page in args.files:
        name = os.path.basename(page)
        status, _, errors = run(["groff", "-ww", "-man", "-Tutf8", "-z", page], env)
        if status != 0 or errors:
            failures.append(f"{name}: groff -ww: status {status}\n{errors}")
        status, text, errors = run(["man", "--warnings", "-l", page], env)
        if status != 0 or errors:
            failures.append(f"{name}: man --warnings: status {status}\n{errors}")
        opener = gzip.open if page.endswith(".gz") else open
        with opener(page, "rt", encoding="utf-8") as source:
            roff = source.read()
        sections = [m.group(1).strip('"') for m in re.finditer(r"^\.SH\s+(.+)$", roff, re.M)]
        if sections != MAN_SECTIONS:
            failures.append(f"{name}: sections {sections}, expected {MAN_SECTIONS}")
        # Every option the program's --help names must be in its manual.
        for program in args.program:
            stem, path = program.split("=", 1)
            if not name.startswith(stem + "."):
                continue
            status, usage, _ = run([path, "--help"])
            options = set(re.findall(r"(?<![\w-])--[a-z][a-z0-9-]*", usage))
            missing = sorted(o for o in options if o.replace("-", "\\-") not in roff)
            if status != 0 or not options or missing:
                failures.append(f"{name}: {stem} --help (status {status}) names options the page lacks: {missing}")


def check_desktop(args, failures):
    need("desktop-file-validate")
    for entry in args.files:
        status, out, errors = run(["desktop-file-validate", entry])
        if status != 0 or "error:" in out + errors:
            failures.append(f"{entry}: desktop-file-validate: status {status}\n{out}{errors}")
        desktop_id = os.path.basename(entry).removesuffix(".desktop")
        with open(entry, encoding="utf-8") as text:
            icon = re.search(r"^Icon=(.*)$", text.read(), re.M)
        if not icon or icon.group(1) != desktop_id:
            failures.append(f"{entry}: Icon={icon.group(1) if icon else None}, expected the desktop id {desktop_id}")


def check_appstream(args, failures):
    need("appstreamcli")
    for data in args.files:
        status, out, errors = run(["appstreamcli", "validate", "--no-net", "--no-color", data])
        if status != 0:
            failures.append(f"{data}: appstreamcli validate: status {status}\n{out}{errors}")
        component_id = os.path.basename(data).removesuffix(".metainfo.xml")
        with open(data, encoding="utf-8") as text:
            xml = text.read()
        for expected in (f"<id>{component_id}</id>", f'<launchable type="desktop-id">{component_id}.desktop</launchable>'):
            if expected not in xml:
                failures.append(f"{data}: no {expected}")


def check_version(args, failures):
    for changelog in args.files:
        with open(changelog, encoding="utf-8") as text:
            top = re.match(r"^(\S+) \(([^)]+)\) ", text.readline())
        if not top or top.group(2) != args.version:
            failures.append(f"{changelog}: the newest entry is {top.group(2) if top else None}, the project's "
                            f"version (CMakeLists.txt) is {args.version}: add an entry for it")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("kind", choices=["man", "desktop", "appstream", "version"])
    parser.add_argument("files", nargs="+")
    parser.add_argument("--program", action="append", default=[],
                        help="NAME=PATH: check that the page NAME.1 names every option of PATH --help")
    parser.add_argument("--version", help="the version the changelog must name first")
    args = parser.parse_args()
    failures = []
    {"man": check_man, "desktop": check_desktop, "appstream": check_appstream,
     "version": check_version}[args.kind](args, failures)
    for failure in failures:
        print(f"FAIL {failure}")
    failed = sum(1 for f in args.files if any(x.startswith(os.path.basename(f)) or x.startswith(f) for x in failures))
    print(f"{args.kind}: {len(args.files) - failed} passed, {failed} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
