"""Tests of the plot widgets on Xvfb: axes and their ticks as drawn, curves
as painted, legends and status labels as a frame leaves them."""
