"""The spectrum plot's presenter: the amplitude spectrum (or power in dB) of
each curve of the plot it follows, made a few curves a frame (see
spectrum.py for the arithmetic)."""

import time

from ..model.series import peak_decimated
from ..model.spectrum import (STRETCHES, amplitude_spectrum, averaged, band_view, energy_band,
                              rows_of, stretches)
from ..model.statistics import rows_in_range
from ..protocol import NUMBER, TIME
from ..widgets.axes import set_axis_kind
from ..widgets.legend import curve_names
from .plots import Frame, PlotOptions, PlotPresenter, points_wanted

# The share of a frame for making spectra (see SpectrumPresenter): eight
# curves of 20,000 rows each get new spectra every frame at 400,000
# points/s, and the live plot keeps its frame rate.
SPECTRUM_SHARE = 0.25


class SpectrumJob:
    """The spectra of one frame's curves, made a few per frame."""

    def __init__(self, rows: list, frame: Frame, span, points: int, in_db: bool, log: bool = False):
        self.rows, self.frame = rows, frame  # the source's blocks per pair (views: they keep)
        self.span, self.points, self.in_db, self.log = span, points, in_db, log
        self.series = []
        self.bands = []  # per spectrum: (its power's band edge, its highest, its lowest > 0)
        self.stretched = 0  # rows per stretch where a curve's rows were too many for one spectrum

    def advance(self, deadline: float) -> bool:
        """Makes spectra until `deadline` (one at least); true once all are made."""
        while len(self.series) < len(self.rows):
            self.series.append(self._spectrum(self.rows[len(self.series)]))
            if time.monotonic() >= deadline:
                break
        return len(self.series) == len(self.rows)

    def _spectrum(self, blocks):
        if not blocks:
            return None
        x, y = blocks[0].x, blocks[0].y
        parts = stretches(rows_in_range(x, *self.span), len(x))
        if len(parts) > 1:
            self.stretched = parts[0][0].stop - parts[0][0].start
        spectrum = averaged([amplitude_spectrum(rows_of(x, part), rows_of(y, part))
                             for part in parts])
        if spectrum is None:
            return None
        values = spectrum.in_db() if self.in_db else spectrum.amplitude
        frequency = spectrum.frequency
        self.bands.append((energy_band(frequency, spectrum.amplitude), float(frequency[-1]),
                           float(frequency[1]) if len(frequency) > 1 else 0.0))
        if self.log:  # no 0 on a log axis
            frequency, values = frequency[1:], values[1:]
        return peak_decimated(frequency, values, self.points)

    def view(self):
        """The X range of the bands that hold the spectra's power (band_view)."""
        if not self.bands:
            return None
        edges, highest, lowest = zip(*self.bands)
        return band_view(edges, max(highest), self.log, min(lowest))


class SpectrumPresenter(PlotPresenter):
    """The amplitude spectrum (or power in dB) of each curve of the plot it
    follows (the first of PLOTS), over the rows that plot shows; see
    spectrum.py. Made only while the plot is on screen and when the rows or
    the view changed, within SPECTRUM_SHARE of each frame: curves too many or
    too long for it take a few frames, and the next spectra start from the
    rows of the frame the last ones were shown in."""

    follows_selection = False

    def __init__(self, name: str, plot, options: PlotOptions):
        super().__init__(name, plot, options)
        self.source: PlotPresenter | None = None
        self.in_db = False
        self.log_frequency = False
        self.job: SpectrumJob | None = None
        self.band_shown = None  # the X range last set to the power's band, while it stands
        plot.plotItem.vb.setAutoVisible(y=True)  # Y fits the band shown
        plot.hide()  # until the user asks for it

    def attach(self, plot_presenters) -> None:
        self.source = plot_presenters[0]

    def forget(self) -> None:
        super().forget()
        self.job = None

    def set_db(self, on: bool) -> None:
        self.in_db = on
        self.forget()

    def set_log_frequency(self, on: bool) -> None:
        """A log frequency axis, or a linear one again (the G key)."""
        self.log_frequency = on
        self.plot.set_log_mode(on, False)
        self.plot.plotItem.vb.enableAutoRange(x=True)  # the band again, on the new axis
        self.forget()

    def _show_band(self, job: SpectrumJob) -> None:
        """The default X view: the band that holds the spectra's power, not
        up to Nyquist, where slow signals' peaks would crowd the left edge.
        Kept up to date until the user pans or zooms; A (auto range) brings
        it back."""
        vb = self.plot.plotItem.vb
        shown = tuple(vb.viewRange()[0])
        ours = self.band_shown is not None and all(
            abs(a - b) <= 1e-9 * max(1.0, abs(b)) for a, b in zip(shown, self.band_shown))
        if not (vb.autoRangeEnabled()[0] or ours):
            self.band_shown = None
            return
        view = job.view()
        if view is None:
            return
        vb.setXRange(*view, padding=0)  # leaves X's auto range off; Y follows on
        self.band_shown = tuple(vb.viewRange()[0])

    def present(self, frame: Frame) -> None:
        self.frame = frame
        if not self.plot.isVisible() or self.source is None:
            return
        if self.job is None and not self._start(frame):
            return
        deadline = time.monotonic() + SPECTRUM_SHARE * self.options.frame_interval
        if self.job.advance(deadline):
            job, self.job = self.job, None
            frame = job.frame
            self._show(job.series, frame,
                       (frame.record.key, tuple(frame.pairs), frame.fx, frame.fy, self.in_db))
            self._show_band(job)
            self.plot.settle()
            stretched = (f", the mean of {STRETCHES} stretches of {job.stretched:,} rows"
                         if job.stretched else "")
            self._title(f"{job.frame.record.mode.run_word} {job.frame.data.run_number}{stretched}",
                        job.frame)

    def _start(self, frame: Frame) -> bool:
        """Starts new spectra if what they are made of changed; true if so."""
        span = self.source.visible_x()
        points = points_wanted(self.plot)
        state = (frame.record.key, frame.data.version, tuple(frame.pairs), frame.fx, frame.fy,
                 span, self.in_db, self.log_frequency, points)
        if state == self.shown:
            return False
        self.shown = state
        rows = [self.source.pair_blocks(pair, frame) for pair in frame.pairs]
        self.job = SpectrumJob(rows, frame, span, points, self.in_db, self.log_frequency)
        return True

    def _show_columns(self, frame: Frame) -> None:
        """A spectrum's axes are numbers: frequency, in Hz when X is a time
        (or in seconds), and amplitude or power; the legend names the Y columns."""
        pairs, plot = frame.pairs, self.plot
        xs, ys = self._pairs_shown(frame)
        for side in ("bottom", "left"):
            set_axis_kind(plot, side, NUMBER)
        in_seconds = any(x.kind == TIME or x.unit == "s" for x in xs)
        unit = "Hz" if in_seconds else "1/" + ", ".join(dict.fromkeys(x for x, _ in pairs))
        plot.set_labels(f"frequency [{unit}]", "power [dB]" if self.in_db else "amplitude")
        plot.si_units = ("Hz" if in_seconds else None, None)
        plot.plotItem.getAxis("bottom").si_unit = plot.si_units[0]
        self.names = curve_names(pairs, frame.fx, frame.fy, [y.unit for y in ys])
