"""Benchmark: the text road's parse of plain rows, native against numpy.

Blocks of rows of 9 numbers, as the stdin source hands them to the reader
(whole lines, up to 512 KiB), are parsed by the native parser (the reader's
first choice) and by numpy's loadtxt (its fallback), with what the reader
does around each (counting the lines; for the native parser, making the
array), alternately in one run, so that other work on the machine weighs
on both alike. Printed per spelling: the cost per row of each and their
ratio, the median over the repetitions (each repetition times both). The
aim is a native parse at least 4 times cheaper than numpy's (on the text road,
where numpy's parse took ~1.7 us per row, ~0.4 us leaves room for 500,000
rows/s).
"""
import pathlib
import statistics
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))

import numpy as np  # noqa: E402

from tarvinel.stelvane.formats.text.rows import block_parse, plain_rows  # noqa: E402

COLUMNS = 9
REPEATS = 15
TARGET_RATIO = 4.0


def spellings(rows: int) -> dict[str, tuple[bytes, str | None]]:
    """The same kind of rows in the spellings a writer is likely to use."""
    rng = np.random.default_rng(3)
    times = np.arange(rows) * 2e-6 + 12.0
    values = np.column_stack([times, rng.standard_normal((rows, COLUMNS - 1))])

    def text(line, sep=","):
        return "".join(line(row) + "\n" for row in values.tolist()).encode(), sep

    return {
        # as bench/textroad.py's generator writes them: fixed width, padded
        "road %.5f": text(lambda r: f"{r[0]:011.6f}," + ",".join(f"{v: .5f}" for v in r[1:])),
        "repr": text(lambda r: ",".join(map(repr, r))),
        "%.6g, tab": text(lambda r: "\t".join(f"{v:.6g}" for v in r), "\t"),
        "%e, spaces": text(lambda r: " ".join(f"{v:e}" for v in r), None),
    }


def per_row(parse, blocks, rows) -> float:
    start = time.perf_counter()
    for data in blocks:
        parse(data)
    return (time.perf_counter() - start) / rows


def compare(name: str, data: bytes, sep: str | None, block_bytes: int) -> float:
    lines = data.splitlines(keepends=True)
    block_rows = block_bytes * len(lines) // len(data)
    blocks = [b"".join(lines[i:i + block_rows]) for i in range(0, len(lines), block_rows)]

    def native(block):
        result = plain_rows(block, block.count(b"\n"), sep, COLUMNS)
        assert result is not None, "the native parser refused plain rows"

    def numpy(block):  # the reader counts the lines for either parser
        assert len(block_parse(block, sep, COLUMNS, False)) == block.count(b"\n")

    native_costs, numpy_costs, ratios = [], [], []
    for _ in range(REPEATS):
        native_costs.append(per_row(native, blocks, len(lines)))
        numpy_costs.append(per_row(numpy, blocks, len(lines)))
        ratios.append(numpy_costs[-1] / native_costs[-1])
    ratio = statistics.median(ratios)
    print(f"{name:>12} {block_rows:>6} {len(blocks[0]) >> 10:>6} "
          f"{1e6 * statistics.median(native_costs):>9.3f} {1e6 * statistics.median(numpy_costs):>8.3f} "
          f"{ratio:>6.1f}", flush=True)
    return ratio


def main():
    rows = 40_000
    print(f"rows of {COLUMNS} numbers, median of {REPEATS} alternating repetitions; "
          "us per row (absolute figures depend on the machine's load, the ratio less)")
    print(f"{'spelling':>12} {'rows':>6} {'KiB':>6} {'native us':>9} {'numpy us':>8} {'ratio':>6}")
    ratios = [compare(name, data, sep, block_bytes)
              for name, (data, sep) in spellings(rows).items()
              for block_bytes in (64 << 10, 512 << 10)]
    worst = min(ratios)
    print(f"native parse {worst:.1f} times cheaper than numpy at the least (aim: >= {TARGET_RATIO:.0f}: "
          f"{'met' if worst >= TARGET_RATIO else 'NOT met'})")


if __name__ == "__main__":
    main()
