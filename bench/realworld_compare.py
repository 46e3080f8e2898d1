#!/usr/bin/env python3
"""What a package manager pays per lifecycle script for running it through the helper.

    bench/realworld_compare.py [--build DIR] [--runs N] [--warmup N] [--scripts a,b,c]

Runs real lifecycle scripts (esbuild's and core-js's postinstall, bufferutil's
install through the node-gyp-build shim) with the official node.exe under Wine,
from the tree the realworld suite lays out (tests/realworld/prepare.sh), three
ways, interleaved round by round by zub-bench-timer:

  direct        the script's program started directly in the package directory
                (node.exe with its arguments, or cmd.exe /d /s /c on a .cmd file
                holding the script): the same child the helper starts
  helper-fixed  through the winetest helper with the grants that do not grow
                with the project: read on node's directory, write on the package
                and a temp directory; npm's variables and PATH through --env
  helper-full   the same plus a read grant of the project's whole node_modules
  helper-recipe the guide's recipe: every tree granted once per install, so
                the script's run passes none (the same environment and streams)

and prints, per script, the medians, the ratios to the direct run, the helper's
fixed cost per launch (helper-fixed minus direct, per round) and the cost per
granted object (helper-full minus helper-fixed, per round, over the objects of
node_modules). Every run must exit 0.
"""
import argparse
import os
import statistics
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from wine_compare import paired_ratio, summary, windows_path  # noqa: E402

REPO = Path(__file__).resolve().parent.parent
PROJECT = "C:\\zub-realworld\\project"
NODE_DIR = "C:\\zub-realworld\\node"
TEMP = "C:\\zub-bench-realworld-temp"
CMD = "C:\\windows\\system32\\cmd.exe"

# name: (package, event, script, program and arguments; None: from a .cmd file)
SCRIPTS = {
    "esbuild": ("esbuild", "postinstall", "node install.js", [NODE_DIR + "\\node.exe", "install.js"]),
    "core-js": ("core-js", "postinstall", "node -e \"try{require('./postinstall')}catch(e){}\"",
                [NODE_DIR + "\\node.exe", "-e", "try{require('./postinstall')}catch(e){}"]),
    "bufferutil": ("bufferutil", "install", "node-gyp-build", None),
}


def quote(item: str) -> str:
    """One command-line item by the C runtime's rules (none of ours ends in a backslash)."""
    if item and not any(c in item for c in ' \t\n\v"'):
        return item
    return '"' + item.replace('"', '\\"') + '"'


def command_line(items: list[str]) -> str:
    return " ".join(quote(item) for item in items)


class Bench:
    def __init__(self, build: Path):
        self.build = build.resolve()
        self.prefix = self.build / "wineprefix"
        self.helper = self.build / "zub-sandbox-helper-winetest.exe"
        self.timer = self.build / "bench" / "zub-bench-timer.exe"
        for program in (self.helper, self.timer):
            if not program.exists():
                sys.exit(f"missing (build it first): {program}")
        subprocess.run([str(REPO / "tests" / "realworld" / "prepare.sh"), str(self.prefix),
                        str(REPO / "tools" / "wine-run.sh")], check=True)
        self.drive_c = self.prefix / "drive_c"
        modules = self.drive_c / "zub-realworld" / "project" / "node_modules"
        self.modules = modules
        self.objects = sum(1 for _ in modules.rglob("*")) + 1  # the walk grants the root too
        (self.drive_c / TEMP[3:]).mkdir(exist_ok=True)

    def commands(self, name: str) -> dict[str, tuple[str, str]]:
        package, event, script, program = SCRIPTS[name]
        package_dir = PROJECT + "\\node_modules\\" + package
        if program is None:
            recipe = f"{TEMP}\\{name}.cmd"
            (self.drive_c / recipe[3:].replace("\\", "/")).write_bytes(
                b"@echo off\r\n" + script.encode() + b"\r\n")
            program = [CMD, "/d", "/s", "/c", recipe]
        env = {"npm_lifecycle_event": event, "npm_lifecycle_script": script,
               "npm_package_name": package, "npm_node_execpath": NODE_DIR + "\\node.exe",
               "INIT_CWD": PROJECT, "TEMP": TEMP, "TMP": TEMP, "NODE_SKIP_PLATFORM_CHECK": "1",
               "PATH": f"{PROJECT}\\node_modules\\.bin;{NODE_DIR};C:\\windows\\system32;C:\\windows"}
        head = [windows_path(self.helper), "--protocol-version", "1", "--appcontainer-name", "zub-bench-realworld"]
        tail = ["--working-dir", package_dir, "--stdio-stdin", "null",
                "--stdio-stdout", "inherit", "--stdio-stderr", "inherit"]
        for key, value in env.items():
            tail += ["--env", f"{key}={value}"]
        recipe = head + tail
        fixed = head + ["--readable-dir", NODE_DIR, "--writable-dir", package_dir, "--writable-dir", TEMP] + tail
        full = fixed + ["--readable-dir", PROJECT + "\\node_modules"]
        return {
            "direct": (package_dir, command_line(program)),
            "helper-fixed": ("", command_line(fixed + ["--"] + program)),
            "helper-full": ("", command_line(full + ["--"] + program)),
            "helper-recipe": ("", command_line(recipe + ["--"] + program)),
        }

    def time(self, name: str, runs: int, warmup: int) -> dict[str, list[float]]:
        commands = self.commands(name)
        listing = self.build / "bench" / "realworld_compare.commands"
        listing.write_text("".join(f"{label}\t{cwd}\t{line}\n"
                                   for label, (cwd, line) in commands.items()), encoding="utf-8")
        # The direct runs inherit the timer's environment: Wine passes ours on,
        # with WINEPATH in front of the Windows PATH.
        env = dict(os.environ, ZUB_WINEPREFIX=str(self.prefix), NODE_SKIP_PLATFORM_CHECK="1",
                   TEMP=TEMP, TMP=TEMP, WINEPATH=f"{PROJECT}\\node_modules\\.bin;{NODE_DIR}")
        done = subprocess.run([str(REPO / "tools" / "wine-run.sh"), str(self.timer),
                               windows_path(listing), str(runs), str(warmup)],
                              env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True)
        if done.returncode != 0:
            sys.exit(f"zub-bench-timer failed ({done.returncode}): {done.stderr.strip()}")
        samples: dict[str, list[float]] = {label: [] for label in commands}
        for line in done.stdout.splitlines():
            label, _round, ms, code = line.split()
            if code != "0":
                sys.exit(f"{name} {label} exited with {code}: {commands[label][1]}")
            samples[label].append(float(ms))
        return samples


def report(name: str, samples: dict[str, list[float]], objects: int, package_objects: int) -> None:
    # The write grant on the package walks the package: "fixed" only for a small one.
    print(f"{name}: {SCRIPTS[name][1]} \"{SCRIPTS[name][2]}\" "
          f"(the package: {package_objects} objects)")
    for label, values in samples.items():
        print(summary(label, values))
    direct, fixed, full = (samples[k] for k in ("direct", "helper-fixed", "helper-full"))
    m = {label: statistics.median(values) for label, values in samples.items()}
    fixed_cost = [f - d for f, d in zip(fixed, direct)]
    walk = [f - x for f, x in zip(full, fixed)]
    print(f"  fixed grants: helper-fixed / direct = {m['helper-fixed'] / m['direct']:.3f} "
          f"(per round {paired_ratio(fixed, direct):.3f}); "
          f"fixed cost per launch {statistics.median(fixed_cost):.1f} ms (median per round)")
    recipe = samples["helper-recipe"]
    print(f"  the recipe (nothing granted per script): helper-recipe / direct = "
          f"{m['helper-recipe'] / m['direct']:.3f} (per round {paired_ratio(recipe, direct):.3f})")
    print(f"  full node_modules grant: helper-full / direct = {m['helper-full'] / m['direct']:.3f} "
          f"(per round {paired_ratio(full, direct):.3f}); "
          f"walk {statistics.median(walk):.1f} ms for {objects} objects = "
          f"{statistics.median(walk) / objects * 1000:.1f} us per object")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", type=Path, default=REPO / "build" / "mingw")
    parser.add_argument("--runs", type=int, default=11)
    parser.add_argument("--warmup", type=int, default=2)
    parser.add_argument("--scripts", default=",".join(SCRIPTS))
    args = parser.parse_args()
    if args.runs < 9:
        parser.error("at least 9 runs of each")
    bench = Bench(args.build)
    print(f"node_modules of {PROJECT}: {bench.objects} objects (its root included)")
    for name in args.scripts.split(","):
        package = bench.modules / SCRIPTS[name][0]
        report(name, bench.time(name, args.runs, args.warmup), bench.objects,
               sum(1 for _ in package.rglob("*")) + 1)


if __name__ == "__main__":
    main()
