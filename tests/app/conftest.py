"""Fixtures of the whole application's tests: the application opened in this
process as the command line starts it (open_app). The window over a
scripted producer (run_window) comes from the top conftest."""

import pytest

from tarvinel.stelvane.app import create_app


@pytest.fixture
def open_app(qtbot):
    """Opens the application in this process with the arguments a user gives
    on the command line; closes its windows at the end."""
    opened = []

    def start(*argv):
        application = create_app(list(argv))
        opened.append((argv, application))
        with qtbot.waitExposed(application.window):  # shown by create_app
            pass
        return application.window

    yield start
    for argv, application in opened:
        # Shown only when the test failed: where the window stood, and whether
        # its producer still ran (a wait that timed out says no more).
        print(f"{argv}: producer alive {application.producer.is_alive()}, "
              f"summary {application.window.summary()}")
        application.window.close()


@pytest.fixture
def refusal(qapp, capsys, monkeypatch):
    """What the application says when it refuses its command line before
    anything starts, checked in this process: `refusal(*argv)` is its stderr
    after it left with status 2 (as `python -m tarvinel.stelvane` names
    itself). A command line it takes instead opens a window: closed, and the
    test fails."""
    monkeypatch.setattr("sys.argv", ["/stelvane/__main__.py"])

    def refuse(*argv):
        try:
            application = create_app(list(argv))
        except SystemExit as leaving:
            out, err = capsys.readouterr()
            assert leaving.code == 2 and out == "", (leaving.code, out, err)
            assert "usage: python -m tarvinel.stelvane" in err and "Traceback" not in err
            return err
        application.window.close()
        pytest.fail(f"{argv} was taken: a window opened")

    return refuse
