"""Text rows from a serial port: SOURCE serial:DEVICE[@BAUD] (pyserial).

This module imports no Qt: it runs in the producer process.
"""

from dataclasses import dataclass
import errno
import os

from ..formats import ReadOptions, make_reader
from .base import SourceError
from .streams import read_stream

DEFAULT_BAUD = 115_200


@dataclass
class SerialSource:
    """Text rows from a serial port (pyserial). A port that does not exist
    yet is waited for; the source ends when the port goes away."""
    device: str
    baud: int = DEFAULT_BAUD
    text: str = ""  # the SOURCE text it was named by, if any
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
        return cls(device, rate, text, options.reading)

    @property
    def describe(self) -> str:
        return f"serial:{self.device}@{self.baud}"

    @property
    def settings_key(self) -> str:
        # The text as the user wrote it, as the settings have always kept it.
        return self.text or self.describe

    def run(self, feed, status, stop) -> str | None:
        import serial  # pyserial: only this source needs it

        told = False
        while not os.path.exists(self.device):
            if not told:
                status.info(f"waiting for {self.device}")
                told = True
            if stop.poll(0.1):
                return None
        port = serial.Serial(self.device, self.baud, timeout=0)
        status.info(f"reading {self.describe}")
        reader = make_reader(feed, status.problem, name=os.path.basename(self.device),
                             options=self.reading)
        try:
            if read_stream(port.fileno(), reader, stop, status) is None:
                return None
            outcome = "the serial port closed"
        except OSError as error:
            if error.errno != errno.EIO:  # EIO: the device went away
                raise
            outcome = f"the serial port went away ({error.strerror})"
        finally:
            port.close()
        reader.finish()
        return outcome
