"""One benchmark under each Qt binding in turn, side by side, with the
ratio of each figure to PyQt5's.

    python bench/bindings.py framecost panzoom --rounds 2
    python bench/bindings.py flood --venv pyqt6=.venv-pq6 --venv pyside6=.venv-ps6

Each binding runs from a venv of the tree that has it (made with `make build
QT_API=... VENV=...`; looked for in .venv, .venv-pq5, .venv-pq6 and
.venv-ps6, or given with --venv), in a process of its own, under xvfb-run when there is no display. The
bindings take turns, round after round, so that a change of the machine's
load spreads over all of them; a figure is the median of its rounds. A
ratio above 1 means better than PyQt5 (more frames, less time), whichever
way the figure itself goes.

Benchmarks: framecost, panzoom, pipeline and textroad (bench/*.py), and
flood: the fault tests' flood of malformed items, whose figure is the
longest gap between two frames.
"""
import argparse
import os
import pathlib
import re
import shutil
import statistics
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
BINDINGS = {"pyqt5": "PyQt5", "pyqt6": "PyQt6", "pyside6": "PySide6"}  # QT_API -> package
VENVS = (".venv", ".venv-pq5", ".venv-pq6", ".venv-ps6")
HIGHER, LOWER = 1, -1  # which way a figure is better

# name -> (command after the interpreter, [(figure, pattern with one number, better)])
BENCHES = {
    "framecost": (["bench/framecost.py"], [
        ("demo frames/s", r"demo rate: ([\d.]+) frames/s", HIGHER),
        ("demo ms/frame", r"demo rate: .*?([\d.]+) ms of processor time per frame", LOWER),
        ("demo ms/s", r"demo rate: .*?([\d.]+) ms per second", LOWER),
        ("demo core", r"demo rate: .*?([\d.]+) of a core", LOWER),
        ("still ms/s", r"nothing new: .*?([\d.]+) ms per second", LOWER),
        ("still core", r"nothing new: .*?([\d.]+) of a core", LOWER),
    ]),
    "panzoom": (["bench/panzoom.py"], [
        ("pan/zoom frames/s", r"([\d.]+) frames/s \(", HIGHER),
        ("full detail ms", r"window: ([\d.]+) ms median", LOWER),
        ("cpu ms/step", r"processor time per step ([\d.]+) ms", LOWER),
    ]),
    "pipeline": (["bench/pipeline.py"], [
        ("sustained points/s", r"highest rate sustained: ([\d,]+) points/s", HIGHER),
    ]),
    "textroad": (["bench/textroad.py"], [
        ("text rows/s", r"highest rate sustained: text ([\d,]+) rows/s", HIGHER),
        ("binary rows/s", r"highest rate sustained: .*binary ([\d,]+)", HIGHER),
    ]),
    "flood": (["-m", "pytest", "-q", "-p", "no:cacheprovider", "tests/app/test_faults.py", "-k", "flood"], [
        ("longest gap ms", r"longest gap between two frames during the fault tests: ([\d.]+) ms", LOWER),
    ]),
}


def figures_of(output: str, patterns) -> dict:
    found = {}
    for name, pattern, _ in patterns:
        match = re.search(pattern, output)
        if match:
            found[name] = float(match.group(1).replace(",", ""))
        elif name == "full detail ms" and "window: at once" in output:
            found[name] = 0.0
    return found


def run_one(bench: str, api: str, venv: pathlib.Path, timeout: float) -> tuple[dict, str]:
    command, patterns = BENCHES[bench]
    argv = [str(venv / "bin" / "python"), *command]
    if not os.environ.get("DISPLAY") and shutil.which("xvfb-run"):
        argv = ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", *argv]
    env = dict(os.environ, QT_API=api)
    try:
        done = subprocess.run(argv, cwd=ROOT, env=env, capture_output=True, text=True, timeout=timeout)
        output = done.stdout + done.stderr
    except subprocess.TimeoutExpired as expired:
        output = f"timed out after {timeout:.0f} s\n{expired.stdout or ''}"
    return figures_of(output, patterns), output


def venv_with(package: str):
    """The first of VENVS in the tree that has `package` installed, or None."""
    for venv in VENVS:
        if any((ROOT / venv / "lib").glob(f"python*/site-packages/{package}")):
            return venv
    return None


def ratio(value: float, base: float, better: int) -> float:
    if better == HIGHER:
        return value / base if base else float("nan")
    return base / value if value else float("inf") if base else 1.0


def table(bench: str, results: dict) -> list[str]:
    _, patterns = BENCHES[bench]
    apis = list(results)
    lines = [f"== {bench} (median of {max(len(r) for r in results.values())} rounds)",
             f"{'figure':<20}" + "".join(f"{api:>12}" for api in apis)
             + "".join(f"{api + '/pyqt5':>15}" for api in apis if api != "pyqt5")]
    for name, _, better in patterns:
        values = {api: [r[name] for r in rounds if name in r] for api, rounds in results.items()}
        medians = {api: statistics.median(v) if v else None for api, v in values.items()}
        row = f"{name:<20}" + "".join(f"{'-' if m is None else f'{m:,.3g}':>12}" for m in medians.values())
        base = medians.get("pyqt5")
        for api in apis:
            if api == "pyqt5":
                continue
            m = medians[api]
            row += f"{'-' if m is None or base is None else f'{ratio(m, base, better):.2f}':>15}"
        lines.append(row)
    return lines


def parse_args(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("benches", nargs="+", choices=sorted(BENCHES))
    parser.add_argument("--rounds", type=int, default=1)
    parser.add_argument("--venv", action="append", default=[], metavar="API=DIR",
                        help="the venv of a binding (default: the first of "
                             + ", ".join(VENVS) + " that has it)")
    parser.add_argument("--only", action="append", choices=sorted(BINDINGS),
                        help="measure these bindings only (PyQt5 is the base of the ratios)")
    parser.add_argument("--timeout", type=float, default=900.0, help="seconds per run")
    parser.add_argument("--verbose", action="store_true", help="print each run's output")
    return parser.parse_args(argv)


def main(argv=None) -> int:
    args = parse_args(argv)
    venvs = {api: venv_with(package) for api, package in BINDINGS.items()}
    for item in args.venv:
        api, _, directory = item.partition("=")
        if api not in BINDINGS or not directory:
            sys.exit(f"--venv {item!r}: give one of {', '.join(BINDINGS)}=DIR")
        venvs[api] = directory
    apis = [api for api in BINDINGS if not args.only or api in args.only]
    missing = [api for api in apis if venvs[api] is None
               or not (ROOT / venvs[api] / "bin" / "python").exists()]
    if missing:
        sys.exit("no venv for " + ", ".join(f"{api} ({venvs[api]})" for api in missing)
                 + ": make build QT_API=<api> VENV=<dir>")
    for bench in args.benches:
        results = {api: [] for api in apis}
        for round_ in range(args.rounds):
            for api in apis:
                figures, output = run_one(bench, api, ROOT / venvs[api], args.timeout)
                results[api].append(figures)
                if args.verbose or not figures:
                    print(f"--- {bench}, {api}, round {round_ + 1}\n{output}", flush=True)
        print("\n".join(table(bench, results)), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
