"""A dialog of lines the window takes all at once (its derived series, its
limit lines): a text field, a line of help above it, the reason a line was
refused below it, Apply (or Ctrl+Return) and Close (or Esc)."""

from ..qt_compat import QtCore, QtGui, QtWidgets


class LinesEditor(QtWidgets.QDialog):
    """Subclasses give `apply()`, which takes the lines or says why not."""

    def __init__(self, window, title: str, help_text: str, placeholder: str, size,
                 fixed_message: bool = False):
        super().__init__(window)
        self.window = window
        self.setWindowTitle(title)
        fixed = QtGui.QFontDatabase.systemFont(QtGui.QFontDatabase.SystemFont.FixedFont)
        self.lines = QtWidgets.QPlainTextEdit(self)
        self.lines.setFont(fixed)
        self.lines.setPlaceholderText(placeholder)
        self.message = QtWidgets.QLabel(self)
        if fixed_message:  # (a message that points at a character of the line)
            self.message.setFont(fixed)
        self.message.setStyleSheet("color: #c0392b")
        buttons = QtWidgets.QDialogButtonBox(self)
        standard = QtWidgets.QDialogButtonBox.StandardButton
        self.apply_button = buttons.addButton(standard.Apply)
        buttons.addButton(standard.Close).clicked.connect(self.reject)
        self.apply_button.clicked.connect(self.apply)
        self.lines.installEventFilter(self)  # Ctrl+Return, which the text field would take
        layout = QtWidgets.QVBoxLayout(self)
        layout.addWidget(QtWidgets.QLabel(help_text, self))
        layout.addWidget(self.lines, 1)
        layout.addWidget(self.message)
        layout.addWidget(buttons)
        self.resize(*size)

    def eventFilter(self, watched, event) -> bool:
        if (event.type() == QtCore.QEvent.Type.KeyPress
                and event.key() in (QtCore.Qt.Key.Key_Return, QtCore.Qt.Key.Key_Enter)
                and event.modifiers() & QtCore.Qt.KeyboardModifier.ControlModifier):
            self.apply()
            return True
        return super().eventFilter(watched, event)

    def open_with(self, text: str) -> None:
        """Shows the dialog holding `text`, the cursor after it (a new line goes last)."""
        self.lines.setPlainText(text)
        self.lines.moveCursor(QtGui.QTextCursor.MoveOperation.End)
        self.message.clear()
        self.show()
        self.raise_()
        self.lines.setFocus()

    def apply(self) -> bool:
        raise NotImplementedError
