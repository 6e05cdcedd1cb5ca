"""The two Y axes of a plot: which curves go on the right one (the frame's
`right` pairs, model/axissides.py), the labels of both, and F's fit of
each axis to its own curves."""

from .. import config
from ..model.columnkinds import axis_text, common
from ..model.series import data_extent


def right_keys(frame) -> frozenset:
    """The curve keys whose pairs the frame puts on the right axis."""
    return frozenset(key for key, pair in zip(config.ridx, frame.pairs)
                     if tuple(pair) in frame.right)


def show_sides(plot, frame, ys) -> tuple[list, list]:
    """Puts the frame's right curves on `plot`'s right axis with their label
    and scale; returns the Y names and the Y Shown of the left axis' curves
    (all of them while the right axis holds none)."""
    keys = right_keys(frame)
    left = [(pair[1], shown) for key, pair, shown in zip(config.ridx, frame.pairs, ys)
            if key not in keys]
    right = [(pair[1], shown) for key, pair, shown in zip(config.ridx, frame.pairs, ys)
             if key in keys]
    label = axis_text([name for name, _ in right], frame.fy, [s for _, s in right]) if right else ""
    plot.right_axis.place(keys, label, frame.right_log)
    plot.right_shown = common([s for _, s in right]) if right else None
    return [name for name, _ in left], [s for _, s in left]


def fit_sides(plot, keyed_blocks) -> bool:
    """F: X to every curve's rows, the left Y to its curves', the right Y
    to its own; `keyed_blocks` holds (curve key, RowBlocks) pairs. False
    when there is nothing to fit to."""
    axis = plot.plotItem.getAxis
    keys = plot.right_axis.keys
    log_x, log_y = axis("bottom").logMode, axis("left").logMode
    every = [block for _, blocks in keyed_blocks for block in blocks]
    extent = data_extent(every, log_x, log_y)
    if extent is None:
        return False
    left = data_extent([b for key, blocks in keyed_blocks if key not in keys for b in blocks],
                       log_x, log_y)
    plot.plotItem.vb.setRange(xRange=extent[0], yRange=(left or extent)[1])
    right = data_extent([b for key, blocks in keyed_blocks if key in keys for b in blocks],
                        log_x, plot.right_axis.log)
    if right is not None:
        plot.right_axis.set_y_range(*right[1])
    return True
