"""ws://HOST:PORT/PATH and wss:// (TLS): connects as a client, with the
websockets library (the [websocket] extra); each message holds one or more
lines. A server that goes away is connected to again (see peers.py); one
that refuses the handshake (an HTTP error: a wrong path, no permission) or a
TLS handshake that fails ends the source with a problem saying so.

A message over MAX_MESSAGE_BYTES makes the library close the connection
(it never holds more than that): a problem says so, and the source connects
again.

This module imports no Qt: it runs in the producer process.
"""

from dataclasses import dataclass
import urllib.parse

from ..formats import ReadOptions
from .base import NamedByText, SourceError
from .messages import BATCH_BYTES, MAX_MESSAGE_BYTES, Lines, Mux
from .peers import PeerRefused, host_text, keep_connecting, load, require, split_host_port, \
    tls_context

OPEN_TIMEOUT = 5.0
MESSAGE_TOO_BIG = 1009  # the close code for a message over the limit


@dataclass
class WebSocketSource(NamedByText):
    url: str
    once: bool = False
    ca: str | None = None
    cert: str | None = None
    key: str | None = None
    reading: ReadOptions = ReadOptions()  # --format, --sep, ...

    @classmethod
    def from_text(cls, text: str, options) -> "WebSocketSource":
        parts = urllib.parse.urlsplit(text)
        if parts.username or parts.password:
            raise SourceError(f"{text}: no user or password in the SOURCE")
        split_host_port(text, parts.netloc, 443 if parts.scheme == "wss" else 80)
        require("websockets", "websocket", f"{parts.scheme}://")
        return cls(text, options.once, options.ca, options.cert, options.key,
                   reading=options.reading)

    @property
    def describe(self) -> str:
        return self.url

    def run(self, feed, status, stop) -> str | None:
        host = host_text(urllib.parse.urlsplit(self.url).hostname or "")
        lines = Lines(Mux(feed).part(), status.problem, host, self.reading)
        context = None
        if self.url.startswith("wss:"):
            context = tls_context(self.ca, self.cert, self.key)
        return keep_connecting(lambda session: self._session(session, lines, context, status, stop),
                               self.describe, self.once, status, stop)

    def _session(self, session, lines, context, status, stop) -> str | None:
        client = load("websockets.sync.client", "websocket", "ws://")
        exceptions = load("websockets.exceptions", "websocket", "ws://")
        try:
            connection = client.connect(self.url, ssl=context, open_timeout=OPEN_TIMEOUT,
                                        close_timeout=1, max_size=MAX_MESSAGE_BYTES)
        except exceptions.InvalidStatus as error:
            raise PeerRefused(f"{self.url}: the server refused the connection: "
                              f"HTTP {error.response.status_code}") from None
        except exceptions.InvalidHandshake as error:
            raise PeerRefused(f"{self.url}: no WebSocket server: {error}") from None
        except TimeoutError:
            raise ConnectionError(f"no answer within {OPEN_TIMEOUT:g} s") from None
        session.connected = True
        status.info(f"connected to {self.url}")
        with connection:
            try:
                return self._receive(connection, lines, status, stop)
            except exceptions.ConnectionClosed as error:
                return self._closed(error, status)

    def _receive(self, connection, lines, status, stop) -> str | None:
        while True:
            messages = []
            try:
                messages.append(connection.recv(timeout=0.25, decode=False))
                size = len(messages[0])
                while size < BATCH_BYTES:  # what else has come joins it
                    messages.append(connection.recv(timeout=0, decode=False))
                    size += len(messages[-1])
            except TimeoutError:
                pass
            finally:  # the messages before a close are kept too
                if messages:
                    lines.messages(messages)
            status.tick()
            if stop.poll():
                return None

    def _closed(self, error, status) -> str:
        if error.sent is not None and error.sent.code == MESSAGE_TOO_BIG:
            status.problem(f"{self.url}: a message over {MAX_MESSAGE_BYTES:,} bytes; "
                           "the connection was closed")
        return f"{self.url}: the connection closed"
