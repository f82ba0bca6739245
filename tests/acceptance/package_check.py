#!/usr/bin/env python3
"""Builds the Debian package from a copy of the source tree with dpkg-buildpackage, has lintian and
hardening-check check it, unpacks it into a scratch root (dpkg -x), checks what it installs and runs
each program's --version from there, then runs its autopkgtests against it (as root only: they
install it). With --reproducible it builds again from a copy in another directory, without
ccache, in another time zone and under another umask, and compares the .deb files byte for byte. lintian may report no error, and no warning beyond those
packaging/lintian-warnings.md lists with the reason each stays."""

import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # the helper module sits in the source tree, which is packaged: leave it clean
import install_check  # noqa: E402

SKIP = 77
# Every program the package must carry; each answers --version without a display.
PROGRAMS = {"brindle", "kestra-emu", "kestra-send", "kestra-journal"}


def listed_warnings(path):
    """The lintian tags that packaging/lintian-warnings.md lists: each as `tag-name` at a line's start."""
    with open(path, encoding="utf-8") as text:
        return set(re.findall(r"^[-*] `([a-z0-9][a-z0-9+.-]*)`", text.read(), re.M))


def copy_source(source, target):
    """The files a fresh clone holds (tracked and new ones git does not ignore), or, outside git,
    the tree without build folders."""
    listing = subprocess.run(["git", "-C", source, "ls-files", "-z", "-co", "--exclude-standard"],
                             capture_output=True, timeout=60)
    if listing.returncode == 0:
        for name in filter(None, listing.stdout.decode().split("\0")):
            origin = os.path.join(source, name)
            if os.path.isfile(origin):
                os.makedirs(os.path.dirname(os.path.join(target, name)), exist_ok=True)
                shutil.copy2(origin, os.path.join(target, name))
    else:
        shutil.copytree(source, target, ignore=shutil.ignore_patterns("build*", "obj-*", ".git"))


def build_package(snapshot, folder, failures, cache=True, timezone="UTC", umask=0o022):
    """dpkg-buildpackage -us -uc -b on a copy of the snapshot at folder, in the time zone and under
    the umask given, with compiled objects from ccache or compiling everything; the .deb files it
    made."""
    shutil.copytree(snapshot, folder, symlinks=True)
    env = dict(os.environ, LC_ALL="C.UTF-8", TZ=timezone)
    env.pop("BRINDLE_COMPILER_LAUNCHER", None)
    cached = cache and shutil.which("ccache") is not None
    if cached:
        # As debian/rules offers it. No CCACHE_BASEDIR: ccache would hand the compiler relative paths
        # instead of the absolute ones that dpkg-buildflags' -ffile-prefix-map shortens, and the
        # debug information (so the build ids) would then differ from a build without it. The cache
        # is the build's own: debhelper gives each build a HOME of its own inside its tree.
        env["BRINDLE_COMPILER_LAUNCHER"] = "ccache"
    else:
        env["CCACHE_DISABLE"] = "1"
    env.pop("CCACHE_BASEDIR", None)
    started = time.monotonic()
    result = subprocess.run(["dpkg-buildpackage", "-us", "-uc", "-b", f"-j{os.cpu_count() or 2}"], cwd=folder, env=env,
                            umask=umask, capture_output=True, text=True, timeout=3600)
    print(f"dpkg-buildpackage in {folder} ({'ccache' if cached else 'no compiler cache'}, TZ={timezone}, "
          f"umask {umask:03o}): status {result.returncode}, {time.monotonic() - started:.0f} s", flush=True)
    debs = sorted(glob.glob(os.path.join(os.path.dirname(folder), "*.deb")))
    if result.returncode != 0 or not debs:
        failures.append(f"dpkg-buildpackage failed (status {result.returncode}):\n{result.stdout[-6000:]}{result.stderr[-6000:]}")
    return debs


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


def run_hardening_check(root, failures):
    if shutil.which("hardening-check") is None:
        return "hardening-check not installed (devscripts; scripts/deps.sh --test installs it)"
    bindir = os.path.join(root, "usr/bin")
    programs = sorted(os.path.join(bindir, p) for p in os.listdir(bindir))
    # Control-flow protection marks a program only when every object linked in carries it, and
    # Debian 12's C start files (crti.o, crtbeginS.o) do not: no build of this package can pass it.
    result = subprocess.run(["hardening-check", "--nocfprotection", *programs], capture_output=True, text=True,
                            timeout=120)
    print(result.stdout, end="")
    if result.returncode != 0:
        failures.append(f"hardening-check (status {result.returncode}):\n{result.stdout}{result.stderr}")
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


def run_autopkgtest(deb, source, failures):
    """The package's own tests (debian/tests) against the package installed on this machine; it is
    removed again afterwards unless it was installed before."""
    if shutil.which("autopkgtest") is None:
        return "autopkgtest not installed (scripts/deps.sh --test installs it): the installed package was not tested"
    if os.geteuid() != 0:
        return "not root: autopkgtest installs the package, so its tests were not run"
    was_installed = subprocess.run(["dpkg-query", "-W", "-f=${Status}", "brindle"], capture_output=True,
                                   text=True).stdout.endswith(" installed")
    try:
        result = subprocess.run(["autopkgtest", deb, source, "--", "null"], capture_output=True, text=True,
                                timeout=900)
    finally:
        if not was_installed:
            subprocess.run(["dpkg", "--purge", "brindle"], capture_output=True, timeout=300)
    print(result.stdout[-8000:], end="")
    if result.returncode != 0:
        failures.append(f"autopkgtest (status {result.returncode}):\n{result.stdout[-8000:]}{result.stderr[-4000:]}")
    return None


def check_reproducible(snapshot, scratch, first_debs, failures):
    """A second build from a copy under another name, at another depth, without ccache where the first
    had it, fourteen hours ahead of UTC (another date for most of the day) and under umask 002
    instead of 022: the same bytes, and no build folder named in any file of the package."""
    second = build_package(snapshot, os.path.join(scratch, "second-copy", "elsewhere", "brindle-again"), failures,
                           cache=False, timezone="KIT-14", umask=0o002)
    names = lambda debs: sorted(os.path.basename(d) for d in debs)  # noqa: E731
    if names(first_debs) != names(second):
        failures.append(f"the two builds made {names(first_debs)} and {names(second)}")
        return
    for a, b in zip(first_debs, second):
        with open(a, "rb") as one, open(b, "rb") as two:
            if one.read() != two.read():
                failures.append(f"{os.path.basename(a)} differs between two builds in different folders")
            else:
                print(f"PASS {os.path.basename(a)} is the same in both builds")
    for deb in first_debs:
        unpacked = os.path.join(scratch, "unpacked-" + os.path.basename(deb))
        subprocess.run(["dpkg-deb", "-x", deb, unpacked], check=True)
        found = subprocess.run(["grep", "-rlaF", scratch, unpacked],
                               capture_output=True, text=True)
        if found.stdout:
            failures.append(f"{os.path.basename(deb)} names its build folder in: {found.stdout.split()}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", required=True, help="the source tree to package")
    parser.add_argument("--version", required=True, help="the version the package and programs carry")
    parser.add_argument("--lintian-warnings", required=True, help="packaging/lintian-warnings.md")
    parser.add_argument("--reproducible", action="store_true", help="build twice and compare the packages")
    args = parser.parse_args()
    missing = [tool for tool in ("dpkg-buildpackage", "dh") if shutil.which(tool) is None]
    if missing:
        print(f"SKIP {', '.join(missing)} not installed (scripts/deps.sh --test installs dpkg-dev and debhelper)")
        return SKIP
    failures = []
    skipped = []
    with tempfile.TemporaryDirectory(prefix="brindle-package-") as scratch:
        # One snapshot of the source feeds both builds and the tests, whatever changes meanwhile.
        snapshot = os.path.join(scratch, "source", f"brindle-{args.version}")
        copy_source(args.source, snapshot)
        first = os.path.join(scratch, "first", f"brindle-{args.version}")
        debs = build_package(snapshot, first, failures)
        main_deb = [d for d in debs if re.search(rf"/brindle_{re.escape(args.version)}_[a-z0-9]+\.deb$", d)]
        if debs and len(main_deb) != 1:
            failures.append(f"the build made {debs}, not one brindle_{args.version}_ARCH.deb")
        if len(main_deb) == 1:
            skipped.append(run_lintian(main_deb[0], listed_warnings(args.lintian_warnings), failures))
            root = os.path.join(scratch, "root")
            subprocess.run(["dpkg-deb", "-x", main_deb[0], root], check=True)
            install_check.check(os.path.join(root, "usr"), failures)
            skipped.append(run_hardening_check(root, failures))
            run_versions(root, args.version, failures)
            # The tests come from the clean snapshot: the built copy holds the whole build tree.
            skipped.append(run_autopkgtest(main_deb[0], snapshot, failures))
            if args.reproducible:
                check_reproducible(snapshot, scratch, debs, failures)
    for failure in failures:
        print(f"FAIL {failure}")
    skipped = [s for s in skipped if s]
    for reason in skipped:
        print(f"SKIP {reason}")
    if skipped and not failures:
        return SKIP
    print(f"package: {0 if failures else 1} passed, {1 if failures else 0} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
