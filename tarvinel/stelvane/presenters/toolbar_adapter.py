"""The one host file that knows the selection toolbar's own names: the
flags it raises, the selection it publishes (`mode`, `xypairs`, `fx`, `fy`,
`lx`, `ly`, `sharexy()`), its mode bundles (`ps`, `ts`) and their widgets,
and the names it reads from the window. Everything else in the host goes
through the functions and classes here.

The flags' protocol: the toolbar only ever sets `xypairs_dirty`,
`xyfm_dirty`, `link_dirty` and `CR_flag` to true; the host reads and clears
them, in `take_toolbar_changes` and nowhere else.
"""

from collections.abc import Callable
from dataclasses import dataclass
import re

from ..toolbar import ToolBar

# The toolbar's bundle of each mode, and the window attribute it reads that
# mode's column names from (`<box>.column_names`).
_BUNDLES = {"P": "ps", "T": "ts"}
_WINDOW_DATA_BOXES = {"P": "point_data_box", "T": "trace_data_box"}
_MODE_NAMES = {"P": "Points", "T": "Traces"}
# The toolbar's grid column of the pattern field, and the least width the
# field keeps, in pixels: a pattern of two or three names stays readable.
_PATTERN_COLUMN = 3
PATTERN_WIDTH = 150
# The toolbar's radio button of each mode.
_MODE_BUTTONS = {"P": "pb", "T": "tb"}


@dataclass(frozen=True)
class ToolbarChanges:
    """What the toolbar flagged since the host last looked."""
    pairs: bool = False          # the matched X;Y pairs changed
    formats: bool = False        # the formats or log scales changed
    links: bool = False          # the shared-axis choice changed
    clear_history: bool = False  # the user asked for an empty history


# The toolbar's flag for each field of ToolbarChanges.
_FLAGS = {"pairs": "xypairs_dirty", "formats": "xyfm_dirty", "links": "link_dirty",
          "clear_history": "CR_flag"}


def take_toolbar_changes(toolbar) -> ToolbarChanges:
    """Reads the toolbar's flags and clears those that were set. A flag is
    written only when it was set, so a change the toolbar flags meanwhile
    is never cleared unseen."""
    changes = {}
    for name, flag in _FLAGS.items():
        changes[name] = bool(getattr(toolbar, flag))
        if changes[name]:
            setattr(toolbar, flag, False)
    return ToolbarChanges(**changes)


@dataclass(frozen=True)
class Selection:
    """What the toolbar publishes for the plots, read once a frame."""
    mode: str           # the key of the current mode
    pairs: list         # every matched (X, Y) pair of column names
    fx: str | None      # X and Y format names
    fy: str | None
    pattern: str = ""   # the current mode's pattern as typed (axissides reads its marks)


class ModeControls:
    """The toolbar's widgets of one mode, by the names the settings use:
    the pattern field, the format boxes "fx" and "fy", and the check boxes
    "logX", "logY", "shareX", "shareY". Values are set through the widgets'
    own methods, which run the toolbar's handlers as a user's edit would."""

    FORMATS = ("fx", "fy")
    _BOXES = {"logX": "lx", "logY": "ly", "shareX": "linkx", "shareY": "linky"}
    BOXES = tuple(_BOXES)

    def __init__(self, bundle):
        self.pattern_field = bundle.stx
        self.formats = {name: getattr(bundle, name) for name in self.FORMATS}
        self.boxes = {name: getattr(bundle, widget) for name, widget in self._BOXES.items()}

    def set_pattern(self, text: str) -> None:
        self.pattern_field.set_text(text)

    def set_format(self, name: str, text: str) -> bool:
        """Chooses the format `text` in box `name`; False when it offers none such."""
        combo = self.formats[name]
        index = combo.findText(text)
        if index < 0:
            return False
        if index != combo.currentIndex():
            combo.set_idx(index)
        return True


def unmatched_text(pattern: str) -> str:
    """What the window says of an (X,Y) pattern that matches no pair."""
    hint = "write X,Y: a comma between the X and the Y column, ; between pairs"
    if "," not in pattern and ";" in pattern:
        hint = f"did you mean {pattern.replace(';', ',', 1)!r}? ({hint})"
    return f"(X,Y) pattern {pattern!r}: no pair matched; {hint}"


class ToolbarAdapter:
    """The host's view of one toolbar.

    The toolbar raises re.error from its own slots when a pattern does not
    compile (the field's Return, a mode switch), and leaves its published
    pairs as they were: after a switch those are the other mode's. The host
    keeps its own whole here: the toolbar's slots run through `_guarded`,
    which reports the bad pattern once, and the selection keeps the last
    pairs each mode's pattern matched until the toolbar matches that mode
    again."""

    def __init__(self, window, report: Callable[[str], None]):
        # The toolbar reads the column names through the window, so it must
        # know the window before the intake hands it the first names.
        self.toolbar = ToolBar()
        self.toolbar.set_mainwindow(window)
        self.controls = {key: ModeControls(getattr(self.toolbar, bundle))
                         for key, bundle in _BUNDLES.items()}
        self.report = report
        self._matched_mode = self.toolbar.mode  # the mode the toolbar's pairs belong to
        self._last_pairs = {key: [] for key in _BUNDLES}  # each mode's last good pairs
        self._bad_patterns = {key: None for key in _BUNDLES}  # the one reported, per mode
        self._unmatched: dict = {}  # the pattern last said to match nothing, per mode
        self._applied: dict = {}  # the pattern text each mode's pairs were matched with
        self._guard_slots()

    def _guard_slots(self) -> None:
        """Connects the pattern fields and the mode buttons to the toolbar's
        own handlers through `_guarded`, in place of their direct connections."""
        tb = self.toolbar
        for controls in self.controls.values():
            controls.pattern_field.editingFinished.disconnect()
            controls.pattern_field.set_on_change_event_action(self._guarded(tb.textEdited))
        for button in (tb.pb, tb.tb):
            button.toggled.disconnect()
            button.toggled.connect(self._guarded(tb.toggle_mode))

    def _guarded(self, handler):
        def run(*_signal_args):
            try:
                handler()
            except re.error as error:  # the mode is the one the handler switched to
                self.bad_pattern(self.toolbar.mode, error)
            else:
                self._matched_mode = self.toolbar.mode
                self._bad_patterns[self.toolbar.mode] = None
                self._applied[self.toolbar.mode] = self.toolbar.selections.stx.text()
                self._tell_unmatched()
        return run

    def _tell_unmatched(self) -> None:
        """Says once that a pattern matches no pair of the columns there are."""
        tb, mode = self.toolbar, self.toolbar.mode
        text = tb.selections.stx.text()
        unmatched = text if text and not tb.xypairs and tb.column_names else None
        if unmatched is not None and unmatched != self._unmatched.get(mode):
            self.report(unmatched_text(unmatched))
        self._unmatched[mode] = unmatched

    def bad_pattern(self, mode: str, error: re.error) -> None:
        """Reports a pattern that does not compile, once while it stands."""
        if self._bad_patterns[mode] == error.pattern:
            return
        self._bad_patterns[mode] = error.pattern
        self.report(f"invalid pattern {error.pattern!r}: {error} "
                    f"({_MODE_NAMES[mode]} keep the pairs matched before)")

    def give_room_to_patterns(self) -> None:
        """The toolbar's row packed closer, and its spare width to the
        pattern field, which keeps PATTERN_WIDTH at least."""
        grid = self.toolbar.layout
        grid.setHorizontalSpacing(2)
        grid.setColumnStretch(_PATTERN_COLUMN, 1)
        for controls in self.controls.values():
            controls.pattern_field.setMinimumWidth(PATTERN_WIDTH)

    @staticmethod
    def publish_data_boxes(window, boxes: dict) -> None:
        """Gives `window` the attributes the toolbar reads each mode's column
        names from (`boxes`: mode key -> data box)."""
        for key, box in boxes.items():
            setattr(window, _WINDOW_DATA_BOXES[key], box)

    @property
    def mode(self) -> str:
        return self.toolbar.mode

    def show_mode(self, key: str) -> None:
        """Switches to mode `key` as the user's click on its button does."""
        getattr(self.toolbar, _MODE_BUTTONS[key]).setChecked(True)

    @property
    def pairs(self) -> list:
        """The pairs the current mode's pattern matched last."""
        mode = self.toolbar.mode
        if mode == self._matched_mode:
            self._last_pairs[mode] = list(self.toolbar.xypairs)
        return list(self._last_pairs[mode])

    def columns_changed(self) -> None:
        """Matches the patterns against the data sets' columns again (the
        intake does so whenever new names arrive)."""
        self.toolbar.refresh_comb()

    def take_changes(self) -> ToolbarChanges:
        return take_toolbar_changes(self.toolbar)

    def selection(self) -> Selection:
        tb = self.toolbar
        pattern = self._applied.get(tb.mode, self.controls[tb.mode].pattern_field.text())
        return Selection(tb.mode, self.pairs, tb.fx, tb.fy, pattern)

    def log_scales(self) -> tuple[bool, bool]:
        """Whether X and Y are on a log scale."""
        return bool(self.toolbar.lx), bool(self.toolbar.ly)

    def shared_axes(self) -> tuple[bool, bool]:
        """Whether the plots after the first follow its X and its Y range."""
        share_x, share_y = self.toolbar.sharexy()
        return bool(share_x), bool(share_y)
