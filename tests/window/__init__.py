"""Tests of the window's wiring: a main window over a queue the test fills
itself, driven by real key and mouse events: intake, plots, view tools,
pacing, saving and export, the problems box."""
