"""Touchstone files (.s1p ... .sNp), versions 1 and 2: the network data of a
file as one whole trace, `freq` in Hz and one complex column per matrix
entry, `S11` ... `SNN` (`S1_10` from ten ports on; Y, Z, H or G as the
option line says), in matrix order whatever order the file keeps them in
(version 1 two-ports keep S11 S21 S12 S22). The Traces mode then shows
them as real, imaginary, magnitude or phase, `freq,S21` first (`freq,S11`
for one port).

Read here rather than through a network library: the format is lines of
numbers under an option line (`# GHz S MA R 50`) and a few bracketed
keywords, and the reader needs nothing but numpy.

    option line     unit (Hz kHz MHz GHz), parameter (S Y Z H G), format
                    (RI: real, imaginary; MA: magnitude, degrees; DB: dB,
                    degrees), R and the reference resistance
    records         a frequency and its matrix, over as many lines as it
                    takes; `!` starts a comment anywhere
    version 2       [Version], [Number of Ports], [Two-Port Data Order],
                    [Number of Frequencies], [Reference] (one per port),
                    [Matrix Format] (Full, Lower, Upper), [Network Data],
                    [Noise Data], [End]; [Begin Information] blocks skipped

Version 1 keeps Y and Z normalised to the reference resistance: they are
read as siemens and ohms (version 2 keeps them so already; H and G are read
as written). Noise parameters are not read (said so).

This module imports no Qt: the producer process uses it.
"""

import re

import numpy as np

from .columnar import RecordingError
from .touchstonelines import Header, OptionLine, read_lines

SUFFIX = re.compile(r"\.s(\d+)p$", re.IGNORECASE)


def looks_like_touchstone(head: bytes) -> bool:
    """Whether a file's first bytes are a Touchstone file's: its first line
    that is no comment is [Version] or an option line of at least two words
    (`# GHz S RI R 50`)."""
    for line in head.decode("latin-1").splitlines():
        text = line.split("!", 1)[0].strip()
        if text:
            return text.lower().startswith("[version]") or (
                text.startswith("#") and len(text[1:].split()) >= 2
                and OptionLine.parse(text) is not None)
    return False


def read(recording) -> str | None:
    text = recording.whole().decode("latin-1")
    header, records, problems = read_lines(text.splitlines(),
                                           _ports_of(recording.contents_name or recording.name))
    for problem in problems:
        recording.problem(f"{recording.name} {problem}")
    if not records:
        raise RecordingError("no network data in it")
    frequencies = np.array([values[0] for values in records]) * header.options.unit
    matrices = np.array([_matrix(values[1:], header) for values in records])
    names = ["freq", *_names(header)]
    trace = np.column_stack([frequencies.astype(np.complex128),
                             matrices.reshape(len(records), -1)])
    first = header.options.parameter + ("21" if header.ports > 1 else "11")
    if header.ports >= 10:
        first = header.options.parameter + ("2_1" if header.ports > 1 else "1_1")
    recording.sink.trace_columns(names, default_pattern=f"freq,{first}")
    recording.sink.trace(trace)
    references = ", ".join(f"{r:g}" for r in dict.fromkeys(header.references))
    return (f"{len(records):,} frequencies of {header.ports}-port {header.options.parameter}-"
            f"parameters, reference {references} Ω")


def _ports_of(name: str) -> int | None:
    match = SUFFIX.search(name)
    return int(match.group(1)) if match and int(match.group(1)) > 0 else None


def _names(header: Header) -> list[str]:
    ports, letter = header.ports, header.options.parameter
    joint = "_" if ports >= 10 else ""
    return [f"{letter}{i + 1}{joint}{j + 1}" for i in range(ports) for j in range(ports)]


def _matrix(values: list[float], header: Header) -> np.ndarray:
    """One record's values after its frequency as the complex N×N matrix,
    in siemens or ohms where version 1 kept Y or Z normalised."""
    pairs = np.asarray(values, dtype=np.float64).reshape(-1, 2)
    numbers = _complex(pairs[:, 0], pairs[:, 1], header.options.format)
    ports = header.ports
    matrix = np.empty((ports, ports), np.complex128)
    if header.matrix == "lower" or header.matrix == "upper":
        rows, columns = np.tril_indices(ports) if header.matrix == "lower" else np.triu_indices(ports)
        matrix[rows, columns] = numbers
        matrix[columns, rows] = numbers
    elif ports == 2 and header.order_21_12:
        matrix[:] = [[numbers[0], numbers[2]], [numbers[1], numbers[3]]]
    else:
        matrix[:] = numbers.reshape(ports, ports)
    if header.version == 1 and header.options.parameter in "YZ":
        resistance = header.options.resistance
        matrix *= resistance if header.options.parameter == "Z" else 1 / resistance
    return matrix


def _complex(first: np.ndarray, second: np.ndarray, fmt: str) -> np.ndarray:
    if fmt == "RI":
        return first + 1j * second
    magnitude = 10.0 ** (first / 20.0) if fmt == "DB" else first
    return magnitude * np.exp(1j * np.deg2rad(second))
