"""Where every line of a text stream went: into a stored row (data), passed
over with a kind (a names line, a comment, the header printed again, ...),
or reported as a problem. The readers count each line once, in line order,
so that `total == data + sum(skipped) + problems` holds at every line end.

The producer sends the account on the status pipe (sources/status.py) as
("lines", stream name, account as a dict); the window keeps the last one of
each stream and --summary gives their sum.

This module imports no Qt: the producer process uses it.
"""

from collections import Counter

# The kinds of lines passed over.
NAMES, UNITS, TITLE, COMMENT, DIRECTIVE = "names", "units", "title", "comment", "directive"
REPEATED, SUMMARY, BLANK = "repeated header", "summary", "blank"
# A line ending in a backslash: joined to the next, read as one line in its
# place; the next line's place then holds this mark (wholelines.joined).
CONTINUED = "continued"
CONTINUED_MARK = "#\\>"
SKIP_KINDS = (NAMES, UNITS, TITLE, COMMENT, DIRECTIVE, REPEATED, SUMMARY, BLANK, CONTINUED)


class LineAccount:
    """The lines of one stream (over all its restarts) by where they went.
    `total` is the number of lines seen, counted by WholeLines; the readers
    count the rest."""

    def __init__(self):
        self.total = 0
        self.data = 0
        self.problems = 0
        self.skipped: Counter = Counter()
        self.changes = 0  # grows with every count: a sender sends on change
        self.encoding = None  # what the bytes were read as, where no UTF-8 (encoding.py)

    def add_data(self, lines: int = 1) -> None:
        self.data += lines
        self.changes += 1

    def add_problem(self, lines: int = 1) -> None:
        self.problems += lines
        self.changes += 1

    def skip(self, kind: str, lines: int = 1) -> None:
        self.skipped[kind] += lines
        self.changes += 1

    def saw(self, lines: int) -> None:
        self.total += lines
        self.changes += 1

    @property
    def accounted(self) -> int:
        """Lines that ended somewhere so far."""
        return self.data + self.problems + sum(self.skipped.values())

    def as_dict(self) -> dict:
        account = {"total": self.total, "data": self.data,
                   "skipped": {kind: n for kind, n in sorted(self.skipped.items()) if n},
                   "problems": self.problems}
        if self.encoding not in (None, "utf-8"):
            account["encoding"] = self.encoding
        return account


def line_kind(text: str) -> str | None:
    """The kind of a line that is passed over by its look alone (blank,
    comment, directive), or None."""
    text = text.strip()
    if not text:
        return BLANK
    if text.startswith("#@"):
        return DIRECTIVE
    if text == CONTINUED_MARK:
        return CONTINUED
    if text[0] in "#!":
        return COMMENT
    return None


def summed(accounts) -> dict:
    """The accounts of several streams (dicts as as_dict gives) as one."""
    accounts = list(accounts)
    total = {"total": 0, "data": 0, "skipped": Counter(), "problems": 0}
    for account in accounts:
        for key in ("total", "data", "problems"):
            total[key] += account.get(key, 0)
        total["skipped"].update(account.get("skipped", {}))
    total["skipped"] = dict(sorted(total["skipped"].items()))
    encodings = sorted({account["encoding"] for account in accounts if "encoding" in account})
    if encodings:
        total["encoding"] = ", ".join(encodings)
    return total
