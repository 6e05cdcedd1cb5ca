"""The data store: columns of the current run, bounded memory, roll history,
and what happens to payloads that do not fit."""

import math
import warnings

from hypothesis import given, strategies as st
import numpy as np
import pytest

from tarvinel.stelvane.dataset import DataWarning, Dataset, RowsRejected


def dataset_with(names, **options):
    ds = Dataset("points", **options)
    ds.set_column_names(names)
    return ds


def caught_warnings(action):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        action()
    return [str(w.message) for w in caught if issubclass(w.category, DataWarning)]


class TestStoring:
    def test_rows_blocks_and_arrays_arrive_in_order(self):
        ds = dataset_with(["t", "a", "b"])
        ds.append([0, 1.5, 2])
        ds.append([[1, 2, 3], (4, 5, 6)])
        ds.append(np.arange(6.0, 12.0).reshape(2, 3))
        ds.append(np.array([7, 8, 9]))
        ds.append([])
        assert ds.rows == [
            (0.0, 1.5, 2.0), (1.0, 2.0, 3.0), (4.0, 5.0, 6.0),
            (6.0, 7.0, 8.0), (9.0, 10.0, 11.0), (7.0, 8.0, 9.0),
        ]
        assert ds.column("a").tolist() == [1.5, 2.0, 5.0, 7.0, 10.0, 8.0]
        assert ds.column("a").dtype == np.float64
        assert ds.last_row() == (7.0, 8.0, 9.0)
        assert ds.rows_stored == 6 and ds.payloads_stored == 4
        with pytest.raises(KeyError):
            ds.column("c")

    def test_columns_are_read_only_and_never_change_under_a_reader(self):
        ds = dataset_with(["x"], max_rows=3000)
        ds.append([[1.0], [2.0]])
        view = ds.column("x")
        with pytest.raises(ValueError):
            view[0] = 5
        for block in range(10):  # grows, fills, drops the oldest rows, moves
            ds.append(np.full((1000, 1), float(block)))
        assert view.tolist() == [1.0, 2.0]
        names = ds.column_names
        names.append("y")
        assert ds.column_names == ["x"]

    def test_a_column_turns_complex_only_when_an_imaginary_part_arrives(self):
        ds = dataset_with(["f", "s"])
        ds.append(np.array([[1, 2 + 0j], [2, 3 + 0j]]))
        assert ds.column("s").dtype == np.float64
        ds.append([3, 1 - 2j])
        ds.append([[4, 5.0]])
        assert ds.column("s").dtype == np.complex128
        assert ds.column("s").tolist() == [2, 3, 1 - 2j, 5]
        assert ds.column("f").dtype == np.float64  # its imaginary parts were all zero

    def test_whole_runs_make_each_payload_a_run(self):
        traces = Dataset("traces", whole_runs=True, max_history=2)
        traces.set_column_names(["freq", "S21"])
        for k in range(4):
            traces.append(np.array([[1, k + 1j], [2, k - 1j]]))
        assert traces.run_number == 4 and len(traces) == 2
        assert traces.column("S21").tolist() == [3 + 1j, 3 - 1j]
        assert [run.number for run in traces.history] == [2, 3]
        assert traces.history[0].column("S21").tolist() == [1 + 1j, 1 - 1j]


class TestMemoryBounds:
    def test_a_run_keeps_its_newest_rows_and_counts_the_dropped(self):
        ds = dataset_with(["i"], max_rows=1500)
        total = 0
        for size in (1000, 700, 1, 3000, 20):
            ds.append(np.arange(total, total + size, dtype=float).reshape(-1, 1))
            total += size
            expected = list(range(max(0, total - 1500), total))
            assert ds.column("i").tolist() == expected
        assert ds.dropped == total - 1500
        ds.roll()
        assert ds.history[-1].dropped == total - 1500 and ds.dropped == 0

    def test_roll_keeps_a_bounded_history_of_non_empty_runs(self):
        ds = dataset_with(["x"], max_history=2)
        for run in range(4):
            ds.append([[run], [run + 0.5]])
            ds.roll()
            ds.roll()  # an empty run is not history
        assert [r.rows for r in ds.history] == [[(2.0,), (2.5,)], [(3.0,), (3.5,)]]
        assert [r.number for r in ds.history] == [3, 4]
        assert len(ds) == 0 and ds.run_number == 5 and ds.column_names == ["x"]

    def test_new_names_finish_the_run_and_the_same_names_keep_it(self):
        ds = dataset_with(["x", "y"])
        ds.append([1, 2])
        ds.set_column_names(("x", "y"))
        assert ds.rows == [(1.0, 2.0)] and ds.history == ()
        ds.set_column_names(["t", "u", "v"])
        assert ds.rows == [] and ds.column_names == ["t", "u", "v"]
        (run,) = ds.history
        assert run.column_names == ("x", "y") and run.rows == [(1.0, 2.0)]
        ds.append([1, 2, 3])


class TestBadInput:
    @pytest.mark.parametrize(
        "payload, kept, rejected, reason",
        [
            ([1, 2], [], 1, "2 values, 3 columns expected"),
            ([[1, 2, 3], [4, 5], [6, 7, 8], [9, 10, 11, 12]], [(1, 2, 3), (6, 7, 8)], 2, "2 values"),
            ([[1, 2, 3], 4], [(1, 2, 3)], 1, "4 is not a row"),
            ([1, "2", 3], [], 1, "'2' is not a number"),
            ([[1, None, 3], [4, 5, 6]], [(4, 5, 6)], 1, "None is not a number"),
            ([[10**400, 0, 0], [1, 1, 1]], [(1, 1, 1)], 1, "too large"),
            (np.zeros((2, 4)), [], 2, "4 values"),
            ("123", [], 1, "not a row or a block"),
            (5, [], 1, "not a row or a block"),
            (None, [], 1, "not a row or a block"),
        ],
    )
    def test_ragged_and_foreign_rows_are_rejected_one_by_one(self, payload, kept, rejected, reason):
        ds = dataset_with(["x", "y", "z"])
        ds.append([[0, 0, 0]])
        with pytest.raises(RowsRejected, match=reason) as error:
            ds.append(payload)
        assert error.value.kept == len(kept) and error.value.rejected == rejected
        assert f"{len(kept)} kept" in str(error.value) and "points" in str(error.value)
        assert ds.rows == [(0.0, 0.0, 0.0)] + [tuple(map(float, r)) for r in kept]
        assert ds.rows_rejected == rejected

    def test_non_finite_values_are_stored_and_counted_without_a_problem(self):
        # An empty field of a text row is a missing value: NaN is data, not a fault.
        ds = dataset_with(["x", "y"])
        messages = caught_warnings(lambda: ds.append([[1, math.nan], [math.inf, 2], [3, 4]]))
        assert messages == []
        assert len(ds) == 3 and ds.nonfinite_values == 2
        assert np.isnan(ds.column("y")[0]) and ds.column("x")[1] == math.inf
        assert caught_warnings(lambda: ds.append([5, 6])) == []

    def test_duplicate_and_non_text_names_are_made_usable(self):
        ds = Dataset("points")
        messages = caught_warnings(lambda: ds.set_column_names(["a", "a", 3, "a#2", "a"]))
        assert ds.column_names == ["a", "a#3", "3", "a#2", "a#4"]
        assert messages == [
            "points: names that are not text used as text: 3",
            "points: duplicate column names renamed: a -> a#3, a -> a#4",
        ]
        ds.append([1, 2, 3, 4, 5])  # rows of the announced width still fit
        assert ds.column("a#4").tolist() == [5.0]

    @pytest.mark.parametrize("names", ["ab", None, 7])
    def test_names_that_are_no_list_keep_the_old_ones_and_the_rows(self, names):
        ds = dataset_with(["x", "y"])
        ds.append([1, 2])
        with pytest.raises(TypeError, match="points: column names"):
            ds.set_column_names(names)
        assert ds.column_names == ["x", "y"] and ds.rows == [(1.0, 2.0)]

    def test_data_before_column_names_is_rejected_with_its_row_count(self):
        with pytest.raises(RowsRejected, match="before column names") as error:
            Dataset("traces").append(np.zeros((4, 2)))
        assert error.value.rejected == 4

    @pytest.mark.parametrize("options", [{"max_rows": 0}, {"max_history": -1}, {"max_rows": 2.5}])
    def test_bounds_must_be_sensible(self, options):
        with pytest.raises(ValueError):
            Dataset(**options)


payload_rows = st.lists(st.integers(-5, 5) | st.floats(allow_nan=False) | st.complex_numbers(
    allow_nan=False, max_magnitude=1e6), min_size=0, max_size=4)
operations = st.lists(
    st.one_of(
        st.tuples(st.just("row"), payload_rows.filter(bool)),
        st.tuples(st.just("block"), st.lists(payload_rows, min_size=1, max_size=3)),
        st.just(("roll", None)),
    ),
    max_size=25,
)


@pytest.mark.filterwarnings("ignore::tarvinel.stelvane.dataset.DataWarning")
@given(operations)
def test_matches_a_plain_list_model(ops):
    width, max_history, max_rows = 3, 3, 5
    ds = dataset_with(["a", "b", "c"], max_history=max_history, max_rows=max_rows)
    current, history = [], []
    for kind, payload in ops:
        if kind == "roll":
            ds.roll()
            if current:
                history = (history + [current])[-max_history:]
                current = []
            continue
        rows = [payload] if kind == "row" else payload
        good = [tuple(row) for row in rows if len(row) == width]
        if len(good) == len(rows):
            ds.append(payload)
        else:
            with pytest.raises(RowsRejected):
                ds.append(payload)
        current = (current + good)[-max_rows:]
        assert ds.rows == current
    assert [run.rows for run in ds.history] == history
