"""The window's editor of derived series (E, the f(x) button): one
NAME=EXPRESSION a line, as --expr takes them. Apply takes them all or none:
a line that is no expression is shown with its character pointed at, and
the series in use stay until every line is sound.

The series taken go to both data sets (the current runs get their values
at once), the toolbar matches its patterns against the new columns, and the
window remembers them for the source when it closes.
"""

import warnings

from ..model.derivedcolumns import derive_in
from ..model.expressions import ExpressionError, parse_definition
from ..model.modes import MODES
from ..protocol import NUMBER, default_pattern
from .lineseditor import LinesEditor

TITLE = "stelvane: derived series"


def parse_lines(text: str) -> list:
    """The expressions of `text`, one a line (blank lines skipped); raises
    ValueError naming the line of the first that is none, pointed at."""
    found = []
    for number, line in enumerate(text.splitlines(), start=1):
        if not line.strip():
            continue
        try:
            found.append(parse_definition(line))
        except ExpressionError as error:
            raise ValueError(f"line {number}: {error.pointed}") from None
    return found


def use_expressions(window, expressions) -> list[str]:
    """Derives `expressions` in the window's data sets from now on; what does
    not fit a data set is reported in the window's problem log (and returned)."""
    window.expressions = tuple(expressions)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        derive_in([record.dataset for record in window.modes.values()], window.expressions)
    problems = [str(warning.message) for warning in caught]
    for problem in problems:
        window.report(problem)
    widen_default_pattern(window)
    window.selection.columns_changed()
    return problems


def widen_default_pattern(window) -> bool:
    """A source's own default pattern (its time or first number column
    against the other numbers) takes the derived series too: they are
    columns like any other. A pattern the user wrote is left as it is.
    Returns whether the pattern changed."""
    record = window.modes[MODES[0].key]
    dataset, field = record.dataset, record.controls.pattern_field
    series = dataset.derived.names
    names = dataset.column_names
    if not series or len(names) <= len(series):
        return False
    looked_at = (tuple(names), dataset.source_kinds, field.text())  # asked every frame
    if getattr(window, "_pattern_widened_for", None) == looked_at:
        return False
    window._pattern_widened_for = looked_at
    kinds, source = dataset.source_kinds, len(names) - len(series)
    # The defaults of the source's columns with none, or some, of the series.
    defaults = [default_pattern(names[:source + k], kinds + (NUMBER,) * k)
                for k in range(len(series) + 1)]
    wanted = defaults.pop()
    if field.text() not in defaults:
        return False
    record.controls.set_pattern(wanted)
    return True


class ExpressionsEditor(LinesEditor):
    """The lines of the window's derived series, applied with Apply (or
    Ctrl+Return); Close or Esc leaves them as they were."""

    def __init__(self, window):
        super().__init__(window, TITLE, "One derived series a line: NAME = EXPRESSION (a name "
                         "with spaces or symbols in `backquotes`)",
                         "p = volts * amps\nslope = derivative(level)", (560, 260),
                         fixed_message=True)

    def open_with_series(self) -> None:
        self.open_with("\n".join(e.definition for e in self.window.expressions))

    def apply(self) -> bool:
        """Takes the lines as the window's derived series; False (and the
        reason shown) when one is no expression."""
        try:
            expressions = parse_lines(self.lines.toPlainText())
        except ValueError as error:
            self.message.setText(str(error))
            return False
        self.message.setText("\n".join(use_expressions(self.window, expressions)))
        self.window.inform(f"{len(expressions)} derived series taken")
        return True


def edit_expressions(window) -> ExpressionsEditor:
    """Opens the window's editor (one per window) with its series."""
    editor = getattr(window, "expressions_editor", None)
    if editor is None:
        editor = window.expressions_editor = ExpressionsEditor(window)
    editor.open_with_series()
    return editor
