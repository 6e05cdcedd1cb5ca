"""tarvinel.stelvane: live plots of tabular data (see README.md).

`show(produce, **options)` opens the window for a produce(feed) function;
the `stelvane` command (python -m tarvinel.stelvane) for the other sources.
"""


def show(produce, **options) -> int:
    """Opens the window with `produce(feed)` in its own process; see app.show."""
    # Loaded here, not at import: the producer process imports this package
    # too, and must not load Qt.
    from .app import show as show_window

    return show_window(produce, **options)
