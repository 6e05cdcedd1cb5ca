"""The toolbar's published selection read as changes: its flags handed over
and cleared, each once."""

import pytest

from tarvinel.stelvane.presenters.toolbar_adapter import ToolbarChanges, take_toolbar_changes
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
