"""What the plots show: the toolbar's published selection and the data sets
turned into curves, redrawing only what changed since the last frame.

The toolbar tells the host what changed through flags that the host alone
clears (see toolbar_adapter.take_toolbar_changes). Everything on screen
changes in `Presenter.present` only: a caller that does not call it holds the
picture still while the intake goes on, and the flags wait, set, until it
does.

Pausing is more than not calling it: a paused presenter draws from the data
as it was at the pause (`modes.ModeRecord.held`), so zooming, panning and new
patterns still redraw the held picture correctly while the data sets go on
growing.
"""

from .. import config
from ..model.axissides import AxisSides
from .plots import Frame
from .toolbar_adapter import ToolbarChanges


def link_axes(plots, share_x: bool, share_y: bool) -> None:
    """Makes every plot after the first follow the first one's X and/or Y range."""
    leader = plots[0]
    for plot in plots[1:]:
        plot.setXLink(leader if share_x else None)
        plot.setYLink(leader if share_y else None)
    for plot in plots:
        plot.XAxisLinked, plot.YAxisLinked = bool(share_x), bool(share_y)


class Presenter:
    """Hands the plots (`plot_presenters`, plots.PlotPresenter) from the mode records
    (`modes`, key -> modes.ModeRecord) as the toolbar (a
    toolbar_adapter.ToolbarAdapter) says."""

    def __init__(self, toolbar, modes: dict, plot_presenters):
        self.toolbar = toolbar
        self.modes = modes
        self.plot_presenters = list(plot_presenters)
        self.plots = [presenter.plot for presenter in self.plot_presenters]
        # The plots whose axes show the selection's columns (not a spectrum's).
        self.selection_plots = [presenter.plot for presenter in self.plot_presenters if presenter.follows_selection]
        for presenter in self.plot_presenters:
            presenter.attach(self.plot_presenters)
        self.legends = [presenter.legend for presenter in self.plot_presenters]
        self.shown_mode: str | None = None
        self.matched_pairs = 0
        self.busy = False  # the last present() updated a plot, or left curves under way
        self.first_data_seen = False  # see show_first_data
        self.sides = AxisSides()  # which curves go on the right Y axis
        self._sides_shown = None  # (right pairs, right log) of the last frame
        for presenter in self.plot_presenters:
            if not presenter.follows_selection:
                continue  # a spectrum's axes are its own: one Y axis
            presenter.legend.on_side = self.put_on_side
            presenter.legend.on_right_log = self.set_right_log

    def put_on_side(self, key, right: bool) -> None:
        """The legend's menu: curve `key` goes on the right axis (or the left)."""
        pairs = self.toolbar.selection().pairs[:len(config.ridx)]
        index = list(config.ridx).index(key)
        if index < len(pairs):
            self.sides.choose(pairs[index], right)
            self.present()

    def set_right_log(self, on: bool) -> None:
        """The legend's menu: the right Y axis on a log scale, or linear."""
        self.sides.right_log = bool(on)
        self.present()

    @property
    def paused(self) -> bool:
        return any(record.paused for record in self.modes.values())

    def set_paused(self, paused: bool) -> None:
        """Holds the picture still (the plots draw from the data as it is
        now) or lets it go on; the next frame shows the latest data."""
        if paused == self.paused:
            return
        for record in self.modes.values():
            record.hold(paused)
        self._forget()

    def show_legends(self, shown: bool) -> None:
        for legend in self.legends:
            legend.set_shown(shown)

    def place_legends(self) -> None:
        """Moves each legend off the newest data (a few times a second)."""
        for legend in self.legends:
            legend.place()

    def _forget(self) -> None:
        for presenter in self.plot_presenters:
            presenter.forget()

    def present(self) -> None:
        """Takes the toolbar's changes and plot_presenters the plots whose data or
        selection changed."""
        if not self.first_data_seen:
            self.show_first_data()
        selection = self.toolbar.selection()
        record = self.modes[selection.mode]
        redraw_all = self._apply_changes(selection.mode, self.toolbar.take_changes())
        self.matched_pairs = len(selection.pairs)
        shown_pairs = selection.pairs[:len(config.ridx)]
        fx, fy = selection.fx, selection.fy
        sides = (self.sides.right(selection.pattern, shown_pairs), self.sides.right_log)
        if redraw_all or sides != self._sides_shown:
            self._sides_shown = sides
            self._forget()  # each presenter sets its labels, axes and legend anew
        frame = Frame(record, shown_pairs, fx, fy, self.paused, *sides)
        shown = [presenter.shown for presenter in self.plot_presenters]  # what each presenter drew last
        for presenter in self.plot_presenters:
            presenter.present(frame)
        self.busy = any(presenter.shown != before or presenter.job is not None
                        for presenter, before in zip(self.plot_presenters, shown))

    def show_first_data(self) -> None:
        """Once the first data arrives: where it is a mode's and no other
        mode has columns at all (a Touchstone file brings a trace and never
        point columns), the toolbar switches to that mode. Decided once: a
        switch of the user's afterwards stays."""
        arrived = [key for key, record in self.modes.items() if record.dataset.rows_stored]
        if not arrived:
            return
        self.first_data_seen = True
        others = [record.dataset.column_names for key, record in self.modes.items()
                  if key != arrived[0]]
        if len(arrived) == 1 and not any(others) and self.toolbar.mode != arrived[0]:
            self.toolbar.show_mode(arrived[0])

    def _apply_changes(self, mode: str, changes: ToolbarChanges) -> bool:
        """Acts on a new mode and the toolbar's changes; true when every curve
        must be updated again."""
        mode_changed = mode != self.shown_mode
        self.shown_mode = mode
        if changes.formats:
            for plot in self.selection_plots:
                plot.set_log_mode(*self.toolbar.log_scales())
        if changes.links or mode_changed:
            link_axes(self.selection_plots, *self.toolbar.shared_axes())
        if changes.clear_history:
            for presenter in self.plot_presenters:
                presenter.clear(self.modes)
        return mode_changed or changes.formats or changes.pairs
