"""The window's figures for `--summary`: what it holds and shows, as JSON
for a script that ran it.

`points` counts every point row stored since the start, `kept` the rows of
the current run the user can reach (a run longer than --max-rows keeps its
newest). A file source adds its `recording`: the rows and columns it read,
the seconds until the window had them all, and the seconds from the start
until the live plot first drew rows (None while they are not known).
"""

from ..formats.account import summed


def window_summary(window) -> dict:
    """What `window` (a MainWindow) holds, in figures."""
    points, traces = window.point_dataset, window.trace_dataset
    return {
        "points": points.rows_stored,
        "kept": len(points),
        "runs": points.run_number - 1 + (1 if len(points) else 0),
        "traces": traces.payloads_stored,
        "point_columns": points.column_names,
        "split": points.split.column,
        "trace_columns": traces.column_names,
        "pairs": [list(pair) for pair in window.selection.pairs],
        "problems": window.problems.count,
        "problem_texts": window.problems.texts(),
        **({"lines": summed(window.watch.line_accounts.values())}
           if window.watch.line_accounts else {}),
        "ended": window.watch.source_ended is not None,
        "live_x": list(window.plot_presenters[0].visible_x()),
        "window": window.live_window.text,
        "window_rows": window.plot_presenters[0].drawn_rows,
        "stats": window.stats.summary(),
        "derived": [expression.definition for expression in window.expressions],
        "cursors": window.cursors.summary(),
        "limits": window.limit_lines.summary(),
        "right_axis": [list(pair) for pair in window.presenter.sides.right(
            window.selection.selection().pattern, window.selection.pairs)],
        "markers": window.markers.markers.summary(),
        **({"replay": window.replay_bar.replay.summary()} if window.replay_bar else {}),
        **({"recording": recording_summary(window)} if window.watch.recording else {}),
    }


def recording_summary(window) -> dict:
    """What the window knows of the recording a file source read."""
    drawn = window.plot_presenters[0].first_drawn
    return {**window.watch.recording, "first_picture_seconds":
            None if drawn is None else round(drawn - window.epoch, 3)}
