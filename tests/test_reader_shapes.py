"""Shapes of text streams the reader takes as a user expects: encodings and
line ends, through make_reader and a real Feed."""

import queue

import numpy as np
import pytest

from tarvinel.stelvane.feed import Feed
from tarvinel.stelvane.formats import ReadOptions, make_reader
from tarvinel.stelvane.protocol import PD, PN, TEXT, TextRows


class Read:
    """A stream read to its end: names, rows, the words of text columns,
    problems and the lines account."""

    def __init__(self, data: bytes, step: int | None = None, **options):
        commands, self.problems, self.lines = queue.Queue(), [], {}
        reader = make_reader(Feed(commands), self.problems.append, name="in",
                             options=ReadOptions(**options),
                             lines=lambda name, account: self.lines.update(account))
        step = step or len(data) or 1
        for i in range(0, len(data), step):
            reader.feed(data[i:i + step])
        reader.finish()
        self.names, self.kinds, self.words, blocks = None, None, {}, []
        while not commands.empty():
            word, payload = commands.get()
            if word == PN:
                self.names, self.kinds = list(payload), getattr(payload, "kinds", None)
            elif word == PD:
                blocks.append(payload.block if isinstance(payload, TextRows) else payload)
                for column, learnt in getattr(payload, "words", {}).items():
                    self.words.setdefault(column, []).extend(learnt)
        self.rows = np.concatenate(blocks) if blocks else np.empty((0, 0))


TABLE = "t,v,who\n" + "".join(f"{i},{i / 4},{'Müller' if i % 2 else 'Øst'}\n" for i in range(200))


@pytest.mark.parametrize("encoding, named", [
    ("utf-8", None), ("utf-8-sig", None), ("utf-16", "utf-16-le"), ("utf-32", "utf-32-le"),
    ("latin-1", "latin-1"),
])
@pytest.mark.parametrize("step", [None, 5])
def test_encodings_read_alike_and_a_fallback_is_said_once(encoding, named, step):
    read = Read(TABLE.encode(encoding), step)
    assert read.names == ["t", "v", "who"] and read.kinds[2] == TEXT
    assert len(read.rows) == 200 and read.rows[7, 1] == 1.75
    assert read.words == {2: ["Øst", "Müller"]}
    assert read.lines.get("encoding") == named
    latin = ["in line 2: bytes that are no UTF-8: read as Latin-1 from here on"]
    assert read.problems == (latin if encoding == "latin-1" else [])


@pytest.mark.parametrize("end", [b"\n", b"\r\n", b"\r"])
@pytest.mark.parametrize("step", [None, 1, 7])
def test_lf_crlf_and_a_lone_cr_each_end_a_line(end, step):
    data = end.join([b"t,v", *(b"%d,%d" % (i, i * i) for i in range(50))]) + end
    read = Read(data, step)
    assert read.names == ["t", "v"] and read.rows.shape == (50, 2)
    assert read.rows[-1].tolist() == [49, 49 * 49]
    assert read.lines == {"total": 51, "data": 50, "skipped": {"names": 1}, "problems": 0}


def test_mixed_line_ends_and_a_cr_at_the_very_end():
    data = b"t,v\r\n0,1\r1,2\n2,3\r\n3,4\r"
    for step in (None, 1, 2, 3):
        read = Read(data, step)
        assert read.rows.tolist() == [[0, 1], [1, 2], [2, 3], [3, 4]]
        assert read.lines["total"] == 5 and not read.problems
