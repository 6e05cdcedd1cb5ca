"""A stream read to its end through the reader a source makes (make_reader)
and a real Feed: what --summary shows of it (names, kinds, units, the rows
under the last names, the lines account) and the problems said."""

import queue

import numpy as np

from tarvinel.stelvane.formats import ReadOptions, make_reader
from tarvinel.stelvane.protocol import NUMBER, PD, PN
from tarvinel.stelvane.sources.feed import Feed


class ReadStream:
    """`data` fed in pieces of `step` bytes (all at once where not given);
    `added_x` as a source gives it ("row" for a file, "arrival" live)."""

    def __init__(self, data: bytes, step: int | None = None, added_x: str | None = "row",
                 **options):
        commands, self.problems, self.lines = queue.Queue(), [], {}
        reader = make_reader(Feed(commands), self.problems.append, name="in",
                             options=ReadOptions(**options), added_x=added_x,
                             lines=lambda name, account: self.lines.update(account))
        step = step or len(data) or 1
        for i in range(0, len(data), step):
            reader.take(data[i:i + step])
        reader.finish()
        self.road = getattr(reader, "road", "plain")
        self.names, self.kinds, self.units, blocks = None, None, None, []
        self.words = {}  # a text column's index: its words, in code order
        while not commands.empty():
            word, payload = commands.get()
            if word == PN:  # the rows under names before are another run's
                self.names, blocks, self.words = list(payload), [], {}
                self.kinds = tuple(getattr(payload, "kinds", None) or (NUMBER,) * len(payload))
                self.units = tuple(getattr(payload, "units", None) or ("",) * len(payload))
            elif word == PD:
                blocks.append(np.asarray(getattr(payload, "block", payload)))
                for column, learnt in getattr(payload, "words", {}).items():
                    self.words.setdefault(column, []).extend(learnt)
        self.rows = np.concatenate(blocks) if blocks else np.empty((0, 0))

    def column(self, name: str) -> np.ndarray:
        return self.rows[:, self.names.index(name)]

    def texts(self, name: str) -> list[str | None]:
        """A text column's value in each row (None where missing)."""
        words = self.words.get(self.names.index(name), [])
        return [None if code != code else words[int(code)] for code in self.column(name)]

    def unit(self, name: str) -> str:
        return self.units[self.names.index(name)]

    @property
    def balanced(self) -> bool:
        lines = self.lines
        return lines["total"] == lines["data"] + sum(lines["skipped"].values()) + lines["problems"]
