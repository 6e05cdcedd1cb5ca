"""Benchmark: each network source and the followed file beside standard input.

For each rate, a sender process (bench/harness/rowsender.py) makes text rows of 9
numeric columns as bench/textroad.py's generator does (the first column the
time it was sampled, on the machine-wide monotonic clock; an empty line
every two seconds ends a run) and sends them over one road on 127.0.0.1:

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
import math
import os
import pathlib
import shutil
import socket
import subprocess
import tempfile
import time

from harness.measuring import (
    LOAD_NOTE, TARGET_FPS, TARGET_P95, cpu_text, measure_fed, sustained)
from harness.qtapp import application
from harness.rowsender import PEER_FIRST
from harness.starting import COLUMNS, PATTERN, piped_window, rates, start_sender, window_on
from harness.waiting import wait
from tarvinel.stelvane import qt_compat

NETWORK_RATES = (100_000, 200_000, 400_000)
FILE_RATES = (10_000, 50_000, 100_000, 200_000)
MESSAGE_ROWS = 100
TOPIC = "bench/rows"
TARGET_RATIO = 0.8          # UDP and ZeroMQ against standard input
TARGET_MQTT = 100_000
READY_SECONDS = 20
WINDOW = ["--pattern", PATTERN, "--fresh"]  # after the SOURCE text


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


def sender_ready(sender: subprocess.Popen) -> None:
    line = sender.stderr.readline()
    if line.strip() != b"ready":
        raise RuntimeError(f"the sender did not start: {line + sender.stderr.read()!r}")


def road_window(app, road: Road, rate: int, epoch: float, text: str, sink: list[str]):
    """(window, sender) for `road`, started in the order the road needs."""
    options = ("--per-message", str(MESSAGE_ROWS))
    if road.sink == "stdout":
        return piped_window(rate, [text, *WINDOW], *options, epoch=epoch)
    if road.ready is not None:
        window = window_on([text, *WINDOW])
        wait(app, lambda: road.ready in window.status_bar.currentMessage(), READY_SECONDS)
        sender = start_sender(rate, epoch, sink, *options, stderr=subprocess.PIPE)
    else:
        sender = start_sender(rate, epoch, sink, *options, stderr=subprocess.PIPE)
        if road.sink in PEER_FIRST:
            sender_ready(sender)
        window = window_on([text, *WINDOW])
    window.epoch = epoch  # the sender's times count from here
    return window, sender


def run_road(app, road: Road, rate: int, broker=None):
    """The window reading `rate` rows per second over `road`: its figures."""
    epoch = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="stelvane-bench-") as folder:
        text, sink = road.texts(free_port(socket.SOCK_DGRAM if road.sink == "udp"
                                          else socket.SOCK_STREAM), folder,
                                broker and broker.port)
        window, sender = road_window(app, road, rate, epoch, text, sink)
        return measure_fed(app, window, rate, sender, "sender",
                           {"broker": broker.pid} if broker else None)


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
    print(f"{name:>10} {r['rate']:>9,} {r['stored']:>10,.0f} {ratio:>6.2f} {r['fps']:>5.0f} "
          f"{1e3 * r['median']:>9.1f} {1e3 * r['p95']:>7.1f} {r['problems']:>8}  "
          f"{'yes' if ok else 'no ':<9} {cpu_text(r)}", flush=True)
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
    app = application()
    print(f"{qt_compat.API}, {COLUMNS} columns, {os.cpu_count()} cores, load average "
          f"{os.getloadavg()[0]:.1f} {LOAD_NOTE}; messages of "
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
