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
        opened.append(application.window)
        qtbot.waitExposed(application.window)
        return application.window

    yield start
    for window in opened:
        window.close()
