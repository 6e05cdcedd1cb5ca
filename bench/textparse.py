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

Then the typed parse (formats/tableblock.parse_block) of rows with an ISO
8601 time column, a text column and 8 numbers, comma- and space-separated,
against the plain native parse of the same 8 numbers, alternately in the same
way: rows/s of each and the typed road's share of the plain one (aim: at
least 0.7, and 400,000 rows/s or more).
"""
import statistics
import time

import numpy as np

from harness.sidebyside import alternating, paired_median
from tarvinel.stelvane.formats.layout import ISO, ColumnLayout, TableLayout
from tarvinel.stelvane.formats.tableblock import TableState, parse_block
from tarvinel.stelvane.formats.text.rows import block_parse, plain_rows
from tarvinel.stelvane.protocol import TEXT, TIME

COLUMNS = 9
REPEATS = 15
TARGET_RATIO = 4.0
# The typed road against the plain one: rows/s at least this share of it, and this many.
TYPED_SHARE = 0.7
TYPED_ROWS_PER_S = 400_000
TYPED_NUMBERS = 8


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

    costs = alternating(REPEATS, {"native": lambda: per_row(native, blocks, len(lines)),
                                  "numpy": lambda: per_row(numpy, blocks, len(lines))})
    native_costs, numpy_costs = costs["native"], costs["numpy"]
    ratio = paired_median(numpy_costs, native_costs)
    print(f"{name:>12} {block_rows:>6} {len(blocks[0]) >> 10:>6} "
          f"{1e6 * statistics.median(native_costs):>9.3f} {1e6 * statistics.median(numpy_costs):>8.3f} "
          f"{ratio:>6.1f}", flush=True)
    return ratio


def typed_spellings(rows: int) -> dict[str, tuple[bytes, bytes, bytes, str | None]]:
    """Rows of an ISO 8601 time, a word and 8 numbers; the same 8 numbers
    alone; and all 10 as numbers (the time in seconds, the word's code):
    comma- and space-separated."""
    rng = np.random.default_rng(5)
    values = rng.standard_normal((rows, TYPED_NUMBERS)).tolist()
    start = 1_796_724_000.0
    stamps = [time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(start + i // 1000)) + f".{i % 1000:03d}"
              for i in range(rows)]
    states = ("idle", "busy", "wait", "off")
    spelled = {}
    for name, sep in (("comma", ","), ("spaces", None)):
        joint = sep or " "
        numbers = [joint.join(f"{v: .5f}" for v in row) for row in values]
        typed = "".join(f"{t}{joint}{states[i % 4]}{joint}{n}\n" for i, (t, n) in enumerate(zip(stamps, numbers)))
        plain = "".join(n + "\n" for n in numbers)
        all_numbers = "".join(f"{start + i / 1000:.3f}{joint}{i % 4}{joint}{n}\n" for i, n in enumerate(numbers))
        spelled[name] = (typed.encode(), plain.encode(), all_numbers.encode(), sep)
    return spelled


def compare_typed(name: str, typed: bytes, plain: bytes, all_numbers: bytes, sep: str | None,
                  block_bytes: int) -> tuple[float, float]:
    layout = TableLayout(sep=sep, columns=(ColumnLayout(TIME, ISO), ColumnLayout(TEXT))
                         + (ColumnLayout(),) * TYPED_NUMBERS)
    state = TableState()

    def blocks_of(data):
        lines = data.splitlines(keepends=True)
        block_rows = block_bytes * len(lines) // len(typed)
        return [b"".join(lines[i:i + block_rows]) for i in range(0, len(lines), block_rows)], len(lines)

    typed_blocks, rows = blocks_of(typed)
    plain_blocks, _ = blocks_of(plain)
    ten_blocks, _ = blocks_of(all_numbers)

    def typed_parse(block):
        assert not parse_block(block, layout, state).bad, "the typed parse set good lines aside"

    def plain_parse(block):
        assert plain_rows(block, block.count(b"\n"), sep, TYPED_NUMBERS) is not None

    def ten_parse(block):
        assert plain_rows(block, block.count(b"\n"), sep, TYPED_NUMBERS + 2) is not None

    costs = alternating(REPEATS, {"typed": lambda: per_row(typed_parse, typed_blocks, rows),
                                  "plain": lambda: per_row(plain_parse, plain_blocks, rows),
                                  "ten": lambda: per_row(ten_parse, ten_blocks, rows)})
    typed_costs, plain_costs, ten_costs = costs["typed"], costs["plain"], costs["ten"]
    share = paired_median(plain_costs, typed_costs)
    print(f"{name:>8} {block_bytes >> 10:>5} {1 / statistics.median(typed_costs):>12,.0f} "
          f"{1 / statistics.median(plain_costs):>12,.0f} {share:>6.2f} "
          f"{1 / statistics.median(ten_costs):>12,.0f} {paired_median(ten_costs, typed_costs):>6.2f}", flush=True)
    return share, 1 / statistics.median(typed_costs)


def main_typed():
    rows = 40_000
    print(f"\ntyped rows (ISO 8601 time, a word, {TYPED_NUMBERS} numbers) against the plain parse of "
          f"the same {TYPED_NUMBERS} numbers; rows/s, median of {REPEATS} alternating repetitions")
    print(f"(then the plain parse of all 10 as numbers: the time in seconds, the word's code)")
    print(f"{'sep':>8} {'KiB':>5} {'typed rows/s':>12} {'plain rows/s':>12} {'share':>6} "
          f"{'10 numbers/s':>12} {'share':>6}")
    results = [compare_typed(name, typed, plain, ten, sep, block_bytes)
               for name, (typed, plain, ten, sep) in typed_spellings(rows).items()
               for block_bytes in (64 << 10, 512 << 10)]
    share = min(s for s, _ in results)
    rate = min(r for _, r in results)
    met = share >= TYPED_SHARE and rate >= TYPED_ROWS_PER_S
    print(f"typed road at least {share:.2f} of the plain one and {rate:,.0f} rows/s (aim: >= {TYPED_SHARE} and "
          f">= {TYPED_ROWS_PER_S:,}: {'met' if met else 'NOT met'})")


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
    main_typed()


if __name__ == "__main__":
    main()
