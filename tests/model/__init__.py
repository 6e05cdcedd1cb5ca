"""Tests of the window's data model, without a window: the data sets, column
kinds, the live run and its time window, the table of extremes, series,
statistics and spectra."""
