"""The presenters: each frame, the data model's arrays handed to the widgets.

    presenter.py        the frame: the toolbar's changes, then every plot
    plots.py            the live plot's and the history plot's presenters,
                        records the window loops over
    spectrumplot.py     the spectrum plot's presenter
    statistics.py       the statistics of the plots, for the table and the tracker
    sides.py            the two Y axes: the curves of each, their labels, F's fit
    stillness.py        the live plot's frames held back while new rows
                        change no pixel
    toolbar_adapter.py  the toolbar's published selection, read as changes

May import: the widgets, the window's data model, the formats and the shared
modules. The model below never calls back up into a presenter.
"""
