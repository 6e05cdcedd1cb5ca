"""Long tables split per entity in the data set: which text columns name
entities (evidence over the rows, or --split), the names and values the
split shows, what a finished run keeps, and each entity's curve drawn as
one line over its own rows."""

import warnings

import numpy as np
import pytest

from tarvinel.stelvane.dataset import Dataset
from tarvinel.stelvane.model.entitysplit import MAX_ENTITIES, OFF
from tarvinel.stelvane.model.expressions import parse_definition
from tarvinel.stelvane.model.liverun import LiveRun, LiveView
from tarvinel.stelvane.model.series import history_series
from tarvinel.stelvane.model.timewindow import ROWS
from tarvinel.stelvane.protocol import NUMBER, TEXT, TIME, Columns, TextRows

DAY = 86_400.0
SYMBOLS = ["AAPL", "MSFT", "GOOG"]
STOCKS = Columns(["symbol", "date", "price", "volume"], [TEXT, TIME, NUMBER, NUMBER])
SAR = Columns(["time", "IFACE", "rxpck/s"], [TIME, TEXT, NUMBER])


def stock_rows(days: int = 20) -> np.ndarray:
    """Three symbols one after the other, each over the same days (X jumps back)."""
    return np.array([[code, 1.7e9 + DAY * day, 100.0 * (code + 1) + day, 1000 + day]
                     for code in range(len(SYMBOLS)) for day in range(days)])


def stocks(split: str = "auto", blocks: int = 1, days: int = 20) -> Dataset:
    """The stock table stored in `blocks` blocks, each symbol's word with its first row."""
    data = Dataset("points", split=split)
    data.set_column_names(STOCKS)
    rows = stock_rows(days)
    said = set()
    for block in np.array_split(rows, blocks):
        new = [int(code) for code in dict.fromkeys(block[:, 0]) if code not in said]
        said.update(new)
        data.append(TextRows(block, {0: [SYMBOLS[code] for code in new]}))
    return data


SPLIT_NAMES = ["symbol", "date", *(f"price[{s}]" for s in SYMBOLS),
               *(f"volume[{s}]" for s in SYMBOLS)]


@pytest.mark.parametrize("blocks", [1, 3, 60])
def test_a_stock_table_splits_per_symbol_however_its_rows_arrive(blocks):
    data = stocks(blocks=blocks)
    assert data.column_names == SPLIT_NAMES and data.split.column == "symbol"
    msft = data.column("price[MSFT]")
    assert np.array_equal(msft[20:40], 200.0 + np.arange(20))
    assert np.isnan(msft[:20]).all() and np.isnan(msft[40:]).all()
    assert data.kind("price[GOOG]") == NUMBER and data.joins("price[GOOG]")
    assert not data.joins("date") and data.words("symbol") == SYMBOLS
    # The data box's last values: each symbol's newest.
    last = dict(zip(data.column_names, data.last_row()))
    assert (last["price[AAPL]"], last["price[MSFT]"], last["volume[GOOG]"]) == (119, 219, 1019)
    data.roll()  # the finished run keeps the split, and the next run goes on with it
    run = data.history[0]
    assert list(run.column_names) == SPLIT_NAMES and run.joins("price[AAPL]")
    assert data.column_names == SPLIT_NAMES


def test_split_columns_follow_a_run_that_drops_its_oldest_rows():
    data = Dataset("points", max_rows=50)
    data.set_column_names(STOCKS)
    rows, views = stock_rows(days=40), []
    for start in range(0, len(rows), 7):
        block = rows[start:start + 7]
        data.append(TextRows(block, {0: SYMBOLS} if start == 0 else {}))
        kept = rows[max(0, start + len(block) - 50):start + len(block)]
        for code, symbol in enumerate(SYMBOLS):
            if f"price[{symbol}]" in data.column_names:
                expected = np.where(kept[:, 0] == code, kept[:, 2], np.nan)
                assert np.array_equal(data.column(f"price[{symbol}]"), expected, equal_nan=True)
        views.append((data.column(data.column_names[2]).copy(), data.column(data.column_names[2])))
    assert data.split.active and data.column_names == SPLIT_NAMES
    assert all(np.array_equal(copy, view, equal_nan=True) for copy, view in views)


def test_a_split_table_read_again_is_not_split_twice():
    saved = stocks()
    again = Dataset("points")
    again.set_column_names(Columns(saved.column_names, saved.described.kinds))
    again.append(TextRows(np.column_stack([saved.column(n) for n in saved.column_names]),
                          {0: SYMBOLS}))
    assert again.column_names == SPLIT_NAMES and again.split.column == "symbol"
    assert all(again.joins(name) for name in SPLIT_NAMES[2:])


def test_each_entity_is_one_line_over_its_own_rows():
    data = stocks(days=400)
    live, days = LiveRun(), 1.7e9 + DAY * np.arange(400)
    for points in (10_000, 40):  # every row, and thinned
        view = LiveView(ROWS, live_rows=20_000, points=points, whole=True)
        pair = ("date", "price[MSFT]")
        x, y = live.series(data, pair, None, None, live.rows(data, "P", pair, None, view))
        assert np.all(np.diff(x) > 0) and np.isin(x, days).all()  # never back in time
        assert np.isfinite(y).all() and 200 <= y.min() and y.max() <= 599
        assert (x[0], x[-1]) == (days[0], days[-1])
    data.roll()
    x, y = history_series(data.history, ("date", "price[GOOG]"), None, None, 10_000, {})
    assert np.array_equal(x, days) and np.array_equal(y, 300.0 + np.arange(400))


def interleaved(columns, words, x_of, rows: int = 12) -> Dataset:
    """A snapshot a line per entity printed `rows // len(words)` times."""
    data = Dataset("points")
    data.set_column_names(columns)
    block = [[x_of(i, len(words)), i % len(words), float(i)] for i in range(rows)]
    if columns.kinds[0] == TEXT:
        block = [[row[1], row[0], row[2]] for row in block]
    data.append(TextRows(np.array(block), {list(columns.kinds).index(TEXT): words}))
    return data


def test_interleaved_entities_split_but_a_state_over_a_growing_time_does_not():
    sar = interleaved(SAR, ["lo", "eth0", "wlan0"], lambda i, k: 1.7e9 + i // k)
    assert sar.column_names == ["time", "IFACE", "rxpck/s[lo]", "rxpck/s[eth0]", "rxpck/s[wlan0]"]
    assert np.array_equal(sar.column("rxpck/s[eth0]")[1::3], [1, 4, 7, 10])
    # free's Mem:/Swap: against the row number the reader adds: they come round.
    free = interleaved(Columns(["row", "kind", "used"], [NUMBER, TEXT, NUMBER]),
                       ["Mem:", "Swap:"], lambda i, k: i)
    assert free.column_names == ["row", "kind", "used[Mem:]", "used[Swap:]"]
    state = interleaved(Columns(["when", "state", "volts"], [TIME, TEXT, NUMBER]),
                        ["idle", "busy", "error"], lambda i, k: 1.7e9 + i, rows=90)
    assert state.column_names == ["when", "state", "volts"] and state.split.column is None


def test_split_none_keeps_the_table_and_split_column_says_it_outright():
    assert stocks(split=OFF).column_names == ["symbol", "date", "price", "volume"]
    # A time that grows over every row is no evidence; --split state needs none.
    given = Dataset("points", split="state")
    given.set_column_names(Columns(["when", "state", "volts"], [TIME, TEXT, NUMBER]))
    given.append(TextRows(np.array([[1.7e9 + i, i % 2, i] for i in range(6)], float),
                          {1: ["idle", "busy"]}))
    assert given.column_names == ["when", "state", "volts[idle]", "volts[busy]"]
    assert given.split.mistake is None and list(given.column("volts[busy]")[1::2]) == [1, 3, 5]


@pytest.mark.parametrize("column, why", [("bad", "no column 'bad'"),
                                         ("price", "not a text column: 'price'")])
def test_split_naming_no_text_column_is_a_mistake_naming_the_columns(column, why):
    data = stocks(split=column)
    assert data.column_names == ["symbol", "date", "price", "volume"]
    assert data.split.mistake == (f"--split {column}: {why}; the columns are "
                                  "symbol (text), date (time), price, volume")


def test_derived_series_split_with_the_columns_they_are_made_of():
    data = stocks()
    data.set_derived([parse_definition("turnover=price*volume")])
    assert data.column_names == [*SPLIT_NAMES, *(f"turnover[{s}]" for s in SYMBOLS)]
    turnover = data.column("turnover[GOOG]")
    assert turnover[40] == 300 * 1000 and np.isnan(turnover[:40]).all()


def test_rows_of_an_empty_entity_field_keep_a_column_of_their_own():
    data = Dataset("points")
    data.set_column_names(SAR)
    rows = np.array([[1.7e9 + i // 2, np.nan if i == 5 else i % 2, i] for i in range(8)])
    data.append(TextRows(rows, {1: ["lo", "eth0"]}))
    assert data.column_names == ["time", "IFACE", "rxpck/s[]", "rxpck/s[lo]", "rxpck/s[eth0]"]
    assert np.nansum(data.column("rxpck/s[]")) == 5 and data.last_row()[2:] == (5, 6, 7)


def test_more_entities_than_can_be_told_apart_stay_unsplit():
    data = Dataset("points", split="name")
    data.set_column_names(Columns(["name", "t", "v"], [TEXT, NUMBER, NUMBER]))
    count = MAX_ENTITIES + 1
    rows = np.array([[i % count, i, i] for i in range(2 * count)], float)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        data.append(TextRows(rows, {0: [f"n{i}" for i in range(count)]}))
    assert data.column_names == ["name", "t", "v"] and len(data) == 2 * count
    assert [str(w.message) for w in caught] == [
        f"name names {count} entities, more than {MAX_ENTITIES}: its table is shown unsplit"]
