"""The compiler of expressions.py: a parsed expression made into nested
functions of a block of rows, each node checked against the tables below
(what an expression may use); any other node is refused, pointing at it.

No Qt here.
"""

import ast
import math

import numpy as np

from .rowfunctions import ROW_FUNCTIONS

# The longest expression taken: a formula, not a program.
MAX_LENGTH = 2000

# name -> (numpy function, number of arguments)
FUNCTIONS = {
    "abs": (np.abs, 1), "sqrt": (np.sqrt, 1), "exp": (np.exp, 1), "log": (np.log, 1),
    "log10": (np.log10, 1), "sin": (np.sin, 1), "cos": (np.cos, 1), "tan": (np.tan, 1),
    "arctan2": (np.arctan2, 2), "hypot": (np.hypot, 2), "minimum": (np.minimum, 2),
    "maximum": (np.maximum, 2), "where": (np.where, 3), "clip": (np.clip, 3),
}
CONSTANTS = {"pi": math.pi, "e": math.e}
BINARY = {ast.Add: np.add, ast.Sub: np.subtract, ast.Mult: np.multiply, ast.Div: np.true_divide,
          ast.FloorDiv: np.floor_divide, ast.Mod: np.mod, ast.Pow: np.power}
UNARY = {ast.USub: np.negative, ast.UAdd: np.positive, ast.Not: np.logical_not}
COMPARISONS = {ast.Lt: np.less, ast.LtE: np.less_equal, ast.Gt: np.greater,
               ast.GtE: np.greater_equal, ast.Eq: np.equal, ast.NotEq: np.not_equal}
BOOLEAN = {ast.And: np.logical_and, ast.Or: np.logical_or}
# What the refusal calls what it refuses; any other node is "this".
REFUSED = {
    ast.Attribute: "an attribute", ast.Subscript: "a subscript", ast.Lambda: "a lambda",
    ast.ListComp: "a comprehension", ast.SetComp: "a comprehension",
    ast.DictComp: "a comprehension", ast.GeneratorExp: "a comprehension",
    ast.IfExp: "a conditional expression (write where(condition, a, b))",
    ast.List: "a list", ast.Tuple: "a tuple", ast.Set: "a set", ast.Dict: "a dict",
    ast.JoinedStr: "text", ast.NamedExpr: "an assignment", ast.Starred: "a starred argument",
    ast.BitAnd: "the bit operator &", ast.BitOr: "the bit operator |",
    ast.BitXor: "the bit operator ^", ast.LShift: "the shift operator <<",
    ast.RShift: "the shift operator >>", ast.MatMult: "the operator @",
    ast.Invert: "the bit operator ~", ast.Is: "the operator is", ast.IsNot: "the operator is not",
    ast.In: "the operator in", ast.NotIn: "the operator not in", ast.Await: "await",
    ast.Yield: "yield", ast.YieldFrom: "yield",
}
# Letters that stand in for a backquoted name while the text is parsed: one
# of them not found in the text, repeated as long as the name with its
# quotes, so every position in the text stays where it was.
MARKERS = "ᚠᚢᚦᚨᚱᚲᚷᚹ"


def as_column(value, rows: int) -> np.ndarray:
    """A value made into `rows` numbers: a constant repeated, true 1 and false 0."""
    array = np.asarray(value)
    if array.dtype.kind not in "biufc":
        raise TypeError(f"values of type {array.dtype} are no numbers")
    kind = np.complex128 if array.dtype.kind == "c" else np.float64
    if array.shape == (rows,) and array.dtype == kind:
        return array  # made for this block: no copy
    return np.array(np.broadcast_to(array, (rows,)), dtype=kind)


def _what(node) -> str:
    return REFUSED.get(type(node), "this")


class Compiler:
    """Makes a parsed expression into nested functions of a Block; refuses
    every node it has no handler for, pointing at it."""

    def __init__(self, text: str, source: str, quoted: dict, refuse):
        self.text, self.quoted, self.refuse = text, quoted, refuse
        self.encoded = source.encode()  # ast's offsets count the bytes of its UTF-8
        self.marker = next((m for m in MARKERS if m not in text), None)  # as the text's
        self.columns: dict[str, int] = {}
        self.row_functions: list = []

    def at(self, offset: int) -> int:
        """The character at byte `offset` of the parsed text."""
        return len(self.encoded[:offset].decode("utf-8", "replace"))

    def where(self, node) -> int:
        if isinstance(node, (ast.Attribute, ast.Subscript)):
            return self.at(node.value.end_col_offset)  # the dot, the bracket
        return self.at(node.col_offset)

    def compile(self, node):
        handler = self.HANDLERS.get(type(node))
        if handler is None:
            raise self.refuse(f"{_what(node)} is not allowed here", self.where(node))
        return handler(self, node)

    def operator_at(self, left) -> int:
        """Where the operator after operand `left` is (operators carry no place)."""
        position = self.at(left.end_col_offset)
        while position < len(self.text) and self.text[position] in " )":
            position += 1
        return position

    def check_operator(self, table, op, position) -> object:
        function = table.get(type(op))
        if function is None:
            raise self.refuse(f"{_what(op)} is not allowed here", position)
        return function

    def name(self, node):
        start, end = self.where(node), self.at(node.end_col_offset)
        written = self.text[start:end]
        if start in self.quoted and end - start == len(self.quoted[start]) + 2:
            return self.column(self.quoted[start], start)
        if self.marker is not None and self.marker in self.encoded[
                node.col_offset:node.end_col_offset].decode():
            raise self.refuse("a name in backquotes must stand apart from other letters", start)
        if written.startswith("__"):
            raise self.refuse("names with double underscores are not allowed "
                              "(write a column so named in backquotes)", start)
        if written in CONSTANTS:
            value = CONSTANTS[written]
            return lambda block: value
        return self.column(written, start)

    def column(self, name: str, position: int):
        self.columns.setdefault(name, position)
        return lambda block: block.columns[name]

    def constant(self, node):
        value = node.value
        if isinstance(value, bool) or not isinstance(value, (int, float, complex)):
            what = "text" if isinstance(value, (str, bytes)) else repr(value)
            raise self.refuse(f"{what} is not allowed here: only numbers", self.where(node))
        try:
            number = np.complex128(value) if isinstance(value, complex) else np.float64(value)
        except OverflowError:
            raise self.refuse("the number is too large", self.where(node)) from None
        return lambda block: number

    def binary(self, node):
        function = self.check_operator(BINARY, node.op, self.operator_at(node.left))
        left, right = self.compile(node.left), self.compile(node.right)
        return lambda block: function(left(block), right(block))

    def unary(self, node):
        function = self.check_operator(UNARY, node.op, self.where(node))
        operand = self.compile(node.operand)
        return lambda block: function(operand(block))

    def compare(self, node):
        operands = [node.left, *node.comparators]
        functions = [self.check_operator(COMPARISONS, op, self.operator_at(left))
                     for op, left in zip(node.ops, operands)]
        parts = [self.compile(operand) for operand in operands]

        def chain(block):
            values = [part(block) for part in parts]
            result = functions[0](values[0], values[1])
            for function, left, right in zip(functions[1:], values[1:], values[2:]):
                result = np.logical_and(result, function(left, right))
            return result
        return chain

    def boolean(self, node):
        function = BOOLEAN[type(node.op)]
        parts = [self.compile(value) for value in node.values]

        def combine(block):
            result = parts[0](block)
            for part in parts[1:]:
                result = function(result, part(block))
            return result
        return combine

    def call(self, node):
        function = node.func
        if not isinstance(function, ast.Name) or self.where(function) in self.quoted:
            if not isinstance(function, ast.Name):
                self.compile(function)  # an attribute, a lambda, ...: refused as such
            raise self.refuse("only the functions of the list can be called",
                              self.where(function))
        for argument in (*node.args, *node.keywords):
            if isinstance(argument, (ast.Starred, ast.keyword)):
                raise self.refuse("only plain arguments are allowed", self.where(argument))
        name = self.text[self.where(function):self.at(function.end_col_offset)]
        if name.startswith("__"):
            raise self.refuse("names with double underscores are not allowed",
                              self.where(function))
        if name in FUNCTIONS:
            return self.elementwise(node, name)
        if name in ROW_FUNCTIONS:
            return self.row_function(node, name)
        known = ", ".join([*FUNCTIONS, *ROW_FUNCTIONS])
        raise self.refuse(f"unknown function {name!r} (the functions: {known})",
                          self.where(function))

    def arity(self, node, name: str, usage: str, count: int) -> None:
        if len(node.args) != count:
            plural = "" if count == 1 else "s"
            raise self.refuse(f"{name} takes {count} argument{plural}: {usage}",
                              self.where(node.args[count] if len(node.args) > count else node))

    def elementwise(self, node, name: str):
        function, count = FUNCTIONS[name]
        self.arity(node, name, f"{name}({', '.join('abc'[:count])})", count)
        arguments = [self.compile(argument) for argument in node.args]
        return lambda block: function(*(argument(block) for argument in arguments))

    def row_function(self, node, name: str):
        kind, parameter = ROW_FUNCTIONS[name]
        usage = f"{name}(y, {parameter[0]})" if parameter else f"{name}(y)"
        self.arity(node, name, usage, 2 if parameter else 1)
        values = self.compile(node.args[0])
        arguments = ()
        if parameter:
            given = self.number(node.args[1], f"{name}'s {parameter[0]}")
            try:
                arguments = (parameter[1](given),)
            except ValueError as error:
                raise self.refuse(str(error), self.where(node.args[1])) from None
        slot = len(self.row_functions)
        self.row_functions.append((kind, arguments))
        return lambda block: block.states[slot](as_column(values(block), len(block.x)), block.x)

    def number(self, node, what: str):
        """A number written out (a sign allowed), as a row function's parameter."""
        sign = 1
        if isinstance(node, ast.UnaryOp) and isinstance(node.op, (ast.USub, ast.UAdd)):
            sign, node = (-1 if isinstance(node.op, ast.USub) else 1), node.operand
        if not isinstance(node, ast.Constant) or isinstance(node.value, bool) \
                or not isinstance(node.value, (int, float)):
            raise self.refuse(f"{what} must be a number written out", self.where(node))
        return sign * node.value

    HANDLERS = {ast.Name: name, ast.Constant: constant, ast.BinOp: binary, ast.UnaryOp: unary,
                ast.Compare: compare, ast.BoolOp: boolean, ast.Call: call}
