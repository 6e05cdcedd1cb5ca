"""The text format: bytes of a stream in, the feed's commands out."""

import math

import numpy as np
import pytest

from tarvinel.stelvane.formats.text import reader as textformat, rows as row_parsing
from tarvinel.stelvane.formats.text.reader import TextReader
from tarvinel.stelvane.formats.text.rows import MAX_FIELDS, MAX_LINE_BYTES, LimitExceeded


class Sink:
    """Records the commands a reader sends, blocks of rows joined per run."""

    def __init__(self):
        self.commands = []

    def __getattr__(self, name):
        def command(*args):
            self.commands.append((name, *args))
        return command

    def rows_of_runs(self):
        runs, current = [], []
        for name, *args in self.commands:
            if name == "rows":
                current.extend(args[0].tolist())
            elif name in ("roll", "columns") and current:
                runs.append(current)
                current = []
        return runs + ([current] if current else [])

    def names(self, name):
        return [args for command, *args in self.commands if command == name]


def new_reader(**options):
    """A TextReader with a Sink and a list of the problems it reports."""
    sink, problems = Sink(), []
    return TextReader(sink, problems.append, **options), sink, problems


def read(data: bytes, step: int | None = None, strict: bool = False):
    reader, sink, problems = new_reader(name="in", strict=strict)
    step = step or len(data) or 1
    for i in range(0, len(data), step):
        reader.take(data[i:i + step])
    reader.finish()
    return sink, problems


@pytest.mark.parametrize("text", [
    "t,a,b\n1,2.5,-2e-3\n2,nan,inf\n3,,1+2j\n",
    "t\ta\tb\n1\t2.5\t-2e-3\n2\tnan\tinf\n3\t\t1+2j\n",
    "# a comment first\n  t   a  b\n1 2.5 -2e-3\n2 nan inf\n# between\n3 nan (1+2j)\n",
    "t,a,b\r\n1,2.5,-2e-3\r\n2, nan , inf\r\n3,,1+2j",  # CRLF, no newline at the end
])
def test_rows_under_names_in_any_separator(text):
    sink, problems = read(text.encode())
    assert problems == []
    assert sink.names("columns") == [[["t", "a", "b"]]]
    [rows] = sink.rows_of_runs()
    expected = [[1, 2.5, -2e-3], [2, math.nan, math.inf], [3, math.nan, 1 + 2j]]
    assert np.allclose(np.array(rows, complex), np.array(expected, complex), equal_nan=True)


@pytest.mark.parametrize("step", [None, 1, 7, 4096])
def test_bad_lines_are_rejected_alone_and_the_rows_around_them_kept(step):
    good = np.arange(3000 * 3, dtype=float).reshape(3000, 3)
    lines = [",".join(map(repr, row)) for row in good.tolist()]
    bad = {17: "1,2", 1500: "1,two,3", 2999: "1,2,3,4"}
    for index, line in bad.items():
        lines.insert(index, line)
    sink, problems = read(("x,y,z\n" + "\n".join(lines) + "\n").encode(), step)
    [rows] = sink.rows_of_runs()
    assert np.array_equal(np.array(rows), good)
    assert problems == [
        "in line 19: 2 values, 3 columns expected: '1,2'",
        "in line 1502: 'two' is not a number: '1,two,3'",
        "in line 3001: 4 values, 3 columns expected: '1,2,3,4'",
    ]


def test_empty_lines_end_runs_and_directives_steer():
    text = """
#@pattern a,b
a,b
1,2


3,4
#@trace-pattern f,S.*
#@trace f S21
1 0.5+1j
2 0.25-1j
#@end
#@trace
3 1j
#@end
#@columns p;q
5;6
#@columns u,v
7,8
#@end
#@bogus x
9,10
#@trace
1 2
"""
    sink, problems = read(text.encode())
    assert sink.rows_of_runs() == [[[1, 2]], [[3, 4]], [[7, 8], [9, 10]]]
    assert sink.names("pattern") == [["a,b"]] and sink.names("trace_pattern") == [["f,S.*"]]
    assert sink.names("trace_columns") == [[["f", "S21"]]]
    assert [t[0].tolist() for t in sink.names("trace")] == [
        [[1, 0.5 + 1j], [2, 0.25 - 1j]], [[3, 1j]], [[1, 2]]]
    assert sink.names("columns") == [[["a", "b"]], [["p;q"]], [["u", "v"]]]
    assert sum(c[0] == "roll" for c in sink.commands) == 1  # two empty lines, one roll
    assert problems == [
        "in line 17: '5;6' is not a number: '5;6'",
        "in line 20: #@end without #@trace",
        "in line 21: unknown directive '#@bogus x'",
        "in: the trace has no #@end; sent as it is",
    ]


def test_a_line_of_numbers_where_names_belong_names_the_columns():
    sink, problems = read(b"1 2 3\n4 5 6\n")
    assert sink.names("columns") == [[["c1", "c2", "c3"]]]
    assert sink.rows_of_runs() == [[[1, 2, 3], [4, 5, 6]]]
    assert problems == []


LONG_LINE = b"1," * (MAX_LINE_BYTES // 2 + 10) + b"1\n"
MANY_FIELDS = b"," * MAX_FIELDS + b"\n"


@pytest.mark.parametrize("monster", [LONG_LINE, MANY_FIELDS])
@pytest.mark.parametrize("step", [None, 65536])
def test_lines_over_the_limits_are_skipped_or_end_a_strict_stream(monster, step):
    data = b"a,b\n1,2\n" + monster + b"3,4\n"
    sink, problems = read(data, step)
    assert sink.rows_of_runs() == [[[1, 2], [3, 4]]]
    assert len(problems) == 1 and "line 3:" in problems[0] and "skipped" in problems[0]

    reader, sink, problems = new_reader(strict=True)
    with pytest.raises(LimitExceeded, match="line 3"):
        for i in range(0, len(data), step or len(data)):
            reader.take(data[i:i + (step or len(data))])
    assert sink.rows_of_runs() == [[[1, 2]]]  # what came before is kept


def test_restart_ends_the_run_and_reads_names_again():
    reader, sink, problems = new_reader()
    reader.take(b"a,b\n1,2\n")
    reader.restart()
    reader.take(b"c,d,e\n3,4,5\n")
    assert [c[0] for c in sink.commands] == ["columns", "rows", "roll", "columns", "rows"]
    assert sink.rows_of_runs() == [[[1, 2]], [[3, 4, 5]]] and problems == []


def test_a_bare_trace_after_a_restart_reads_under_the_names_given_before():
    # A new connection or a truncated file: the window still has the trace
    # columns, and a bare #@trace fills them, split as their line was.
    reader, sink, problems = new_reader()
    reader.take(b"#@trace f,S21\n1,0.5+1j\n#@end\n")
    reader.restart()
    reader.take(b"#@trace\n2,0.25-1j\n3,1j\n#@end\n")
    assert [t[0].tolist() for t in sink.names("trace")] == [[[1, 0.5 + 1j]], [[2, 0.25 - 1j], [3, 1j]]]
    assert sink.names("trace_columns") == [[["f", "S21"]]] and problems == []


def test_a_trace_too_large_is_dropped_and_the_next_one_kept(monkeypatch):
    monkeypatch.setattr(textformat, "MAX_TRACE_VALUES", 10)
    rows = "".join(f"{i},{i}\n" for i in range(6))  # 12 values
    sink, problems = read(f"#@trace f,v\n{rows}#@end\n#@trace\n1,2\n#@end\n".encode())
    assert [t[0].tolist() for t in sink.names("trace")] == [[[1, 2]]]
    assert problems == ["in: a trace of more than 10 values; dropped"]


# --- the native parse of plain rows ---------------------------------------------------------

WIDTH = 9
SPECIAL_WORDS = ["nan", "-NaN", "+nan", "inf", "-Inf", "+INFINITY", "infinity", "iNf"]
SPELLINGS = {
    "repr": repr,
    "%.6g": "{:.6g}".format,
    "%e": "{:e}".format,
    "%.17g": "{:.17g}".format,
    "fixed, signed": "{:+.4f}".format,
    "integer": lambda v: str(int(v)) if math.isfinite(v) else repr(v),
    "padded": lambda v: f"  {v!r} ",
    "words": None,  # repr, and every third value a spelling of nan or inf
}


def plain_rows_text(spelling: str, joiner: str, rows: int = 300) -> str:
    rng = np.random.default_rng(len(spelling) * 7 + len(joiner))
    values = np.concatenate([
        rng.integers(0, 2**64, rows * 3, dtype=np.uint64).view(np.float64),  # any bits
        rng.normal(0, 1e3, rows * 3), rng.integers(-10**6, 10**6, rows * 2).astype(float),
        [0.0, -0.0, 5e-324, 2.2250738585072014e-308, 1.7976931348623157e308, 1e22, 1e23] * rows,
    ])[:rows * WIDTH]
    rng.shuffle(values)
    texts = list(map(SPELLINGS[spelling] or repr, values.tolist()))
    if spelling == "words":
        texts[::3] = [SPECIAL_WORDS[i % len(SPECIAL_WORDS)] for i in range(len(texts[::3]))]
    lines = [joiner.join(texts[i:i + WIDTH]) for i in range(0, len(texts), WIDTH)]
    return "".join(line + ("\r\n" if i % 5 == 0 else "\n") for i, line in enumerate(lines))


@pytest.mark.parametrize("joiner", [",", "\t", " ", " \t  "])
@pytest.mark.parametrize("spelling", SPELLINGS)
def test_plain_rows_are_read_natively_to_numpys_bits(joiner, spelling, monkeypatch):
    data = plain_rows_text(spelling, joiner).encode()
    sep = joiner if joiner in ",\t" else None
    expected = row_parsing.block_parse(data, sep, WIDTH, False)
    assert expected is not None and len(expected) == data.count(b"\n")

    def numpy_parse(*args):
        raise AssertionError("plain rows went to numpy's parser")

    reader, sink, problems = new_reader()
    reader.take(((sep or " ").join(f"c{i}" for i in range(WIDTH)) + "\n").encode())
    monkeypatch.setattr(textformat, "block_parse", numpy_parse)
    for i in range(0, len(data), 4096):
        reader.take(data[i:i + 4096])
    [rows] = sink.rows_of_runs()
    assert problems == []
    assert np.array(rows).view(np.uint64).tolist() == expected.view(np.uint64).tolist()


GOOD = [[float(3 * i + j) + 0.25 for j in range(3)] for i in range(40)]
NAN, INF = math.nan, math.inf


@pytest.mark.parametrize("odd, row", [
    ("1,,3", [1, NAN, 3]),               # an empty field is a missing value
    ("1,2", None),                       # too few values
    ("1,2,3,4", None),                   # too many
    ("1,2+1j,3", [1, 2 + 1j, 3]),        # complex
    ("nan(1),2,3", None),
    ("0x10,2,3", None),
    ("1_000,2,3", [1000, 2, 3]),         # Python's notation, not numpy's
    ("1e,2,3", None),
    ("1e400,-1e-400,3", [INF, -0.0, 3]),  # beyond the doubles
    ("\u0661,2,3", [1, 2, 3]),           # a digit that is not ASCII
    ("1,two,3", None),
])
def test_an_odd_line_is_refused_natively_and_read_by_the_general_path(odd, row):
    lines = [",".join(map(repr, good)) for good in GOOD]
    lines.insert(20, odd)
    block = ("\n".join(lines) + "\n").encode()
    assert row_parsing.plain_rows(block, len(lines), ",", 3) is None

    sink, problems = read(b"x,y,z\n" + block)
    expected = GOOD[:20] + ([row] if row else []) + GOOD[20:]
    [rows] = sink.rows_of_runs()
    assert np.allclose(np.array(rows, complex), np.array(expected, complex), equal_nan=True)
    assert np.signbit(np.array(rows).real).tolist() == np.signbit(np.array(expected).real).tolist()
    assert len(problems) == (row is None)
    assert all(p.startswith("in line 22: ") for p in problems)


def test_many_empty_lines_under_many_columns_make_no_huge_array():
    reader, sink, problems = new_reader()
    reader.take(",".join(f"c{i}" for i in range(MAX_FIELDS)).encode() + b"\n")
    reader.take(b"\n" * 1_000_000)  # as plain rows, 80 GB
    reader.take(b"1," * (MAX_FIELDS - 1) + b"1\n")
    assert [len(row) for run in sink.rows_of_runs() for row in run] == [MAX_FIELDS]
    assert problems == []
