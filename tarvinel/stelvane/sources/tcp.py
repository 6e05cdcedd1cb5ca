"""Text rows from TCP clients: SOURCE tcp://HOST:PORT, listening on HOST.

This module imports no Qt: it runs in the producer process.
"""

from dataclasses import dataclass
import selectors
import socket
import urllib.parse

from ..formats import LimitExceeded, ReadOptions, make_reader
from ..formats.addedx import ARRIVAL
from .base import NamedByText, SourceError
from .peers import host_text
from .streams import read_stream, wait_ready


@dataclass
class TcpSource(NamedByText):
    """Listens on HOST:PORT; text rows from one connection at a time. A
    connection that closes ends its run; the next one may bring new column
    names. A line over the limits closes its connection."""
    host: str
    port: int
    text: str = ""  # the SOURCE text it was named by, if any
    reading: ReadOptions = ReadOptions()

    @classmethod
    def from_text(cls, text: str, options) -> "TcpSource":
        parts = urllib.parse.urlsplit(text)
        try:
            port = parts.port
        except ValueError:
            port = None
        if not parts.hostname:
            raise SourceError(f"{text}: the host is required (tcp://127.0.0.1:PORT listens on "
                              "this machine only, tcp://0.0.0.0:PORT on every network)")
        if port is None or parts.path not in ("", "/"):
            raise SourceError(f"{text}: write tcp://HOST:PORT")
        return cls(parts.hostname, port, text, options.reading)

    @property
    def describe(self) -> str:
        return f"tcp://{host_text(self.host)}:{self.port}"

    def run(self, feed, status, stop) -> str | None:
        family = socket.AF_INET6 if ":" in self.host else socket.AF_INET
        with socket.create_server((self.host, self.port), family=family, backlog=1) as listener:
            port = listener.getsockname()[1]
            status.info(f"listening on tcp://{host_text(self.host)}:{port}")
            with selectors.DefaultSelector() as selector:
                selector.register(listener, selectors.EVENT_READ)
                selector.register(stop.fileno(), selectors.EVENT_READ)
                while True:
                    if wait_ready(selector, stop, status) is None:
                        return None
                    try:
                        connection, peer = listener.accept()
                    except OSError:
                        continue
                    with connection:
                        if self._serve(connection, peer, feed, status, stop) is None:
                            return None

    def _serve(self, connection, peer, feed, status, stop) -> str | None:
        who = f"{host_text(peer[0])}:{peer[1]}"
        status.info(f"connection from {who}")
        reader = make_reader(feed, status.problem, name=who, strict=True, options=self.reading,
                             added_x=ARRIVAL)
        connection.setblocking(False)
        try:
            if read_stream(connection.fileno(), reader, stop, status,
                           read=connection.recv) is None:
                return None
            reader.finish()
            outcome = f"connection from {who} closed"
        except LimitExceeded as error:
            status.problem(f"{error}; connection closed")
            outcome = f"connection from {who} closed for a line over the limits"
        except ConnectionError as error:
            # A reset cuts a line anywhere: "3.1" of "3.14159" is no value
            # to store. (A clean close ends the client's data: see above.)
            cut = reader.finish(broken=True)
            if cut:
                status.problem(f"{who}: connection lost in the middle of line {cut}; "
                               "the unfinished line was dropped")
            outcome = f"connection from {who} lost: {error.strerror or error}"
        reader.restart()  # the run ends with its connection
        status.info(outcome)
        return outcome
