"""The window's wiring: the main window and what connects it to the world.

    mainwindow.py     the main window: plots, toolbar, boxes, frame timer
    layout.py         where the main window's parts go
    exprseditor.py    the editor of the derived series
    cursors.py        the two measuring cursors: keys, clicks, readings
    limits.py         the limit lines: crossings counted, drawn and said
    limitseditor.py   the editor of the limit lines
    lineseditor.py    the dialog both editors are: lines applied all at once
    videoexport.py    a replay rendered to a video, frame by frame
    intake.py         the producer's queue drained into the data sets and the
                      toolbar, a bounded share of each frame
    watch.py          the producer's status pipe: news, problems, the end
    emptyparts.py     the history plot and data boxes shown once they hold data
    problems.py       the problems box and the status bar's messages
    controls.py       the check boxes and fields beside the plots
    replaybar.py      the replay's slider, label and keys
    savekeys.py       the save and copy keys (Ctrl+S, Ctrl+E, ...)
    markers.py        text markers: the M key, their panel, their lines on the plots
    export.py         data saved as text, the visible range or all
    writer_thread.py  files written off the frame's thread
    settings.py       what the window remembers between runs
    pacing.py         the frame timer: the frame rate, and still when idle
    summary.py        the figures --summary prints
    splitview.py      the pattern of a table split per entity; --split's mistake

May import every layer below: presenters, widgets, the data model, the
sources (to name them), the formats and the shared modules.
"""
