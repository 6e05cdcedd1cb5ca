"""The protocol module names the queue's command words as the window's
native dispatcher knows them: each word reaches its data set or toolbar
call, and a word that is not one of them is unknown there."""

import warnings

import pytest

from tarvinel.stelvane import protocol, vandrel
from tests.support.standins import FakeQueue, Recorder

DATA = [1.0, 2.0]
# What each word does in the window: the calls it makes, in order.
CALLS = {
    protocol.PN: [("point", "set_column_names", DATA), ("toolbar", "refresh_comb")],
    protocol.TN: [("trace", "set_column_names", DATA), ("toolbar", "refresh_comb")],
    protocol.PD: [("point", "append", DATA)],
    protocol.TD: [("trace", "append", DATA)],
    protocol.ROLL: [("point", "roll")],
    protocol.PXY: [("toolbar", "set_point_text", DATA)],
    protocol.TXY: [("toolbar", "set_trace_text", DATA)],
}


def handled(word):
    """The calls a real Vandrel makes for (word, DATA), and its warnings."""
    log = []
    toolbar, point, trace = (Recorder(name, log) for name in ("toolbar", "point", "trace"))
    dispatcher = vandrel.Vandrel(FakeQueue(), toolbar, point, trace)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        dispatcher.handle(word, DATA)
    return log, [str(w.message) for w in caught]


def test_every_command_word_reaches_its_data_set_or_toolbar_call():
    assert set(protocol.COMMAND_WORDS) == set(CALLS) and len(protocol.COMMAND_WORDS) == len(CALLS)
    for word in protocol.COMMAND_WORDS:
        assert handled(word) == (CALLS[word], []), word


@pytest.mark.parametrize("word", ["pn", "PD ", "P", "PDX", "TROLL", "XY", "CLR", "TEXT", ""])
def test_a_word_not_in_the_list_is_unknown_to_the_dispatcher(word):
    assert handled(word) == ([], [f"QueueHandler - unknown command : {word}"])
