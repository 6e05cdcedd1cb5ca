"""The spectrum plot's presenter: the amplitude spectrum (or power in dB) of
each curve of the plot it follows, made a few curves a frame (see
spectrum.py for the arithmetic)."""

import time

from ..model.series import peak_decimated
from ..model.spectrum import amplitude_spectrum
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

    def __init__(self, rows: list, frame: Frame, span, points: int, in_db: bool):
        self.rows, self.frame = rows, frame  # the source's blocks per pair (views: they keep)
        self.span, self.points, self.in_db = span, points, in_db
        self.series = []

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
        rows = rows_in_range(x, *self.span)
        spectrum = amplitude_spectrum(x[rows], y[rows])
        if spectrum is None:
            return None
        values = spectrum.in_db() if self.in_db else spectrum.amplitude
        return peak_decimated(spectrum.frequency, values, self.points)


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
        self.job: SpectrumJob | None = None
        plot.hide()  # until the user asks for it

    def attach(self, plot_presenters) -> None:
        self.source = plot_presenters[0]

    def forget(self) -> None:
        super().forget()
        self.job = None

    def set_db(self, on: bool) -> None:
        self.in_db = on
        self.forget()

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
            self.plot.settle()
            self._title(f"{job.frame.record.mode.run_word} {job.frame.data.run_number}", job.frame)

    def _start(self, frame: Frame) -> bool:
        """Starts new spectra if what they are made of changed; true if so."""
        span = self.source.visible_x()
        points = points_wanted(self.plot)
        state = (frame.record.key, frame.data.version, tuple(frame.pairs), frame.fx, frame.fy,
                 span, self.in_db, points)
        if state == self.shown:
            return False
        self.shown = state
        rows = [self.source.pair_blocks(pair, frame) for pair in frame.pairs]
        self.job = SpectrumJob(rows, frame, span, points, self.in_db)
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
        self.names = curve_names(pairs, frame.fx, frame.fy, [y.unit for y in ys])
