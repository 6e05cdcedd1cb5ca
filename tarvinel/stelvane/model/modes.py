"""The window's modes, Points and Traces, as records: what differs between
them is written here once, as data, and everything else looks it up instead
of asking which mode it is.

`MODES` holds what a mode is (its key, the words and names it goes by); a
window makes one `ModeRecord` per entry, which adds the mode's live objects
(its data set, data box, toolbar controls) and the data held while paused.
No Qt here: the settings and the command line read these records too.
"""

from dataclasses import dataclass
import typing

from .hold import HeldData


@dataclass(frozen=True)
class Mode:
    key: str             # the toolbar's mode letter
    name: str            # the data set's name, and the settings group
    caption: str         # the data box's title
    run_word: str        # what the plots' titles call one run of it
    pattern_option: str  # the command-line option (argparse dest) of its pattern
    whole_runs: bool     # every payload is a run of its own (a trace)
    # The Y format the window starts with; None: the toolbar's own (its
    # first, magnitude, meant for complex traces).
    y_format: str | None = None
    # Whether the live plot shows the window (--window) of its runs while
    # it follows them; else the newest --live-rows rows.
    windowed: bool = False


MODES = (
    # Points are real numbers: shown as they are, not as magnitudes.
    Mode("P", "points", "Points", "run", "pattern", whole_runs=False, y_format="real",
         windowed=True),
    Mode("T", "traces", "Traces", "trace", "trace_pattern", whole_runs=True),
)
BY_KEY = {mode.key: mode for mode in MODES}


@dataclass
class ModeRecord:
    """One mode of a window: its data set (a `Dataset`), the box that shows
    it, the toolbar controls of the mode (a `toolbar_adapter.ModeControls`)
    and, while paused, the data held at the pause; while a file is replayed
    (points only), the replay (a replay.Replay), whose cursor a pause stops."""
    mode: Mode
    dataset: typing.Any
    data_box: typing.Any = None
    controls: typing.Any = None
    held: HeldData | None = None
    replay: typing.Any = None

    @property
    def key(self) -> str:
        return self.mode.key

    @property
    def shown(self):
        """What the plots draw from: the held data while paused, the run up
        to the replay's cursor while replaying, else the data set."""
        if self.held is not None:
            return self.held
        return self.dataset if self.replay is None else self.replay.view()

    @property
    def paused(self) -> bool:
        return self.held is not None or (self.replay is not None and self.replay.paused)

    def hold(self, paused: bool) -> None:
        """Pauses: holds the data as it is, or stops the replay's cursor."""
        if self.replay is not None:
            self.replay.set_paused(paused)
        else:
            self.held = HeldData(self.dataset) if paused else None
