"""mqtt://[USER@]HOST[:PORT]/TOPIC and mqtts:// (TLS): subscribes to TOPIC
(wildcards + and # allowed) at a broker, with paho-mqtt (the [mqtt] extra).

Each payload holds one or more lines. Each topic has its own reader; with a
wildcard, the topic's levels from the first wildcard on prefix its column
names (`sensors/#` gets `sensors/a/temp` as `a/temp`; see messages.py), so that
several devices are plotted side by side. At most MAX_TOPICS topics are kept
apart: messages of further ones are dropped, and said so.

The password comes from the file --password-file names, else from
$STELVANE_MQTT_PASSWORD; never from the SOURCE text, so it reaches neither
the settings nor the window. A broker that refuses the user or the password,
or a TLS handshake that fails, ends the source with a problem saying so; a
broker that goes away is connected to again (see peers.py).

This module imports no Qt: it runs in the producer process.
"""

from dataclasses import dataclass

from ..formats import ReadOptions
from .base import NamedByText, SourceError
from .messages import ALWAYS, BATCH_BYTES, NEVER, BySender, Mux
from .peers import (PeerRefused, host_text, keep_connecting, load, password, require,
                    split_host_port, tls_context)

MAX_TOPICS = 256
KEEPALIVE = 15  # seconds: a broker gone without a word is noticed within about 1.5 times this
CONNACK_TIMEOUT = 10.0


@dataclass
class MqttSource(NamedByText):
    host: str
    port: int
    topic: str
    user: str | None = None
    tls: bool = False
    once: bool = False
    password_file: str | None = None
    ca: str | None = None
    cert: str | None = None
    key: str | None = None
    reading: ReadOptions = ReadOptions()  # --format, --sep, ...

    @classmethod
    def from_text(cls, text: str, options) -> "MqttSource":
        scheme, _, rest = text.partition("://")
        netloc, _, topic = rest.partition("/")
        user, at, hostport = netloc.rpartition("@")
        if ":" in user:
            raise SourceError(f"{text}: no password in the SOURCE (it would be seen by anyone "
                              "who lists processes): use --password-file or "
                              "$STELVANE_MQTT_PASSWORD")
        if not topic or not hostport or (at and not user):
            raise SourceError(f"{text}: write {scheme}://[USER@]HOST[:PORT]/TOPIC")
        require("paho.mqtt.client", "mqtt", f"{scheme}://")
        tls = scheme == "mqtts"
        host, port = split_host_port(text, hostport, 8883 if tls else 1883)
        return cls(host, port, topic, user or None, tls, options.once, options.password_file,
                   options.ca, options.cert, options.key, reading=options.reading)

    @property
    def describe(self) -> str:
        scheme = "mqtts" if self.tls else "mqtt"
        return f"{scheme}://{host_text(self.host)}:{self.port}/{self.topic}"

    def run(self, feed, status, stop) -> str | None:
        topics = Topics(Mux(feed, ALWAYS if self.wildcard_level is not None else NEVER),
                        status.problem, self.wildcard_level, self.reading)
        secret = password(self.password_file)
        context = tls_context(self.ca, self.cert, self.key) if self.tls else None
        return keep_connecting(
            lambda session: self._session(session, topics, secret, context, status, stop),
            self.describe, self.once, status, stop)

    @property
    def wildcard_level(self) -> int | None:
        """The topic's first level that is a wildcard, if any."""
        levels = self.topic.split("/")
        return next((i for i, level in enumerate(levels) if level in ("+", "#")), None)

    def _session(self, session, topics, secret, context, status, stop) -> str | None:
        inbox = Inbox()
        client = inbox.client(self.user, secret, context)
        try:
            client.connect(self.host, self.port, KEEPALIVE)
            if not self._connack(client, inbox, stop):
                return None
            session.connected = True
            client.subscribe(self.topic)
            status.info(f"subscribed to {self.describe}")
            return self._receive(client, inbox, topics, status, stop)
        finally:
            client.disconnect()
            sock = client.socket()
            if sock is not None:
                sock.close()

    def _connack(self, client, inbox, stop) -> bool:
        """Waits for the broker's answer: True when it accepted us, False
        once the window has closed; raises PeerRefused when it refused."""
        while inbox.answer is None:
            if stop.poll():
                return False
            if client.loop(0.1) != 0 and inbox.answer is None:
                raise ConnectionError("the broker closed the connection before answering")
        if inbox.answer:
            raise PeerRefused(f"{self.describe}: the broker refused the connection: "
                              f"{inbox.answer}")
        return True

    def _receive(self, client, inbox, topics, status, stop) -> str | None:
        while True:
            code = client.loop(0.1)
            # What has come meanwhile joins these messages, up to a batch.
            while code == 0 and inbox.messages and inbox.bytes < BATCH_BYTES:
                waiting = len(inbox.messages)
                code = client.loop(0)
                if len(inbox.messages) == waiting:
                    break
            topics.take(inbox.take())
            status.tick()
            if stop.poll():
                return None
            if code != 0:
                return f"{self.describe}: the connection to the broker was lost"


class Inbox:
    """What paho's callbacks deliver: the broker's answer and the messages."""

    def __init__(self):
        self.answer = None  # the CONNACK: "" accepted, else why refused
        self.messages, self.bytes = [], 0

    def client(self, user, secret, context):
        mqtt = load("paho.mqtt.client", "mqtt", "mqtt://")
        client = mqtt.Client(mqtt.CallbackAPIVersion.VERSION2)
        client.on_connect, client.on_message = self.on_connect, self.on_message
        if user is not None:
            client.username_pw_set(user, secret)
        if context is not None:
            client.tls_set_context(context)
        return client

    def on_connect(self, client, userdata, flags, reason_code, properties):
        self.answer = str(reason_code) if reason_code.is_failure else ""

    def on_message(self, client, userdata, message):
        self.messages.append((message.topic, message.payload))
        self.bytes += len(message.payload)

    def take(self) -> list:
        taken, self.messages, self.bytes = self.messages, [], 0
        return taken


class Topics(BySender):
    """A reader per topic, at most MAX_TOPICS of them; with a wildcard, each
    topic's columns are prefixed with its levels from the wildcard on."""
    limit = MAX_TOPICS

    def __init__(self, mux: Mux, problem, wildcard_level: int | None, reading=None):
        super().__init__(mux, problem, reading)
        self.level = wildcard_level

    def named(self, topic: str) -> tuple[str, str]:
        prefix = "" if self.level is None else "/".join(topic.split("/")[self.level:])
        return prefix, topic

    def refused(self, topic: str) -> str:
        return f"a message on {topic} dropped: already {MAX_TOPICS} topics"
