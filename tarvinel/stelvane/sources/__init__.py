"""Where the data comes from: the sources a producer process runs.

    -                  text rows from standard input, or a        stdin.py
                       recording redirected from a file
    PATH               a text file, read from its start, then     file.py
                       followed as it grows
    tcp://HOST:PORT    text rows from one TCP connection at a     tcp.py
                       time (listens on HOST)
    tcp-client://HOST:PORT  a TCP server that sends lines         tcp_client.py
    udp://HOST:PORT    datagrams (a multicast GROUP is joined)    udp.py
    mqtt://[USER@]HOST[:PORT]/TOPIC, mqtts://   an MQTT           mqtt.py
                       subscription (+ and # allowed)
    ws://HOST:PORT/PATH, wss://   a WebSocket server's messages   websocket.py
    zmq+tcp://HOST:PORT[/TOPIC]   a ZeroMQ publisher              zmq_sub.py
    serial:DEV[@BAUD]  text rows from a serial port               serial_port.py
    SCRIPT.py          a producer script: its produce(feed)       script.py
                       runs in the producer
    (none)             the simulated instrument                   instrument.py
    show(produce)      a produce(feed) function of the caller's   function.py

Every source is a Source (base.py): it runs in the producer process (see
producer.py) and writes the queue's commands through a Feed, reads its bytes
(if any) with a reader from formats.make_reader, and tells the window on the
status pipe (status.py) what the queue cannot carry. Reading a stream so that
every wait watches the window's stop is in streams.py; lines from messages
and from several senders side by side in messages.py; addresses, optional
libraries, TLS and reconnecting with a back-off in peers.py; a SOURCE that looks
mistyped, and what was probably meant, in mistakes.py; the producer's API
in feed.py. Only the SOURCE
asked for listens, and only where asked: the client forms listen nowhere.
The libraries MQTT, WebSocket and ZeroMQ need are optional extras, loaded
when such a source is named.

A SOURCE text names its source through SYNTAXES below: a new source is a
module of its own (a class with from_text, describe, settings_key and run)
and one line there.

This package imports no Qt: it runs in the producer process.
"""

from .base import Source, SourceError, SourceOptions, Syntax
from .file import FileSource
from .function import FunctionSource
from .instrument import InstrumentSource
from .mistakes import check_file_text
from .mqtt import MqttSource
from .script import ScriptSource
from .serial_port import SerialSource
from .status import Status
from .stdin import StdinSource
from .tcp import TcpSource
from .tcp_client import TcpClientSource
from .udp import UdpSource
from .websocket import WebSocketSource
from .zmq_sub import ZmqSource

# The SOURCE texts and the sources they name, in the order they are tried:
# the first whose syntax a text has names its source.
SYNTAXES = (
    Syntax("exact", "-", StdinSource, "-", "text rows from standard input"),
    Syntax("scheme", "tcp://", TcpSource,
           "tcp://HOST:PORT", "listen there; one connection at a time"),
    Syntax("scheme", "tcp-client://", TcpClientSource,
           "tcp-client://HOST:PORT", "connect to a server that sends lines"),
    Syntax("scheme", "udp://", UdpSource,
           "udp://HOST:PORT", "datagrams to HOST:PORT (a multicast GROUP:PORT is joined)"),
    Syntax("scheme", "mqtt://", MqttSource, "mqtt://[USER@]HOST[:PORT]/TOPIC",
           "subscribe at a broker (+ and # allowed); mqtts:// with TLS"),
    Syntax("scheme", "mqtts://", MqttSource),
    Syntax("scheme", "ws://", WebSocketSource,
           "ws://HOST:PORT/PATH", "a WebSocket server's messages; wss:// with TLS"),
    Syntax("scheme", "wss://", WebSocketSource),
    Syntax("scheme", "zmq+tcp://", ZmqSource,
           "zmq+tcp://HOST:PORT[/TOPIC]", "subscribe to a ZeroMQ publisher"),
    Syntax("scheme", "serial:", SerialSource, "serial:DEVICE[@BAUD]", "a serial port"),
    Syntax("suffix", ".py", ScriptSource,
           "SCRIPT.py", "a producer script: its produce(feed) runs in the producer"),
    Syntax("path", "", FileSource,
           "FILE", "a text file, followed as it grows (--no-follow: read once)"),
)

__all__ = [
    "FileSource", "FunctionSource", "InstrumentSource", "MqttSource", "ScriptSource",
    "SerialSource", "Source", "SourceError", "SourceOptions", "Status", "StdinSource",
    "SYNTAXES", "TcpClientSource", "TcpSource", "UdpSource", "WebSocketSource", "ZmqSource",
    "check_source_text", "source_forms", "source_from_text",
]


def source_forms() -> list[tuple[str, str]]:
    """Each SOURCE form as a user writes it, and what it reads (for --help)."""
    return [(syntax.usage, syntax.meaning) for syntax in SYNTAXES if syntax.usage] + [
        ("(none)", "the simulated instrument")]


def check_source_text(text: str) -> None:
    """Raises SourceError for a SOURCE that is read as a file but cannot be
    one the user meant (its folder does not exist: a mistyped scheme, most
    often), before anything waits for it."""
    syntax = next(syntax for syntax in SYNTAXES if syntax.matches(text))
    if syntax.form == "path":
        check_file_text(text, [s.text for s in SYNTAXES if s.form == "scheme"])


def source_from_text(text: str, *, follow: bool = True, stdin=None, **more) -> Source:
    """The source a SOURCE argument names; raises SourceError for one it
    cannot be. `follow`, `stdin` and `more` (reading: a ReadOptions, once,
    password_file, ca, cert, key) are for the sources that take them (see
    SourceOptions)."""
    if not text:
        raise SourceError("an empty source")
    options = SourceOptions(follow=follow, stdin=stdin, **more)
    for syntax in SYNTAXES:
        if syntax.matches(text):
            return syntax.source.from_text(text, options)
    raise SourceError(f"{text}: names no source")  # unreachable while a "path" syntax is last
