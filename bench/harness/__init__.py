"""What the benchmarks share. The benchmarks are run as `python bench/NAME.py`,
which puts bench/ on the path: they import this package as `harness`, and
the application's package from the tree the venv names.

    qtapp.py       the Qt side (offscreen without a display, the settings kept
                   apart from the user's), the application, paint counters
    waiting.py     events polled until something holds; the event loop run
    starting.py    the demo's window, a command line's window, a row sender
                   process feeding a window's standard input
    rowsender.py   the row sender itself, run in a process of its own
    measuring.py   a live window measured: rows stored, frames, latency,
                   processor time per million rows; a road's line printed
    parts.py       the window's processor time part by part (queue, append,
                   thinning, setData, fit, painting)
    history.py     a window over a long history, panned and zoomed by script
    csvfile.py     the large CSV file the file benchmarks open
    sidebyside.py  ways measured in alternating rounds, their ratios; the best
                   time of repeated runs

Importing the package itself loads nothing: the benchmarks without a window
stay free of Qt.
"""
