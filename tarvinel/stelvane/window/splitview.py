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


class SplitFollower:
    """Called once a frame (after the intake): brings the points' pattern
    up to a split that changed since, or ends the window over --split's
    mistake. Returns True when the columns the patterns match changed."""

    def __init__(self, window):
        self.window = window
        self.seen = 0         # the split's changes when last looked at
        self.default = None   # the pattern it last set
        self.was_split = False  # whether the columns showed split when last looked at

    def __call__(self) -> bool:
        window = self.window
        record = window.modes[MODES[0].key]
        split = record.dataset.split
        if split.mistake:
            if not window.exit_status:
                fail(window, split.mistake)
            return False
        if split.changes == self.seen:
            return False
        self.seen = split.changes
        was_split, self.was_split = self.was_split, split.active
        if not (split.active or was_split):
            return False  # the columns the patterns match are the source's, as they were
        if split.active and record.controls.pattern_field.text() in self._defaults(record.dataset):
            self.default = default_pattern(record.dataset.column_names,
                                           record.dataset.described.kinds)
            record.controls.set_pattern(self.default)
        return True

    def _defaults(self, dataset) -> set:
        """The patterns the source's columns bring (with none or some of the
        derived series: exprseditor.widen_default_pattern), and the one set
        for the split before (entities came since)."""
        names, kinds = dataset.split.stored_columns()
        series = dataset.derived.names
        return {self.default} | {default_pattern(names + series[:k], kinds + (NUMBER,) * k)
                                 for k in range(len(series) + 1)}


def fail(window, message: str) -> None:
    """Says `message` (stderr, the problems) and ends the window with status 2."""
    print(f"stelvane: error: {message}", file=sys.stderr, flush=True)
    window.report(message)
    window.exit_status = MISTAKE_STATUS
    window.close()
