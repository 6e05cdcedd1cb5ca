"""Benchmark: each network source and the followed file beside standard input.

For each rate, a sender process makes text rows of 9 numeric columns as
bench/textroad.py's generator does (the first column the time it was
sampled, on the machine-wide monotonic clock; an empty line every two
seconds ends a run) and sends them over one road on 127.0.0.1:

    stdin       a pipe that is the window's standard input (`stelvane -`)
    udp         datagrams of MESSAGE_ROWS rows (udp://)
    zmq         a PUB socket's messages of MESSAGE_ROWS rows (zmq+tcp://)
    mqtt        QoS 0 messages of MESSAGE_ROWS rows through a mosquitto of
                the benchmark's own (mqtt://)
    websocket   binary messages of MESSAGE_ROWS rows (ws://)
    tcp-client  a TCP server the source connects to (tcp-client://)
    file        a file the sender appends to, which the window follows

The window is measured as bench/pipeline.py measures it: rows stored per
second, frames per second that showed new data (updates), and the latency of
every row from its sample time to the paint that first showed it (median and
95th percentile). A road sustains a rate when it stores at least 98% of it,
paints at least 30 new frames per second and keeps the 95th percentile under
100 ms. The targets: UDP and ZeroMQ sustain at least 0.8 of standard input's
highest rate; MQTT at least 100,000 rows/s; the followed file sustains what
standard input sustains from 10,000 to 200,000 rows/s, with as many updates
per second.

    python bench/transports.py                          # every road
    python bench/transports.py --roads stdin,udp --rates 100000,200000
"""
import argparse
from dataclasses import dataclass
import functools
import math
import os
import pathlib
import shutil
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

if not os.environ.get("DISPLAY") and not os.environ.get("QT_QPA_PLATFORM"):
    os.environ["QT_QPA_PLATFORM"] = "offscreen"

from pipeline import COLUMNS, PATTERN, TARGET_FPS, TARGET_P95, sustained, wait  # noqa: E402
from textroad import instrument_tails, measure  # noqa: E402
from tarvinel.stelvane import qt_compat  # noqa: E402  (binding before pyqtgraph)
from tarvinel.stelvane.sources.instrument import point_names  # noqa: E402

NETWORK_RATES = (100_000, 200_000, 400_000)
FILE_RATES = (10_000, 50_000, 100_000, 200_000)
MESSAGE_ROWS = 100
TOPIC = "bench/rows"
TARGET_RATIO = 0.8          # UDP and ZeroMQ against standard input
TARGET_MQTT = 100_000
READY_SECONDS = 20

# The sender: fixed-width rows made with numpy (see bench/textroad.py), cut
# into messages of `per_message` rows for the message roads. A message road
# sends the names at the start of every run, so that a receiver that came
# late still knows them. It says "ready" on its standard error once a peer
# can reach it (a server listens, a publisher is bound, a client is connected).
SENDER = r"""
import os, socket, sys, threading, time
import numpy as np
rate, roll_every, names, epoch, per_message = (
    float(sys.argv[1]), float(sys.argv[2]), sys.argv[3].encode(), float(sys.argv[4]),
    int(sys.argv[5]))
kind, where = sys.argv[6], sys.argv[7:]
TAILS = np.frombuffer(sys.stdin.buffer.read(), np.uint8)
POOL = int(np.count_nonzero(TAILS == 10))
TAILS = TAILS.reshape(POOL, -1)

def digits(count, width):
    return ((np.arange(count)[:, None] // 10 ** np.arange(width - 1, -1, -1)) % 10 + 48).astype(np.uint8)

SECONDS, MICROSECONDS = digits(10_000, 4), digits(1_000_000, 6)
WIDTH = 11 + TAILS.shape[1]

def block(times, first):
    seconds, micro = np.divmod(np.round((times - epoch) * 1e6).astype(np.int64), 1_000_000)
    text = np.empty((len(times), WIDTH), np.uint8)
    text[:, :4], text[:, 4], text[:, 5:11] = SECONDS[seconds], 46, MICROSECONDS[micro]
    text[:, 11:] = TAILS[(first + np.arange(len(times))) % POOL]
    return text.tobytes()

def write_all(fd):
    def write(data):
        view = memoryview(data)
        while view:
            view = view[os.write(fd, view):]
    return write

def stream(send):
    # A stream: the names once, a run's end as an empty line.
    send(names + b"\n")
    return send, lambda: send(b"\n")

def messages(send):
    step = per_message * WIDTH
    def rows(data):
        for i in range(0, len(data), step):
            send(data[i:i + step])
    def roll():
        send(b"\n")
        send(names + b"\n")
    send(names + b"\n")
    return rows, roll

def sink():
    if kind == "stdout":
        return stream(write_all(1))
    if kind == "file":
        return stream(write_all(os.open(where[0], os.O_WRONLY | os.O_CREAT | os.O_TRUNC)))
    if kind == "tcp":
        listener = socket.create_server(("127.0.0.1", int(where[0])))
        ready()
        connection, _ = listener.accept()
        return stream(connection.sendall)
    if kind == "udp":
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        address = ("127.0.0.1", int(where[0]))
        return messages(lambda data: sock.sendto(data, address))
    if kind == "zmq":
        import zmq
        publisher = zmq.Context().socket(zmq.XPUB)
        publisher.setsockopt(zmq.SNDHWM, 100_000)
        publisher.bind(f"tcp://127.0.0.1:{where[0]}")
        ready()
        publisher.recv()  # a subscription: the subscriber is there
        return messages(publisher.send)
    if kind == "mqtt":
        import paho.mqtt.client as mqtt
        client = mqtt.Client(mqtt.CallbackAPIVersion.VERSION2)
        client.max_queued_messages_set(0)
        client.connect("127.0.0.1", int(where[0]))
        client.loop_start()
        return messages(lambda data: client.publish(where[1], data, qos=0))
    if kind == "ws":
        from websockets.sync.server import serve
        connected, box = threading.Event(), []
        def handler(connection):
            box.append(connection)
            connected.set()
            for _ in connection:  # until the connection closes
                pass
        server = serve(handler, "127.0.0.1", int(where[0]))
        threading.Thread(target=server.serve_forever, daemon=True).start()
        ready()
        connected.wait()
        return messages(box[0].send)
    raise SystemExit(f"no sink {kind}")

def ready():
    sys.stderr.write("ready\n")
    sys.stderr.flush()

try:
    rows, roll = sink()
    if kind not in ("tcp", "zmq", "ws"):
        ready()
    start = time.monotonic()
    sent, next_roll = 0, start + roll_every
    while True:
        now = time.monotonic()
        due = min(int((now - start) * rate) - sent, int(rate * 0.02) + 1)
        if due > 0:
            rows(block(start + (sent + np.arange(due)) / rate, sent))
            sent += due
        if now >= next_roll:
            roll()
            next_roll += roll_every
        time.sleep(0.002)
except (BrokenPipeError, ConnectionError, KeyboardInterrupt):
    pass
"""


def free_port(kind=socket.SOCK_STREAM) -> int:
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@dataclass(frozen=True)
class Road:
    """How one road is set up: the sender's sink, the SOURCE text, and
    whether the window must be listening (`ready`: what its status bar says
    then) before the sender starts."""
    name: str
    sink: str
    ready: str | None = None

    def texts(self, port: int, folder: str, broker: int | None) -> tuple[str, list[str]]:
        """The SOURCE text and the sender's sink arguments."""
        if self.sink == "stdout":
            return "-", ["stdout"]
        if self.sink == "file":
            path = os.path.join(folder, "rows.csv")
            return path, ["file", path]
        if self.sink == "mqtt":
            return f"mqtt://127.0.0.1:{broker}/{TOPIC}", ["mqtt", str(broker), TOPIC]
        scheme = {"udp": "udp", "zmq": "zmq+tcp", "ws": "ws", "tcp": "tcp-client"}[self.sink]
        return f"{scheme}://127.0.0.1:{port}", [self.sink, str(port)]


ROADS = {road.name: road for road in (
    Road("stdin", "stdout"),
    Road("udp", "udp", ready="listening on udp"),
    Road("zmq", "zmq"),
    Road("mqtt", "mqtt", ready="subscribed to"),
    Road("websocket", "ws"),
    Road("tcp-client", "tcp"),
    Road("file", "file"),
)}


@functools.lru_cache(maxsize=None)
def tails(rate: int) -> bytes:
    return instrument_tails(rate)


def start_sender(rate: int, epoch: float, sink: list[str], stdout=None) -> subprocess.Popen:
    sender = subprocess.Popen(
        [sys.executable, "-c", SENDER, str(rate), "2", ",".join(point_names(COLUMNS)),
         repr(epoch), str(MESSAGE_ROWS), *sink],
        stdin=subprocess.PIPE, stdout=stdout, stderr=subprocess.PIPE)
    sender.stdin.write(tails(rate))
    sender.stdin.close()
    return sender


def sender_ready(sender: subprocess.Popen) -> None:
    line = sender.stderr.readline()
    if line.strip() != b"ready":
        raise RuntimeError(f"the sender did not start: {line + sender.stderr.read()!r}")


def open_window(text: str, stdin_fd: int | None = None):
    from tarvinel.stelvane.app import create_app

    if stdin_fd is None:
        return create_app([text, "--pattern", PATTERN, "--fresh"]).window
    saved = os.dup(0)
    os.dup2(stdin_fd, 0)  # the window's standard input is the sender's pipe
    try:
        return create_app([text, "--pattern", PATTERN, "--fresh"]).window
    finally:
        os.dup2(saved, 0)  # the producer has its own copy now
        os.close(saved)


def run_road(app, road: Road, rate: int, broker=None):
    """The window reading `rate` rows per second over `road`: its figures."""
    epoch = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="stelvane-bench-") as folder:
        text, sink = road.texts(free_port(socket.SOCK_DGRAM if road.sink == "udp"
                                          else socket.SOCK_STREAM), folder,
                                broker and broker.port)
        if road.sink == "stdout":
            read_end, write_end = os.pipe()
            sender = start_sender(rate, epoch, sink, stdout=write_end)
            os.close(write_end)
            window = open_window(text, read_end)
            os.close(read_end)
        elif road.ready is not None:
            window = open_window(text)
            wait(app, lambda: road.ready in window.status_bar.currentMessage(), READY_SECONDS)
            sender = start_sender(rate, epoch, sink)
        else:
            sender = start_sender(rate, epoch, sink)
            if road.sink in ("tcp", "zmq", "ws"):
                sender_ready(sender)
            window = open_window(text)
        window.epoch = epoch  # the sender's times count from here
        others = {"sender": sender.pid, **({"broker": broker.pid} if broker else {})}
        try:
            return dict(measure(app, window, others), rate=rate)
        finally:
            sender.kill()
            sender.wait()


class Broker:
    """mosquitto on a free port of 127.0.0.1, anyone allowed, nothing kept."""

    def __init__(self, folder: str):
        self.port = free_port()
        config = pathlib.Path(folder) / "mosquitto.conf"
        config.write_text("\n".join([
            "persistence false", "log_type error", *(["user root"] if os.geteuid() == 0 else []),
            f"listener {self.port} 127.0.0.1", "allow_anonymous true", ""]))
        self.process = subprocess.Popen(["mosquitto", "-c", str(config)],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.pid = self.process.pid
        end = time.monotonic() + READY_SECONDS
        while time.monotonic() < end:
            try:
                socket.create_connection(("127.0.0.1", self.port), 0.2).close()
                return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("mosquitto did not start")

    def stop(self):
        self.process.kill()
        self.process.wait()


def print_result(name: str, r: dict, reference: dict | None) -> bool:
    ok = sustained(r)
    ratio = r["stored"] / reference["stored"] if reference else 1.0
    cpu = " ".join(f"{who} {seconds:.2f}" for who, seconds in r["cpu"].items())
    print(f"{name:>10} {r['rate']:>9,} {r['stored']:>10,.0f} {ratio:>6.2f} {r['fps']:>5.0f} "
          f"{1e3 * r['median']:>9.1f} {1e3 * r['p95']:>7.1f} {r['problems']:>8}  "
          f"{'yes' if ok else 'no ':<9} {cpu}", flush=True)
    return ok


def measure_roads(app, roads, rates, broker) -> dict:
    """Each road at each rate, standard input first at every rate: the
    highest rate each sustained."""
    best = {name: 0 for name in ["stdin", *roads]}
    for rate in rates:
        reference = run_road(app, ROADS["stdin"], rate)
        if print_result("stdin", reference, None):
            best["stdin"] = rate
        for name in roads:
            result = run_road(app, ROADS[name], rate, broker if name == "mqtt" else None)
            if print_result(name, result, reference):
                best[name] = rate
    return best


def verdicts(best: dict) -> list[str]:
    lines = []
    stdin = best["stdin"]
    for name in ("udp", "zmq", "websocket", "tcp-client", "file"):
        if name in best:
            ratio = best[name] / stdin if stdin else math.nan
            target = f" (target >= {TARGET_RATIO}: {'met' if ratio >= TARGET_RATIO else 'NOT met'})" \
                if name in ("udp", "zmq") else ""
            lines.append(f"{name}: highest rate sustained {best[name]:,} rows/s, "
                         f"{ratio:.2f} of standard input's {stdin:,}{target}")
    if "mqtt" in best:
        met = "met" if best["mqtt"] >= TARGET_MQTT else "NOT met"
        lines.append(f"mqtt: highest rate sustained {best['mqtt']:,} rows/s in messages of "
                     f"{MESSAGE_ROWS} rows (target >= {TARGET_MQTT:,}: {met})")
    return lines


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    rates = lambda text: tuple(int(r) for r in text.split(",") if r)  # noqa: E731
    parser.add_argument("--roads", default="udp,zmq,mqtt,websocket,tcp-client",
                        help="network roads beside stdin, comma separated (default %(default)s)")
    parser.add_argument("--rates", type=rates, default=NETWORK_RATES,
                        help="rows per second for the network roads")
    parser.add_argument("--file-rates", type=rates, default=FILE_RATES,
                        help="rows per second for the followed file; empty: skip it")
    args = parser.parse_args(argv)
    roads = [name for name in args.roads.split(",") if name and name != "stdin"]
    unknown = [name for name in roads if name not in ROADS]
    if unknown:
        parser.error(f"no road {', '.join(unknown)} (one of {', '.join(ROADS)})")
    if "mqtt" in roads and shutil.which("mosquitto") is None:
        print("mosquitto is not installed (make deps installs it): no mqtt road")
        roads.remove("mqtt")
    app = qt_compat.QtWidgets.QApplication.instance() or qt_compat.QtWidgets.QApplication([])
    print(f"{qt_compat.API}, {COLUMNS} columns, {os.cpu_count()} cores, load average "
          f"{os.getloadavg()[0]:.1f} (other work on the machine slows every road); messages of "
          f"{MESSAGE_ROWS} rows; ratio: rows stored against stdin's at the same rate", flush=True)
    print(f"{'road':>10} {'offered/s':>9} {'stored/s':>10} {'ratio':>6} {'fps':>5} "
          f"{'median ms':>9} {'p95 ms':>7} {'problems':>8}  sustained "
          "CPU s per million rows stored")
    with tempfile.TemporaryDirectory(prefix="stelvane-bench-broker-") as folder:
        broker = Broker(folder) if "mqtt" in roads else None
        try:
            best = measure_roads(app, roads, args.rates, broker)
        finally:
            if broker is not None:
                broker.stop()
    lines = verdicts(best)
    if args.file_rates:
        print("the followed file beside standard input:")
        file_best = measure_roads(app, ["file"], args.file_rates, None)
        lines += verdicts(file_best)[-1:]
    print(f"targets: a road sustains a rate at >= 98% stored, >= {TARGET_FPS:.0f} fps, "
          f"p95 < {TARGET_P95 * 1e3:.0f} ms")
    for line in lines:
        print(line, flush=True)


if __name__ == "__main__":
    main()
