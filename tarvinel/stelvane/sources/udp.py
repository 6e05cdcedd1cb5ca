"""udp://HOST:PORT: datagrams, each one or more lines, on the address asked
for only (udp://127.0.0.1:PORT this machine, udp://0.0.0.0:PORT every
network); udp://GROUP:PORT for a multicast group joins it on every network.

Each sender (address and port) has its own reader. Senders with the same
columns share them; once their columns differ, every sender's names are
prefixed with its address (`10.0.0.5:4000/temp`; see messages.py). At most
MAX_SENDERS senders are kept apart: datagrams of further ones are dropped,
and said so, so that a flood from many addresses cannot grow memory.

This module imports no Qt: it runs in the producer process.
"""

from dataclasses import dataclass
import selectors
import socket
import struct

from ..formats import ReadOptions
from .base import NamedByText, SourceError
from .messages import BATCH_BYTES, MAX_MESSAGE_BYTES, WHEN_DIFFERENT, BySender, Mux
from .peers import host_text, is_multicast, split_host_port
from .streams import wait_ready

MAX_SENDERS = 64
# What the kernel may hold for us while the producer is busy elsewhere (as
# root beyond net.core.rmem_max, elsewhere up to it).
RECEIVE_BUFFER = 8 << 20


@dataclass
class UdpSource(NamedByText):
    host: str
    port: int
    reading: ReadOptions = ReadOptions()  # --format, --sep, ...

    @classmethod
    def from_text(cls, text: str, options) -> "UdpSource":
        netloc = text[len("udp://"):]
        if not netloc or "/" in netloc:
            raise SourceError(f"{text}: write udp://HOST:PORT (udp://127.0.0.1:PORT listens on "
                              "this machine only, udp://0.0.0.0:PORT on every network)")
        return cls(*split_host_port(text, netloc), reading=options.reading)

    @property
    def describe(self) -> str:
        return f"udp://{host_text(self.host)}:{self.port}"

    def run(self, feed, status, stop) -> str | None:
        with self._socket() as sock, selectors.DefaultSelector() as selector:
            status.info(f"listening on udp://{host_text(self.host)}:{sock.getsockname()[1]}")
            selector.register(sock, selectors.EVENT_READ)
            selector.register(stop.fileno(), selectors.EVENT_READ)
            senders = Senders(Mux(feed, WHEN_DIFFERENT), status.problem, self.reading)
            buffer = bytearray(MAX_MESSAGE_BYTES + 1)
            while wait_ready(selector, stop, status) is not None:
                senders.take(_receive(sock, buffer, status.problem))
            return None

    def _socket(self) -> socket.socket:
        family = socket.AF_INET6 if ":" in self.host else socket.AF_INET
        sock = socket.socket(family, socket.SOCK_DGRAM)
        try:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            _enlarge_receive_buffer(sock)
            sock.bind((self.host, self.port))
            if is_multicast(self.host):
                _join(sock, family, self.host)
            sock.setblocking(False)
        except BaseException:
            sock.close()
            raise
        return sock


def _enlarge_receive_buffer(sock) -> None:
    for option in (getattr(socket, "SO_RCVBUFFORCE", None), socket.SO_RCVBUF):
        if option is None:
            continue
        try:
            sock.setsockopt(socket.SOL_SOCKET, option, RECEIVE_BUFFER)
            return
        except OSError:
            continue


def _join(sock, family, group: str) -> None:
    if family == socket.AF_INET6:
        request = socket.inet_pton(family, group) + struct.pack("@I", 0)
        sock.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_JOIN_GROUP, request)
    else:
        request = struct.pack("4s4s", socket.inet_aton(group), socket.inet_aton("0.0.0.0"))
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, request)


def _receive(sock, buffer: bytearray, problem) -> list[tuple[object, bytes]]:
    """The datagrams waiting, up to BATCH_BYTES of them, as (sender, bytes)."""
    received, size, view = [], 0, memoryview(buffer)
    while size < BATCH_BYTES:
        try:
            count, sender = sock.recvfrom_into(buffer)
        except (BlockingIOError, InterruptedError):
            break
        except OSError:  # an ICMP error of an earlier send, or the like: not ours
            continue
        if count > MAX_MESSAGE_BYTES:
            problem(f"a datagram of {_who(sender)} over {MAX_MESSAGE_BYTES:,} bytes; dropped")
            continue
        received.append((sender[:2], view[:count].tobytes()))
        size += count
    return received


def _who(sender) -> str:
    return f"{host_text(sender[0])}:{sender[1]}"


class Senders(BySender):
    """A reader per sender (address and port), at most MAX_SENDERS of them."""
    limit = MAX_SENDERS

    def named(self, sender) -> tuple[str, str]:
        return _who(sender), _who(sender)

    def refused(self, sender) -> str:
        return f"a datagram of {_who(sender)} dropped: already {MAX_SENDERS} senders"
