"""A produce(feed) function of the caller's: what show(produce) runs.

This module imports no Qt: it runs in the producer process.
"""

from dataclasses import dataclass


@dataclass
class FunctionSource:
    """A produce(feed) function of the caller's (it must be importable in a
    new process: defined at the top level of a module)."""
    produce: object

    @property
    def describe(self) -> str:
        return f"{getattr(self.produce, '__qualname__', 'produce')}()"

    @property
    def settings_key(self) -> str:
        return f"show:{self.produce.__module__}.{self.produce.__qualname__}"

    def run(self, feed, status, stop) -> str | None:
        self.produce(feed)
        return f"{self.describe} returned"
