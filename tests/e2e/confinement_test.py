#!/usr/bin/env python3
"""A hostile tree under the grant walk, watched from the Linux side.

Wine turns a DACL write into a chmod of the Unix file and keeps no DACLs, so an
inotify watch on a directory outside the granted tree sees every open and every
DACL write that reaches it. The child that prepared the tree is played by this
script: Unix symbolic links to the outside directory (Wine lists them as
reparse points), plain directories whose Win32 names trim to a link's name
("foo." and "foo " both name "foo" to a path-based call) in a root longer than
MAX_PATH, and a thread that flips directories between real directories and
links while the helper walks.
The parallel case starts two helpers at once, each on two fresh trees, and
checks that their DACL writes never interleave (the session's grant mutex is
held for the whole grant phase, not taken per root), and that they do with the
mutex switched off in the test build (the control).

Usage: confinement_test.py <wine-run.sh> <winetest helper> <lookalikes|race|parallel>
"""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Watch:
    """inotifywait on every directory of a tree; events() stops it and returns what it saw.

    The directories are named one by one: with -r, inotifywait lists each
    directory after watching it, and would report its own open."""

    def __init__(self, directory, events):
        directories = [d for d, _, _ in os.walk(directory)]
        self.proc = subprocess.Popen(
            ["inotifywait", "-m", "-e", events, "--format", "%e %w%f", *directories],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        # Nothing counts until every watch is in place.
        for line in self.proc.stderr:
            if "Watches established" in line:
                break
        # Read as the events come: a full pipe would stall inotifywait, and
        # what it holds when stopped would be lost.
        self.lines = []
        self.reader = threading.Thread(target=lambda: self.lines.extend(self.proc.stdout))
        self.reader.start()

    def events(self):
        time.sleep(0.5)  # let the kernel deliver what is in flight
        self.proc.terminate()
        self.reader.join(timeout=10)
        self.proc.wait(timeout=10)
        return [line.rstrip("\n") for line in self.lines if line.strip()]


def helper_command(wine_run, helper, roots, container):
    return [wine_run, helper, "--protocol-version", "1", "--appcontainer-name", container,
            *[arg for root in roots for arg in ("--writable-dir", windows_path(root))],
            "--stdio-stdin", "null", "--stdio-stdout", "null", "--stdio-stderr", "null",
            "--", "C:\\windows\\system32\\cmd.exe", "/c", "exit 0"]


def check_helper(returncode, stderr):
    if returncode != 0:
        sys.exit("helper failed with %d: %s" % (returncode, stderr.decode(errors="replace")))


def run_helper(wine_run, helper, root, container):
    result = subprocess.run(helper_command(wine_run, helper, [root], container),
                            stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    check_helper(result.returncode, result.stderr)


def make_outside(top):
    outside = os.path.join(top, "outside")
    os.makedirs(os.path.join(outside, "sub"))
    for name in ("secret.txt", os.path.join("sub", "inner.txt")):
        with open(os.path.join(outside, name), "w") as f:
            f.write("not for the child\n")
    return outside


def lookalikes(wine_run, helper, top):
    outside = make_outside(top)
    # About 300 units, past MAX_PATH: the root is granted whole all the same.
    root = os.path.join(top, "tree", "a" * 120, "b" * max(1, 300 - len(windows_path(top)) - 126))
    os.makedirs(root)
    for link in ("foo", "bar"):
        os.symlink(outside, os.path.join(root, link))
    inside_files = []
    for name in ("foo.", "foo ", "foo..", "bar. ."):
        os.makedirs(os.path.join(root, name))
        inside_files.append(os.path.join(root, name, "f.txt"))
        with open(inside_files[-1], "w") as f:
            f.write("x\n")

    outside_watch = Watch(outside, "open,attrib,modify")
    inside_watch = Watch(root, "attrib")
    run_helper(wine_run, helper, root, "zub-e2e-lookalikes")
    seen_outside = outside_watch.events()
    seen_inside = inside_watch.events()

    # DACLs are written through the walk's own handles: nothing looks up an
    # object's parent by its Win32 name (in which "foo.\f.txt" has the parent
    # "foo"), so no open at all, and no write, may reach the outside.
    reached = [e for e in seen_outside if e.strip()]
    if reached:
        sys.exit("the walk reached the outside directory:\n" + "\n".join(reached))
    # The watch works and the look-alike directories are granted as themselves.
    missing = [f for f in inside_files if not any(e.endswith(f) for e in seen_inside)]
    if missing:
        sys.exit("no DACL write seen on: %s\nseen: %s" % (missing, seen_inside))
    print("outside untouched; %d DACL writes inside a root of %d units" % (len(seen_inside), len(windows_path(root))))


def race(wine_run, helper, top, seconds=12.0):
    outside = make_outside(top)
    root = os.path.join(top, "tree")
    # Content for the walk to spend its time on, beside the flipping directories.
    for i in range(8):
        d = os.path.join(root, "pkg%d" % i, "lib")
        os.makedirs(d)
        for j in range(20):
            with open(os.path.join(d, "f%d.js" % j), "w") as f:
                f.write("x\n")
    flippers = []
    for i in range(8):
        d = os.path.join(root, "pkg%d" % i, "flip")
        os.makedirs(d)
        flippers.append(d)

    stop = threading.Event()
    flips = [0]

    def flip():
        # As a confined child may: an empty directory it may write becomes a
        # link to the outside and back again, while the helper walks.
        while not stop.is_set():
            for d in flippers:
                os.rmdir(d)
                os.symlink(outside, d)
                time.sleep(0.0005)
                os.unlink(d)
                os.mkdir(d)
                flips[0] += 1

    # Opens may follow a link under Wine (the file ID check then refuses the
    # object); a write, a DACL write included, must never land outside.
    watch = Watch(outside, "attrib,modify")
    thread = threading.Thread(target=flip)
    thread.start()
    runs = 0
    deadline = time.monotonic() + seconds
    try:
        while time.monotonic() < deadline or runs < 3:
            run_helper(wine_run, helper, root, "zub-e2e-race")
            runs += 1
    finally:
        stop.set()
        thread.join()
    seen = watch.events()
    if seen:
        sys.exit("a DACL write landed outside the tree:\n" + "\n".join(seen[:20]))
    print("%d walks during %d flips; outside never written" % (runs, flips[0]))


def make_tree(root, directories=40, files=50):
    """A fresh tree of directories * (files + 1) + 1 objects (a DACL write is a
    chmod only where the mode changes, so each round needs new files)."""
    for i in range(directories):
        d = os.path.join(root, "pkg%d" % i)
        os.makedirs(d)
        for j in range(files):
            with open(os.path.join(d, "f%d.js" % j), "w") as f:
                f.write("x\n")


def order_switches(wine_run, helper, top, round_number, with_lock):
    """Starts two helpers at once, each on two fresh trees; returns how often
    the order of their DACL writes, as one watch saw them, went from one
    helper's trees to the other's."""
    both = os.path.join(top, "round%d" % round_number)
    roots = [[os.path.join(both, "%d%s" % (i, half)) for half in "ab"] for i in range(2)]
    for root in roots[0] + roots[1]:
        make_tree(root, directories=20)
    watch = Watch(both, "attrib")
    env = dict(os.environ)
    if not with_lock:
        env["ZUB_WINETEST_WITHOUT_GRANT_LOCK"] = "1"
    helpers = [subprocess.Popen(helper_command(wine_run, helper, trees, "zub-e2e-parallel-%d" % i),
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE, env=env)
               for i, trees in enumerate(roots)]
    for proc in helpers:
        _, err = proc.communicate(timeout=120)
        check_helper(proc.returncode, err)
    order = []
    for event in watch.events():
        path = event.split(" ", 1)[1]
        order += [i for i, trees in enumerate(roots) for root in trees
                  if path.startswith(root + "/") or path == root + "/"]
    if set(order) != {0, 1}:
        sys.exit("the DACL writes of both helpers were not all seen: %d and %d events" % (order.count(0), order.count(1)))
    return sum(1 for a, b in zip(order, order[1:]) if a != b)


def parallel(wine_run, helper, top, rounds=1):
    with_lock = [order_switches(wine_run, helper, top, r, True) for r in range(rounds)]
    without = [order_switches(wine_run, helper, top, rounds + r, False) for r in range(rounds)]
    print("order switches between the two helpers, with the mutex: %s; without it: %s" % (with_lock, without))
    if any(s != 1 for s in with_lock):
        sys.exit("two helpers' DACL writes interleaved despite the grant mutex")
    if all(s <= 1 for s in without):
        sys.exit("the control failed: without the mutex the two walks never overlapped")


def main():
    wine_run, helper, case = sys.argv[1:4]
    if shutil.which("inotifywait") is None:
        sys.exit("inotifywait is missing (Debian package inotify-tools)")
    top = tempfile.mkdtemp(prefix="zub-confine-")
    try:
        {"lookalikes": lookalikes, "race": race, "parallel": parallel}[case](wine_run, helper, top)
    finally:
        shutil.rmtree(top, ignore_errors=True)


if __name__ == "__main__":
    main()
