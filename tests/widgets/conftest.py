"""Fixtures of the widgets' tests: the time zone fixture (berlin) comes from
the top conftest; each module makes its plot view at the size it needs."""
