"""Tests of the presenters: what the data model hands the widgets each frame,
and the toolbar's selection read as changes."""
