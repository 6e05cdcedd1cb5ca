"""The main window's layout: the toolbar's row, the plots beside the column
of view buttons and data boxes, the replay bar and the statistics table."""

from ..qt_compat import QtCore, QtWidgets

# Width of the column of data boxes, in pixels.
DATA_BOX_WIDTH = 250


def build_layout(window) -> dict:
    """Lays out `window` (a MainWindow) and returns its splitters by the
    names the settings keep them under."""
    plots = QtWidgets.QSplitter(QtCore.Qt.Orientation.Vertical)
    plots.setObjectName("plots")
    for plot in window.plots:
        plots.addWidget(plot)
        plots.setCollapsible(plots.count() - 1, False)  # a hidden plot comes back at its size
    boxes = QtWidgets.QWidget()
    box_layout = QtWidgets.QVBoxLayout(boxes)
    box_layout.setContentsMargins(0, 0, 0, 0)
    # The view buttons and the live plot's window head the column: the
    # toolbar's row keeps its room for the pattern field.
    box_layout.addWidget(window.controls)
    box_layout.addWidget(window.window_field)
    for record in window.modes.values():
        box_layout.addWidget(record.data_box)
    box_layout.addWidget(window.markers.panel)
    # A fixed width: the boxes' titles and values change several times a
    # second, and a panel that followed their width would resize (and
    # repaint) the plots beside it each time.
    boxes.setFixedWidth(DATA_BOX_WIDTH)
    body = QtWidgets.QSplitter(QtCore.Qt.Orientation.Horizontal)
    body.setObjectName("body")
    body.addWidget(plots)
    body.addWidget(boxes)
    body.setStretchFactor(0, 4)
    body.setStretchFactor(1, 1)
    body.setCollapsible(1, False)  # it holds the view buttons
    central = QtWidgets.QWidget()
    layout = QtWidgets.QVBoxLayout(central)
    layout.setContentsMargins(6, 6, 6, 0)
    layout.addWidget(window.toolbar)
    layout.addWidget(body, 1)
    if window.replay_bar is not None:
        layout.addWidget(window.replay_bar)
    layout.addWidget(window.stats_table)
    window.setCentralWidget(central)
    return {"plots": plots, "body": body}

