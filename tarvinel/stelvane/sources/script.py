"""A producer script: SOURCE SCRIPT.py, whose produce(feed) runs in the
producer process.

This module imports no Qt: it runs in the producer process.
"""

from dataclasses import dataclass
import os
import runpy

from .base import NamedByPath, SourceError


@dataclass
class ScriptSource(NamedByPath):
    """A producer script: the file runs (not as __main__, so a guarded
    `show(produce)` in it does not start a window), then its produce(feed)."""
    path: str

    @classmethod
    def from_text(cls, text: str, options) -> "ScriptSource":
        if not os.path.isfile(text):
            raise SourceError(f"{text}: no such producer script")
        return cls(os.path.abspath(text))

    def run(self, feed, status, stop) -> str | None:
        namespace = runpy.run_path(self.path, run_name="__stelvane_producer__")
        produce = namespace.get("produce")
        if not callable(produce):
            raise SourceError(f"{self.path} defines no produce(feed) function")
        produce(feed)
        return "produce() returned"
