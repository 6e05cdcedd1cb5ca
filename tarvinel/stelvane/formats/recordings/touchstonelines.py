"""The lines of a Touchstone file (see touchstone.py): the option line, the
version 2 keywords, and the records of network data gathered over as many
lines as each takes. Every line ends as part of the header, a comment, a
record, noise data (counted and said) or a problem with its number.

This module imports no Qt: the producer process uses it.
"""

from dataclasses import dataclass, field
import math

from .columnar import RecordingError

UNITS = {"HZ": 1.0, "KHZ": 1e3, "MHZ": 1e6, "GHZ": 1e9}
PARAMETERS = "SYZHG"
FORMATS = ("RI", "MA", "DB")
MATRIX_FORMATS = ("full", "lower", "upper")


@dataclass
class OptionLine:
    """`# GHz S MA R 50`: each word may be left out; these are the defaults."""
    unit: float = 1e9
    parameter: str = "S"
    format: str = "MA"
    resistance: float = 50.0

    @classmethod
    def parse(cls, text: str) -> "OptionLine | None":
        """The option line `text` (from its `#`), or None where a word of it
        is none of the option words."""
        options, words = cls(), text[1:].upper().split()
        while words:
            word = words.pop(0)
            if word in UNITS:
                options.unit = UNITS[word]
            elif len(word) == 1 and word in PARAMETERS:
                options.parameter = word
            elif word in FORMATS:
                options.format = word
            elif word == "R" and words:
                try:
                    options.resistance = float(words.pop(0))
                except ValueError:
                    return None
            else:
                return None
        return options


@dataclass
class Header:
    """What the option line and the keywords say."""
    ports: int | None = None
    version: int = 1
    options: OptionLine = field(default_factory=OptionLine)
    options_seen: bool = False
    order_21_12: bool = True   # version 1 two-ports: S11 S21 S12 S22
    matrix: str = "full"
    frequencies: int | None = None
    references: list[float] = field(default_factory=list)


class _Lines:
    """The state of reading: which part of the file the lines are in."""

    def __init__(self, ports: int | None):
        self.header = Header(ports)
        self.problems: list[str] = []
        self.data: list[tuple[int, list[float]]] = []   # (line number, values)
        self.noise: list[int] = []                      # line numbers of noise data
        self.part = "network"        # "network", "noise", "information", "end"
        self.references_wanted = 0

    def take(self, number: int, text: str) -> None:
        if text.startswith("["):
            self.keyword(number, text)
        elif self.part in ("information", "end"):
            return
        elif text.startswith("#"):
            self.option_line(number, text)
        elif self.references_wanted:
            self.references(number, text)
        elif self.part == "noise":
            self.noise.append(number)
        else:
            self.values(number, text)

    def option_line(self, number: int, text: str) -> None:
        if self.header.options_seen:
            return  # only the first option line counts
        options = OptionLine.parse(text)
        if options is None:
            self.problems.append(f"line {number}: an option line of unknown words: {text!r}")
            return
        self.header.options, self.header.options_seen = options, True
        if not self.header.references:
            self.header.references = [options.resistance]

    def keyword(self, number: int, text: str) -> None:
        name, _, rest = text[1:].partition("]")
        name, rest = name.strip().lower(), rest.strip()
        if name == "begin information":
            self.part = "information"
        elif name == "end information":
            self.part = "network"
        elif name == "network data":
            self.part = "network"
        elif name == "noise data":
            self.part = "noise"
        elif name == "end":
            self.part = "end"
        elif name == "mixed-mode order":
            raise RecordingError("mixed-mode parameters are not read")
        elif name == "reference":
            self.header.references = []
            self.references_wanted = self.header.ports or 1
            if rest:
                self.references(number, rest)
        else:
            self.setting(number, name, rest)

    def setting(self, number: int, name: str, rest: str) -> None:
        header, word = self.header, rest.split()[0].lower() if rest.split() else ""
        try:
            if name == "version":
                header.version = 2
            elif name == "number of ports":
                header.ports = int(word)
            elif name == "two-port data order":
                header.order_21_12 = word == "21_12"
            elif name == "number of frequencies":
                header.frequencies = int(word)
            elif name == "matrix format" and word in MATRIX_FORMATS:
                header.matrix = word
            elif name not in ("number of noise frequencies", "matrix format"):
                self.problems.append(f"line {number}: an unknown keyword [{name}], passed over")
        except ValueError:
            self.problems.append(f"line {number}: [{name}] needs a whole number, not {rest!r}")

    def references(self, number: int, text: str) -> None:
        for word in text.split():
            try:
                self.header.references.append(float(word))
            except ValueError:
                self.problems.append(f"line {number}: {word!r} is no reference impedance")
            self.references_wanted = max(0, self.references_wanted - 1)

    def values(self, number: int, text: str) -> None:
        try:
            values = [float(word) for word in text.split()]
        except ValueError:
            self.problems.append(f"line {number}: not numbers: {text!r}")
            self.data.append((number, []))  # breaks the record it was part of
            return
        header = self.header
        if header.version == 1 and header.ports == 2 and len(values) == 5 and self.data \
                and self.data[-1][1] and values[0] <= self.data[-1][1][0]:
            self.part = "noise"  # version 1 noise data follows its network data, frequency anew
            self.noise.append(number)
            return
        self.data.append((number, values))


def read_lines(lines: list[str], ports: int | None):
    """The header, the records (lists of values: the frequency, then pairs)
    and the problems of a Touchstone file's lines."""
    state = _Lines(ports)
    for number, line in enumerate(lines, 1):
        text = line.split("!", 1)[0].strip()
        if text:
            state.take(number, text)
    header = state.header
    if header.ports is None:
        header.ports = ports_from_lines([len(values) for _, values in state.data[:64]])
        if header.ports is None:
            raise RecordingError("cannot tell its number of ports: name it .sNp")
    if not header.references:
        header.references = [header.options.resistance]
    records = _records(state, record_length(header.ports, header.matrix))
    if header.frequencies is not None and header.frequencies != len(records):
        state.problems.append(f"holds {len(records):,} frequencies, its header says "
                              f"{header.frequencies:,}")
    if state.noise:
        state.problems.append(f"line {state.noise[0]}: its noise parameters ({len(state.noise)} "
                              "lines) are not read")
    return header, records, state.problems


def _records(state: _Lines, length: int) -> list[list[float]]:
    """The data lines gathered into records of `length` values each."""
    records, values, first = [], [], None
    for number, line_values in state.data:
        if not line_values:  # a line that was no numbers: its record is lost
            if values:
                state.problems.append(f"line {first}: a record broken by a bad line, not read")
            values, first = [], None
            continue
        if not values:
            first = number
        values.extend(line_values)
        if len(values) == length:
            records.append(values)
            values = []
        elif len(values) > length:
            state.problems.append(f"line {first}: a record of {len(values)} values where "
                                  f"{length} make one, not read")
            values = []
    if values:
        state.problems.append(f"line {first}: a record cut short: {len(values)} of "
                              f"{length} values, not read")
    return records


def record_length(ports: int, matrix: str) -> int:
    """Values in one record: the frequency and a pair per matrix entry kept."""
    entries = ports * ports if matrix == "full" else ports * (ports + 1) // 2
    return 1 + 2 * entries


def ports_from_lines(counts: list[int]) -> int | None:
    """The ports of a version 1 file that its name does not tell, from the
    values on its first data lines: a record starts on a line of an odd
    count (a frequency and pairs) and goes on over lines of even counts."""
    if not counts or counts[0] % 2 == 0:
        return None
    total = counts[0]
    for count in counts[1:]:
        if count % 2:
            break
        total += count
    ports = math.isqrt((total - 1) // 2)
    return ports if ports and 1 + 2 * ports * ports == total else None
