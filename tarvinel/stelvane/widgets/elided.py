"""Texts that never widen the window: a label that shows what fits of its
text, cut after a whole word and marked with an ellipsis, and the whole
text on hover; the status bar's message shown in such a label."""

from ..qt_compat import QtCore, QtGui, QtWidgets

ELLIPSIS = "…"
# The least width an elided label asks for, in average characters.
LEAST_CHARACTERS = 6
# Characters of a text measured and laid out at most: more never fit on a
# screen, and laying out megabytes of text stalls the window.
MEASURED = 2000


def elided_words(text: str, metrics: QtGui.QFontMetrics, width: int) -> str:
    """`text` as far as it fits into `width` pixels: whole, or cut after the
    last whole word that fits with an ellipsis (cut within the word only
    when not even the first word fits)."""
    if metrics.horizontalAdvance(text) <= width:
        return text
    room = width - metrics.horizontalAdvance(ELLIPSIS)
    cut = metrics.elidedText(text, QtCore.Qt.TextElideMode.ElideRight, width)[:-1]
    words = cut.rsplit(" ", 1)
    shown = words[0] if len(words) == 2 and words[0].strip() else cut
    while shown and metrics.horizontalAdvance(shown) > room:
        shown = shown[:-1]
    return shown.rstrip(" ,;:·") + ELLIPSIS


class ElidedLabel(QtWidgets.QLabel):
    """A one-line label that may be narrower than its text: it then shows
    the words that fit and an ellipsis, and the whole text as its tool tip.
    It asks for the widest room its texts needed so far (a figure one digit
    shorter does not lay the row out again), but takes less where the
    window has less."""

    def __init__(self, text: str = "", parent=None):
        super().__init__(parent)
        self.full_text = ""
        self._wanted = 0
        self.setSizePolicy(QtWidgets.QSizePolicy.Policy.Preferred,
                           QtWidgets.QSizePolicy.Policy.Preferred)
        self.set_full_text(text)

    def set_full_text(self, text: str) -> None:
        if text == self.full_text:
            return
        self.full_text = text
        wanted = self.fontMetrics().horizontalAdvance(text[:MEASURED]) + self._margins()
        if wanted > self._wanted:
            self._wanted = wanted
            self.updateGeometry()
        self._show()

    def text(self) -> str:
        """The whole text (text_shown: what fits of it)."""
        return self.full_text

    def text_shown(self) -> str:
        return super().text()

    def forget_width(self) -> None:
        """Asks for no more room than the present text needs."""
        self._wanted = self.fontMetrics().horizontalAdvance(self.full_text[:MEASURED]) + \
            self._margins()
        self.updateGeometry()

    def _margins(self) -> int:
        margins = self.contentsMargins()
        return margins.left() + margins.right() + 2 * self.margin()

    def _show(self) -> None:
        width = self.contentsRect().width() - 2 * self.margin()
        text = self.full_text[:MEASURED]
        shown = elided_words(text, self.fontMetrics(), max(0, width))
        if len(self.full_text) > MEASURED and not shown.endswith(ELLIPSIS):
            shown += ELLIPSIS
        if shown != super().text():
            self.setText(shown)
        tip = text if shown != self.full_text else ""
        if tip != self.toolTip():
            self.setToolTip(tip)

    def sizeHint(self) -> QtCore.QSize:
        return QtCore.QSize(self._wanted, super().sizeHint().height())

    def minimumSizeHint(self) -> QtCore.QSize:
        least = LEAST_CHARACTERS * self.fontMetrics().averageCharWidth() + self._margins()
        return QtCore.QSize(min(least, self._wanted), super().minimumSizeHint().height())

    def resizeEvent(self, event) -> None:
        super().resizeEvent(event)
        self._show()


class MessageArea(ElidedLabel):
    """The status bar's message: shown for a time or until the next one,
    cut by words to the room the bar has, whole on hover."""

    def __init__(self, parent=None):
        super().__init__("", parent)
        self.setSizePolicy(QtWidgets.QSizePolicy.Policy.Ignored,
                           QtWidgets.QSizePolicy.Policy.Preferred)
        self._timer = QtCore.QTimer(self)
        self._timer.setSingleShot(True)
        self._timer.timeout.connect(lambda: self.set_full_text(""))

    def show_message(self, text: str, timeout_ms: int = 0) -> None:
        self.set_full_text(text)
        self._timer.stop()
        if timeout_ms > 0:
            self._timer.start(timeout_ms)
