"""An axis as a user reads it: the tick texts its paint draws, and whether a
time tick says what the readout says of its instant."""

import re

from tarvinel.stelvane import qt_compat
from tarvinel.stelvane.formats.valuetext import MONTHS, value_text
from tarvinel.stelvane.protocol import TIME

QtGui = qt_compat.QtGui


def drawn_texts(axis):
    """The tick texts the axis' paint draws, in order along the axis."""
    picture = QtGui.QPicture()
    painter = QtGui.QPainter(picture)
    try:
        _, _, texts = axis.generateDrawSpecs(painter)
    finally:
        painter.end()
    return [text for rect, _, text in sorted(texts, key=lambda spec: spec[0].x())]


def agrees_with_readout(value, text) -> bool:
    """Whether a tick's text says what the readout says of its instant,
    and the instant is as round as the text claims."""
    full = value_text(value, TIME)  # "2026-03-29 01:59:59.500"
    date, clock = full.split(" ")
    if re.fullmatch(r"\d{4}", text):
        return date == f"{text}-01-01" and clock == "00:00:00"
    if text in MONTHS:
        return date[5:] == f"{MONTHS.index(text) + 1:02d}-01" and clock == "00:00:00"
    if re.fullmatch(r"[A-Z][a-z]{2} \d{1,2}", text):
        month, day = text.split(" ")
        return date[5:] == f"{MONTHS.index(month) + 1:02d}-{int(day):02d}" and clock == "00:00:00"
    if re.fullmatch(r"\d\d:\d\d", text):
        return clock == f"{text}:00"
    if re.fullmatch(r"\d\d:\d\d:\d\d", text):
        return clock == text
    return re.fullmatch(r"\d\d\.\d{1,3}", text) is not None and clock[6:].startswith(text)
