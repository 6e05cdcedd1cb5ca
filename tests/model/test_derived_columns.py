"""Derived series in a data set: columns after the producer's, computed as
blocks arrive, the same values as over the whole run, started afresh each
run, and what does not fit reported."""

import math
import warnings

import numpy as np
import pytest

from tarvinel.stelvane.model.columnkinds import DataWarning
from tarvinel.stelvane.dataset import Dataset
from tarvinel.stelvane.model.derivedcolumns import derive_in
from tarvinel.stelvane.model.expressions import parse_definition
from tarvinel.stelvane.protocol import NUMBER, TEXT, TIME, Columns

SERIES = ["p = volts * amps", "slope = derivative(volts)", "energy = integral(p)",
          "smooth = moving_average(volts, 4)", "held = lowpass(amps, 2)", "step = delta(volts)"]
RNG = np.random.default_rng(3)
ROWS = np.column_stack((np.arange(30) * 0.1 + 5, RNG.normal(size=30), RNG.normal(size=30)))


def dataset_with(series=SERIES, names=("time", "volts", "amps"), **options):
    dataset = Dataset("points", **options)
    dataset.set_derived([parse_definition(text) for text in series])
    dataset.set_column_names(list(names) if not isinstance(names, Columns) else names)
    return dataset


def table(dataset):
    return np.array(dataset.rows)


@pytest.fixture
def whole():
    dataset = dataset_with()
    dataset.append(ROWS)
    return table(dataset)


def test_derived_series_are_columns_after_the_producers(whole):
    dataset = dataset_with()
    assert dataset.column_names == ["time", "volts", "amps", "p", "slope", "energy", "smooth",
                                    "held", "step"]
    t, v, a = ROWS.T
    np.testing.assert_allclose(whole[:, 3], v * a)
    np.testing.assert_allclose(whole[1:, 4], np.diff(v) / np.diff(t))
    assert math.isnan(whole[0, 4]) and math.isnan(whole[0, 8])
    np.testing.assert_allclose(whole[-1, 5], np.sum((v * a)[1:] + (v * a)[:-1]) / 2 * 0.1)
    np.testing.assert_allclose(whole[-1, 6], v[-4:].mean())
    assert dataset.kind("p") == NUMBER and dataset.unit("p") == ""


def test_rows_arriving_one_at_a_time_or_in_blocks_give_the_same_columns(whole):
    for cuts in ([1], [7, 8, 20], list(range(1, 30))):
        dataset = dataset_with()
        for block in np.split(ROWS, cuts):
            dataset.append(block)
        np.testing.assert_allclose(table(dataset), whole, rtol=1e-12, equal_nan=True)


def test_series_set_on_stored_rows_are_computed_over_the_whole_columns(whole):
    dataset = dataset_with(series=[])
    dataset.append(ROWS[:20])
    held = dataset.column("volts")
    dataset.set_derived([parse_definition(text) for text in SERIES])
    assert dataset.column_names[3:] == ["p", "slope", "energy", "smooth", "held", "step"]
    dataset.append(ROWS[20:])
    np.testing.assert_allclose(table(dataset), whole, rtol=1e-12, equal_nan=True)
    assert held.tolist() == ROWS[:20, 1].tolist()  # what was handed out never changes
    dataset.set_derived([])
    assert dataset.column_names == ["time", "volts", "amps"] and len(dataset) == 30


def test_each_run_starts_the_row_functions_afresh(whole):
    dataset = dataset_with()
    dataset.append(ROWS[:10])
    dataset.roll()
    dataset.append(ROWS)
    finished = dataset.history[0]
    assert finished.column_names[3:] == ("p", "slope", "energy", "smooth", "held", "step")
    np.testing.assert_allclose(finished.column("energy"), whole[:10, 5])
    np.testing.assert_allclose(table(dataset), whole, rtol=1e-12, equal_nan=True)


def test_traces_start_them_with_every_trace():
    dataset = dataset_with(["sum = integral(amps)"], whole_runs=True)
    dataset.append(ROWS)
    dataset.append(ROWS)
    assert dataset.column("sum")[0] == 0
    np.testing.assert_array_equal(dataset.column("sum"), dataset.history[0].column("sum"))


@pytest.mark.parametrize("names, x", [
    (Columns(["volts", "time", "amps"], (NUMBER, TIME, NUMBER)), "time"),
    (Columns(["state", "volts", "amps"], (TEXT, NUMBER, NUMBER)), "volts"),
    (["volts", "time", "amps"], "volts"),
])
def test_the_row_functions_run_against_the_column_the_default_pattern_plots_against(names, x):
    dataset = dataset_with(["i = integral(amps)"], names=names)
    dataset.append(ROWS)
    xs = dataset.column(x)
    a = ROWS[:, 2]
    np.testing.assert_allclose(dataset.column("i")[-1], np.sum((a[1:] + a[:-1]) / 2 * np.diff(xs)))


def test_without_a_number_column_x_is_the_row_number():
    dataset = dataset_with(["d = derivative(state)"], names=Columns(["state"], (TEXT,)))
    dataset.append([[0.0], [2.0], [3.0]])
    assert dataset.column("d").tolist()[1:] == [2.0, 1.0]


def test_only_the_rows_kept_get_derived_values():
    dataset = dataset_with(["s = delta(volts)"])
    with pytest.raises(ValueError, match="1 of 3 row"):
        dataset.append([[0, 1, 2], [1, "x", 2], [2, 4, 2]])
    assert dataset.column("s").tolist()[1:] == [3.0]


def test_a_misspelt_column_or_a_taken_name_is_reported_and_the_series_left_out():
    with pytest.warns(DataWarning) as caught:
        dataset = dataset_with(["p = volts * amp", "amps = volts * 2", "q = elsewhere * 2",
                                "r = volts + 1"])
    assert dataset.column_names == ["time", "volts", "amps", "r"]
    assert [str(w.message) for w in caught] == [
        "points: derived series left out: p: no column 'amp' in 'volts * »amp'",
        "points: derived series 'amps' left out: a column of that name is there"]


def test_a_series_for_no_data_set_is_reported_once_rows_arrive():
    points, traces = Dataset("points"), Dataset("traces", whole_runs=True)
    derive_in([points, traces], [parse_definition(text) for text in (
        "ds = derivative(volts)", "dB = 20*log10(abs(S21))", "x = Volts * Amps")])
    points.set_column_names(["time", "volts", "amps"])
    traces.set_column_names(["freq", "S21"])
    with pytest.warns(DataWarning) as caught:
        points.append(ROWS)
        points.append(ROWS)
        traces.append([[1e9, 0.5j]])
    assert [str(w.message) for w in caught] == [
        "derived series 'x' left out: no data set has a column it names "
        "('Volts', 'Amps')"]
    assert points.column_names[3:] == ["ds"] and traces.column_names[2:] == ["dB"]


def test_values_numpy_cannot_make_are_nan_and_reported_once():
    dataset = dataset_with(["q = volts // amps"])
    with pytest.warns(DataWarning, match="derived series q: .*its values are NaN") as caught:
        dataset.append(np.array([[0, 1j, 2], [1, 2, 3]]))
        dataset.append(np.array([[2, 1j, 2]]))
    assert len(caught) == 1 and np.isnan(dataset.column("q")).all() and len(dataset) == 3


def test_division_by_zero_stores_inf_and_counts_only_the_producers_values():
    dataset = dataset_with(["r = volts / amps", "l = log(amps)"])
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        dataset.append([[0, 1, 0], [1, 0, 0], [2, 1, -1]])
    assert dataset.column("r")[0] == math.inf and math.isnan(dataset.column("r")[1])
    assert math.isnan(dataset.column("l")[2]) and dataset.nonfinite_values == 0


def test_dropped_rows_do_not_restart_the_series(whole):
    dataset = dataset_with(max_rows=8)
    for block in np.split(ROWS, [5, 11, 12, 25]):
        dataset.append(block)
    assert dataset.dropped == 22
    np.testing.assert_allclose(table(dataset), whole[-8:], rtol=1e-12)
