"""What the window does when the points' table shows split per entity
(model/entitysplit.py): the default pattern follows the split names, so
that each entity gets its curves; a pattern the user wrote is left as it
is. And a --split that names no text column ends the window with status 2
and a message naming the column and the columns there are.
"""

import sys

from ..model.modes import MODES
from ..protocol import NUMBER, default_pattern

# The exit status of a command-line mistake (argparse's).
MISTAKE_STATUS = 2


def follow_split(window) -> bool:
    """Brings the points' pattern up to a split that changed since the last
    frame, or ends the window over --split's mistake. True when the columns
    the patterns match changed."""
    record = window.modes[MODES[0].key]
    split = record.dataset.split
    if split.mistake:
        if not getattr(window, "exit_status", 0):
            fail(window, split.mistake)
        return False
    if split.changes == getattr(window, "split_seen", 0):
        return False
    window.split_seen = split.changes
    field = record.controls.pattern_field
    if split.active and field.text() in _defaults(record.dataset, window):
        window.split_default = default_pattern(record.dataset.column_names,
                                               record.dataset.described.kinds)
        record.controls.set_pattern(window.split_default)
    return True


def _defaults(dataset, window) -> set:
    """The patterns the source's columns bring (with none or some of the
    derived series: exprseditor.widen_default_pattern), and the one this
    window set for the split before (entities came since)."""
    names, kinds = dataset.split.stored_columns()
    series = dataset.derived.names
    return {getattr(window, "split_default", None)} | {
        default_pattern(names + series[:k], kinds + (NUMBER,) * k) for k in range(len(series) + 1)}


def fail(window, message: str) -> None:
    """Says `message` (stderr, the problems) and ends the window with status 2."""
    print(f"stelvane: error: {message}", file=sys.stderr, flush=True)
    window.report(message)
    window.exit_status = MISTAKE_STATUS
    window.close()
