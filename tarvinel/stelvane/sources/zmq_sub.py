"""zmq+tcp://HOST:PORT[/TOPIC]: a SUB socket that connects to a publisher,
with pyzmq (the [zmq] extra), subscribed to TOPIC (every message without
one). A multipart message's last frame is the payload, one or more lines;
send the topic as a frame of its own.

ZeroMQ connects again by itself, waiting up to RECONNECT_LONGEST between
tries; its events are told in the status bar, and --once ends the source at
the first disconnection. A frame over MAX_FRAME_BYTES makes ZeroMQ drop the
connection, so memory stays bounded; a payload over MAX_MESSAGE_BYTES is
dropped and said so.

This module imports no Qt: it runs in the producer process.
"""

from dataclasses import dataclass

from ..formats import ReadOptions
from .base import NamedByText, SourceError
from .messages import BATCH_BYTES, Lines, Mux
from .peers import host_text, load, require, split_host_port

MAX_FRAME_BYTES = 16 << 20
RECONNECT_FIRST_MS, RECONNECT_LONGEST_MS = 250, 5000
RECEIVE_QUEUE = 10_000  # messages ZeroMQ holds for us while we are busy


@dataclass
class ZmqSource(NamedByText):
    host: str
    port: int
    topic: str = ""
    once: bool = False
    reading: ReadOptions = ReadOptions()  # --format, --sep, ...

    @classmethod
    def from_text(cls, text: str, options) -> "ZmqSource":
        netloc, _, topic = text[len("zmq+tcp://"):].partition("/")
        if not netloc:
            raise SourceError(f"{text}: write zmq+tcp://HOST:PORT[/TOPIC]")
        host, port = split_host_port(text, netloc)
        require("zmq", "zmq", "zmq+tcp://")
        return cls(host, port, topic, options.once, reading=options.reading)

    @property
    def describe(self) -> str:
        topic = f"/{self.topic}" if self.topic else ""
        return f"zmq+tcp://{host_text(self.host)}:{self.port}{topic}"

    def run(self, feed, status, stop) -> str | None:
        zmq = load("zmq", "zmq", "zmq+tcp://")
        context = zmq.Context()
        socket = context.socket(zmq.SUB)
        monitor = None
        try:
            for option, value in ((zmq.LINGER, 0), (zmq.MAXMSGSIZE, MAX_FRAME_BYTES),
                                  (zmq.RCVHWM, RECEIVE_QUEUE),
                                  (zmq.RECONNECT_IVL, RECONNECT_FIRST_MS),
                                  (zmq.RECONNECT_IVL_MAX, RECONNECT_LONGEST_MS)):
                socket.setsockopt(option, value)
            socket.setsockopt(zmq.SUBSCRIBE, self.topic.encode())
            monitor = socket.get_monitor_socket(zmq.EVENT_CONNECTED | zmq.EVENT_DISCONNECTED)
            socket.connect(f"tcp://{host_text(self.host)}:{self.port}")
            status.info(f"connecting to {self.describe}")
            lines = Lines(Mux(feed).part(), status.problem, self.describe, self.reading)
            return self._receive(zmq, socket, monitor, lines, status, stop)
        finally:
            if monitor is not None:
                socket.disable_monitor()
                monitor.close(0)
            socket.close(0)
            context.term()

    def _receive(self, zmq, socket, monitor, lines, status, stop) -> str | None:
        poller = zmq.Poller()
        for item in (socket, monitor, stop.fileno()):
            poller.register(item, zmq.POLLIN)
        while True:
            ready = dict(poller.poll(250))
            status.tick()
            if stop.poll():
                return None
            if monitor in ready:
                ended = self._event(zmq, monitor, status)
                if ended:
                    return ended
            if socket in ready:
                lines.messages(_waiting(zmq, socket))

    def _event(self, zmq, monitor, status) -> str | None:
        from zmq.utils.monitor import recv_monitor_message

        event = recv_monitor_message(monitor)["event"]
        if event == zmq.EVENT_CONNECTED:
            status.info(f"connected to {self.describe}")
        elif event == zmq.EVENT_DISCONNECTED:
            why = f"{self.describe}: the publisher went away"
            if self.once:
                return why
            status.info(f"{why}; reconnecting")
        return None


def _waiting(zmq, socket) -> list[bytes]:
    """The payloads (last frames) of the messages waiting, up to a batch."""
    payloads, size = [], 0
    while size < BATCH_BYTES:
        try:
            frames = socket.recv_multipart(zmq.NOBLOCK, copy=True)
        except zmq.Again:
            break
        payloads.append(frames[-1])
        size += len(frames[-1])
    return payloads
