"""Real peers for the transport tests: a mosquitto broker started on a free
port of 127.0.0.1 with a configuration of its own (plain, password and TLS
listeners; certificates made with openssl, the password file with
mosquitto_passwd), a WebSocket server in a thread of the test process, a
TCP server that sends lines; and a source run in a thread with a real Feed,
recording what it sends and says."""

import multiprocessing
import os
from pathlib import Path
import queue as queue_module
import shutil
import socket
import subprocess
import threading
import time

import numpy as np
import pytest

from tarvinel.stelvane.sources.feed import Feed, FeedClosed

from .network import free_port

USER, PASSWORD = "meter", "s3cret-Pw"


def wait_for(done, seconds=10.0, what="the condition"):
    end = time.monotonic() + seconds
    while not done():
        assert time.monotonic() < end, f"no {what} within {seconds} s"
        time.sleep(0.02)


class Status:
    """The status pipe's messages, recorded."""

    listening = False  # no window: a file source waits for none to take its rows

    def __init__(self):
        self.infos, self.problems = [], []

    def info(self, text):
        self.infos.append(text)

    def problem(self, text):
        self.problems.append(text)

    def tick(self):
        pass


class Running:
    """`source.run` in a thread, writing into a real Feed and queue."""

    def __init__(self, source):
        self.source = source
        self.queue = queue_module.Queue()
        self.stop, self._stop_writer = multiprocessing.Pipe(duplex=False)
        self.status = Status()
        self.items = []
        self.result = "running"
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        try:
            self.result = self.source.run(Feed(self.queue, self.stop), self.status, self.stop)
        except FeedClosed:  # stopped while putting rows: how the producer process ends too
            self.result = None

    def take(self):
        while True:
            try:
                self.items.append(self.queue.get_nowait())
            except queue_module.Empty:
                return self

    def until(self, done, seconds=10.0):
        end = time.monotonic() + seconds
        while not done(self.take()) and time.monotonic() < end:
            time.sleep(0.02)
        assert done(self), (self.items[-5:], self.status.infos, self.status.problems)
        return self

    def rows(self):
        """Every point row, as a list (NaN as None)."""
        rows = []
        for word, data in self.items:
            if word == "PD":
                rows += [[None if v != v else v for v in row]
                         for row in np.atleast_2d(data).tolist()]
        return rows

    def names(self):
        """The point column names as they changed."""
        changes = []
        for word, data in self.items:
            if word == "PN" and (not changes or changes[-1] != data):
                changes.append(data)
        return changes

    def ended(self):
        return self.result != "running"

    def close(self):
        self._stop_writer.close()
        self.thread.join(10)
        assert not self.thread.is_alive()
        return self.result


@pytest.fixture
def running():
    started = []

    def start(source):
        started.append(Running(source))
        return started[-1]

    yield start
    for r in started:
        if r.thread.is_alive():
            r.close()


# --- the broker ------------------------------------------------------------------------

def make_certificates(folder: Path) -> dict:
    """A CA and a server certificate for 127.0.0.1 signed by it, and a second
    CA that signed nothing (a client that trusts it must refuse the server).
    Both carry the extensions that strict X.509 checking (Python 3.13's
    default) asks of a CA and of the certificates it signs."""
    def openssl(*args):
        subprocess.run(["openssl", *args], cwd=folder, check=True, capture_output=True)

    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    for ca in ("ca", "other-ca"):
        openssl("req", "-x509", *ec, "-keyout", f"{ca}.key", "-out", f"{ca}.crt", "-days", "2",
                "-subj", f"/CN=stelvane test {ca}",
                "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl("req", *ec, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1")
    (folder / "san.ext").write_text("subjectAltName=IP:127.0.0.1\n"
                                    "authorityKeyIdentifier=keyid,issuer\n"
                                    "basicConstraints=CA:FALSE\n"
                                    "keyUsage=critical,digitalSignature\n"
                                    "extendedKeyUsage=serverAuth\n")
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
            "-CAcreateserial", "-out", "server.crt", "-days", "2", "-extfile", "san.ext")
    return {"ca": str(folder / "ca.crt"), "other_ca": str(folder / "other-ca.crt"),
            "server": str(folder / "server.crt"), "server_key": str(folder / "server.key")}


class Broker:
    """mosquitto on three free ports of 127.0.0.1: `plain` (anyone),
    `secured` (the password file's user only) and `tls` (certificates)."""

    def __init__(self, folder: Path, certificates: dict):
        self.folder = folder
        self.plain, self.secured, self.tls = free_port(), free_port(), free_port()
        passwords = folder / "passwords"
        subprocess.run(["mosquitto_passwd", "-b", "-c", str(passwords), USER, PASSWORD],
                       check=True, capture_output=True)
        passwords.chmod(0o600)
        self.config = folder / "mosquitto.conf"
        self.config.write_text("\n".join([
            "per_listener_settings true", "persistence false", "log_type error",
            *(["user root"] if os.geteuid() == 0 else []),
            f"listener {self.plain} 127.0.0.1", "allow_anonymous true",
            f"listener {self.secured} 127.0.0.1", "allow_anonymous false",
            f"password_file {passwords}",
            f"listener {self.tls} 127.0.0.1", "allow_anonymous true",
            f"cafile {certificates['ca']}", f"certfile {certificates['server']}",
            f"keyfile {certificates['server_key']}", ""]))
        self.process = None
        self.start()

    def start(self):
        self.process = subprocess.Popen(["mosquitto", "-c", str(self.config)],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        for port in (self.plain, self.secured, self.tls):
            wait_for(lambda: _accepts(port), what=f"broker on port {port}")

    def kill(self):
        self.process.kill()
        self.process.wait()

    def publish(self, topic, payloads, port=None, **options):
        """Publishes each payload (QoS 1, so that all have reached the broker on return)."""
        import paho.mqtt.client as mqtt

        client = mqtt.Client(mqtt.CallbackAPIVersion.VERSION2)
        if "user" in options:
            client.username_pw_set(options["user"], options["password"])
        client.connect("127.0.0.1", port or self.plain)
        client.loop_start()
        try:
            infos = [client.publish(topic, payload, qos=1) for payload in payloads]
            for info in infos:
                info.wait_for_publish(10)
        finally:
            client.disconnect()
            client.loop_stop()


def _accepts(port):
    try:
        socket.create_connection(("127.0.0.1", port), 0.2).close()
        return True
    except OSError:
        return False


@pytest.fixture(scope="session")
def certificates(tmp_path_factory):
    if shutil.which("openssl") is None:
        pytest.skip("openssl is not installed (make deps installs it)")
    return make_certificates(tmp_path_factory.mktemp("certificates"))


@pytest.fixture
def broker(tmp_path, certificates):
    if shutil.which("mosquitto") is None:
        pytest.skip("mosquitto is not installed (make deps installs it)")
    pytest.importorskip("paho.mqtt.client")
    started = Broker(tmp_path, certificates)
    yield started
    started.kill()


# --- a WebSocket server in a thread ----------------------------------------------------

class WebSocketServer:
    """websockets' own server on a free port, in a thread: sends each
    connection the messages put into `outbox`, then waits for more."""

    def __init__(self, port=None):
        self.port = port or free_port()
        self.outbox = queue_module.Queue()
        self.connections = 0
        self.serving = False
        self._server = None
        self.start()

    def start(self):
        from websockets.sync.server import serve

        self._server = serve(self._serve, "127.0.0.1", self.port)
        threading.Thread(target=self._server.serve_forever, daemon=True).start()

    def _serve(self, connection):
        self.connections += 1
        self._connection, self.serving = connection, True
        try:
            while True:
                message = self.outbox.get()
                if message is None:
                    return
                connection.send(message)
        finally:
            self.serving = False

    def cut(self):
        """Drops the connection without a close frame, as a peer that died."""
        self._connection.socket.shutdown(socket.SHUT_RDWR)
        self.outbox.put(None)  # the handler of the dead connection ends
        wait_for(lambda: not self.serving, what="the end of the handler")

    def stop(self):
        self.outbox.put(None)
        self._server.shutdown()


# --- a TCP server that sends lines -----------------------------------------------------

class LineServer:
    """A listening socket; `serve(data)` accepts one connection, sends
    `data` and closes it (with a reset when asked)."""

    def __init__(self, port=None):
        self.port = port or free_port()
        self.listener = socket.create_server(("127.0.0.1", self.port))
        self.listener.settimeout(10)

    def accept(self):
        connection, _ = self.listener.accept()
        return connection

    def close(self):
        self.listener.close()
