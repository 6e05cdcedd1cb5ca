"""Parts of the window that hold nothing yet give their room to those that
do: the history plot until the shown data set has a finished run, and the
data box of a data set that has no columns while the other has."""


def show_parts_with_data(window) -> None:
    """Shows or hides the history plot and the data boxes as their data
    says (a few times a second; only a change lays the window out)."""
    records = list(window.modes.values())
    has_columns = [bool(record.dataset.column_names) for record in records]
    for record, has in zip(records, has_columns):
        _set_shown(record.data_box, has or not any(has_columns))
    shown = window.modes[window.selection.mode].dataset
    _set_shown(window.history_plot, bool(shown.history))


def _set_shown(widget, shown: bool) -> None:
    if widget.isHidden() == shown:
        widget.setVisible(shown)
