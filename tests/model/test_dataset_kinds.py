"""What a data set keeps of its columns beyond the numbers: kinds and units
from a Columns, the words of text columns from TextRows, in the current
run, in finished runs and in the data a pause holds; and the labels the
plots make of them."""

import numpy as np
import pytest

from tarvinel.stelvane.model.columnkinds import PLAIN, Shown, axis_text, common, shown_over_runs
from tarvinel.stelvane.dataset import DataWarning, Dataset
from tarvinel.stelvane.model.hold import HeldData
from tarvinel.stelvane.widgets.legend import curve_names
from tarvinel.stelvane.protocol import NUMBER, TEXT, TIME, Columns, TextRows

NAMES = ["when", "volts", "state"]
COLUMNS = Columns(NAMES, [TIME, NUMBER, TEXT], ["", "V", ""])


def described(data, names=NAMES):
    return [(data.kind(n), data.unit(n), data.words(n)) for n in names]


@pytest.fixture
def states():
    ds = Dataset("points")
    ds.set_column_names(COLUMNS)
    ds.append(TextRows(np.array([[1e9, 1.5, 0.0], [1e9 + 1, 1.6, 1.0]]), {2: ["on", "off"]}))
    return ds


def test_columns_say_what_they_hold_and_plain_names_hold_numbers(states):
    assert states.column_names == NAMES
    assert described(states) == [(TIME, "", []), (NUMBER, "V", []), (TEXT, "", ["on", "off"])]
    plain = Dataset()
    plain.set_column_names(["a", "b"])
    plain.append(np.ones((2, 2)))
    assert described(plain, ["a", "b"]) == [(NUMBER, "", [])] * 2
    with pytest.raises(KeyError):
        states.kind("nowhere")


def test_words_grow_with_text_rows_and_stay_with_their_run(states):
    states.append(np.array([[1e9 + 2, 1.7, 1.0]]))  # known words only: a plain block
    states.append(TextRows(np.array([[1e9 + 3, 1.8, 2.0]]), {2: ["fault"]}))
    assert states.words("state") == ["on", "off", "fault"] and len(states) == 4
    states.roll()  # a roll ends the run, not the stream: the words go on
    states.append(TextRows(np.array([[1e9 + 4, 1.9, 3.0]]), {2: ["idle"]}))
    assert states.words("state") == ["on", "off", "fault", "idle"]
    (run,) = states.history
    assert described(run) == [(TIME, "", []), (NUMBER, "V", []), (TEXT, "", ["on", "off", "fault"])]
    assert len(run) == 4


def test_rejected_rows_still_bring_their_words_and_stray_words_are_warned_about(states):
    with pytest.raises(ValueError, match="1 of 1 row"):
        states.append(TextRows(np.ones((1, 2)), {2: ["late"]}))  # the producer has counted it
    with pytest.warns(DataWarning, match="column 1 are not for a text column"):
        states.append(TextRows(np.array([[1e9, 2.0, 2.0]]), {1: ["no"], 2: ["next"]}))
    with pytest.warns(DataWarning, match="column 2 are not a list of words"):
        states.append(TextRows(np.array([[1e9, 2.0, 4.0]]), {2: 5}))
    assert states.words("state") == ["on", "off", "late", "next"] and states.words("volts") == []
    assert len(states) == 4  # the rows of both are stored


@pytest.mark.parametrize("other", [
    Columns(NAMES, [NUMBER, NUMBER, TEXT], ["", "V", ""]),   # another kind
    Columns(NAMES, [TIME, NUMBER, TEXT], ["", "mV", ""]),    # another unit
    NAMES,                                                    # plain names
])
def test_other_kinds_or_units_are_other_columns_and_begin_a_run(states, other):
    states.set_column_names(other)
    assert len(states) == 0 and len(states.history) == 1
    assert states.history[0].kind("when") == TIME and states.history[0].unit("volts") == "V"
    kinds = getattr(other, "kinds", (NUMBER,) * 3)
    assert [states.kind(n) for n in NAMES] == list(kinds)


def test_a_stream_that_goes_on_keeps_its_words_and_one_that_starts_anew_does_not(states):
    # One more column: the stream goes on, its codes mean what they meant.
    wider = Columns([*NAMES, "extra"], [TIME, NUMBER, TEXT, NUMBER], ["", "V", "", ""])
    states.set_column_names(wider)
    assert states.words("state") == ["on", "off"] and len(states.history) == 1
    # The same columns announced again (a file read anew): codes start from 0 again.
    states.append(np.array([[1e9, 1.0, 0.0, 1.0]]))
    states.set_column_names(wider)
    assert states.words("state") == [] and len(states.history) == 2 and len(states) == 0
    # Plain names again and again change nothing, as ever.
    plain = Dataset()
    plain.set_column_names(["a"])
    plain.append([1.0])
    plain.set_column_names(["a"])
    assert len(plain) == 1 and not plain.history


def test_a_pause_holds_the_words_of_the_moment(states):
    held = HeldData(states)
    states.append(TextRows(np.array([[1e9 + 5, 2.0, 2.0]]), {2: ["fault"]}))
    assert held.words("state") == ["on", "off"] and held.kind("when") == TIME
    assert held.unit("volts") == "V" and states.words("state")[-1] == "fault"


def test_labels_and_legends_carry_units_and_axes_read_as_their_columns(states):
    volts, when = Shown(NUMBER, (), "V"), Shown(TIME)
    assert axis_text(["volts", "amps"], "real", [volts, Shown(unit="A")]) == "volts [V], amps [A]"
    assert axis_text(["volts", "volts2"], None, [volts, volts]) == "volts, volts2 [V]"
    assert axis_text(["volts"], "phase", [volts]) == "phase(volts) [deg]"
    assert curve_names([("when", "volts"), ("when", "state")], None, "real", ["V", ""]) == [
        "volts [V]", "state"]
    assert common([when, when]) == when and common([when, volts]) == PLAIN
    # A text column whose words grew from run to run reads with the longest words.
    states.roll()
    states.append(TextRows(np.array([[1e9 + 5, 2.0, 2.0]]), {2: ["fault"]}))
    states.roll()
    assert shown_over_runs(states.history, "state") == Shown(TEXT, ("on", "off", "fault"))
    assert shown_over_runs(states.history, "state", "mag") == PLAIN
