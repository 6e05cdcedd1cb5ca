"""The window's figures for `--summary`: what it holds and shows, as JSON
for a script that ran it."""

from ..formats.account import summed


def window_summary(window) -> dict:
    """What `window` (a MainWindow) holds, in figures."""
    points, traces = window.point_dataset, window.trace_dataset
    return {
        "points": points.rows_stored,
        "runs": points.run_number - 1 + (1 if len(points) else 0),
        "traces": traces.payloads_stored,
        "point_columns": points.column_names,
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
        **({"replay": window.replay_bar.replay.summary()} if window.replay_bar else {}),
    }
