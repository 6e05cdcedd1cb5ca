"""The plot widgets: what draws, on top of pyqtgraph and Qt.

    views.py        the application's plot view, on the native plot widget,
                    and the data boxes
    statusbar.py    the status bar and its figures
    elided.py       texts cut after a word to the room they have, whole on hover
    curvedraw.py    a curve drawn as one polyline
    axes.py         the time, text and number axes
    axisdraw.py     an axis' ticks, grid and labels painted fast
    axisticks.py    where an axis' ticks go
    timeticks.py    the ticks of a time axis, by zoom level
    legend.py       the legend of a plot's curves
    rightaxis.py    a plot's second Y axis, on the right
    trail.py        an (X,Y) pair whose X does not grow, as a fading trail
    readout.py      the tracker: the values under the pointer
    plotimage.py    a plot saved as PNG or SVG
    statstable.py   the statistics table
    cursormarks.py  the measuring cursors' lines and box of readings
    limitmarks.py   limit lines and the marks of their crossings

Widgets draw what they are given: arrays and texts come from the presenters.

May import: the window's data model, the formats, the shared modules,
`..qt_compat` (the one module that knows the Qt binding) and pyqtgraph.
"""
