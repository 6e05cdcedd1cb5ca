"""Frequencies written with SI prefixes (1.42 GHz, not 1.42e+09): which
columns are frequencies, and their values and tick texts. No Qt here."""

import math

# Column names that are frequencies even without a unit (an instrument's
# sweep), compared in lower case.
FREQUENCY_NAMES = frozenset({"freq", "frequency", "frequencies"})
FREQUENCY_UNIT = "Hz"
PREFIXES = {-12: "p", -9: "n", -6: "µ", -3: "m", 0: "", 3: "k", 6: "M", 9: "G", 12: "T"}


def frequency_unit(name: str, unit: str = "") -> str | None:
    """"Hz" for a column that holds frequencies (its unit, else its name
    says so), None for any other."""
    if unit:
        return FREQUENCY_UNIT if unit == FREQUENCY_UNIT else None
    return FREQUENCY_UNIT if name.strip().lower() in FREQUENCY_NAMES else None


def _exponent(magnitude: float) -> int:
    """The power of a thousand whose prefix writes `magnitude`."""
    if not magnitude > 0 or not math.isfinite(magnitude):
        return 0
    return max(-12, min(12, 3 * math.floor(math.log10(magnitude) / 3)))


def si_text(value: float, unit: str, digits: int = 4) -> str:
    """`value` with the prefix that fits it, to `digits` significant digits."""
    if not math.isfinite(value):
        return f"{value}"
    exponent = _exponent(abs(value))
    return f"{value / 10.0 ** exponent:.{digits}g} {PREFIXES[exponent]}{unit}"


def si_tick_texts(values, spacing: float, unit: str) -> list[str]:
    """Tick texts of one prefix (the largest value's), with as many decimals
    as the spacing of the ticks needs."""
    if not values:
        return []
    exponent = _exponent(max(abs(v) for v in values))
    scale = 10.0 ** exponent
    decimals = max(0, min(9, -math.floor(math.log10(spacing / scale)))) if spacing > 0 else 3
    return [f"{v / scale:.{decimals}f} {PREFIXES[exponent]}{unit}" for v in values]
