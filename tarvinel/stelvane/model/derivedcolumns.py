"""The derived series of a data set: columns computed from its columns by
expressions (expressions.py), stored after them as columns like any other,
so that patterns match them and everything that shows or saves columns
shows or saves them.

An expression applies to a data set whose columns (or the derived series
before it) hold every column it names; one that names a column the data
set lacks while naming others it has is reported (a misspelt name), one
that names none of its columns is for another data set (the window's data
sets share an InUse, which reports, when rows arrive, an expression that
names no column of any of them). A derived series named as a column of the
data is left out with a report too.

The row functions read X, the column the default pattern plots against:
the first time column, else the first number column, else the row number
of the run. Each run starts them afresh, a row at a time as blocks arrive:
the values of a block are computed once, when it arrives, and never change.

No Qt here.
"""

from dataclasses import dataclass
import warnings

import numpy as np

from .columnkinds import DataWarning
from .expressions import EvaluationError, Expression
from ..protocol import NUMBER, TIME


@dataclass(frozen=True)
class Plan:
    """Which expressions apply to a data set's columns, and its X."""
    applied: tuple[Expression, ...] = ()
    x_index: int | None = None  # the column of X; None: the row number
    problems: tuple[str, ...] = ()

    @property
    def names(self) -> list[str]:
        return [expression.name for expression in self.applied]


def x_column(kinds) -> int | None:
    """The column the default pattern plots against: the first time column,
    else the first number column; None where there is neither."""
    for wanted in (TIME, NUMBER):
        found = next((i for i, kind in enumerate(kinds) if kind == wanted), None)
        if found is not None:
            return found
    return None


def plan(expressions, names, kinds) -> Plan:
    """What of `expressions` applies to columns `names` of `kinds`."""
    available = set(names)
    applied, problems = [], []
    for expression in expressions:
        if expression.name in available:
            problems.append(f"derived series {expression.name!r} left out: "
                            "a column of that name is there")
            continue
        missing = expression.missing(available)
        if missing is not None:
            if available.intersection(expression.columns):
                problems.append(f"derived series left out: {missing.one_line}")
            continue
        applied.append(expression)
        available.add(expression.name)
    return Plan(tuple(applied), x_column(kinds), tuple(problems))


class InUse:
    """The columns and the derived series of the data sets that share it,
    for the report of an expression none of them has a column of."""

    def __init__(self):
        self.columns: dict[str, set] = {}  # data set name -> its producer's columns
        self.applied: dict[str, set] = {}  # data set name -> the series it derives
        self.reported: set[str] = set()  # definitions

    def use(self, dataset_name: str, columns, plan: Plan) -> None:
        self.columns[dataset_name] = set(columns)
        self.applied[dataset_name] = set(plan.names)

    def unused(self, expressions) -> list[str]:
        """Reports, once each, the expressions no data set derives that name
        no column of any (a partly fitting one its data set reports)."""
        columns = set().union(*self.columns.values())
        applied = set().union(*self.applied.values())
        problems = []
        for expression in expressions:
            if (expression.name in applied or expression.name in columns
                    or columns.intersection(expression.columns)
                    or expression.definition in self.reported):
                continue
            self.reported.add(expression.definition)
            named = ", ".join(map(repr, expression.columns))
            problems.append(f"derived series {expression.name!r} left out: no data set has "
                            f"a column it names ({named})")
        return problems


def derive_in(datasets, expressions) -> None:
    """Derives `expressions` in `datasets` (a window's), which share an InUse."""
    in_use = InUse()
    for dataset in datasets:
        dataset.set_derived(expressions, in_use)


class DerivedColumns:
    """The expressions of a data set, and their values over its current
    run as blocks of rows arrive."""

    def __init__(self, expressions=()):
        self.expressions: tuple[Expression, ...] = tuple(expressions)
        self.in_use = InUse()
        self._unchecked = False  # whether InUse is still to look at this plan
        self.plan = Plan()
        self._series = []
        self._rows = 0  # rows of the run so far: the row number of the next one
        self._failed: set[str] = set()  # reported once a plan

    @property
    def names(self) -> list[str]:
        return self.plan.names

    def set(self, expressions, in_use: InUse | None = None) -> None:
        self.expressions = tuple(expressions)
        self.in_use = in_use or InUse()

    def use(self, plan: Plan, dataset_name: str, columns) -> None:
        self.plan = plan
        self.in_use.use(dataset_name, columns, plan)
        self._unchecked = True
        self._failed.clear()
        self.start_run()

    def start_run(self) -> None:
        self._series = [expression.start() for expression in self.plan.applied]
        self._rows = 0

    def stored(self, columns, start: int, end: int, names, dataset_name: str) -> list[np.ndarray]:
        """The derived columns of the rows start:end of a run's `columns`
        (named `names`), over the whole columns at once: arrays as long as
        those, the values at the same place."""
        made = self.values(lambda i: columns[i][start:end], end - start, names, dataset_name)
        arrays = []
        for values in made:
            arrays.append(np.empty(len(columns[0]) if columns else end, values.dtype))
            arrays[-1][start:end] = values
        return arrays

    def values(self, column, rows: int, names, dataset_name: str) -> list[np.ndarray]:
        """The derived columns of a block of `rows` rows of the columns
        `names` (`column(i)`: the block's values of column i). A series'
        first failure of a plan is warned about: its values are NaN where
        numpy could not make them."""
        if self._unchecked and rows:
            self._unchecked = False  # rows came: every data set has had its names
            for problem in self.in_use.unused(self.expressions):
                warnings.warn(problem, DataWarning, stacklevel=4)  # of no one data set
        if not self._series:
            return []
        x_index = self.plan.x_index
        if x_index is None:
            x = np.arange(self._rows, self._rows + rows, dtype=np.float64)
        else:
            x = np.ascontiguousarray(column(x_index).real)
        self._rows += rows
        columns = _Columns(column, names)
        made = []
        for series in self._series:
            name = series.expression.name
            try:
                values = series.values(columns, x)
            except Exception as error:  # a series that fails must never cost the rows
                values = np.full(rows, np.nan)
                if name not in self._failed:
                    self._failed.add(name)
                    reason = (error if isinstance(error, EvaluationError)
                              else f"{name}: {type(error).__name__}: {error}")
                    warnings.warn(f"{dataset_name}: derived series {reason}; its values are NaN",
                                  DataWarning, stacklevel=4)
            columns.made[name] = values
            made.append(values)
        return made


class _Columns:
    """A block's columns by name, each made contiguous once when first read
    (numpy reads a column of a row-major block with a stride), and the
    derived series made so far."""

    def __init__(self, column, names):
        self.column = column
        self.index = {name: i for i, name in enumerate(names)}
        self.made: dict[str, np.ndarray] = {}

    def __getitem__(self, name: str) -> np.ndarray:
        found = self.made.get(name)
        if found is None:
            found = self.made[name] = np.ascontiguousarray(self.column(self.index[name]))
        return found
