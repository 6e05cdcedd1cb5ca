"""The sender the road benchmarks start in a process of their own: rows of
text offered at a steady rate over one road.

    python bench/harness/rowsender.py RATE ROLL_SECONDS NAMES EPOCH SINK [WHERE ...]
                                      [--per-message ROWS] [--typed] [--sep SEP]

Standard input gives, one line a row, the text after the time column of a
pool of rows (fixed width, comma-separated); it is read before any row is
written. Rows are fixed-width text made with numpy from tables of digits, so
that writing 500,000 rows per second takes a small part of a core
(formatting row by row in Python would take all of one). A row begins with
its sample time on the monotonic clock as seconds since EPOCH, written
0012.345678; with --typed with the wall-clock time (UTC,
`...T10:00:00.123456Z`) and a state word instead. NAMES (comma-separated)
come first; an empty line every ROLL_SECONDS ends a run.

Sinks: stdout; file PATH; tcp PORT (a server); udp PORT; zmq PORT (a
publisher); mqtt PORT TOPIC; ws PORT (a server). The message sinks cut the
rows into messages of --per-message rows and send the names again at the
start of every run, so that a receiver that came late still knows them. The
sinks a peer must reach first (tcp, zmq, ws) say "ready" on standard error
once it can.
"""
import argparse
import os
import socket
import sys
import threading
import time

import numpy as np

WORDS = np.frombuffer(b"idlebusywaitfail", np.uint8).reshape(4, 4)
TYPED_HEAD = 27 + 1 + 4  # 2026-12-09T10:00:00.123456Z, the separator, a word
PLAIN_HEAD = 11          # 0012.345678
PEER_FIRST = ("tcp", "zmq", "ws")


def digits(count: int, width: int) -> np.ndarray:
    """Row k is the `width` ASCII digits of k, for k below `count`."""
    return ((np.arange(count)[:, None] // 10 ** np.arange(width - 1, -1, -1)) % 10
            + 48).astype(np.uint8)


class RowText:
    """Blocks of fixed-width rows: a time (and word) head, then a tail of the
    pool, taken in turn."""

    def __init__(self, tails: np.ndarray, epoch: float, typed: bool, sep: str):
        self.tails, self.epoch, self.typed, self.sep = tails, epoch, typed, ord(sep)
        self.micro = digits(1_000_000, 6)
        if typed:
            self.two = digits(100, 2)
            self.day = np.frombuffer(time.strftime("%Y-%m-%dT", time.gmtime()).encode(), np.uint8)
            self.offset = time.time() - time.monotonic()  # typed rows carry the wall clock
        else:
            self.four = digits(10_000, 4)
        self.head = TYPED_HEAD if typed else PLAIN_HEAD
        self.width = self.head + tails.shape[1]

    def block(self, times: np.ndarray, first: int) -> bytes:
        """The rows sampled at `times` (monotonic), the first the `first`-th sent."""
        text = np.empty((len(times), self.width), np.uint8)
        if self.typed:
            self.typed_head(text, times + self.offset, first)
        else:
            seconds, micro = np.divmod(np.round((times - self.epoch) * 1e6).astype(np.int64),
                                       1_000_000)
            text[:, :4], text[:, 4], text[:, 5:11] = self.four[seconds], 46, self.micro[micro]
        text[:, self.head:] = self.tails[(first + np.arange(len(times))) % len(self.tails)]
        return text.tobytes()

    def typed_head(self, text, wall, first):
        day_seconds, micro = np.divmod(np.round(wall * 1e6).astype(np.int64) % 86_400_000_000,
                                       1_000_000)
        hours, rest = np.divmod(day_seconds, 3600)
        minutes, seconds = np.divmod(rest, 60)
        two = self.two
        text[:, :11] = self.day
        text[:, 11:13], text[:, 13], text[:, 14:16] = two[hours], 58, two[minutes]
        text[:, 16], text[:, 17:19], text[:, 19] = 58, two[seconds], 46
        text[:, 20:26], text[:, 26], text[:, 27] = self.micro[micro], 90, self.sep
        text[:, 28:32] = WORDS[(first + np.arange(len(wall))) // 1000 % 4]


def write_all(fd: int):
    def write(data):
        view = memoryview(data)
        while view:
            view = view[os.write(fd, view):]
    return write


def stream(send, header: bytes):
    """A stream: the names once, a run's end as an empty line."""
    send(header)
    return send, lambda: send(b"\n")


def messages(send, header: bytes, step: int):
    def rows(data):
        for i in range(0, len(data), step):
            send(data[i:i + step])

    def roll():
        send(b"\n")
        send(header)
    send(header)
    return rows, roll


def ready():
    sys.stderr.write("ready\n")
    sys.stderr.flush()


def connect(kind: str, where: list[str]):
    """What sends bytes over the road `kind`: a stream or a message sender."""
    if kind == "stdout":
        return write_all(1), False
    if kind == "file":
        return write_all(os.open(where[0], os.O_WRONLY | os.O_CREAT | os.O_TRUNC)), False
    if kind == "tcp":
        listener = socket.create_server(("127.0.0.1", int(where[0])))
        ready()
        connection, _ = listener.accept()
        return connection.sendall, False
    if kind == "udp":
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        address = ("127.0.0.1", int(where[0]))
        return (lambda data: sock.sendto(data, address)), True
    if kind == "zmq":
        import zmq
        publisher = zmq.Context().socket(zmq.XPUB)
        publisher.setsockopt(zmq.SNDHWM, 100_000)
        publisher.bind(f"tcp://127.0.0.1:{where[0]}")
        ready()
        publisher.recv()  # a subscription: the subscriber is there
        return publisher.send, True
    if kind == "mqtt":
        import paho.mqtt.client as mqtt
        client = mqtt.Client(mqtt.CallbackAPIVersion.VERSION2)
        client.max_queued_messages_set(0)
        client.connect("127.0.0.1", int(where[0]))
        client.loop_start()
        return (lambda data: client.publish(where[1], data, qos=0)), True
    if kind == "ws":
        return ws_connection(int(where[0])).send, True
    raise SystemExit(f"no sink {kind}")


def ws_connection(port: int):
    from websockets.sync.server import serve
    connected, box = threading.Event(), []

    def handler(connection):
        box.append(connection)
        connected.set()
        for _ in connection:  # until the connection closes
            pass
    server = serve(handler, "127.0.0.1", port)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    ready()
    connected.wait()
    return box[0]


def pace(rate: float, roll_every: float, text: RowText, rows, roll):
    """Sends `rate` rows a second, as they fall due, for ever."""
    start = time.monotonic()
    sent, next_roll = 0, start + roll_every
    while True:
        now = time.monotonic()
        due = min(int((now - start) * rate) - sent, int(rate * 0.02) + 1)
        if due > 0:
            rows(text.block(start + (sent + np.arange(due)) / rate, sent))
            sent += due
        if now >= next_roll:
            roll()
            next_roll += roll_every
        time.sleep(0.002)


def parse_args(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("rate", type=float)
    parser.add_argument("roll_every", type=float)
    parser.add_argument("names")
    parser.add_argument("epoch", type=float)
    parser.add_argument("sink", choices=("stdout", "file", "tcp", "udp", "zmq", "mqtt", "ws"))
    parser.add_argument("where", nargs="*")
    parser.add_argument("--per-message", type=int, default=100)
    parser.add_argument("--typed", action="store_true")
    parser.add_argument("--sep", default=",")
    return parser.parse_args(argv)


def main(argv=None):
    args = parse_args(argv)
    tails = np.frombuffer(sys.stdin.buffer.read().replace(b",", args.sep.encode()), np.uint8)
    tails = tails.reshape(int(np.count_nonzero(tails == 10)), -1)
    text = RowText(tails, args.epoch, args.typed, args.sep)
    header = (args.sep.join(args.names.split(",")) + "\n").encode()
    try:
        send, in_messages = connect(args.sink, args.where)
        rows, roll = (messages(send, header, args.per_message * text.width) if in_messages
                      else stream(send, header))
        pace(args.rate, args.roll_every, text, rows, roll)
    except (ConnectionError, KeyboardInterrupt):  # the reader went away, or Ctrl+C
        pass


if __name__ == "__main__":
    main()
