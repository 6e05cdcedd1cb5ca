"""matched_xy_pairs against the same algorithm in plain Python.

Runs both on 50, 200 and 1000 column names for four pattern families, checks
that they agree, and prints the time of each and the ratio. Targets: the
geometric mean of the ratios at 200 columns at least 10, and at least 100 at
1000 columns for the families whose x part is literal.

    python bench/matching.py [--check]     (--check: exit 1 when a target is missed)
"""

import math
import sys

from harness.sidebyside import best_time
from tarvinel.stelvane import toolbar
from twins import matching as plain

FAMILIES = {
    # name: (patterns, x part literal)
    "literal": ("time,v17", True),
    "literal x, regex y": ("time,v1.*", True),
    "open x": (".*,v1[0-9]", False),
    "several": ("time,a;time,b;v.*,time", False),
}
SIZES = (50, 200, 1000)
GEOMEAN_TARGET = 10.0
LITERAL_X_TARGET = 100.0


def column_names(count):
    names = ["time", "a", "b"]
    return names + [f"v{i}" for i in range(count - len(names))]


def main():
    check = "--check" in sys.argv[1:]
    ratios = {}
    print(f"{'family':<20} {'columns':>7} {'plain ms':>10} {'native ms':>10} {'ratio':>8}")
    for count in SIZES:
        names = column_names(count)
        for family, (patterns, _) in FAMILIES.items():
            plain_s, expected = best_time(plain.matched_xy_pairs, patterns, names, budget=0.3)
            native_s, got = best_time(toolbar.matched_xy_pairs, patterns, names, budget=0.3)
            if got != expected:
                sys.exit(f"results differ: {family}, {count} columns")
            ratio = plain_s / native_s
            ratios[family, count] = ratio
            print(f"{family:<20} {count:>7} {plain_s * 1e3:>10.2f} {native_s * 1e3:>10.3f} {ratio:>8.1f}")

    at_200 = [ratios[family, 200] for family in FAMILIES]
    geomean = math.exp(sum(map(math.log, at_200)) / len(at_200))
    missed = []
    print(f"\ngeometric mean at 200 columns: {geomean:.1f} (target {GEOMEAN_TARGET:g})")
    if geomean < GEOMEAN_TARGET:
        missed.append("geometric mean at 200 columns")
    for family, (_, literal_x) in FAMILIES.items():
        if literal_x:
            ratio = ratios[family, 1000]
            print(f"{family} at 1000 columns: {ratio:.1f} (target {LITERAL_X_TARGET:g})")
            if ratio < LITERAL_X_TARGET:
                missed.append(f"{family} at 1000 columns")
    print("targets missed: " + ", ".join(missed) if missed else "targets met")
    if check and missed:
        sys.exit(1)


if __name__ == "__main__":
    main()
