"""The window's parts on their own: the toolbar flag hand-over and the problem log."""

import pytest

from tarvinel.stelvane.presenters.toolbar_adapter import ToolbarChanges, take_toolbar_changes
from tarvinel.stelvane.window.problems import ProblemLog
from tarvinel.stelvane.toolbar import ToolBar

FLAGS = {"pairs": "xypairs_dirty", "formats": "xyfm_dirty", "links": "link_dirty",
         "clear_history": "CR_flag"}


@pytest.mark.parametrize("raised", [(), ("clear_history",), ("pairs", "links"), tuple(FLAGS)])
def test_taking_the_toolbar_changes_clears_exactly_the_flags_it_reports(qtbot, raised):
    bar = ToolBar()
    qtbot.addWidget(bar)
    for name, flag in FLAGS.items():
        setattr(bar, flag, name in raised)
    assert take_toolbar_changes(bar) == ToolbarChanges(**{name: True for name in raised})
    assert [getattr(bar, flag) for flag in FLAGS.values()] == [False] * 4
    assert take_toolbar_changes(bar) == ToolbarChanges()  # nothing new since


def test_problem_log_counts_repeats_and_keeps_the_newest():
    log = ProblemLog(kept=3)
    assert (log.count, log.text, log.tool_tip) == (0, "", "")
    for message in ["a", "b", "b", "b", "c", "d", "a"]:
        log.add(message)
    assert log.count == 7
    assert list(log.entries) == [("c", 1), ("d", 1), ("a", 1)]  # "a" again after others: new entry
    log.add("a")
    assert log.text == "a (×2)" and log.tool_tip == "c\nd\na (×2)"


def test_problem_texts_are_the_first_and_the_last_as_shown():
    log = ProblemLog(kept=3)
    for message in ["a", "b", "b"]:
        log.add(message)
    assert log.texts() == ["a", "b (×2)"]  # fewer than first and last together: each once
    for message in "cdefg":
        log.add(message)
    # The first ones outlive the log's own bound.
    assert log.texts() == ["a", "b (×2)", "c", "e", "f", "g"]
    assert log.texts(first=1, last=1) == ["a", "g"]
