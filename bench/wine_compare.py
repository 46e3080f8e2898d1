#!/usr/bin/env python3
"""Compares the helper with a floor program under Wine, both sides in one run.

    bench/wine_compare.py launch [--build DIR] [--runs N] [--warmup N] [--breakdown]
    bench/wine_compare.py grant  [--build DIR] [--runs N] [--warmup N] [--files N]

launch: the winetest helper starting the probe child (which exits 0 at once)
        against zub-bench-launcher, which only calls CreateProcessW on the same
        probe and waits. Both are two process starts; the ratio is of medians.
        Also against zub-bench-launcher-dlls, the same launcher importing the
        system DLLs the helper needs (like with like for process start).
grant:  the directory grants over a real tree of FILES files (made in the Wine
        drive by this script) against zub-bench-grant-floor, a plain-C walk with
        the same listing and security calls and nothing else. The helper side
        also starts a process and a child, so each side is run on the tree and
        on an empty directory in the same round, and the walk's cost is the
        per-round difference (tree minus empty); the ratio is of the medians of
        those differences. Raw medians are printed too.

All commands are timed from the Windows side by zub-bench-timer (CreateProcessW
until the process ends, QueryPerformanceCounter), interleaved round by round
with the order reversed every other round, after WARMUP unreported rounds.
Needs a mingw build with the bench programs, e.g.
    cmake --preset mingw -B build/bench-mingw && cmake --build build/bench-mingw -j2 \\
      --target zub-sandbox-helper-winetest zub-probe zub-bench-timer zub-bench-launcher \\
               zub-bench-launcher-dlls zub-bench-grant-floor
"""
import argparse
import os
import statistics
import subprocess
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
CONTAINER = "zub-bench"
LAUNCH_GOAL = 1.10
GRANT_GOAL = 0.85


def windows_path(path: Path) -> str:
    """The Wine Z: drive maps the Unix root."""
    return "Z:" + str(path.resolve()).replace("/", "\\")


def quoted(path: Path) -> str:
    return '"' + windows_path(path) + '"'


class Build:
    def __init__(self, directory: Path):
        self.dir = directory.resolve()
        self.prefix = self.dir / "wineprefix"
        self.helper = self.dir / "zub-sandbox-helper-winetest.exe"
        self.probe = self.dir / "tests" / "e2e" / "zub-probe.exe"
        self.timer = self.dir / "bench" / "zub-bench-timer.exe"
        self.launcher = self.dir / "bench" / "zub-bench-launcher.exe"
        self.launcher_dlls = self.dir / "bench" / "zub-bench-launcher-dlls.exe"
        self.floor = self.dir / "bench" / "zub-bench-grant-floor.exe"
        missing = [p for p in (self.helper, self.probe, self.timer, self.launcher,
                               self.launcher_dlls, self.floor) if not p.exists()]
        if missing:
            sys.exit("missing (build them first): " + ", ".join(map(str, missing)))

    def wine(self, *args: str, check: bool = True) -> subprocess.CompletedProcess:
        env = dict(os.environ, ZUB_WINEPREFIX=str(self.prefix))
        return subprocess.run([str(REPO / "tools" / "wine-run.sh"), *args], env=env, check=check,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True)

    def helper_command(self, flags: list[str]) -> str:
        return " ".join([quoted(self.helper), "--protocol-version", "1", "--appcontainer-name",
                         CONTAINER, *flags, "--stdio-stdin", "inherit", "--stdio-stdout", "inherit",
                         "--stdio-stderr", "inherit", "--", quoted(self.probe), "-", "exit", "0"])

    def time(self, commands: dict[str, str], runs: int, warmup: int,
             exit_codes: dict[str, str] | None = None) -> dict[str, list[float]]:
        listing = self.dir / "bench" / "wine_compare.commands"
        listing.write_text("".join(f"{label}\t{line}\n" for label, line in commands.items()),
                        encoding="utf-8")
        done = self.wine(str(self.timer), windows_path(listing), str(runs), str(warmup), check=False)
        if done.returncode != 0:
            sys.exit(f"zub-bench-timer failed ({done.returncode}): {done.stderr.strip()}")
        samples: dict[str, list[float]] = {label: [] for label in commands}
        for line in done.stdout.splitlines():
            label, _round, ms, code = line.split()
            if code != (exit_codes or {}).get(label, "0"):
                sys.exit(f"{label} exited with {code}: {commands[label]}")
            samples[label].append(float(ms))
        for label, values in samples.items():
            if len(values) != runs:
                sys.exit(f"{label}: {len(values)} samples, expected {runs}")
        return samples


def summary(label: str, values: list[float]) -> str:
    q = statistics.quantiles(values, n=4)
    # Other work on the machine shows as a wide spread; such a run is worth repeating.
    noisy = "   NOISY: rerun" if q[2] > 1.25 * q[0] else ""
    return (f"  {label:<16} median {statistics.median(values):9.2f} ms   "
            f"min {min(values):9.2f}   q1 {q[0]:9.2f}   q3 {q[2]:9.2f}   (n={len(values)}){noisy}")


def paired_ratio(a: list[float], b: list[float]) -> float:
    """Runs of one round are next to each other in time, so their ratio sees the same load."""
    return statistics.median(x / y for x, y in zip(a, b))


def verdict(ratio: float, goal: float) -> str:
    return f"ratio {ratio:.3f} (goal <= {goal:.2f}: {'met' if ratio <= goal else 'MISSED'})"


def compare_launch(build: Build, runs: int, warmup: int, breakdown: bool) -> None:
    commands = {
        "helper": build.helper_command([]),
        "bare-launcher": " ".join([quoted(build.launcher), quoted(build.probe), "-", "exit", "0"]),
        "launcher+dlls": " ".join([quoted(build.launcher_dlls), quoted(build.probe), "-", "exit",
                                   "0"]),
    }
    exit_codes = {}
    if breakdown:
        # Where a difference comes from: each program's own start and exit (the
        # helper stops at its argument check, the launcher at an empty command
        # line), and the probe started directly.
        commands["helper-argv-stop"] = f"{quoted(build.helper)} --protocol-version 1"
        commands["launcher-stop"] = quoted(build.launcher)
        commands["probe-alone"] = f"{quoted(build.probe)} - exit 0"
        # A plain-C program that imports ADVAPI32 (as the helper must) and stops
        # at its usage line: what loading that DLL alone costs under Wine.
        commands["advapi32-stop"] = quoted(build.floor)
        exit_codes = {"helper-argv-stop": "64", "launcher-stop": "120", "advapi32-stop": "2"}
    samples = build.time(commands, runs, warmup, exit_codes)
    print("launch: winetest helper -> probe  vs  bare CreateProcessW launcher -> probe")
    for label, values in samples.items():
        print(summary(label, values))
    helper = statistics.median(samples["helper"])
    bare = statistics.median(samples["bare-launcher"])
    print(f"  helper / bare-launcher: {helper:.2f} / {bare:.2f} ms, {verdict(helper / bare, LAUNCH_GOAL)}")
    print(f"  (median of the per-round ratios: {paired_ratio(samples['helper'], samples['bare-launcher']):.3f})")
    dlls = statistics.median(samples["launcher+dlls"])
    print(f"  like with like, the launcher importing ADVAPI32 and USERENV as the helper does: "
          f"helper / launcher+dlls: {helper:.2f} / {dlls:.2f} ms, ratio {helper / dlls:.3f} "
          f"(per round {paired_ratio(samples['helper'], samples['launcher+dlls']):.3f})")
    if breakdown:
        m = {label: statistics.median(values) for label, values in samples.items()}
        print(f"  helper start to its argument stop, less the launcher's: "
              f"{m['helper-argv-stop'] - m['launcher-stop']:.2f} ms, of which loading ADVAPI32 "
              f"(advapi32-stop less launcher-stop): {m['advapi32-stop'] - m['launcher-stop']:.2f} ms")
        print(f"  run work beyond the two starts: helper "
              f"{m['helper'] - m['helper-argv-stop'] - m['probe-alone']:.2f} ms, launcher "
              f"{m['bare-launcher'] - m['launcher-stop'] - m['probe-alone']:.2f} ms")


def make_tree(root: Path, files: int) -> int:
    """A node_modules-shaped tree of `files` files; returns the objects below the root."""
    package_files = ["package.json", "README.md", "LICENSE", "index.js", "index.d.ts"]
    lib_files = [f"lib{i}.js" for i in range(12)]
    internal_files = [f"internal{i}.js" for i in range(8)]
    per_package = len(package_files) + len(lib_files) + len(internal_files)
    packages = (files + per_package - 1) // per_package
    marker = root.parent / (root.name + ".made")  # beside the tree, so the walks never see it
    expected = f"{files}\n"
    if marker.exists() and marker.read_text() == expected:
        return sum(1 for _ in root.rglob("*"))
    if root.exists():
        subprocess.run(["rm", "-rf", str(root)], check=True)
    made = 0
    for p in range(packages):
        package = root / "node_modules" / f"package-{p:04d}"
        (package / "lib" / "internal").mkdir(parents=True)
        for group, directory in ((package_files, package), (lib_files, package / "lib"),
                                 (internal_files, package / "lib" / "internal")):
            for name in group:
                if made < files:
                    (directory / name).write_text("module.exports = {};\n")
                    made += 1
    marker.write_text(expected)
    return sum(1 for _ in root.rglob("*"))


def compare_grant(build: Build, runs: int, warmup: int, files: int) -> None:
    base = build.prefix / "drive_c" / "zub-bench"
    tree, empty = base / "tree", base / "empty"
    if not (build.prefix / "system.reg").exists():
        build.wine("cmd.exe", "/c", "exit", "0", check=False)  # creates the prefix
    objects = make_tree(tree, files)
    empty.mkdir(parents=True, exist_ok=True)
    tree_win, empty_win = "C:\\zub-bench\\tree", "C:\\zub-bench\\empty"

    # The floor grants exactly the objects we made, and the root.
    counted = build.wine(str(build.floor), tree_win, "--count").stdout.split()
    if counted != [str(objects + 1)]:
        sys.exit(f"the floor granted {counted}, expected {objects + 1} objects")

    commands = {
        "helper-tree": build.helper_command(["--readable-dir", tree_win]),
        "helper-empty": build.helper_command(["--readable-dir", empty_win]),
        "floor-tree": f"{quoted(build.floor)} {tree_win}",
        "floor-empty": f"{quoted(build.floor)} {empty_win}",
    }
    samples = build.time(commands, runs, warmup)
    print(f"grant: {objects} objects below {tree_win} ({files} files), "
          "winetest helper (--readable-dir, probe exits 0) vs plain-C floor walk")
    for label, values in samples.items():
        print(summary(label, values))
    helper = [t - e for t, e in zip(samples["helper-tree"], samples["helper-empty"])]
    floor = [t - e for t, e in zip(samples["floor-tree"], samples["floor-empty"])]
    print("  walk only (per round: tree minus empty directory, same program):")
    print(summary("helper walk", helper))
    print(summary("floor walk", floor))
    h, f = statistics.median(helper), statistics.median(floor)
    print(f"  per object: helper {h * 1000 / objects:.1f} us, floor {f * 1000 / objects:.1f} us")
    print(f"  helper walk / floor walk: {h:.2f} / {f:.2f} ms, {verdict(h / f, GRANT_GOAL)}")
    print(f"  (median of the per-round ratios of the walks: {paired_ratio(helper, floor):.3f})")
    whole = statistics.median(samples["helper-tree"]) / statistics.median(samples["floor-tree"])
    print(f"  (whole runs, launches included: helper-tree / floor-tree = {whole:.3f})")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("mode", choices=["launch", "grant"])
    parser.add_argument("--build", type=Path, default=REPO / "build" / "bench-mingw")
    parser.add_argument("--runs", type=int, default=21)
    parser.add_argument("--warmup", type=int, default=3)
    parser.add_argument("--files", type=int, default=5000)
    parser.add_argument("--breakdown", action="store_true",
                        help="launch: also time each program's bare start and the probe alone")
    args = parser.parse_args()
    if args.runs < 20:
        parser.error("at least 20 runs of each side")
    build = Build(args.build)
    if args.mode == "launch":
        compare_launch(build, args.runs, args.warmup, args.breakdown)
    else:
        compare_grant(build, args.runs, args.warmup, args.files)


if __name__ == "__main__":
    main()
