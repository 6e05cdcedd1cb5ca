"""Saving what the window shows: a plot as PNG or SVG, data as text.

The data files are in the text format the application reads as a source: a
header line of comma-separated column names, then one line of numbers per row
in Python's notation (`nan`, `inf`, complex values as `1+2j`), `#` comments.
A history file has an empty line after each run but the last, where the
reader ends a run, and a first column that numbers the runs, for other
readers.

Every file is written under a temporary name in the target's directory,
flushed to the disk and then renamed over the target: whoever reads the target
sees the old file or the whole new one, and a failure (no space, no
permission) leaves no partial file under the requested name.
"""

from collections.abc import Callable, Iterable
from contextlib import contextmanager
import errno
import os
import tempfile
import threading

from .formats.text.writer import history_table, table_chunks
from .qt_compat import QtCore, QtGui, QtWidgets

# What the user is told for the usual reasons a write fails.
_REASONS = {
    errno.ENOSPC: "no space left on the device",
    errno.EDQUOT: "the disk quota is used up",
    errno.EACCES: "permission denied",
    errno.EPERM: "the operation is not permitted",
    errno.EROFS: "the file system is read-only",
    errno.ENOENT: "the directory does not exist",
    errno.ENOTDIR: "a part of the path is not a directory",
    errno.EISDIR: "it is a directory",
    errno.ENAMETOOLONG: "the name is too long",
    errno.EFBIG: "the file would be too large",
    errno.EIO: "input/output error",
}


class ExportError(Exception):
    """A file could not be written; the message says which and why, for the user."""


def describe_os_error(path: str, error: OSError) -> str:
    reason = _REASONS.get(error.errno) or error.strerror or str(error)
    return f"could not save {path}: {reason}"


# --- writing a file whole or not at all -------------------------------------------


def write_atomically(path: str, chunks: Iterable[bytes]) -> None:
    """Writes the chunks to `path` so that `path` holds either its old content
    or all of the new one. Raises ExportError with the reason on failure.

    A target that exists and is no regular file (a device such as /dev/null,
    a named pipe) is written to directly: renaming over it would replace the
    device itself."""
    path = os.fspath(path)
    # A symbolic link stays one: the file it points to is what gets replaced.
    target = os.path.realpath(path) if os.path.islink(path) else path
    try:
        if os.path.exists(target) and not os.path.isfile(target) and not os.path.isdir(target):
            _write_through(target, chunks)
        else:
            _write_and_rename(target, chunks)
    except OSError as error:
        raise ExportError(describe_os_error(path, error)) from error


def _write_all(fd: int, chunks: Iterable[bytes]) -> None:
    for chunk in chunks:
        view = memoryview(chunk)
        while view:
            view = view[os.write(fd, view):]


def _write_through(path: str, chunks: Iterable[bytes]) -> None:
    fd = os.open(path, os.O_WRONLY)
    try:
        _write_all(fd, chunks)
    finally:
        os.close(fd)


def _write_and_rename(path: str, chunks: Iterable[bytes]) -> None:
    if os.path.isdir(path):
        raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), path)
    directory, name = os.path.split(os.path.abspath(path))
    fd, temporary = tempfile.mkstemp(prefix=f".{name}.", suffix=".part", dir=directory)
    try:
        try:
            _write_all(fd, chunks)
            # The data reaches the disk before the name does: after a crash
            # the name never stands for a file with missing blocks.
            os.fsync(fd)
        finally:
            os.close(fd)
        # mkstemp makes the file private; a saved file gets the usual mode.
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(temporary, 0o666 & ~umask)
        os.replace(temporary, path)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise
    _sync_directory(directory)


def _sync_directory(directory: str) -> None:
    # Makes the rename itself durable; some file systems cannot, which only
    # costs durability after a crash, not the file.
    try:
        fd = os.open(directory, os.O_RDONLY)
    except OSError:
        return
    try:
        os.fsync(fd)
    except OSError:
        pass
    finally:
        os.close(fd)


# --- data as text (formats/text/writer.py makes the text) ------------------------


def current_run_writer(dataset, path: str) -> tuple[Callable[[], None], int]:
    """Takes the data set's current run as it is now (in the thread that owns
    the data set) and returns what writes it to `path` (in any thread: the
    columns handed out are never changed afterwards) and its row count.
    `dataset` is a Dataset or what reads like one (the data a pause holds)."""
    names = dataset.column_names
    if not names:
        raise ExportError(f"could not save {path}: {dataset.name} has no columns yet")
    columns = [dataset.column(name) for name in names]
    rows = len(columns[0])
    comment = f"stelvane {dataset.name}: run {dataset.run_number}, {rows} rows"
    return lambda: write_atomically(path, table_chunks(names, [columns], [comment])), rows


def history_writer(dataset, path: str) -> tuple[Callable[[], None], int]:
    """Like current_run_writer, for the finished runs (which never change)
    as one table; the count is that of the runs."""
    runs = dataset.history
    if not runs:
        raise ExportError(f"could not save {path}: {dataset.name} has no finished runs yet")
    comment = (f"stelvane {dataset.name}: runs {runs[0].number} to {runs[-1].number}, "
               f"an empty line after each run, the first column numbers the run of each row")

    def write():
        names, blocks = history_table(runs)
        write_atomically(path, table_chunks(names, blocks, [comment]))
    return write, len(runs)


def save_current_run(dataset, path: str) -> int:
    """Writes the data set's current run to `path`; returns the rows written."""
    write, rows = current_run_writer(dataset, path)
    write()
    return rows


def save_history(dataset, path: str) -> int:
    """Writes the data set's finished runs to `path`; returns how many."""
    write, runs = history_writer(dataset, path)
    write()
    return runs


# --- plots as pictures ----------------------------------------------------------------

PLOT_FORMATS = {".png": "PNG", ".svg": "SVG"}


def plot_format(path: str) -> str:
    """"PNG" or "SVG" by the file name's suffix; ExportError for any other."""
    suffix = os.path.splitext(path)[1].lower()
    if suffix not in PLOT_FORMATS:
        raise ExportError(f"could not save {path}: name it .png or .svg")
    return PLOT_FORMATS[suffix]


def plot_bytes(plot, fmt: str) -> bytes:
    """The plot (title, axes, curves and what else its plot item holds) as a
    PNG or SVG file's bytes, made by pyqtgraph's exporters. The names of the
    columns on the axes, which the window shows in labels over the plot (no
    part of the scene), are put on the axes for the picture."""
    from pyqtgraph import exporters  # loads pyqtgraph's exporters on the first save only

    with axis_names_shown(plot):
        if fmt == "SVG":
            with closed_paths_readable():
                return exporters.SVGExporter(plot.plotItem).export(toBytes=True)
        image = exporters.ImageExporter(plot.plotItem).export(toBytes=True)
    data = QtCore.QByteArray()
    buffer = QtCore.QBuffer(data)
    buffer.open(QtCore.QIODevice.OpenModeFlag.WriteOnly if hasattr(QtCore.QIODevice, "OpenModeFlag")
                else QtCore.QIODevice.WriteOnly)
    if not image.save(buffer, "PNG"):
        raise ExportError("could not make the PNG image of the plot")
    buffer.close()
    return bytes(data)


@contextmanager
def closed_paths_readable():
    """pyqtgraph's SVG exporter reads back the paths Qt's SVG generator wrote,
    expecting "x,y" after every command; Qt 6 closes a path with a bare "Z"
    (the view's frame, the clip paths pyqtgraph makes itself), which that
    reading cannot take. While this holds, each "Z" is written as the line
    back to the start of its subpath, the same outline."""
    import importlib

    module = importlib.import_module("pyqtgraph.exporters.SVGExporter")
    original = module.correctCoordinates

    def correct_coordinates(node, defs, item, options):
        for element in node.getElementsByTagName("path"):
            element.setAttribute("d", _closed_as_lines(element.getAttribute("d")))
        return original(node, defs, item, options)

    module.correctCoordinates = correct_coordinates
    try:
        yield
    finally:
        module.correctCoordinates = original


def _closed_as_lines(path: str) -> str:
    tokens, start = [], None
    for token in path.split():
        closes = token[-1] in "Zz"
        token = token[:-1] if closes else token
        if token:
            if token[0] == "M":
                start = token[1:]
            tokens.append(token)
        if closes and start is not None:
            tokens.append("L" + start)
    return " ".join(tokens)


@contextmanager
def axis_names_shown(plot):
    item = plot.plotItem
    names = {"bottom": str(getattr(plot, "xname", "") or ""), "left": str(getattr(plot, "yname", "") or "")}
    shown = [side for side, name in names.items() if name and not item.getAxis(side).label.isVisible()]
    for side in shown:
        item.setLabel(side, names[side])
    item.layout.activate()
    try:
        yield
    finally:
        for side in shown:
            item.showLabel(side, False)
        item.layout.activate()


def save_plot(plot, path: str) -> str:
    """Writes the plot to `path` as PNG or SVG (by the suffix); returns the format."""
    fmt = plot_format(path)
    write_atomically(path, [plot_bytes(plot, fmt)])
    return fmt


# --- the window's keys ---------------------------------------------------------------------

PICTURE_FILTERS = ("PNG image (*.png)", "SVG drawing (*.svg)")
RUN_FILTER = "Current run, all columns (*.csv)"
HISTORY_FILTER = "Finished runs, one after the other (*.csv)"


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


WAIT_CURSOR = getattr(getattr(QtCore.Qt, "CursorShape", QtCore.Qt), "WaitCursor")
SHORTCUT_OVERRIDE = getattr(getattr(QtCore.QEvent, "Type", QtCore.QEvent), "ShortcutOverride")


def pressed_keys(event) -> QtGui.QKeySequence:
    """The key and modifiers of a key event as a key sequence."""
    if hasattr(event, "keyCombination"):  # Qt 6
        return QtGui.QKeySequence(event.keyCombination())
    return QtGui.QKeySequence(int(event.modifiers()) | event.key())


class ShortcutKeeper(QtCore.QObject):
    """Event filter that turns down a widget's claim on the window's own keys."""

    def __init__(self, sequences):
        super().__init__()
        self.sequences = list(sequences)

    def eventFilter(self, watched, event):
        if event.type() == SHORTCUT_OVERRIDE and pressed_keys(event) in self.sequences:
            event.ignore()  # not the widget's key: the window's shortcut gets it
            return True
        return False


Signal = getattr(QtCore, "pyqtSignal", None) or QtCore.Signal


class WriteSignals(QtCore.QObject):
    """Carries the end of a data file's writing to the GUI thread: (path,
    what was saved, or "", the problem, or "")."""
    written = Signal(str, str, str)


class ExportKeys:
    """Ctrl+S saves the plot under the pointer (the first plot when the
    pointer is on none) as PNG or SVG; Ctrl+E saves the current data set's
    current run or its finished runs as text. Both ask for the file with a
    save dialog (`ask_path`, replaceable), say in the status bar what was
    saved where (`inform`), and report a failure as a problem (`report`).
    A data file is written by a thread of its own (a long run takes seconds
    to format), one at a time; `wait()` waits for it.

    `plots` maps a plot's name ("live", "history") to its widget;
    `dataset` returns the data set of the current mode."""

    def __init__(self, window, plots: dict, dataset, report, inform):
        self.window = window
        self.plots = plots
        self.dataset = dataset
        self.report = report
        self.inform = inform
        self.ask_path = lambda *args: ask_save_path(window, *args)
        self.directory = ""  # where the last file went; the next dialog starts there
        shortcut = getattr(QtGui, "QShortcut", None) or QtWidgets.QShortcut
        self.shortcuts = []
        for keys, action in (("Ctrl+S", self.save_plot), ("Ctrl+E", self.save_data)):
            item = shortcut(QtGui.QKeySequence(keys), window)
            item.activated.connect(action)
            self.shortcuts.append(item)
        self.key_keeper = ShortcutKeeper([item.key() for item in self.shortcuts])
        self.signals = WriteSignals()
        self.signals.written.connect(self._written)
        self.writing: threading.Thread | None = None  # the data file under way

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
                                     (RUN_FILTER, HISTORY_FILTER))
        if not path:
            return
        path = with_suffix(path, chosen)
        if self.writing is not None and self.writing.is_alive():
            self.report(f"could not save {path}: the last data file is still being written")
            return
        try:
            if chosen == HISTORY_FILTER:
                write, count = history_writer(dataset, path)
                message = f"saved {count} finished {dataset.name} run(s) to {path}"
            else:
                write, count = current_run_writer(dataset, path)
                message = f"saved {count:,} rows of {dataset.name} run {dataset.run_number} to {path}"
        except ExportError as error:
            self.report(str(error))
            return
        self.inform(f"saving {path} …")
        self.writing = threading.Thread(target=self._write, args=(write, path, message),
                                        name="stelvane-export", daemon=True)
        self.writing.start()

    def wait(self) -> None:
        """Waits until the data file under way (if any) is written."""
        if self.writing is not None:
            self.writing.join()

    def _write(self, write, path: str, message: str) -> None:
        # The writing thread: whatever happens ends in one `written` signal.
        try:
            write()
        except ExportError as error:
            self.signals.written.emit(path, "", str(error))
        except Exception as error:  # reported, not lost in the thread
            self.signals.written.emit(path, "", f"could not save {path}: {error}")
        else:
            self.signals.written.emit(path, message, "")

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
        QtWidgets.QApplication.setOverrideCursor(QtGui.QCursor(WAIT_CURSOR))
        try:
            message = save()
        except ExportError as error:
            self.report(str(error))
        else:
            self.directory = os.path.dirname(os.path.abspath(path))
            self.inform(message)
        finally:
            QtWidgets.QApplication.restoreOverrideCursor()

