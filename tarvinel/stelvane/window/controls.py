"""The window's view commands (pause, legend, tracker, statistics, spectrum,
derived series, help) as actions with a key and a button each, and the help
that lists every key and mouse action.

The actions are added to the window, so their keys work wherever the focus
is, except in a text field, which keeps the letters and the space it types.
F, A and R are not among them: on a plot those belong to the plot widget.
The replay's keys are replaybar.py's, made only for a replay.
"""

from ..model.timewindow import CHOICES
from ..qt_compat import QAction, QtCore, QtGui, QtWidgets

# Every key and mouse action of the window: (keys, what they do). The README's
# list says the same.
KEYS = (
    ("Space, Pause button",
     "hold the plots still (intake and counting go on); again: show the latest data; "
     "in a replay: pause it and go on"),
    ("L, Legend button", "show or hide the legends"),
    ("T, Tracker button", "show each curve's value at the sample nearest to the pointer's x"),
    ("S, Stats button", "a table of each curve's count, min, max, mean, std and last value "
                        "over the visible X range"),
    ("P, Spectrum button", "the spectrum plot: the amplitude spectrum of each live curve's "
                           "visible rows"),
    ("D, dB button", "the spectrum as power in dB, or as amplitude again"),
    ("G, log f button", "the spectrum's frequency axis logarithmic, or linear again (its "
                        "default view shows the band that holds 99% of the power)"),
    ("E, f(x) button", "the derived series: one NAME = EXPRESSION a line (Apply or Ctrl+Return "
                       "takes them)"),
    ("K, Limits button", "limit lines: one CURVE = VALUE a line (Apply or Ctrl+Return takes "
                         "them); each curve's crossings are marked and counted in the status bar"),
    ("F1, ? button", "this list of keys and mouse actions"),
    ("Return in the pattern field", "apply the (X,Y) pattern: X,Y regular expressions, ; between pairs"),
    ("Return in the live window field, or a choice of its list",
     "the live plot shows that window while it follows: a span of X (10s, 250ms, 5min, 2h, "
     "a plain number in X's units) or N rows; rows: the newest --live-rows"),
    ("Left, Right (replay)", "step the replay back or forwards by 1% of its rows"),
    ("[, ] (replay)", "halve or double the replay's speed (beyond 1024×: max)"),
    ("Home, End (replay)", "the replay to its first row, or to the newest row read"),
    ("Drag the replay slider", "seek: the plots show the run up to the row under the handle"),
    ("1, 2 (pointer over a plot)", "put cursor A or B at the pointer's x: a labelled line on "
                                   "every plot of that X, and a box of each curve's value at A "
                                   "and B, Δx, Δy, Δy/Δx and the mean between them"),
    ("Shift+click, Ctrl+click on a plot", "put cursor A or B where clicked"),
    ("Escape", "take both cursors away"),
    ("Middle click on the cursors' box", "copy its readings as text (tab-separated lines)"),
    ("F on a plot", "fit the view to the data"),
    ("A on a plot", "auto-pan: follow the data"),
    ("Middle click on a plot", "copy the x under the pointer to the clipboard"),
    ("R held + middle drag",
     "copy the x range as from,to (the status bar shows it with its difference)"),
    ("Left drag on a plot", "pan"),
    ("Right drag or wheel on a plot", "zoom (the wheel over an axis zooms that axis only; over a "
                                      "time axis the wheel zooms X only, Ctrl+wheel both)"),
    ("Right click on a plot", "the plot's own menu (view range, mouse mode, ...)"),
    ("Pointer over a plot", "the status bar shows the x and y under it"),
    ("Drag a legend", "move it; a double click gives its place back to the window"),
    ("Right click on a legend", "put a curve on the right Y axis or back; the right axis' "
                                "log scale"),
    ("M on a plot", "a text marker at the pointer's x (empty text: the x itself); listed in the "
                    "Markers panel, saved with Ctrl+E's data"),
    ("Ctrl+S", "save the plot under the pointer (else the live plot) as PNG or SVG"),
    ("Ctrl+E", "save the current run, the finished runs or the live plot's visible range of "
               "the current mode as text"),
    ("AR button", "every plot follows its data again"),
    ("CLR button", "clear the history plot"),
    ("Ctrl+C in the terminal", "close the window"),
)


# The views whose being on a restart keeps (settings.py), by attribute name;
# the pause is not among them: a window starts showing its data.
REMEMBERED_VIEWS = ("legend", "tracker", "stats", "spectrum", "db", "log_frequency")


# Buttons in a row of the view controls: the column beside the plots holds
# them in two rows.
BUTTONS_IN_A_ROW = 4


class ViewControls(QtWidgets.QWidget):
    """The buttons of the view actions, in rows of BUTTONS_IN_A_ROW.
    `window` gets the actions, so their keys work anywhere in it."""

    def __init__(self, window: QtWidgets.QWidget):
        super().__init__(window)
        self.pause = self._action(window, "Pause", "Space", checkable=True,
                                  tip="Hold the plots still; intake goes on (Space)")
        self.legend = self._action(window, "Legend", "L", checkable=True,
                                   tip="Show or hide the legends (L)")
        self.legend.setChecked(True)
        self.tracker = self._action(window, "Tracker", "T", checkable=True,
                                    tip="Each curve's value at the pointer's x (T)")
        self.stats = self._action(window, "Stats", "S", checkable=True,
                                  tip="Each curve's statistics over the visible X range (S)")
        self.spectrum = self._action(window, "Spectrum", "P", checkable=True,
                                     tip="The spectrum of the live curves' visible rows (P)")
        self.db = self._action(window, "dB", "D", checkable=True,
                               tip="The spectrum as power in dB, else as amplitude (D)")
        self.log_frequency = self._action(window, "log f", "G", checkable=True,
                                          tip="The spectrum's frequency axis logarithmic (G)")
        self.expressions = self._action(window, "f(x)", "E",
                                        tip="The derived series, one NAME = EXPRESSION a line (E)")
        self.limits = self._action(window, "Limits", "K",
                                   tip="Limit lines: one CURVE = VALUE a line; crossings are "
                                       "marked and counted (K)")
        self.help = self._action(window, "?", "F1", tip="Keys and mouse actions (F1)")
        self.views = {name: getattr(self, name) for name in REMEMBERED_VIEWS}
        self.help.triggered.connect(lambda: show_help(window))
        # A button that is on looks pressed in, in the selection's blue.
        self.setStyleSheet("QToolButton:checked { background: #3d7ad6; color: white; "
                           "border: 1px solid #2a5db0; border-radius: 3px; }")
        self.buttons = {}
        self._lay_out((self.pause, self.legend, self.tracker, self.stats, self.spectrum, self.db,
                       self.log_frequency, self.expressions, self.limits, self.help))

    def _lay_out(self, actions) -> None:
        """A button per action, in rows of BUTTONS_IN_A_ROW."""
        layout = QtWidgets.QGridLayout(self)
        layout.setContentsMargins(4, 0, 4, 0)
        layout.setSpacing(2)
        for place, action in enumerate(actions):
            button = QtWidgets.QToolButton(self)
            button.setDefaultAction(action)
            button.setFocusPolicy(QtCore.Qt.FocusPolicy.NoFocus)  # keys stay where they were
            button.setSizePolicy(QtWidgets.QSizePolicy.Policy.Expanding,
                                 QtWidgets.QSizePolicy.Policy.Fixed)
            layout.addWidget(button, *divmod(place, BUTTONS_IN_A_ROW))
            self.buttons[action.text()] = button

    @staticmethod
    def _action(window, text, key, checkable=False, tip=""):
        action = QAction(text, window)
        action.setShortcut(QtGui.QKeySequence(key))
        action.setCheckable(checkable)
        action.setToolTip(tip)
        window.addAction(action)
        return action


class WindowField(QtWidgets.QWidget):
    """The live plot's window (timewindow.py): an editable list of spans.
    Return or a choice from the list hands the text to `apply`, which
    gives a reason for a text it refuses; the field then shows the last
    window taken again."""

    def __init__(self, parent: QtWidgets.QWidget, apply, text: str = CHOICES[0]):
        super().__init__(parent)
        self.apply = apply
        self.taken = text
        self.box = QtWidgets.QComboBox(self)
        self.box.setEditable(True)
        self.box.addItems(list(CHOICES))
        self.box.setInsertPolicy(QtWidgets.QComboBox.InsertPolicy.NoInsert)
        self.box.setCompleter(None)  # "1" and Return is 1, not the 10s a completion offers
        self.box.setMinimumContentsLength(8)
        self.box.setToolTip("What the live plot shows while it follows: a span of X "
                            "(10s, 250ms, 5min, a number in X's units) or N rows; Return applies")
        self.field = self.box.lineEdit()
        self.field.setText(text)
        self.field.returnPressed.connect(self._chosen)
        self.box.activated.connect(lambda index: self._chosen())
        layout = QtWidgets.QHBoxLayout(self)
        layout.setContentsMargins(4, 0, 4, 0)
        layout.addWidget(QtWidgets.QLabel("live window", self))
        layout.addWidget(self.box, 1)

    def show_window(self, text: str) -> None:
        """Shows `text` as the window taken (without applying it)."""
        self.taken = text
        self.field.setText(text)

    def _chosen(self) -> None:
        text = self.field.text()
        if self.apply(text) is None:
            self.taken = text
        else:
            self.field.setText(self.taken)


def help_text() -> str:
    rows = "".join(f"<tr><td><b>{keys}</b></td><td>{what}</td></tr>" for keys, what in KEYS)
    return f"<table cellspacing='0' cellpadding='3'>{rows}</table>"


def show_help(window: QtWidgets.QWidget) -> QtWidgets.QDialog:
    """Shows the help beside the window (one at a time; Esc closes it)."""
    dialog = getattr(window, "help_dialog", None)
    if dialog is None:
        dialog = QtWidgets.QDialog(window)
        dialog.setWindowTitle("stelvane: keys and mouse")
        label = QtWidgets.QLabel(help_text(), dialog)
        label.setTextFormat(QtCore.Qt.TextFormat.RichText)
        layout = QtWidgets.QVBoxLayout(dialog)
        layout.addWidget(label)
        window.help_dialog = dialog
    dialog.show()
    dialog.raise_()
    return dialog
