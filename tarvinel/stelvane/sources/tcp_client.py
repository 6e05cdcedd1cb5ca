"""tcp-client://HOST:PORT: connects to a server that sends lines (as many
instruments and data loggers serve their data), where tcp:// listens.

When the server goes away, the connection is made again with a back-off
(see peers.py) and the rows go on under the columns they had: a server
that sends its column names again on every connection starts no new run
unless they changed. TCP keep-alive finds a peer that vanished without a
word (a cable pulled, a machine switched off) within about half a minute.

This module imports no Qt: it runs in the producer process.
"""

from dataclasses import dataclass
import socket

from ..formats import ReadOptions
from .base import NamedByText, SourceError
from .messages import Lines, Mux
from .peers import host_text, keep_connecting, split_host_port
from .streams import read_stream

CONNECT_TIMEOUT = 5.0
KEEPALIVE = (("TCP_KEEPIDLE", 10), ("TCP_KEEPINTVL", 5), ("TCP_KEEPCNT", 3))


@dataclass
class TcpClientSource(NamedByText):
    host: str
    port: int
    once: bool = False
    reading: ReadOptions = ReadOptions()  # --format, --sep, ...

    @classmethod
    def from_text(cls, text: str, options) -> "TcpClientSource":
        netloc = text[len("tcp-client://"):].rstrip("/")
        if not netloc or "/" in netloc:
            raise SourceError(f"{text}: write tcp-client://HOST:PORT")
        return cls(*split_host_port(text, netloc), options.once, reading=options.reading)

    @property
    def describe(self) -> str:
        return f"tcp-client://{host_text(self.host)}:{self.port}"

    def run(self, feed, status, stop) -> str | None:
        lines = Lines(Mux(feed).part(), status.problem, f"{host_text(self.host)}:{self.port}",
                      self.reading)
        return keep_connecting(lambda session: self._session(session, lines, status, stop),
                               self.describe, self.once, status, stop)

    def _session(self, session, lines: Lines, status, stop) -> str | None:
        with socket.create_connection((self.host, self.port), CONNECT_TIMEOUT) as sock:
            session.connected = True
            _keep_alive(sock)
            sock.setblocking(False)
            status.info(f"connected to {self.describe}")
            lines.connected()
            try:
                return self._read(sock, lines, status, stop)
            except OSError:
                lines.broken()
                raise

    def _read(self, sock, lines: Lines, status, stop) -> str | None:
        if read_stream(sock.fileno(), lines, stop, status, read=sock.recv) is None:
            return None
        lines.broken()
        return f"{self.describe}: the server closed the connection"


def _keep_alive(sock) -> None:
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_KEEPALIVE, 1)
    for name, value in KEEPALIVE:
        if hasattr(socket, name):
            sock.setsockopt(socket.IPPROTO_TCP, getattr(socket, name), value)
