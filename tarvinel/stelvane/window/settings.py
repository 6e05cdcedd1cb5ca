"""Remembered settings: what the user set in the window survives a restart.

Per mode (points, traces): the X and Y formats, the log and share boxes;
per source: each mode's pattern and the derived series (a pattern fits the
columns of the data it was typed for: a file's pattern would match nothing
in another file, and a plain file opened for the first time shows its first
column against the others); for the window: its geometry, the positions of its splitters, the live
plot's window (timewindow.py; --window wins over it) and which views are on
(legend, tracker, statistics, spectrum, dB, log frequency; not the pause).
They are kept per user with Qt's QSettings in an INI file (on Linux
$XDG_CONFIG_HOME/tarvinel/stelvane.ini, ~/.config by default), read when the
window starts and written when it closes.

Values go back into the toolbar only through its widgets' own methods
(toolbar_adapter.ModeControls), which run the toolbar's handlers exactly as
a user's edit would.

The file is the user's to break: a file that cannot be parsed, that is not
ours, or a value of the wrong kind is ignored with a warning naming the file
and the key, and the window starts from the defaults for what was ignored.
"""

from dataclasses import dataclass, field
import base64
import binascii
import sys
from urllib.parse import quote

from ..model.expressions import ExpressionError, parse_definition
from ..model.modes import MODES
from ..model.timewindow import parse_window
from ..presenters.toolbar_adapter import ModeControls
from ..qt_compat import QtCore
from ..sources.instrument import InstrumentSource
from .controls import REMEMBERED_VIEWS
from .problems import shortened

ORGANIZATION = "tarvinel"
APPLICATION = "stelvane"
# Written into the file; a file with another or no format is not read.
FORMAT = 1

# The source of the simulated instrument, which has no SOURCE text.
INSTRUMENT = InstrumentSource.settings_key
# Sources whose patterns are kept; the longest unused go first.
SOURCES_KEPT = 50
# The longest value read, in characters: none of ours comes near it, and a
# longer one (a damaged or foreign file) is ignored before it is parsed.
VALUE_LIMIT = 10_000
# The settings' names of each mode's boxes, as its toolbar controls go by.
BOXES = ModeControls.BOXES
FORMAT_BOXES = ModeControls.FORMATS


INI = QtCore.QSettings.Format.IniFormat
USER_SCOPE = QtCore.QSettings.Scope.UserScope
NO_ERROR = QtCore.QSettings.Status.NoError
FORMAT_ERROR = QtCore.QSettings.Status.FormatError
ACCESS_ERROR = QtCore.QSettings.Status.AccessError


def open_store(path: str | None = None):
    """The user's settings file, or the INI file at `path`."""
    if path is not None:
        return QtCore.QSettings(path, INI)
    return QtCore.QSettings(INI, USER_SCOPE, ORGANIZATION, APPLICATION)


@dataclass
class Remembered:
    """What was read from the file: per mode key a dict of control name to
    value ("pattern" its text, "fx"/"fy" the format text, the boxes of BOXES
    a bool); the window's geometry and the splitters' states by object name;
    the live plot's window (a timewindow.TimeWindow); whether each view of
    controls.REMEMBERED_VIEWS is on; the source's derived series (a list
    of expressions.Expression; None: none remembered)."""

    modes: dict = field(default_factory=dict)
    geometry: bytes | None = None
    splitters: dict = field(default_factory=dict)
    views: dict = field(default_factory=dict)
    live_window: object = None
    expressions: list | None = None


# --- reading ---------------------------------------------------------------------------


def _as_bool(value):
    if isinstance(value, bool):
        return value
    if isinstance(value, str) and value.lower() in ("true", "false"):
        return value.lower() == "true"
    raise ValueError("not true or false")


def _as_text(value):
    if isinstance(value, str):
        return value
    # QSettings reads an unquoted value with commas (a pattern written by
    # hand: pattern=time,sine) as a list of the parts.
    if isinstance(value, (list, tuple)) and value and all(isinstance(v, str) for v in value):
        return ",".join(value)
    raise ValueError("not a text")


def _as_state(value):
    if not isinstance(value, str) or not value:
        raise ValueError("not a saved state")
    try:
        return base64.b64decode(value.encode("ascii"), validate=True)
    except (binascii.Error, UnicodeEncodeError):
        raise ValueError("not a saved state") from None


def _value_size(raw) -> int:
    """Characters of a value as read (a text, or the parts of a list)."""
    if isinstance(raw, (list, tuple)):
        return sum(len(str(part)) for part in raw)
    return len(raw) if isinstance(raw, (str, bytes)) else 0


def _has_content(path: str) -> bool:
    try:
        with open(path, "rb") as file:
            return bool(file.read(4096).strip())
    except OSError:
        return False


def _source_name(source) -> str:
    """The group name of `source` (a Source, or its settings_key): the key
    the source itself gives, escaped, so that a path's slashes make no
    groups of their own."""
    return quote(getattr(source, "settings_key", source), safe="")


def _expressions(text: str, warn, where: str) -> list:
    """The derived series of a remembered text, one NAME=EXPRESSION a line;
    a line that is none is ignored with a warning."""
    found = []
    for line in filter(None, (line.strip() for line in text.split("\n"))):
        try:
            found.append(parse_definition(line))
        except ExpressionError as error:
            warn(f"settings file {where}: derived series ignored: {error.one_line}")
    return found


def source_key(source) -> str:
    """The settings group of a source's patterns (`source`: a Source, or its
    settings_key)."""
    return "sources/" + _source_name(source)


def read(store, warn, source: str = INSTRUMENT) -> Remembered:
    """The settings in `store` that are sound, the patterns those of
    `source`; `warn(text)` is told about everything that is not. Never
    raises for what the file holds."""
    remembered = Remembered()
    where = store.fileName()
    ignored = _ignored_because(store, where)
    if ignored:
        warn(f"settings file {where} ignored: {ignored}; starting from the defaults")
        return remembered
    if not store.allKeys():
        return remembered

    def value(key, parse):
        raw = store.value(key)
        if raw is None:
            return None
        size = _value_size(raw)
        if size > VALUE_LIMIT:
            warn(f"settings file {where}: {key} ignored ({size:,} characters, more than "
                 f"{VALUE_LIMIT:,})")
            return None
        try:
            return parse(raw)
        except ValueError as error:
            warn(f"settings file {where}: {key} ignored ({shortened(str(error), 120)}: "
                 f"{shortened(str(raw), 40)!r})")
            return None

    _read_modes(remembered, value, source)
    expressions = value(f"{source_key(source)}/expressions", _as_text)
    if expressions is not None:
        remembered.expressions = _expressions(expressions, warn, where)
    _read_window(remembered, value, store.allKeys())
    return remembered


def _ignored_because(store, where: str) -> str | None:
    """Why the whole file is ignored (damaged, unreadable, another format); None if it is not."""
    status = store.status()
    if status != NO_ERROR:
        return "it is damaged" if status == FORMAT_ERROR else "it cannot be read"
    if not store.allKeys():
        # Bytes that Qt's parser made nothing of are a damaged file; no bytes, a new one.
        return "it is damaged" if _has_content(where) else None
    if str(store.value("format")) != str(FORMAT):
        return f"it is not a stelvane settings file of format {FORMAT}"
    return None


def _read_modes(remembered: Remembered, value, source: str) -> None:
    for mode in MODES:
        group = mode.name
        # An empty pattern is none: the source's own or the default applies.
        values = {"pattern": value(f"{source_key(source)}/{group}", _as_text) or None}
        for box in FORMAT_BOXES:
            values[box] = value(f"{group}/{box}", _as_text)
        for box in BOXES:
            values[box] = value(f"{group}/{box}", _as_bool)
        remembered.modes[mode.key] = {k: v for k, v in values.items() if v is not None}


def _read_window(remembered: Remembered, value, keys) -> None:
    remembered.geometry = value("window/geometry", _as_state)
    for view in REMEMBERED_VIEWS:
        on = value(f"views/{view}", _as_bool)
        if on is not None:
            remembered.views[view] = on
    remembered.live_window = value("window/live", lambda raw: parse_window(_as_text(raw)))
    for key in keys:
        if key.startswith("splitters/"):
            state = value(key, _as_state)
            if state is not None:
                remembered.splitters[key.split("/", 1)[1]] = state


# --- into the window -----------------------------------------------------------------------


def apply_to_toolbar(modes: dict, remembered: Remembered, warn, keep_patterns=()) -> None:
    """Sets the toolbar's controls of each mode (`modes`, key ->
    modes.ModeRecord) to the remembered values; the patterns of the modes in
    `keep_patterns` stay as they are (the command line gave them). A format
    the combo box does not offer is ignored with a warning."""
    for key, values in remembered.modes.items():
        record = modes[key]
        controls = record.controls
        for box in FORMAT_BOXES:
            if box in values and not controls.set_format(box, values[box]):
                warn(f"settings: {record.mode.name} {box} {shortened(values[box], 40)!r} is no format; "
                     "ignored")
        for box in BOXES:
            if box in values and controls.boxes[box].isChecked() != values[box]:
                controls.boxes[box].setChecked(values[box])
        if "pattern" in values and key not in keep_patterns:
            controls.set_pattern(values["pattern"])


def apply_to_window(window, splitters: dict, remembered: Remembered, warn) -> None:
    """Puts the window's geometry, the splitters (by object name) and the
    views (through their actions, as a click would) back; a state Qt does
    not take is ignored with a warning."""
    for view, on in remembered.views.items():
        action = window.controls.views[view]
        if action.isChecked() != on:
            action.setChecked(on)
    if remembered.geometry is not None and not window.restoreGeometry(
            QtCore.QByteArray(remembered.geometry)):
        warn("settings: the saved window geometry does not fit; ignored")
    for name, state in remembered.splitters.items():
        splitter = splitters.get(name)
        if splitter is not None and not splitter.restoreState(QtCore.QByteArray(state)):
            warn(f"settings: the saved {name} splitter does not fit; ignored")


# --- writing -------------------------------------------------------------------------------


def _state_text(state) -> str:
    return base64.b64encode(bytes(state)).decode("ascii")


def _use(value) -> int:
    try:
        return int(value)
    except (TypeError, ValueError):
        return 0


def _remembered_sources(store) -> dict[str, tuple[int, dict]]:
    """Per source group name: when it was last used (a count) and its
    pattern keys with their values, as a sound file holds them."""
    if store.status() != NO_ERROR or str(store.value("format")) != str(FORMAT):
        return {}
    sources = {}
    for key in store.allKeys():
        parts = key.split("/")
        if parts[0] == "sources" and len(parts) == 3:
            sources.setdefault(parts[1], {})[key] = store.value(key)
    return {name: (_use(store.value(f"order/{name}")), values)
            for name, values in sources.items()}


def write(store, modes: dict, window, splitters: dict, source: str = INSTRUMENT,
          given_patterns=None, expressions=()) -> str | None:
    """Replaces what `store` holds with the state of the toolbar's controls
    of each mode (`modes`, key -> modes.ModeRecord) and of the window;
    the patterns go to `source`, and the patterns of the other sources used
    most recently stay. A mode whose pattern field is still empty keeps the
    pattern given for it on the command line (`given_patterns`, mode: text):
    the producer sends that one, and a window closed before it arrived must
    not forget it. The source's derived series are `expressions`' (none: no
    key). Returns None, or what went wrong (the old file then stays
    as it was: QSettings writes a new file and renames it)."""
    _write_sources(store, _source_name(source))
    _write_modes(store, modes, source, given_patterns or {})
    if expressions:
        store.setValue(f"{source_key(source)}/expressions",
                       "\n".join(expression.definition for expression in expressions))
    _write_window(store, window, splitters)
    store.sync()
    # (A file that was damaged keeps reporting its format error after a
    # sound write; only an access error says the write failed.)
    if store.status() == ACCESS_ERROR:
        return f"settings could not be saved to {store.fileName()}"
    return None


def _write_sources(store, mine: str) -> None:
    """Clears the file and keeps the patterns of the sources used most
    recently before `mine`, which becomes the newest."""
    others = _remembered_sources(store)
    others.pop(mine, None)
    kept = sorted(others.items(), key=lambda item: item[1][0])[-(SOURCES_KEPT - 1):]
    # Whatever else the file held is replaced: a damaged or foreign file
    # becomes a sound one.
    store.clear()
    store.setValue("format", FORMAT)
    for name, (use, values) in kept:
        store.setValue(f"order/{name}", use)
        for key, value in values.items():
            store.setValue(key, value)
    store.setValue(f"order/{mine}", max((use for _, (use, _) in kept), default=0) + 1)


def _write_modes(store, modes: dict, source, given_patterns: dict) -> None:
    for key, record in modes.items():
        group, controls = record.mode.name, record.controls
        pattern = controls.pattern_field.text() or given_patterns.get(key, "")
        if pattern:
            store.setValue(f"{source_key(source)}/{group}", pattern)
        for box in FORMAT_BOXES:
            store.setValue(f"{group}/{box}", controls.formats[box].currentText())
        for box in BOXES:
            store.setValue(f"{group}/{box}", "true" if controls.boxes[box].isChecked() else "false")


def _write_window(store, window, splitters: dict) -> None:
    store.setValue("window/geometry", _state_text(window.saveGeometry()))
    store.setValue("window/live", window.live_window.text)
    for name, splitter in splitters.items():
        store.setValue(f"splitters/{name}", _state_text(splitter.saveState()))
    for view, action in window.controls.views.items():
        store.setValue(f"views/{view}", "true" if action.isChecked() else "false")


class Keeper:
    """A window's remembered settings: put back at the start, saved once
    when the window closes. Whatever does not fit is reported through the
    window's `report`, never raised."""

    def __init__(self, window):
        self.window = window
        self.store = None  # where the settings go when the window closes
        self.source = INSTRUMENT
        self.given_patterns = {}

    def restore(self, store, remembered: Remembered, given_patterns=None,
                source: str = INSTRUMENT, window_given: bool = False) -> None:
        """Puts `remembered` back, but for the patterns given on the command
        line (`given_patterns`, mode: text; the producer sends those) and
        the live plot's window if it was given (`window_given`); the
        patterns are saved as `source`'s."""
        window = self.window
        self.given_patterns = dict(given_patterns or {})
        apply_to_toolbar(window.modes, remembered, window.report, self.given_patterns)
        apply_to_window(window, window.splitters, remembered, window.report)
        if remembered.live_window is not None and not window_given:
            window.set_live_window(remembered.live_window.text)
        self.store, self.source = store, source

    def save(self) -> None:
        store, self.store = self.store, None  # once
        if store is None:
            return
        window = self.window
        try:
            problem = write(store, window.modes, window, window.splitters, self.source,
                            self.given_patterns, window.expressions)
        except Exception as error:  # a window that cannot save still closes
            problem = f"settings could not be saved: {error}"
        if problem:
            print(problem, file=sys.stderr)
