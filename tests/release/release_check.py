#!/usr/bin/env python3
"""Checks the release's hand-written data files with the distribution's own tools: the manual pages
(groff and man, no warning allowed; held against each program's --help: the options both ways, the
exit statuses, and the build's version in the title line), the desktop entry (desktop-file-validate)
and the AppStream data (appstreamcli), and that debian/changelog carries the project's version. A
missing tool skips the check (status 77) and says which."""

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
        title = re.search(r'^\.TH\s+\S+\s+\S+\s+\S+\s+"([^"]*)"', roff, re.M)
        if args.version and (not title or title.group(1) != f"Brindle {args.version}"):
            failures.append(f"{name}: .TH says {title.group(1) if title else None!r}, the build is {args.version}")
        # Every option the program's --help names must be in its manual, every option the manual
        # describes must be one the program takes, and both must give the same exit statuses.
        for program in args.program:
            stem, path = program.split("=", 1)
            if not name.startswith(stem + "."):
                continue
            status, usage, _ = run([path, "--help"])
            options = set(re.findall(r"(?<![\w-])--[a-z][a-z0-9-]*", usage))
            missing = sorted(o for o in options if o.replace("-", "\\-") not in roff)
            if status != 0 or not options or missing:
                failures.append(f"{name}: {stem} --help (status {status}) names options the page lacks: {missing}")
            described = sorted(o for o in page_options(roff) if not re.search(rf"(?<![\w-]){o}(?![\w-])", usage))
            if described:
                failures.append(f"{name}: the page describes options {stem} --help does not name: {described}")
            if page_statuses(roff) != help_statuses(usage):
                failures.append(f"{name}: exit statuses: the page gives {sorted(page_statuses(roff))}, "
                                f"{stem} --help {sorted(help_statuses(usage))}")


def section(roff, title):
    match = re.search(rf'^\.SH\s+"?{title}"?\s*$(.*?)(?=^\.SH|\Z)', roff, re.M | re.S)
    return match.group(1) if match else ""


def page_options(roff):
    """The options the OPTIONS entries (each the line after .TP) name."""
    options = set()
    for heading in re.findall(r"^\.TP\n(\..*)$", section(roff, "OPTIONS"), re.M):
        heading = re.sub(r"\\f[BIRP]", " ", heading)
        options.update(o.replace("\\-", "-") for o in re.findall(r"(?<![\w\\-])\\-(?:\\-[a-z][a-z0-9\\-]*|[a-z])\b", heading))
    return options


def page_statuses(roff):
    return {int(n) for n in re.findall(r"^\.TP\n\.BR?\s+(\d+)\b", section(roff, "EXIT STATUS"), re.M)}


def help_statuses(usage):
    """The numbers that begin the entries of --help's exit statuses, up to the next blank line."""
    match = re.search(r"Exit status:?(.*?)(?:\n\n|\Z)", usage, re.S)
    if not match:
        return set()
    statuses = set()
    for entry in re.findall(r"(?:^|;|:)[ \t]*(\d+(?:,[ \t]*\d+)*)[ \t]", ":" + match.group(1), re.M):
        statuses.update(int(n) for n in entry.split(","))
    return statuses


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
    parser.add_argument("--version", help="the build's version: the changelog's newest entry, the manual pages' title lines")
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
