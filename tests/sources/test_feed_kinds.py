"""The feed's columns with kinds and units, rows with words, and the
pattern new columns bring: what goes onto the queue."""

import pickle
import queue
import re

import numpy as np
import pytest

from tarvinel.stelvane.sources.feed import Feed, default_pattern
from tarvinel.stelvane.protocol import NUMBER, PD, PN, PXY, TEXT, TIME, Columns, TextRows


def sent(feed_queue):
    return [feed_queue.get_nowait() for _ in range(feed_queue.qsize())]


def pairs(pattern: str, names) -> list:
    x, y = pattern.split(",", 1)
    return [(a, b) for a in names for b in names if re.fullmatch(x, a) and re.fullmatch(y, b)]


def test_kinds_and_units_travel_as_columns_and_plain_numbers_as_a_list():
    feed_queue = queue.Queue()
    feed = Feed(feed_queue)
    feed.columns(["t", "v"], [NUMBER, NUMBER], ["", ""])
    feed.columns(["t", "v", "s"], [TIME, NUMBER, TEXT], ["", "V", ""])
    (_, plain), _, (_, columns), _ = sent(feed_queue)
    assert type(plain) is list and plain == ["t", "v"]
    assert isinstance(columns, Columns) and columns.units == ("", "V", "")
    assert pickle.loads(pickle.dumps(columns)).kinds == (TIME, NUMBER, TEXT)  # as the queue sends it
    # The same names with other kinds are other columns: the pattern comes again.
    feed.columns(Columns(["t", "v", "s"], [NUMBER, NUMBER, TEXT]))
    assert [word for word, _ in sent(feed_queue)] == [PN, PXY]
    with pytest.raises(ValueError, match="3 names, 2 kinds"):
        feed.columns(["a", "b", "c"], [NUMBER, TEXT])
    with pytest.raises(ValueError, match="no column kind"):
        feed.columns(["a"], ["date"])


def test_rows_with_new_words_travel_as_text_rows():
    feed_queue = queue.Queue()
    feed = Feed(feed_queue)
    feed.columns(["t", "s"], [TIME, TEXT])
    sent(feed_queue)
    feed.rows(np.array([[1.0, 0.0], [2.0, 1.0]]), {1: ["on", "off"]})
    feed.rows(np.array([[3.0, 0.0]]), {1: []})
    (_, first), (_, second) = sent(feed_queue)
    assert isinstance(first, TextRows) and first.words == {1: ["on", "off"]}
    assert type(second) is np.ndarray  # no new words: a plain block, as always
    with pytest.raises(ValueError, match="words for column 2"):
        feed.rows(np.zeros((1, 2)), {2: ["x"]})
    with pytest.raises(TypeError, match="are text"):
        feed.rows(np.zeros((1, 2)), {1: [3]})


@pytest.mark.parametrize("names, kinds, expected", [
    (["t", "a", "b"], None, [("t", "a"), ("t", "b")]),
    (["host", "time", "cpu", "state", "mem"], [TEXT, TIME, NUMBER, TEXT, NUMBER],
     [("time", "cpu"), ("time", "mem")]),
    (["n", "s", "x"], [NUMBER, TEXT, NUMBER], [("n", "x")]),
    (["when", "state"], [TIME, TEXT], [("when", "state")]),  # no numbers: a state plot
])
def test_the_default_pattern_pairs_the_time_or_first_number_with_the_numbers(names, kinds,
                                                                            expected):
    assert pairs(default_pattern(names, kinds), names) == expected


def test_senders_side_by_side_keep_their_kinds_units_and_words():
    from tarvinel.stelvane.sources.messages import ALWAYS, Mux

    feed_queue = queue.Queue()
    mux = Mux(Feed(feed_queue), ALWAYS)
    first, second = mux.part("a"), mux.part("b")
    first.columns(Columns(["t", "s"], [TIME, TEXT]))
    second.columns(Columns(["v"], [NUMBER], ["V"]))
    second.rows(np.array([[1.5]]))
    first.rows(np.array([[10.0, 0.0]]), {1: ["on"]})
    first.columns(Columns(["t", "s"], [TIME, TEXT]))  # the same again: its words start afresh
    commands = sent(feed_queue)
    names = [payload for word, payload in commands if word == PN]
    assert names[-1] == ["a/t", "a/s", "b/v"] and len(names) == 3
    assert names[1].kinds == (TIME, TEXT, NUMBER) and names[1].units == ("", "", "V")
    rows = [payload for word, payload in commands if word == PD]
    assert np.isnan(rows[0][0, 0]) and rows[0][0, 2] == 1.5
    assert isinstance(rows[1], TextRows) and rows[1].words == {1: ["on"]}
