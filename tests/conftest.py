import atexit
import os
import shutil
import tempfile

import pytest

# One binding for the whole run. QT_API picks it for qt_compat (and through it
# pyqtgraph); pytest-qt reads PYTEST_QT_API, which wins over its ini option.
# This file is loaded before pytest-qt configures itself, so both agree.
os.environ["QT_API"] = os.environ.get("QT_API", "").strip().lower() or "pyside6"
os.environ["PYTEST_QT_API"] = os.environ["QT_API"]

# pyperclip prefers wl-copy when it sees a Wayland session; the tests' display
# is the Xvfb server, reached through xclip.
os.environ.pop("WAYLAND_DISPLAY", None)

# Qt warns on every start without a private runtime directory (mode 0700).
if not os.environ.get("XDG_RUNTIME_DIR"):
    runtime_dir = f"/tmp/stelvane-runtime-{os.getuid()}"
    os.makedirs(runtime_dir, mode=0o700, exist_ok=True)
    os.environ["XDG_RUNTIME_DIR"] = runtime_dir

# Settings the application remembers go to a directory of this run, never to
# the user's; the fixture below gives each test a fresh one.
_config_home = tempfile.mkdtemp(prefix="stelvane-test-config-")
atexit.register(shutil.rmtree, _config_home, True)
os.environ["XDG_CONFIG_HOME"] = _config_home

from tarvinel.stelvane import qt_compat  # noqa: E402  (must precede pyqtgraph)
QtCore, QtWidgets = qt_compat.QtCore, qt_compat.QtWidgets
from tarvinel.stelvane.window import settings as remembered_settings  # noqa: E402

# The fixtures the tests of several folders use, registered here once.
from .support.frames import FRAME_GAPS, frame_gaps, run_window  # noqa: E402, F401
from .support.timezones import berlin  # noqa: E402, F401

try:
    from hypothesis import settings
except ImportError:  # pragma: no cover - hypothesis is in requirements/dev.txt
    pass
else:
    # Timing under Xvfb on a loaded CI machine is no property of the code.
    settings.register_profile("ci", deadline=None, print_blob=True)
    settings.register_profile("dev", deadline=None)
    settings.load_profile("ci" if os.environ.get("CI") else "dev")


@pytest.fixture(autouse=True)
def settings_home(tmp_path_factory, monkeypatch):
    """Where the application's remembered settings go during one test, in
    this process and in the processes it starts: a new, empty directory, so
    no test sees another's settings (a window size saved by one would be the
    next one's)."""
    directory = tmp_path_factory.mktemp("settings")
    qt_compat.QtCore.QSettings.setPath(remembered_settings.INI, remembered_settings.USER_SCOPE,
                                       str(directory))
    monkeypatch.setenv("XDG_CONFIG_HOME", str(directory))
    return directory


@pytest.fixture(autouse=True)
def cache_home(tmp_path_factory, monkeypatch):
    """Where the columnar cache of large recordings goes during one test
    (formats/recordings/cache.py), in this process and the ones it starts:
    never the user's."""
    directory = tmp_path_factory.mktemp("cache")
    monkeypatch.setenv("XDG_CACHE_HOME", str(directory))
    return directory


# Tests after which Qt's shared event loop was found quitting (event_loop_runs).
LEFT_QUITTING = []


@pytest.fixture(autouse=True)
def event_loop_runs(request):
    """After QCoreApplication.exit() outside exec(), every new event loop
    returns at once until exec() runs again: each later qtbot wait would spin
    to its timeout while no window ticks. The test that left it so is named
    in the run's summary, and exec() runs once for the tests after it."""
    yield
    application = QtWidgets.QApplication.instance()
    if application is None:
        return
    loop = QtCore.QEventLoop()
    QtCore.QTimer.singleShot(0, loop.quit)
    if loop.exec() == -1:
        LEFT_QUITTING.append(request.node.nodeid)
        QtCore.QTimer.singleShot(0, application.quit)
        application.exec()


@pytest.hookimpl(trylast=True)
def pytest_configure(config):
    # pytest-xvfb has set DISPLAY by now unless it was switched off (--no-xvfb);
    # without any display Qt would abort, so fall back to drawing off screen.
    if not os.environ.get("DISPLAY") and not os.environ.get("QT_QPA_PLATFORM"):
        os.environ["QT_QPA_PLATFORM"] = "offscreen"


def pytest_report_header(config):
    return f"Qt binding: {qt_compat.API}, Qt {qt_compat.QtCore.qVersion()}"


def pytest_terminal_summary(terminalreporter):
    for test in LEFT_QUITTING:
        terminalreporter.write_line(f"Qt's event loop was left quitting after {test}")
    if FRAME_GAPS:
        test, gap = max(FRAME_GAPS, key=lambda record: record[1])
        terminalreporter.write_line(
            f"longest gap between two frames during the fault tests: {1e3 * gap:.0f} ms ({test})")

