"""What the command line may say about how a stream reads, where the guess
from its first lines would be wrong: its format, the separator, the line of
names or the names themselves, a time format.

This module imports no Qt: the producer process uses it.
"""

from dataclasses import dataclass

from .layout import WHITESPACE
from .lines import INFLUX, JSONL, KEYVALUE, LISTING, MARKED, TABLE, TEXTPAIRS
from .sniff import AUTO

# The formats --format names: the first lines decide (auto), a table of any
# kind, the line formats, and the plain text reader of numbers alone.
PLAIN_TEXT = "text"
FORMAT_CHOICES = (AUTO, TABLE, KEYVALUE, MARKED, JSONL, INFLUX, TEXTPAIRS, LISTING, PLAIN_TEXT)
# --sep: the characters, and words for those a shell makes awkward.
SEPARATOR_WORDS = {"auto": AUTO, "tab": "\t", "\\t": "\t", "space": WHITESPACE, "spaces": WHITESPACE,
                   "whitespace": WHITESPACE, "comma": ",", "semicolon": ";", "pipe": "|"}


@dataclass(frozen=True)
class ReadOptions:
    """`format`: one of FORMAT_CHOICES. `sep`: AUTO, one character, or
    WHITESPACE (runs of spaces or tabs). `names_line`: the number of the
    line (from 1) that holds the names; `names`: the names themselves.
    `time_format`: a strftime format for times no other shape reads."""
    format: str = AUTO
    sep: str | None = AUTO
    names_line: int | None = None
    names: tuple[str, ...] | None = None
    time_format: str = ""

    def __post_init__(self):
        if self.format not in FORMAT_CHOICES:
            raise ValueError(f"no format {self.format!r} (one of {', '.join(FORMAT_CHOICES)})")
        if self.names_line is not None and self.names_line < 1:
            raise ValueError(f"the names line is a line number from 1, not {self.names_line}")

    @property
    def sniff_options(self) -> dict:
        """The keywords of sniff() these options give."""
        return {"sep": self.sep, "time_format": self.time_format, "names": self.names,
                "names_line": None if self.names_line is None else self.names_line - 1}

    @property
    def guesses(self) -> bool:
        """Whether the table's names are left to the first lines."""
        return self.names is None and self.names_line is None


def separator(text: str):
    """--sep's text as a separator: one character, or a word for one."""
    word = SEPARATOR_WORDS.get(text.lower())
    if word is not None or text.lower() in SEPARATOR_WORDS:
        return word
    if len(text) != 1 or text in "\r\n\"":
        raise ValueError(f"a separator is one character or one of {', '.join(SEPARATOR_WORDS)}, "
                         f"not {text!r}")
    return WHITESPACE if text == " " else text
