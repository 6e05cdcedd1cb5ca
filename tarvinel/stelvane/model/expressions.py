"""Derived series: a named expression over a data set's columns, such as
`p = volts * amps` or `dB = 20*log10(abs(S21))`, computed over whole
columns with numpy and for new rows only as they arrive.

An expression is parsed with Python's `ast` and compiled into numpy calls;
nothing of it is ever run as Python. Names are columns (a name with spaces
or symbols, or one that is a Python keyword, is written in backquotes:
`` `U [V]` * 2 ``), pi and e are constants (a column so named is written in
backquotes), and calls go to the functions of exprcompiler.FUNCTIONS or to the row
functions of rowfunctions.py. Numbers, arithmetic (+ - * / // % **),
comparisons (< <= > >= == !=, chained as in Python), and, or and not (true
is 1, false 0) complete the language; anything else (an attribute, a
subscript, a lambda, a comprehension, text, a name with double
underscores, an unknown function) is refused with an ExpressionError whose
text points at the character.

Values follow numpy under errstate(all="ignore"): a division by zero gives
inf or NaN, the log of a negative number NaN, never an exception.

No Qt here.
"""

import ast
import unicodedata

import numpy as np

from .exprcompiler import MARKERS, MAX_LENGTH, Compiler, as_column


class ExpressionError(ValueError):
    """An expression that cannot be taken: `reason`, and the character of
    `text` it is about (`position`, from 0). The message shows the text
    with a caret under that character."""

    def __init__(self, reason: str, text: str, position: int = 0, name: str = ""):
        self.reason, self.text, self.name = reason, text, name
        self.position = max(0, min(position, len(text)))
        super().__init__(self.pointed)

    @property
    def pointed(self) -> str:
        head = f"{self.name}: {self.reason}" if self.name else self.reason
        return f"{head}\n  {self.text}\n  {' ' * self.position}^"

    @property
    def one_line(self) -> str:
        """The message in a line, the character marked in the text with »."""
        marked = self.text[:self.position] + "»" + self.text[self.position:]
        head = f"{self.name}: " if self.name else ""
        return f"{head}{self.reason} in {marked!r}"


class EvaluationError(ArithmeticError):
    """Values numpy could not make (complex numbers compared, a column
    that is not there): the expression's values for these rows are NaN."""


class Expression:
    """A compiled expression, named: `columns` are the columns it reads (in
    the order they first appear), `start()` begins its values over a run."""

    def __init__(self, name: str, text: str, evaluate, columns: dict, row_functions: list):
        self.name, self.text = name, text
        self._evaluate = evaluate
        self._positions = columns  # column -> where it first appears
        self._row_functions = tuple(row_functions)

    @property
    def columns(self) -> tuple[str, ...]:
        return tuple(self._positions)

    @property
    def definition(self) -> str:
        """NAME=EXPRESSION, as --expr takes it (a name that needs them in backquotes)."""
        name = self.name if self.name.isidentifier() else f"`{self.name}`"
        return f"{name}={self.text}"

    def missing(self, names) -> ExpressionError | None:
        """An error pointing at the first column of the expression that
        `names` lack, None when it has them all."""
        lacking = [column for column in self._positions if column not in names]
        if not lacking:
            return None
        return ExpressionError(f"no column {lacking[0]!r}", self.text,
                               self._positions[lacking[0]], self.name)

    def start(self) -> "Series":
        return Series(self)

    def __repr__(self) -> str:
        return f"Expression({self.definition!r})"


class Series:
    """The values of an expression over one run, block by block: each row
    function keeps what it needs of the blocks before."""

    def __init__(self, expression: Expression):
        self.expression = expression
        self.states = [kind(*arguments) for kind, arguments in expression._row_functions]

    def values(self, columns, x: np.ndarray) -> np.ndarray:
        """The expression's values for a block: `columns` maps the names it
        reads to the block's values, `x` is the block's X (real). Raises
        EvaluationError where numpy cannot make them."""
        rows = len(x)
        try:
            with np.errstate(all="ignore"):
                return as_column(self.expression._evaluate(Block(columns, x, self.states)), rows)
        except (TypeError, ValueError, KeyError, IndexError) as error:
            raise EvaluationError(f"{self.expression.name}: {error}") from None


class Block:
    """What an expression's values are made from: a block's columns, its X
    and the row functions' states."""

    __slots__ = ("columns", "x", "states")

    def __init__(self, columns, x, states):
        self.columns, self.x, self.states = columns, x, states


# --- parsing ----------------------------------------------------------------------------


def parse_definition(text: str) -> Expression:
    """`NAME=EXPRESSION` (a name with symbols or '=' in backquotes) compiled;
    raises ExpressionError."""
    name, at, expression = _split_definition(text)
    if at < 0:
        raise ExpressionError("expected NAME=EXPRESSION", text, len(text))
    if not name:
        raise ExpressionError("the series needs a name before '='", text, 0)
    odd = next((c for c in name if c == "`" or unicodedata.category(c) == "Cc"), None)
    if odd is not None:
        raise ExpressionError("a name holds no backquote and no control character", text,
                              text.find(odd))
    return compile_expression(name, expression)


def _split_definition(text: str) -> tuple[str, int, str]:
    """The name, where its '=' is (-1: none) and the expression."""
    stripped = text.lstrip()
    if not stripped.startswith("`"):
        at = text.find("=")
        return text[:at].strip(), at, text[at + 1:].strip()
    start = len(text) - len(stripped)
    end = text.find("`", start + 1)
    if end < 0:
        raise ExpressionError("a backquote that is not closed", text, start)
    at = text.find("=", end + 1)
    if at < 0 or text[end + 1:at].strip():
        raise ExpressionError("expected '=' after the name", text, end + 1)
    return text[start + 1:end], at, text[at + 1:].strip()


def compile_expression(name: str, text: str) -> Expression:
    """The expression `text`, named `name`, compiled; raises ExpressionError."""
    def refuse(reason, position=0):
        return ExpressionError(reason, text, position, name)
    if not text.strip():
        raise refuse("the expression is empty")
    if len(text) > MAX_LENGTH:
        raise refuse(f"the expression is longer than {MAX_LENGTH} characters", MAX_LENGTH)
    control = next((i for i, c in enumerate(text) if unicodedata.category(c) == "Cc"), None)
    if control is not None:
        raise refuse("an expression is one line of text", control)
    source, quoted = _unquote(text, refuse)
    try:
        tree = ast.parse(source, mode="eval")
    except SyntaxError as error:
        # An offset of 0: the text ended where more was expected.
        raise refuse(error.msg, error.offset - 1 if error.offset else len(text)) from None
    except (RecursionError, MemoryError, ValueError):
        raise refuse("the expression is nested too deeply") from None
    compiler = Compiler(text, source, quoted, refuse)
    try:
        evaluate = compiler.compile(tree.body)
    except RecursionError:
        raise refuse("the expression is nested too deeply") from None
    return Expression(name, text, evaluate, compiler.columns, compiler.row_functions)


def _unquote(text: str, refuse) -> tuple[str, dict[int, str]]:
    """The text with each backquoted name replaced by marker letters of the
    same length, and the names by where they begin."""
    marker = next((m for m in MARKERS if m not in text), None)
    if marker is None:
        raise refuse("the expression holds too many runic letters", text.find(MARKERS[0]))
    parts, quoted, start = [], {}, 0
    while (opening := text.find("`", start)) >= 0:
        closing = text.find("`", opening + 1)
        if closing < 0:
            raise refuse("a backquote that is not closed", opening)
        if closing == opening + 1:
            raise refuse("an empty name in backquotes", opening)
        parts += [text[start:opening], marker * (closing + 1 - opening)]
        quoted[opening] = text[opening + 1:closing]
        start = closing + 1
    parts.append(text[start:])
    return "".join(parts), quoted
