"""What every source is: the Source protocol, the options a SOURCE text is
read with, the syntax by which the registry (sources/__init__.py) finds the
source a text names, and the error for a text that names none.

This module imports no Qt: it runs in the producer process.
"""

from dataclasses import dataclass
from typing import Protocol

from ..formats.reading import ReadOptions
from .filecache import LargeFiles


class SourceError(ValueError):
    """A source text that names no usable source."""


class Source(Protocol):
    """What the producer process runs (see producer.run_source).

    `run(feed, status, stop)` writes the queue's commands through `feed`,
    tells the window on `status` what the queue cannot carry (see
    status.py), and returns why the source ended, or None once the window
    has closed (`stop`, the reading end of a pipe, becomes readable) or when
    the source ends without a word. `describe` names the source in messages;
    `settings_key` is the name its remembered settings are kept under.

    A source that a SOURCE text can name also has a classmethod
    `from_text(text, options)` (options: SourceOptions) and a line in the
    registry."""

    @property
    def describe(self) -> str: ...

    @property
    def settings_key(self) -> str: ...

    def run(self, feed, status, stop) -> str | None: ...


@dataclass(frozen=True)
class SourceOptions:
    """What the command line says about a source besides its text."""
    follow: bool = True   # a file is followed as it grows (--no-follow: read once)
    stdin: object = None  # "-": the window's standard input, handed over (see StdinSource)
    reading: ReadOptions = ReadOptions()  # how a stream of text reads (--format, --sep, ...)
    # The peers that go away (see sources/peers.py): --once ends the source
    # instead of reconnecting; the rest are the MQTT and TLS options.
    once: bool = False
    password_file: str | None = None
    ca: str | None = None
    cert: str | None = None
    key: str | None = None
    large: LargeFiles = LargeFiles()  # a file longer than --max-rows (see filecache.py)


@dataclass(frozen=True)
class Syntax:
    """A form of SOURCE text, and the source class it names. `form` is
    "exact" (the text itself), "scheme" (a text starting with `text`),
    "suffix" (ending with it) or "path" (any text). `usage` and `meaning`
    are the form as a user writes it and what it reads, for --help (none
    for a form another's usage already covers)."""
    form: str
    text: str
    source: type
    usage: str = ""
    meaning: str = ""

    def matches(self, given: str) -> bool:
        if self.form == "exact":
            return given == self.text
        if self.form == "scheme":
            return given.startswith(self.text)
        if self.form == "suffix":
            return given.endswith(self.text)
        return self.form == "path"


class NamedByPath:
    """For a source that is a file: it goes by its full path, in messages and
    in the settings, so it is the same source wherever it was named from."""
    path: str

    @property
    def describe(self) -> str:
        return self.path

    @property
    def settings_key(self) -> str:
        return self.path


class NamedByText:
    """For a source a SOURCE text names: its settings go by that text as the
    user wrote it where the source keeps it (`text`, as the settings have
    always kept tcp:// and serial:), else by its description."""
    text = ""

    @property
    def settings_key(self) -> str:
        return self.text or self.describe
