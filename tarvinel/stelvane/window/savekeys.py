"""The window's save keys: Ctrl+S saves a plot as a picture, Ctrl+E the
current mode's data as text (the current run, the finished runs or what the
live plot shows), each through a save dialog; a key filter keeps
both keys working in a line edit that would take them.
"""

import os

from ..formats.atomic import ExportError
from ..qt_compat import QShortcut, QtCore, QtGui, QtWidgets, pressed_keys
from ..widgets.plotimage import save_plot
from .export import current_run_writer, history_writer, visible_range_writer
from .writer_thread import DataFileWriter

PICTURE_FILTERS = ("PNG image (*.png)", "SVG drawing (*.svg)")
RUN_FILTER = "Current run, all columns (*.csv)"
HISTORY_FILTER = "Finished runs, one after the other (*.csv)"
VISIBLE_FILTER = "The visible range of the live plot, all columns (*.csv)"


def ask_save_path(parent, caption: str, suggested: str, filters) -> tuple[str, str]:
    """The save dialog: the chosen path and filter, or ("", "") when cancelled."""
    path, chosen = QtWidgets.QFileDialog.getSaveFileName(parent, caption, suggested, ";;".join(filters))
    return path or "", chosen or ""


def with_suffix(path: str, chosen_filter: str) -> str:
    """`path`, with the chosen filter's suffix added when it has none of its own."""
    if os.path.splitext(path)[1]:
        return path
    start = chosen_filter.rfind("*.")
    return path + chosen_filter[start + 1:chosen_filter.find(")", start)] if start >= 0 else path


class ShortcutKeeper(QtCore.QObject):
    """Event filter that turns down a widget's claim on the window's own keys."""

    def __init__(self, sequences):
        super().__init__()
        self.sequences = list(sequences)

    def eventFilter(self, watched, event):
        if event.type() == QtCore.QEvent.Type.ShortcutOverride and pressed_keys(event) in self.sequences:
            event.ignore()  # not the widget's key: the window's shortcut gets it
            return True
        return False


class ExportKeys:
    """Ctrl+S saves the plot under the pointer (the first plot when the
    pointer is on none) as PNG or SVG; Ctrl+E saves the current data set's
    current run or its finished runs as text. Both ask for the file with a
    save dialog (`ask_path`, replaceable), say in the status bar what was
    saved where (`inform`), and report a failure as a problem (`report`).
    A data file is written by a thread of its own (a long run takes seconds
    to format), one at a time; `wait()` waits for it.

    `plots` maps a plot's name ("live", "history") to its widget;
    `dataset` returns the data set of the current mode, `visible` (if
    given) what the live plot shows of it (an export.VisibleRange, or None
    while it shows nothing)."""

    def __init__(self, window, plots: dict, dataset, report, inform, visible=None):
        self.window = window
        self.plots = plots
        self.dataset = dataset
        self.visible = visible or (lambda: None)
        self.report = report
        self.inform = inform
        self.ask_path = lambda *args: ask_save_path(window, *args)
        self.directory = ""  # where the last file went; the next dialog starts there
        self.directives = lambda: ()  # the directive lines every data file carries (markers)
        self.shortcuts = []
        for keys, action in (("Ctrl+S", self.save_plot), ("Ctrl+E", self.save_data)):
            item = QShortcut(QtGui.QKeySequence(keys), window)
            item.activated.connect(action)
            self.shortcuts.append(item)
        self.key_keeper = ShortcutKeeper([item.key() for item in self.shortcuts])
        self.writer = DataFileWriter(self._written)

    def keep_keys_in(self, *widgets) -> None:
        """Keeps the keys working while one of `widgets` has the focus: a
        line edit takes Ctrl+E (the end of the line, on X11) before any
        window shortcut."""
        for widget in widgets:
            widget.installEventFilter(self.key_keeper)

    def plot_under_pointer(self) -> tuple[str, object]:
        position = QtGui.QCursor.pos()
        for name, plot in self.plots.items():
            if plot.isVisible() and plot.rect().contains(plot.mapFromGlobal(position)):
                return name, plot
        return next(iter(self.plots.items()))

    def save_plot(self) -> None:
        name, plot = self.plot_under_pointer()
        path, chosen = self.ask_path(f"Save the {name} plot", self._suggest(f"{name}.png"),
                                     PICTURE_FILTERS)
        if not path:
            return
        path = with_suffix(path, chosen)
        self._save(lambda: f"saved the {name} plot as {save_plot(plot, path)} to {path}", path)

    def save_data(self) -> None:
        dataset = self.dataset()
        path, chosen = self.ask_path(f"Save the {dataset.name} data", self._suggest(f"{dataset.name}.csv"),
                                     (RUN_FILTER, HISTORY_FILTER, VISIBLE_FILTER))
        if not path:
            return
        path = with_suffix(path, chosen)
        if self.writer.busy:
            self.report(f"could not save {path}: the last data file is still being written")
            return
        lines = tuple(self.directives())
        try:
            if chosen == HISTORY_FILTER:
                write, count = history_writer(dataset, path, lines)
                message = f"saved {count} finished {dataset.name} run(s) to {path}"
            elif chosen == VISIBLE_FILTER:
                write, count = self._visible_writer(dataset, path, lines)
                message = f"saved the {count:,} visible rows of {dataset.name} to {path}"
            else:
                write, count = current_run_writer(dataset, path, lines)
                message = f"saved {count:,} rows of {dataset.name} run {dataset.run_number} to {path}"
        except ExportError as error:
            self.report(str(error))
            return
        self.inform(f"saving {path} …")
        self.writer.start(write, path, message)

    def _visible_writer(self, dataset, path: str, lines=()):
        visible = self.visible()
        if visible is None:
            raise ExportError(f"could not save {path}: the live plot shows no curve")
        return visible_range_writer(dataset, path, visible, lines)

    def wait(self) -> None:
        """Waits until the data file under way (if any) is written."""
        self.writer.wait()

    def _written(self, path: str, message: str, problem: str) -> None:
        if problem:
            self.report(problem)
        else:
            self.directory = os.path.dirname(os.path.abspath(path))
            self.inform(message)

    def _suggest(self, name: str) -> str:
        return os.path.join(self.directory, name) if self.directory else name

    def _save(self, save, path: str) -> None:
        # A long run takes seconds to write; the pointer says so meanwhile.
        QtWidgets.QApplication.setOverrideCursor(QtGui.QCursor(QtCore.Qt.CursorShape.WaitCursor))
        try:
            self._written(path, save(), "")
        except ExportError as error:
            self._written(path, "", str(error))
        finally:
            QtWidgets.QApplication.restoreOverrideCursor()
