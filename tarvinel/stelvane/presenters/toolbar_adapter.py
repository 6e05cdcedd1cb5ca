"""The one host file that knows the selection toolbar's own names: the
flags it raises, the selection it publishes (`mode`, `xypairs`, `fx`, `fy`,
`lx`, `ly`, `sharexy()`), its mode bundles (`ps`, `ts`) and their widgets,
and the names it reads from the window. Everything else in the host goes
through the functions and classes here.

The flags' protocol: the toolbar only ever sets `xypairs_dirty`,
`xyfm_dirty`, `link_dirty` and `CR_flag` to true; the host reads and clears
them, in `take_toolbar_changes` and nowhere else.
"""

from dataclasses import dataclass

from ..toolbar import ToolBar

# The toolbar's bundle of each mode, and the window attribute it reads that
# mode's column names from (`<box>.column_names`).
_BUNDLES = {"P": "ps", "T": "ts"}
_WINDOW_DATA_BOXES = {"P": "point_data_box", "T": "trace_data_box"}
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


class ToolbarAdapter:
    """The host's view of one toolbar."""

    def __init__(self, window):
        # The toolbar reads the column names through the window, so it must
        # know the window before the intake hands it the first names.
        self.toolbar = ToolBar()
        self.toolbar.set_mainwindow(window)
        self.controls = {key: ModeControls(getattr(self.toolbar, bundle))
                         for key, bundle in _BUNDLES.items()}

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
        return list(self.toolbar.xypairs)

    def take_changes(self) -> ToolbarChanges:
        return take_toolbar_changes(self.toolbar)

    def selection(self) -> Selection:
        tb = self.toolbar
        return Selection(tb.mode, list(tb.xypairs), tb.fx, tb.fy)

    def log_scales(self) -> tuple[bool, bool]:
        """Whether X and Y are on a log scale."""
        return bool(self.toolbar.lx), bool(self.toolbar.ly)

    def shared_axes(self) -> tuple[bool, bool]:
        """Whether the plots after the first follow its X and its Y range."""
        share_x, share_y = self.toolbar.sharexy()
        return bool(share_x), bool(share_y)
