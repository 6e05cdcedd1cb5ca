"""Fixtures of the formats' tests: the time zone fixture (berlin) comes from
the top conftest; what one module alone needs stays in it."""
