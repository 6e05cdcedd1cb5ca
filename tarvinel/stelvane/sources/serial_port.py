"""Text rows from a serial port: SOURCE serial:DEVICE[@BAUD] (pyserial).

This module imports no Qt: it runs in the producer process.
"""

from dataclasses import dataclass
import errno
import os

from ..formats import ReadOptions
from .base import NamedByText, SourceError
from .messages import Lines, Mux
from .peers import keep_connecting, load, require
from .streams import read_stream

DEFAULT_BAUD = 115_200


@dataclass
class SerialSource(NamedByText):
    """Text rows from a serial port (pyserial). A port that does not exist
    yet is waited for; one that goes away (a device reset, a cable pulled) is
    waited for again and read on under the columns it had, unless `once`:
    then the source ends (see peers.py)."""
    device: str
    baud: int = DEFAULT_BAUD
    text: str = ""  # the SOURCE text it was named by, if any
    once: bool = False
    reading: ReadOptions = ReadOptions()

    @classmethod
    def from_text(cls, text: str, options) -> "SerialSource":
        device, _, baud = text.partition(":")[2].partition("@")
        if not device:
            raise SourceError(f"{text}: a serial port is serial:DEVICE or serial:DEVICE@BAUD")
        try:
            rate = int(baud) if baud else DEFAULT_BAUD
        except ValueError:
            rate = 0
        if rate <= 0:
            raise SourceError(f"{text}: the baud rate {baud!r} is no positive number")
        require("serial", "serial", "serial:")
        return cls(device, rate, text, options.once, options.reading)

    @property
    def describe(self) -> str:
        return f"serial:{self.device}@{self.baud}"

    def run(self, feed, status, stop) -> str | None:
        serial = load("serial", "serial", "serial:")  # pyserial: only this source needs it
        lines = Lines(Mux(feed).part(), status.problem, os.path.basename(self.device),
                      self.reading)
        return keep_connecting(
            lambda session: self._read_port(serial, session, lines, status, stop),
            self.describe, self.once, status, stop)

    def _read_port(self, serial, session, lines, status, stop) -> str | None:
        """One opening of the port, to its end: why it ended, or None once
        the window has closed."""
        told = False
        while not os.path.exists(self.device):
            if not told:
                status.info(f"waiting for {self.device}")
                told = True
            if stop.poll(0.1):
                return None
        port = serial.Serial(self.device, self.baud, timeout=0)
        session.connected = True
        status.info(f"reading {self.describe}")
        lines.connected()
        try:
            if read_stream(port.fileno(), lines, stop, status) is None:
                return None
            outcome = "the serial port closed"
        except OSError as error:
            if error.errno != errno.EIO:  # EIO: the device went away
                raise
            outcome = f"the serial port went away ({error.strerror})"
        finally:
            port.close()
        lines.broken()
        return outcome
