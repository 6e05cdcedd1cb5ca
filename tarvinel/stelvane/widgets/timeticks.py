"""Where a time axis puts its ticks and what it writes at them.

Ticks sit on round values of the local clock (10:00, 10:15, midnight, the
first of a month), found per instant with the offset in force there, so a
daylight-saving change moves no tick off its hour: on the day the clocks go
forward the hour that does not exist has no tick, on the day they go back
the repeated hour has its ticks twice.

Two kinds of steps: fixed ones (milliseconds to hours), placed on the local
clock in each stretch of constant offset; calendar ones (days, weeks,
months, years), placed at local midnights. The step is the smallest one
whose texts fit between two ticks at the axis' length.

This module imports no Qt: the axis gives it a function that measures texts.
"""

import calendar
from dataclasses import dataclass
import math
import time

from ..formats.valuetext import FIRST_TIME, LAST_TIME, MONTHS, local_fields, round_to_micro, utc_offset

# Pixels left free between two tick texts.
PADDING = 16
# Offsets are read this often along a range of fixed steps: a zone changes
# its offset at most once in that long.
OFFSET_PROBE_SECONDS = 6 * 3600
MONDAY = 4  # 1970-01-05, day 4 of the epoch, was a Monday


@dataclass(frozen=True)
class Step:
    unit: str        # "ms", "s", "min", "h", "day", "week", "month", "year"
    count: int       # ticks every `count` units
    seconds: float   # about how long a step is
    examples: tuple  # the widest texts its ticks may show


def _steps():
    fixed = (("ms", 1e-3, (1, 2, 5, 10, 20, 50, 100, 200, 500), ("00:00:00", "00.000")),
             ("s", 1, (1, 2, 5, 10, 15, 30), ("00:00:00", "Sep 30")),
             ("min", 60, (1, 2, 5, 10, 15, 30), ("00:00", "Sep 30")),
             ("h", 3600, (1, 2, 3, 6, 12), ("00:00", "Sep 30")),
             ("day", 86400, (1, 2), ("Sep 30", "2026")),
             ("week", 7 * 86400, (1,), ("Sep 30", "2026")),
             ("month", 30.44 * 86400, (1, 2, 3, 6), ("Sep", "2026")),
             ("year", 365.25 * 86400, (1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000), ("2026",)))
    return tuple(Step(unit, count, size * count, examples)
                 for unit, size, counts, examples in fixed for count in counts)


STEPS = _steps()
FIXED_UNITS = {"ms": 1e-3, "s": 1, "min": 60, "h": 3600}


def choose_step(low: float, high: float, length: float, text_extent) -> Step:
    """The finest step whose tick texts, measured by `text_extent(text)` in
    pixels along the axis, fit between two ticks on an axis of `length`
    pixels showing [low, high]."""
    per_pixel = (high - low) / max(length, 1.0)
    for step in STEPS:
        if step.seconds >= per_pixel * (max(map(text_extent, step.examples)) + PADDING):
            return step
    return STEPS[-1]


def tick_values(low: float, high: float, step: Step) -> list[float]:
    """The instants in [low, high] where ticks of `step` go, in order."""
    low, high = max(low, FIRST_TIME), min(high, LAST_TIME)
    if not low <= high:
        return []
    if step.unit in FIXED_UNITS:
        return fixed_ticks(low, high, step)
    return calendar_ticks(low, high, step)


def fixed_ticks(low: float, high: float, step: Step) -> list[float]:
    """Every `step` of the local clock: in each stretch of constant offset,
    the multiples of the step in local wall-clock seconds (which count from
    local midnight of 1970-01-01, so hours line up with midnights)."""
    # Counted in whole milliseconds, so that a tick is one correctly rounded
    # division away from its exact value, whatever the step.
    step_ms = round(FIXED_UNITS[step.unit] * 1000) * step.count
    ticks = []
    for start, end, offset, last in offset_stretches(low, high):
        first_k = math.ceil((start + offset) * 1000 / step_ms)
        end_ms = (end + offset) * 1000 / step_ms
        last_k = math.floor(end_ms) if last else math.ceil(end_ms) - 1  # a stretch ends before the next
        ticks += [k * step_ms / 1000 - offset for k in range(first_k, last_k + 1)]
    return ticks


def offset_stretches(low: float, high: float):
    """(start, end, offset, is_last) for [low, high] cut where the local
    offset changes; a stretch holds [start, end), the last one its end too."""
    probes = list(range(math.floor(low), math.floor(high), OFFSET_PROBE_SECONDS)) + [math.floor(high)]
    offsets = [utc_offset(p) for p in probes]
    cuts = [first_second_of(offsets[i + 1], probes[i], probes[i + 1])
            for i in range(len(probes) - 1) if offsets[i] != offsets[i + 1]]
    bounds = [low] + cuts + [high]
    return [(bounds[i], bounds[i + 1], utc_offset(math.floor(bounds[i])), i == len(cuts))
            for i in range(len(cuts) + 1)]


def first_second_of(offset: int, before: int, after: int) -> int:
    """The first whole second in (before, after] whose offset is `offset`,
    given that `before` has another and `after` has it (offsets change on
    whole seconds)."""
    while after - before > 1:
        middle = (before + after) // 2
        if utc_offset(middle) == offset:
            after = middle
        else:
            before = middle
    return after


def calendar_ticks(low: float, high: float, step: Step) -> list[float]:
    # A day more at each end: wall-clock seconds run ahead of or behind UTC.
    wall_low = low + utc_offset(math.floor(low)) - 86400
    wall_high = high + utc_offset(math.floor(high)) + 86400
    ticks = (instant_of_wall(w) for w in local_midnights(math.floor(wall_low), math.ceil(wall_high), step))
    return [t for t in ticks if low <= t <= high]


def local_midnights(wall_low: int, wall_high: int, step: Step):
    """Wall-clock seconds of the local midnights in the range that begin a
    step: every day or second day, Mondays, every n-th month or year."""
    if step.unit in ("day", "week"):
        size, phase = (7, MONDAY) if step.unit == "week" else (step.count, 0)
        first_day = math.ceil((wall_low / 86400 - phase) / size) * size + phase
        return range(first_day * 86400, wall_high + 1, size * 86400)
    start, end = time.gmtime(wall_low), time.gmtime(wall_high)
    if step.unit == "month":
        months = range(start.tm_year * 12 + start.tm_mon - 1, end.tm_year * 12 + end.tm_mon)
        firsts = [(m // 12, m % 12 + 1) for m in months if m % step.count == 0]
    else:
        firsts = [(y, 1) for y in range(start.tm_year, end.tm_year + 1) if y % step.count == 0]
    return [calendar.timegm((year, month, 1, 0, 0, 0)) for year, month in firsts if 1 <= year <= 9999]


def instant_of_wall(wall: int) -> int:
    """The instant whose local clock reads `wall` (its first, when the clock
    reads it twice; where the clock jumps over it, the jump itself)."""
    offsets = sorted({utc_offset(wall - 86400), utc_offset(wall + 86400)}, reverse=True)
    for offset in offsets:  # the larger offset is the earlier instant
        if wall - offset + utc_offset(wall - offset) == wall:
            return wall - offset
    return wall - offsets[-1]  # the clock went from before `wall` to after it


def tick_text(value: float, step: Step) -> str:
    """What a tick of `step` at `value` says: the clock time, and, where a
    tick starts a larger unit (a day, a year, a whole second among
    milliseconds), that unit instead."""
    whole, micro = divmod(round_to_micro(value), 1_000_000)
    t = local_fields(whole)
    date = f"{MONTHS[t.tm_mon - 1]} {t.tm_mday}"
    new_year = (t.tm_mon, t.tm_mday) == (1, 1)
    if step.unit == "year":
        return f"{t.tm_year}"
    if step.unit == "month":
        return f"{t.tm_year}" if t.tm_mon == 1 else MONTHS[t.tm_mon - 1]
    if step.unit in ("day", "week"):
        return f"{t.tm_year}" if new_year else date
    clock = f"{t.tm_hour:02d}:{t.tm_min:02d}"
    if step.unit == "ms":
        digits = 3 - len(str(step.count)) + 1  # 1, 2, 5 ms: three digits; 500 ms: one
        return f"{clock}:{t.tm_sec:02d}" if micro == 0 else f"{t.tm_sec:02d}.{micro:06d}"[:3 + digits]
    if (t.tm_hour, t.tm_min, t.tm_sec, micro) == (0, 0, 0, 0):
        return date
    return f"{clock}:{t.tm_sec:02d}" if step.unit == "s" else clock


def dated_texts(values, texts: list[str], step: Step, view: tuple[float, float],
                pixels_per_second: float, text_extent) -> list[str]:
    """At clock steps (ms to hours), where no tick in `view` is a midnight
    (which says its date), the first tick in view says its date too: a zoom
    to a few hours still tells which day it shows. Only where the longer
    text leaves room before the next tick (`text_extent(text)` in pixels)."""
    shown = [i for i, value in enumerate(values) if view[0] <= value <= view[1]]
    if step.unit not in FIXED_UNITS or not shown:
        return texts
    fields = {i: local_fields(divmod(round_to_micro(values[i]), 1_000_000)[0]) for i in shown}
    if any((t.tm_hour, t.tm_min, t.tm_sec) == (0, 0, 0) for t in fields.values()):
        return texts
    for i in shown[:2]:  # the first tick, or the second where the first is at the edge
        t = fields[i]
        dated = f"{MONTHS[t.tm_mon - 1]} {t.tm_mday} {texts[i]}"
        half = text_extent(dated) / 2
        if (values[i] - view[0]) * pixels_per_second < half:
            continue  # it would stick out of the axis' start
        if i + 1 < len(values) and half + text_extent(texts[i + 1]) / 2 + PADDING > \
                (values[i + 1] - values[i]) * pixels_per_second:
            continue
        return [*texts[:i], dated, *texts[i + 1:]]
    return texts
