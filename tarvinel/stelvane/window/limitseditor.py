"""The window's editor of limit lines (K, the Limits button): one
NAME = VALUE a line, as --limit takes them. Apply takes them all or none:
a line that is no limit is named with the reason, and the limits in use
stay until every line is sound.
"""

from ..model.limits import LimitError, parse_limit
from .lineseditor import LinesEditor

TITLE = "stelvane: limit lines"


def parse_lines(text: str) -> list:
    """The limits of `text`, one a line (blank lines skipped); raises
    LimitError naming the line of the first that is none, and a curve given twice."""
    found = {}
    for number, line in enumerate(text.splitlines(), start=1):
        if not line.strip():
            continue
        try:
            limit = parse_limit(line)
        except LimitError as error:
            raise LimitError(f"line {number}: {error}") from None
        if limit.name in found:
            raise LimitError(f"line {number}: {limit.name} has a limit already (one a curve)")
        found[limit.name] = limit
    return list(found.values())


class LimitsEditor(LinesEditor):
    """The lines of the window's limits, applied with Apply (or Ctrl+Return);
    Close or Esc leaves them as they were."""

    def __init__(self, window):
        super().__init__(window, TITLE, "One limit line a line: CURVE = VALUE (the curve's Y column)",
                         "volts = 4.5\ntemperature = 80", (420, 220))

    def open_with_limits(self) -> None:
        self.open_with("\n".join(f"{limit.name} = {limit.value!r}"
                                  for limit in self.window.limit_lines.limits))

    def apply(self) -> bool:
        """Takes the lines as the window's limits; False (and the reason
        shown) when one is no limit."""
        try:
            limits = parse_lines(self.lines.toPlainText())
        except LimitError as error:
            self.message.setText(str(error))
            return False
        self.message.clear()
        self.window.limit_lines.set_limits(limits)
        self.window.inform(f"{len(limits)} limit line(s) taken")
        return True


def edit_limits(window) -> LimitsEditor:
    """Opens the window's editor (one per window) with its limits."""
    editor = getattr(window, "limits_editor", None)
    if editor is None:
        editor = window.limits_editor = LimitsEditor(window)
    editor.open_with_limits()
    return editor
