"""A long table opened as a user opens it: a stock table of three symbols and
a `sar -n DEV`-shaped report show one curve per entity, named price[AAPL],
in the legend, the data box and --summary, each one line over its own rows;
--split none keeps the table as it is; --split naming no text column exits
with status 2 and says which columns there are."""

import numpy as np
import pytest

from tarvinel.stelvane import app, config

from tests.support.running import WAIT
from tests.support.window import curve_data

SYMBOLS = ("AAPL", "MSFT", "GOOG")
DAYS = 30
IFACES = ("lo", "eth0")
SAR_SNAPSHOTS = 5


def stock_table() -> str:
    """symbol,date,price,volume: each symbol's days, one symbol after the other."""
    return "symbol,date,price,volume\n" + "".join(
        f"{symbol},2024-01-{day + 1:02d},{100 * (k + 1) + day}.5,{1000 * (k + 1) + day}\n"
        for k, symbol in enumerate(SYMBOLS) for day in range(DAYS))


def sar_report() -> str:
    """sar -n DEV's shape (LC_ALL=C): a banner, a snapshot a line per interface
    under its names line, blank lines between, then the averages."""
    lines = ["Linux 6.1.0 (host) \t12/08/26 \t_x86_64_\t(2 CPU)", ""]
    for second in range(SAR_SNAPSHOTS):
        lines.append(f"10:00:{second:02d}        IFACE   rxpck/s   txpck/s")
        lines += [f"10:00:{second + 1:02d}   {iface:>10}   {10 * k + second:7.2f}   {second:7.2f}"
                  for k, iface in enumerate(IFACES)]
        lines.append("")
    lines.append("Average:        IFACE   rxpck/s   txpck/s")
    lines += [f"Average:   {iface:>10}   {10 * k + 2:7.2f}   2.00"
              for k, iface in enumerate(IFACES)]
    return "\n".join(lines) + "\n"


@pytest.fixture
def table_file(tmp_path):
    def write(name: str, text: str):
        path = tmp_path / name
        path.write_text(text)
        return str(path)
    return write


def opened(qtbot, open_app, path, rows, *options):
    win = open_app(path, "--no-follow", "--fresh", *options)
    qtbot.waitUntil(lambda: len(win.point_dataset) == rows and bool(win.presenter.matched_pairs),
                    timeout=WAIT)
    return win


def test_a_stock_table_shows_a_curve_per_symbol_in_legend_data_box_and_summary(
        qtbot, open_app, table_file):
    win = opened(qtbot, open_app, table_file("stocks.csv", stock_table()), 3 * DAYS)
    prices = [f"price[{symbol}]" for symbol in SYMBOLS]
    volumes = [f"volume[{symbol}]" for symbol in SYMBOLS]
    qtbot.waitUntil(lambda: [name for name, _ in win.plot_presenters[0].legend.entries]
                    == prices + volumes, timeout=WAIT)
    summary = win.summary()
    assert summary["point_columns"] == ["symbol", "date", *prices, *volumes]
    assert summary["split"] == "symbol" and summary["problems"] == 0
    assert [pair[1] for pair in summary["pairs"]] == prices + volumes
    assert {s["name"]: s["count"] for s in summary["stats"]} == dict.fromkeys(prices + volumes,
                                                                               DAYS)
    win.refresh_status(0.0)
    table = win.modes["P"].data_box.table
    cells = {table.item(i, 0).text(): table.item(i, 1).text() for i in range(table.rowCount())}
    assert [cells[name] for name in prices] == [f"{100 * k + 100 + DAYS - 1}.5" for k in (0, 1, 2)]
    # Each symbol's curve: its own days once, forward, no gap.
    for key, symbol in zip(config.ridx, SYMBOLS):
        x, y = curve_data(win.live_plot, key)
        assert len(x) == DAYS and np.all(np.diff(x) > 0) and np.isfinite(y).all()


def test_a_sar_report_splits_per_interface(qtbot, open_app, table_file):
    win = opened(qtbot, open_app, table_file("sar.txt", sar_report()),
                 SAR_SNAPSHOTS * len(IFACES))
    qtbot.waitUntil(lambda: "lines" in win.summary(), timeout=WAIT)
    summary = win.summary()
    assert summary["split"] == "IFACE"
    assert summary["point_columns"] == ["time", "IFACE", "rxpck/s[lo]", "rxpck/s[eth0]",
                                        "txpck/s[lo]", "txpck/s[eth0]"]
    assert summary["lines"]["data"] == SAR_SNAPSHOTS * len(IFACES) and summary["problems"] == 0
    assert summary["lines"]["skipped"]["summary"] == 1 + len(IFACES)  # the averages
    stats = {s["name"]: (s["count"], s["min"], s["max"]) for s in summary["stats"]}
    assert stats["rxpck/s[eth0]"] == (SAR_SNAPSHOTS, 10, 10 + SAR_SNAPSHOTS - 1)


def test_split_none_keeps_the_long_table(qtbot, open_app, table_file):
    win = opened(qtbot, open_app, table_file("stocks.csv", stock_table()), 3 * DAYS,
                 "--split", "none")
    summary = win.summary()
    assert summary["point_columns"] == ["symbol", "date", "price", "volume"]
    assert summary["split"] is None and summary["pairs"] == [["date", "price"], ["date", "volume"]]


@pytest.mark.parametrize("column, why", [("bad", "no column 'bad'"),
                                         ("price", "not a text column: 'price'")])
def test_split_naming_no_text_column_exits_with_status_2(qtbot, table_file, capsys, column, why):
    path = table_file("stocks.csv", stock_table())
    code = app.main([path, "--no-follow", "--fresh", "--split", column, "--seconds", "20"])
    assert code == 2
    assert capsys.readouterr().err.splitlines()[-1] == (
        f"stelvane: error: --split {column}: {why}; the columns are "
        "symbol (text), date (time), price, volume")
