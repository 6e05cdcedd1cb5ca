"""Fixtures of the window's tests: the time zone fixture (berlin) comes from
the top conftest; the windows themselves from tests/support/window.py."""
