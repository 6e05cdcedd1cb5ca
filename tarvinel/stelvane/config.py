"""Settings of the application: toolbar style sheet, plot colours and curve styles.

The toolbar and plot modules bind these names once, when they are loaded.
"""

# Style sheet applied to the selection toolbar.
style = """
QWidget {
    font-size: 10pt;
}
QLineEdit {
    padding: 1px 4px;
    border: 1px solid #9aa5b1;
    border-radius: 3px;
    background: #ffffff;
    selection-background-color: #3d7ad6;
}
QLineEdit:focus {
    border: 1px solid #3d7ad6;
}
QComboBox {
    padding: 1px 4px;
    min-width: 3em;
}
QCheckBox, QRadioButton {
    spacing: 3px;
}
QPushButton {
    padding: 2px 1px;
    border: 1px solid #9aa5b1;
    border-radius: 3px;
    background: #eef1f4;
}
QPushButton:hover {
    background: #dde3ea;
}
QPushButton:pressed {
    background: #c8d1db;
}
QLabel {
    color: #33404d;
}
"""

# Plot background of the selected plot and of every other plot.
COL_SEL = "#f3f7fd"
COL_UNSEL = "#ffffff"

# One colour per curve key: distinct hues, each with a contrast of at least 3:1
# against both plot backgrounds so that thin lines stay visible.
defualt_colors = [
    "#1f77b4",  # blue
    "#d62728",  # red
    "#2ca02c",  # green
    "#d95f02",  # orange
    "#9467bd",  # purple
    "#8c564b",  # brown
    "#c2185b",  # magenta
    "#00838f",  # teal
]

# Curve keys: one curve per key in each plot widget.
ridx = list(range(8))

# Pen width and symbol size per curve key. One-pixel pens: Qt draws wider
# ones about nine times slower, which a live plot cannot afford.
widths = [1, 1, 1, 1, 1, 1, 1, 1]
SymSize = [6, 6, 6, 6, 6, 6, 6, 6]
