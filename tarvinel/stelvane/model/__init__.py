"""The window's data model: what the window knows of the data, without Qt.

    run.py          one run's columns as stored, the unit of the history
    columnkinds.py  what each column holds (numbers, times, words) and how
                    its values read
    hold.py         a still view of the data sets (pause, and a replay's cut)
    modes.py        the plot modes (Points, Traces) as records
    replay.py       a cursor over stored rows that moves at the data's pace
    liverun.py      the rows the live plot shows: the time window, or all
                    of the current run thinned when panned or zoomed out
    extremes.py     the table of extremes that thins long runs fast
    series.py       columns to curve arrays: formats, thinning, the
                    history's runs
    statistics.py   the figures of the statistics table
    spectrum.py     the spectra of the spectrum plot
    timewindow.py   the live window's span ("rows", "30s", "500")
    expressions.py  derived series: an expression parsed, never run as Python
    exprcompiler.py what an expression may use, made into numpy calls
    rowfunctions.py derivative, integral, moving_average, ... block by block
    derivedcolumns.py  the data sets' derived columns, computed as rows arrive
    growth.py       whether X grows with the rows
    entitysplit.py  a long table's number columns split per entity
                    (price[AAPL]), as the data set shows them
    axissides.py    which curves go on the right Y axis (the pattern's mark)
    markers.py      the window's text markers, each on the X it was placed on
    siunits.py      values with SI prefixes (1.42 GHz)
    cursors.py      the measuring cursors' readings of each curve
    limits.py       limit lines: their crossings, counted as rows arrive
    pixels.py       whether new rows change a plot's picture by a pixel

The data sets themselves are `..dataset` (at the package top: the native
intake imports it by name), and they belong to this layer.

May import: the formats, the shared modules (protocol, config) and numpy.
Never the sources, never Qt or pyqtgraph: everything here is arithmetic over
arrays, testable without a window.
"""
