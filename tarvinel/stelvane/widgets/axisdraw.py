"""An axis that draws its ticks, grid lines and tick texts straight onto
the plot's painter, from a drawing it keeps until the ticks change.

pyqtgraph's AxisItem records its drawing into a QPicture whenever the view
moves and plays the picture back at every paint. A live plot repaints its
axes at every frame, and its ticks move at almost every frame: a recording,
a play-back (several times slower under Qt 6 than under Qt 5) and a text
layout per tick text measured and per tick text drawn, each time. Here the
tick texts are measured once per text and font, laid out once (a
QStaticText), the tick and grid lines of one pen go to the painter in one
call, and nothing is recorded: the picture is the same, the work is not.

The base class marks "the ticks must be made again" by setting `picture`
to None (a new range, size, style, font or pen; subclasses do it too); that
contract stays: `picture` is not None while the kept drawing is valid.
"""

import math

from ..qt_compat import QtCore, QtGui  # chooses the binding: before pyqtgraph

import pyqtgraph as pg  # noqa: E402

from ..model.siunits import si_tick_texts  # noqa: E402
from .axisticks import (MEASURE_BOX, draw_specs, spaced_log_labels, tick_values,  # noqa: E402
                        tick_values_key)

# Text measures, laid-out texts and ticks an axis keeps, at most: a text
# column of very many words would otherwise keep them all.
KEPT_TEXTS = 10_000
# `picture` while the kept drawing is valid: anything but None.
_DRAWN = object()

ALIGN_CENTER = QtCore.Qt.AlignmentFlag.AlignCenter
ALIGN_RIGHT = QtCore.Qt.AlignmentFlag.AlignRight
ALIGN_HCENTER = QtCore.Qt.AlignmentFlag.AlignHCenter
ALIGN_BOTTOM = QtCore.Qt.AlignmentFlag.AlignBottom
ALIGN_VCENTER = QtCore.Qt.AlignmentFlag.AlignVCenter
INTERSECT_CLIP = QtCore.Qt.ClipOperation.IntersectClip
NO_PEN = QtCore.Qt.PenStyle.NoPen
_Tx = QtGui.QTransform.TransformationType
SHIFTS_ONLY = (_Tx.TxNone, _Tx.TxTranslate)
SOURCE_OVER = QtGui.QPainter.CompositionMode.CompositionMode_SourceOver


def bounded(cache: dict) -> dict:
    """`cache`, emptied first when it holds more than KEPT_TEXTS entries."""
    if len(cache) > KEPT_TEXTS:
        cache.clear()
    return cache


class MeasuringPainter:
    """What generateDrawSpecs is given in place of a painter: a real one
    (on a picture, as pyqtgraph's own) whose text measures are kept per
    text, font, flags and box, as a measure depends on nothing else."""

    def __init__(self, painter, measures: dict):
        self._painter = painter
        self._measures = measures
        self._font_key = painter.font().key()

    def __getattr__(self, name):
        return getattr(self._painter, name)

    def setFont(self, font) -> None:
        self._painter.setFont(font)
        self._font_key = self._painter.font().key()

    def centred_size(self, text: str) -> tuple[float, float]:
        """(width, 0.8 of the height) of `text` centred in axisticks'
        MEASURE_BOX: the measure every tick text gets, kept by text and font
        (no key of box and flags to make for it)."""
        key = (text, self._font_key)
        size = self._measures.get(key)
        if size is None:
            box = self._painter.boundingRect(MEASURE_BOX, ALIGN_CENTER, text)
            size = bounded(self._measures)[key] = (box.width(), box.height() * 0.8)
        return size

    def boundingRect(self, rect, flags, text):
        key = (text, self._font_key, int(_flag_value(flags)),
               rect.x(), rect.y(), rect.width(), rect.height())
        box = self._measures.get(key)
        if box is None:
            box = self._painter.boundingRect(rect, flags, text)
            bounded(self._measures)[key] = box
        return QtCore.QRectF(box)  # a copy: the caller changes the one it gets


def _flag_value(flags):
    return getattr(flags, "value", flags)


# The alignments a tick text is placed by, as the ints the drawing specs' flags are read as.
_RIGHT, _HCENTER, _BOTTOM, _VCENTER = (int(_flag_value(flag)) for flag in (
    ALIGN_RIGHT, ALIGN_HCENTER, ALIGN_BOTTOM, ALIGN_VCENTER))


class AxisDrawing:
    """One set of ticks, ready to draw: the axis line, the tick (and grid)
    lines by pen, and the tick texts laid out at their places."""

    def __init__(self, specs, font: QtGui.QFont, text_pen: QtGui.QPen, clip: QtCore.QRect,
                 texts: dict, across_rows: bool = False):
        axis_spec, tick_specs, text_specs = specs
        self.axis = (axis_spec[0], QtCore.QLineF(axis_spec[1], axis_spec[2]))
        self.lines = _lines_by_pen(tick_specs)
        # The ticks of a vertical axis (and its grid) run along the rows.
        self.rows = [PixelRows(pen, lines) if across_rows else None for pen, lines in self.lines]
        self.font, self.text_pen, self.clip = font, text_pen, clip
        font_key = font.key()
        self.texts = [_placed_text(rect, flags, text, font, font_key, texts)
                      for rect, flags, text in text_specs]

    def draw(self, p: QtGui.QPainter) -> None:
        p.save()
        try:
            p.setRenderHint(p.RenderHint.Antialiasing, False)
            p.setRenderHint(p.RenderHint.TextAntialiasing, True)
            p.setPen(self.axis[0])
            p.drawLine(self.axis[1])
            shift = device_shift(p)
            for (pen, lines), rows in zip(self.lines, self.rows):
                p.setPen(pen)
                if shift is None or rows is None or not rows.filled:
                    p.drawLines(lines)
                    continue
                if rows.others:
                    p.drawLines(rows.others)
                p.setPen(NO_PEN)
                p.setBrush(rows.colour)
                p.drawRects(rows.rects(shift))
            if self.texts:
                p.setFont(self.font)
                p.setPen(self.text_pen)
                p.setClipRect(self.clip, INTERSECT_CLIP)
                for corner, text in self.texts:
                    p.drawStaticText(corner, text)
        finally:
            p.restore()


def device_shift(p: QtGui.QPainter):
    """(dx, dy) of a painter that maps to its device by a shift alone,
    blends plainly and paints 32-bit pixels, else None: where the pixels
    of a one-pixel line are those of a one-pixel row of a rectangle (see
    PixelRows). On 16-bit pixels Qt rounds the two blends differently."""
    device = p.deviceTransform()
    if device.type() not in SHIFTS_ONLY or p.compositionMode() != SOURCE_OVER \
            or p.opacity() != 1.0:
        return None
    engine = p.paintEngine()
    target = engine.paintDevice() if engine is not None else None
    if target is None or target.depth() != 32:
        return None
    return device.dx(), device.dy()


class PixelRows:
    """The horizontal lines of one pen as rectangles one pixel high.

    Qt draws a cosmetic solid line of one pixel without antialiasing pixel
    by pixel, a row of a rectangle as one span: a grid line across the plot
    costs a few times less as a rectangle. The pixels are the same: a line
    from x1 to x2 at y covers, in device pixels, the row floor(y) from
    floor(x1) to floor(x2), and the blend of a plain colour is the same
    either way (tests/widgets/test_axisdraw.py compares the pictures with
    pyqtgraph's). A rectangle is placed by the integer part of the device
    shift (as the raster engine places a QRect), the rest of the shift
    taken into its corner. Other lines, and every line of any other pen, are
    drawn as lines."""

    def __init__(self, pen: QtGui.QPen, lines):
        self.filled = (pen.style() == QtCore.Qt.PenStyle.SolidLine and pen.isCosmetic()
                       and pen.widthF() <= 1 and pen.capStyle() == QtCore.Qt.PenCapStyle.SquareCap
                       and pen.brush().style() == QtCore.Qt.BrushStyle.SolidPattern)
        self.colour = QtGui.QColor(pen.color())
        self.spans = []   # (x1, x2, y) of the horizontal lines, x1 <= x2
        self.others = []  # the other lines
        for line in lines:
            if line.y1() == line.y2() and line.x1() != line.x2():
                self.spans.append((*sorted((line.x1(), line.x2())), line.y1()))
            else:
                self.others.append(line)
        self.filled = self.filled and bool(self.spans)
        self._rects = (None, [])  # (shift, rectangles) of the last draw

    def rects(self, shift) -> list:
        if self._rects[0] != shift:
            dx, dy = shift
            ix, iy = int(dx), int(dy)  # as the raster engine shifts a QRect
            rects = []
            for x1, x2, y in self.spans:
                left = math.floor(x1 + dx)
                rects.append(QtCore.QRect(left - ix, math.floor(y + dy) - iy,
                                          math.floor(x2 + dx) - left + 1, 1))
            self._rects = (shift, rects)
        return self._rects[1]


def _lines_by_pen(tick_specs) -> list:
    """The tick lines grouped by pen, in the order the pens first come (the
    longer ticks first, as pyqtgraph draws them)."""
    groups: list = []
    for pen, p1, p2 in tick_specs:
        if not groups or groups[-1][0] != pen:
            groups.append((pen, []))
        groups[-1][1].append(QtCore.QLineF(p1, p2))
    return groups


def _placed_text(rect: QtCore.QRectF, flags, text: str, font: QtGui.QFont, font_key: str,
                 texts: dict):
    """(top left corner, QStaticText) of `text` aligned in `rect` as `flags`
    say, as QPainter.drawText(rect, flags, text) would place it (`font_key`
    is font.key(), made once for all the texts)."""
    key = (text, font_key)
    static = texts.get(key)
    if static is None:
        static = QtGui.QStaticText(text)
        static.setTextFormat(QtCore.Qt.TextFormat.PlainText)
        static.prepare(QtGui.QTransform(), font)
        bounded(texts)[key] = static
    size = static.size()
    flags = int(_flag_value(flags))
    x = _aligned(rect.left(), rect.right(), size.width(), flags, _RIGHT, _HCENTER)
    y = _aligned(rect.top(), rect.bottom(), size.height(), flags, _BOTTOM, _VCENTER)
    return QtCore.QPointF(x, y), static


def _aligned(start: float, end: float, length: float, flags: int, at_end: int, centred: int):
    """Where a text `length` long starts between `start` and `end` along one
    direction: at the end, centred, or at the start, as `flags` say."""
    if flags & at_end:
        return end - length
    if flags & centred:
        return (start + end) / 2 - length / 2
    return start


class DirectAxis(pg.AxisItem):
    """pyqtgraph's axis, drawn directly (see the module's text). Subclasses
    choose the ticks as with AxisItem (tickValues, tickStrings,
    generateDrawSpecs)."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self._measures: dict = {}  # text measures, see MeasuringPainter
        self._texts: dict = {}     # (text, font key) -> QStaticText
        self._drawing: AxisDrawing | None = None
        self._tick_values: dict = {}  # tick_values_key -> AxisItem.tickValues' answer
        self._tick_strings: dict = {}  # (values, scale, spacing, log) -> tick texts
        self.si_unit = None  # a unit whose values are written with SI prefixes ("Hz")

    def _updateLabel(self):
        # The base class lays its label out again at every change of the
        # range (for a unit prefix that may have changed): at every frame of
        # a live plot. The ticks are made again as before; the label only
        # when its text changed.
        text = self.labelString()
        if text != getattr(self, "_label_html", None):
            self._label_html = text
            self.label.setHtml(text)
            self._adjustSize()
        self.picture = None
        self.update()

    def tickValues(self, minVal, maxVal, size):
        # The ticks of a range already seen (the same key): a scrolling axis
        # keeps its ticks for many frames. Copies: callers may change them.
        key = tick_values_key(self, minVal, maxVal, size)
        levels = None if key is None else self._tick_values.get(key)
        if levels is None:
            if key is None:  # a log scale: the base class' own
                return super().tickValues(minVal, maxVal, size)
            levels = bounded(self._tick_values)[key] = tick_values(self, minVal, maxVal, size)
        return [(spacing, list(values)) for spacing, values in levels]

    def tickStrings(self, values, scale, spacing):
        # Kept by what the base class writes them from: a scrolling axis
        # writes the same texts for many frames.
        key = (tuple(values), scale, spacing, self.logMode, self._length() if self.logMode else 0)
        if self.si_unit is not None and not self.logMode:
            return si_tick_texts(values, spacing, self.si_unit)
        strings = self._tick_strings.get(key)
        if strings is None:
            strings = bounded(self._tick_strings)[key] = super().tickStrings(values, scale, spacing)
        return list(strings)

    def logTickStrings(self, values, scale, spacing):
        strings = super().logTickStrings(values, scale, spacing)
        if all(float(v).is_integer() for v in values):  # the decades: always labelled
            return strings
        return self._spaced_minor_labels(values, strings)

    def _length(self) -> float:
        return self.height() if self.orientation in ("left", "right") else self.width()

    def _spaced_minor_labels(self, values, strings) -> list[str]:
        """A log axis labels its minor ticks only where they do not crowd."""
        metrics = QtGui.QFontMetrics(self.style.get("tickFont") or self.font())
        if self.orientation in ("left", "right"):
            def room(text):
                return metrics.height() + 2
        else:
            def room(text):
                return metrics.horizontalAdvance(text) + 10
        return spaced_log_labels(list(values), strings, tuple(self.range), self._length(), room)

    def generateDrawSpecs(self, p):
        specs = draw_specs(self, p)
        return super().generateDrawSpecs(p) if specs is NotImplemented else specs

    def paint(self, p, opt, widget):
        if self.picture is None:
            self._drawing = self._make_drawing()
            self.picture = _DRAWN
        if self._drawing is not None:
            self._drawing.draw(p)

    def _make_drawing(self) -> AxisDrawing | None:
        specs, font = self.measured_specs()
        if specs is None:
            return None
        clip = self.boundingRect().toAlignedRect()
        return AxisDrawing(specs, font, QtGui.QPen(self.textPen()), clip, self._texts,
                           across_rows=self.orientation in ("left", "right"))

    def measured_specs(self):
        """(generateDrawSpecs' answer, the tick font), measured on a painter
        like the one pyqtgraph records with, so the ticks come out as they
        would there."""
        picture = QtGui.QPicture()
        painter = QtGui.QPainter(picture)
        try:
            if self.style["tickFont"]:
                painter.setFont(self.style["tickFont"])
            specs = self.generateDrawSpecs(MeasuringPainter(painter, self._measures))
            return specs, QtGui.QFont(self.style["tickFont"] or painter.font())
        finally:
            painter.end()


def use_direct_axes(plot_item, sides=("bottom", "left", "top", "right")) -> None:
    """Puts a DirectAxis in place of each plain AxisItem of `plot_item` on
    `sides`, as made with the plot: before anything set a label or a pen on
    it. The plot's grid goes to the new axes; a hidden axis stays hidden
    (hidden, a plain AxisItem still lays its label out at every change of
    the view's range)."""
    for side in sides:
        old = plot_item.getAxis(side)
        if type(old) is pg.AxisItem:
            shown = old.isVisible()
            plot_item.setAxisItems({side: DirectAxis(side)})
            plot_item.showAxis(side, shown)
    plot_item.updateGrid()
