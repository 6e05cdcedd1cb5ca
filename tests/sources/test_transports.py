"""The transports with real peers: UDP sockets, a mosquitto broker (plain,
password and TLS listeners), a WebSocket server and a ZeroMQ publisher in
the test process, TCP servers, and a pseudo-terminal as a serial port that
goes away and comes back. Each source runs in a thread with a real Feed
(see tests/support/transport_peers.py); a UDP and an MQTT source also through the
application (its window in this process), checked by its summary and the settings file."""

import importlib.util
import os
import re
import socket
import time
import urllib.parse

import pytest

from tarvinel.stelvane.sources import (
    MqttSource, SerialSource, SourceError, TcpClientSource, UdpSource, WebSocketSource, ZmqSource,
    source_from_text)

from tests.support.network import free_port
from tests.support.running import REPO_ROOT, WAIT
from tests.support.transport_peers import PASSWORD, USER, LineServer, WebSocketServer

ADDRESS = "127.0.0.1"


def datagram_socket():
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((ADDRESS, 0))
    return sock


def test_udp_senders_share_columns_until_theirs_differ(running):
    port = free_port(socket.SOCK_DGRAM)
    r = running(UdpSource(ADDRESS, port)).until(lambda r: r.status.infos)
    assert r.status.infos == [f"listening on udp://{ADDRESS}:{port}"]
    a, b, c = datagram_socket(), datagram_socket(), datagram_socket()
    a.sendto(b"t,v\n0,1\n1,2", (ADDRESS, port))  # the datagram's end ends its last line
    b.sendto(b"t,v\n2,3\n", (ADDRESS, port))
    r.until(lambda r: len(r.rows()) == 3)
    assert r.names() == [["t", "v"]] and r.rows() == [[0, 1], [1, 2], [2, 3]]
    a.sendto(b"3,4\n", ("127.0.0.2", port))  # another address of this machine: not listened on
    c.sendto(b"x,y,z\n7,8,9\n", (ADDRESS, port))
    r.until(lambda r: len(r.rows()) == 4)
    who = [f"{ADDRESS}:{s.getsockname()[1]}" for s in (a, b, c)]
    assert r.names()[-1] == [f"{who[0]}/t", f"{who[0]}/v", f"{who[1]}/t", f"{who[1]}/v",
                             f"{who[2]}/x", f"{who[2]}/y", f"{who[2]}/z"]
    assert r.rows()[-1] == [None] * 4 + [7, 8, 9]
    a.sendto(b"4,5\n", (ADDRESS, port))
    r.until(lambda r: len(r.rows()) == 5)
    assert r.rows()[-1] == [4, 5] + [None] * 5 and r.status.problems == []


def test_udp_multicast_group_is_joined(running):
    port, group = free_port(socket.SOCK_DGRAM), "239.255.42.99"
    r = running(source_from_text(f"udp://{group}:{port}")).until(lambda r: r.status.infos)
    sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)  # from the default interface
    sender.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 1)
    sender.sendto(b"a b\n1 2\n", (group, port))
    r.until(lambda r: r.rows() == [[1, 2]])


def test_mqtt_wildcard_topics_side_by_side(running, broker):
    r = running(MqttSource(ADDRESS, broker.plain, "sensors/#"))
    r.until(lambda r: any("subscribed" in i for i in r.status.infos))
    time.sleep(0.2)  # the subscription reaches the broker
    broker.publish("sensors/a/temp", [b"t,temp\n0,20\n", b"t,temp\n1,21"])  # names again: no change
    broker.publish("sensors/b/temp", [b"t,temp\n0,30\n"])
    broker.publish("sensors/c", [b"5"])  # a bare value: its column is the topic's
    broker.publish("elsewhere", [b"t\n1\n"])
    r.until(lambda r: len(r.rows()) == 4)
    assert r.names()[-1] == ["a/temp/t", "a/temp/temp", "b/temp/t", "b/temp/temp", "c"]
    assert r.rows() == [[0, 20], [1, 21], [None, None, 0, 30], [None] * 4 + [5]]
    assert r.status.problems == []


def test_mqtt_password_from_a_file_and_a_wrong_one_refused(running, broker, tmp_path,
                                                           monkeypatch):
    secret = tmp_path / "password"
    secret.write_text(PASSWORD + "\n")
    source = f"mqtt://{USER}@{ADDRESS}:{broker.secured}/meter"
    r = running(source_from_text(source, password_file=str(secret)))
    r.until(lambda r: any("subscribed" in i for i in r.status.infos))
    time.sleep(0.2)
    broker.publish("meter", [b"a,b\n1,2\n"], port=broker.secured, user=USER, password=PASSWORD)
    r.until(lambda r: r.rows() == [[1, 2]])
    monkeypatch.setenv("STELVANE_MQTT_PASSWORD", "wrong")
    wrong = running(source_from_text(source)).until(lambda r: r.ended())
    assert wrong.result == wrong.status.problems[0]
    assert "the broker refused the connection: Not authorized" in wrong.result
    assert not any("reconnecting" in i for i in wrong.status.infos)  # no retry loop


@pytest.mark.parametrize("trusted, works", [("ca", True), ("other_ca", False)])
def test_mqtts_checks_the_broker_certificate(running, broker, certificates, trusted, works):
    r = running(source_from_text(f"mqtts://{ADDRESS}:{broker.tls}/t", ca=certificates[trusted]))
    if works:
        r.until(lambda r: any("subscribed" in i for i in r.status.infos))
        time.sleep(0.2)
        broker.publish("t", [b"v\n1\n"])
        r.until(lambda r: r.rows() == [[1]])
    else:
        r.until(lambda r: r.ended())
        assert "TLS failed: CERTIFICATE_VERIFY_FAILED" in r.result
        assert r.status.problems == [r.result]


def test_mqtt_broker_restarted_and_a_message_too_large(running, broker):
    r = running(MqttSource(ADDRESS, broker.plain, "m"))
    r.until(lambda r: any("subscribed" in i for i in r.status.infos))
    time.sleep(0.2)
    broker.publish("m", [b"t,v\n0,0\n", b"1," + b"1" * (1 << 20) + b"\n", b"1,1\n"])
    r.until(lambda r: r.rows() == [[0, 0], [1, 1]])
    assert r.status.problems == ["m: 1 message(s) over 1,048,576 bytes; dropped"]
    broker.kill()
    r.until(lambda r: any("reconnecting" in i for i in r.status.infos))
    broker.start()
    r.until(lambda r: sum("subscribed" in i for i in r.status.infos) == 2)
    time.sleep(0.2)
    broker.publish("m", [b"t,v\n2,2\n"])
    r.until(lambda r: len(r.rows()) == 3)
    assert r.rows()[-1] == [2, 2] and r.names() == [["t", "v"]]  # the same run goes on


def test_websocket_messages_and_a_server_restarted(running):
    pytest.importorskip("websockets")
    server = WebSocketServer()
    r = running(WebSocketSource(f"ws://{ADDRESS}:{server.port}/rows"))
    for message in ("t,v\n0,0\n", b"t,v\n1,1\n2,4", "3,9\n"):
        server.outbox.put(message)
    r.until(lambda r: len(r.rows()) == 4)
    assert r.rows() == [[0, 0], [1, 1], [2, 4], [3, 9]] and r.names() == [["t", "v"]]
    server.stop()
    r.until(lambda r: any("reconnecting" in i for i in r.status.infos))
    server = WebSocketServer(server.port)
    server.outbox.put("x" * ((1 << 20) + 1))  # over the limit: the library closes the connection
    r.until(lambda r: r.status.problems)
    assert "a message over 1,048,576 bytes" in r.status.problems[0]
    server.stop()
    server = WebSocketServer(server.port)
    server.outbox.put("t,v\n4,16\n")
    r.until(lambda r: len(r.rows()) == 5)
    assert r.names() == [["t", "v"]]
    server.stop()


def test_zmq_topic_filter_last_frame_and_a_publisher_restarted(running):
    zmq = pytest.importorskip("zmq")
    port = free_port()
    context = zmq.Context()

    def publisher():
        sock = context.socket(zmq.PUB)
        sock.bind(f"tcp://{ADDRESS}:{port}")
        return sock

    pub = publisher()
    r = running(ZmqSource(ADDRESS, port, "dev"))
    r.until(lambda r: any("connected to" in i for i in r.status.infos))

    def send_until(frames, count):  # a new subscription reaches the publisher a little later
        for _ in range(100):
            pub.send_multipart(frames)
            if len(r.take().rows()) >= count:
                return
            time.sleep(0.05)

    send_until([b"dev", b"t,v\n0,0\n"], 1)
    pub.send_multipart([b"other", b"9,9\n"])
    pub.send_multipart([b"dev", b"x", b"1,1"])  # the last frame is the payload
    r.until(lambda r: r.rows()[-1] == [1, 1])
    assert [9, 9] not in r.rows()
    pub.close(0)
    r.until(lambda r: any("went away; reconnecting" in i for i in r.status.infos))
    pub = publisher()
    send_until([b"dev", b"t,v\n2,2\n"], len(r.rows()) + 1)
    assert r.rows()[-1] == [2, 2] and r.names() == [["t", "v"]]
    pub.close(0)
    r.close()
    context.term()


def test_tcp_client_reconnects_and_goes_on_under_its_columns(running):
    server = LineServer()
    r = running(TcpClientSource(ADDRESS, server.port))
    for data in (b"t,v\n0,0\n1,1\n2,", b"2,4\n3,9\n", b"t,v\n4,16\n", b"x,y\n5,5\n"):
        with server.accept() as connection:  # each connection closes after its data
            connection.sendall(data)
        r.until(lambda r: sum("reconnecting" in i for i in r.status.infos) >= 1)
        r.status.infos.clear()
    r.until(lambda r: len(r.rows()) == 6)
    # No header after a reconnection: the rows go on under the columns they had;
    # the same names again start no new run; other names do.
    assert r.rows() == [[0, 0], [1, 1], [2, 4], [3, 9], [4, 16], [5, 5]]
    assert r.names() == [["t", "v"], ["x", "y"]]
    assert any("middle of line 4; the unfinished line was dropped" in p
               for p in r.status.problems)
    server.close()


def test_once_ends_instead_of_reconnecting(running):
    server = LineServer()
    r = running(source_from_text(f"tcp-client://{ADDRESS}:{server.port}", once=True))
    with server.accept() as connection:
        connection.sendall(b"a\n1\n")
    r.until(lambda r: r.ended())
    assert r.result.endswith("the server closed the connection") and r.rows() == [[1]]
    server.close()
    refused = running(source_from_text(f"tcp-client://{ADDRESS}:{server.port}", once=True))
    refused.until(lambda r: r.ended())
    assert refused.result.endswith("Connection refused")


def test_a_serial_port_unplugged_and_plugged_back(running, tmp_path):
    pytest.importorskip("serial")
    link = tmp_path / "ttyUSB-meter"  # as udev's stable names point to the device

    def plug():
        controller, device = os.openpty()
        link.unlink(missing_ok=True)
        link.symlink_to(os.ttyname(device))
        return controller, device

    controller, device = plug()
    r = running(SerialSource(str(link), 9600))
    r.until(lambda r: any("reading" in i for i in r.status.infos))
    os.write(controller, b"t v\n0 0\n1 1\n")
    r.until(lambda r: len(r.rows()) == 2)
    os.close(controller)
    os.close(device)
    link.unlink()
    r.until(lambda r: any("serial port" in i and "reconnecting" in i for i in r.status.infos))
    controller, device = plug()
    r.until(lambda r: sum("reading" in i for i in r.status.infos) == 2)
    os.write(controller, b"2 4\n")
    r.until(lambda r: len(r.rows()) == 3)
    assert r.rows()[-1] == [2, 4] and r.names() == [["t", "v"]]
    os.close(controller)
    os.close(device)


def test_each_transport_text_names_its_source_and_a_settings_key_without_its_user():
    for text, kind, key in [
        ("udp://127.0.0.1:5005", UdpSource, "udp://127.0.0.1:5005"),
        ("mqtt://meter@broker/lab/+", MqttSource, "mqtt://broker:1883/lab/+"),
        ("mqtts://broker/t", MqttSource, "mqtts://broker:8883/t"),
        ("ws://127.0.0.1:8765/rows", WebSocketSource, "ws://127.0.0.1:8765/rows"),
        ("zmq+tcp://[::1]:5556/dev", ZmqSource, "zmq+tcp://[::1]:5556/dev"),
        ("tcp-client://host:4001", TcpClientSource, "tcp-client://host:4001"),
    ]:
        source = source_from_text(text)
        assert (type(source), source.settings_key) == (kind, key), text


@pytest.mark.parametrize("text, complaint", [
    ("udp://127.0.0.1", "HOST:PORT expected"),
    ("mqtt://user:pw@host/t", "no password in the SOURCE"),
    ("mqtt://host", "write mqtt://[USER@]HOST[:PORT]/TOPIC"),
    ("tcp-client://host:99999", "a port from 1 to 65535"),
    ("zmq+tcp:///t", "write zmq+tcp://HOST:PORT[/TOPIC]"),
])
def test_transport_texts_that_name_nothing_usable(text, complaint):
    with pytest.raises(SourceError, match=re.escape(complaint)):
        source_from_text(text)


@pytest.mark.parametrize("module, extra, text", [
    ("zmq", "zmq", "zmq+tcp://127.0.0.1:5556"),
    ("paho.mqtt.client", "mqtt", "mqtts://broker/t"),
    ("websockets", "websocket", "ws://127.0.0.1:8765/"),
    ("serial", "serial", "serial:/dev/ttyUSB0"),
])
def test_a_missing_library_names_its_extra(monkeypatch, module, extra, text):
    real = importlib.util.find_spec
    monkeypatch.setattr(importlib.util, "find_spec",
                        lambda name, *args: None if name == module else real(name, *args))
    with pytest.raises(SourceError, match=rf"pip install 'tarvinel-stelvane\[{extra}\]'"):
        source_from_text(text)


def test_the_application_plots_udp_and_mqtt(qtbot, broker, tmp_path, settings_home):
    from tarvinel.stelvane.app import create_app

    udp_port = free_port(socket.SOCK_DGRAM)
    secret = tmp_path / "password"
    secret.write_text(PASSWORD)
    windows = [create_app([f"udp://{ADDRESS}:{udp_port}"]).window]
    try:
        windows.append(create_app([f"mqtt://{USER}@{ADDRESS}:{broker.secured}/lab/+",
                                   "--password-file", str(secret)]).window)
        sender, sent = datagram_socket(), []

        def both_plotted():  # whenever the producers are up, rows come
            if not sent or time.monotonic() - sent[-1] > 0.1:
                i = len(sent)
                sender.sendto(f"t,u\n{i},{2 * i}\n".encode(), (ADDRESS, udp_port))
                broker.publish("lab/one", [f"t,w\n{i},{3 * i}\n".encode()], port=broker.secured,
                               user=USER, password=PASSWORD)
                sent.append(time.monotonic())
            return all(window.summary()["points"] > 0 for window in windows)

        qtbot.waitUntil(both_plotted, timeout=WAIT)
        udp, mqtt = (window.summary() for window in windows)
    finally:
        for window in windows:
            window.close()
    assert udp["point_columns"] == ["t", "u"] and udp["points"] > 0 and udp["runs"] == 1
    assert mqtt["point_columns"] == ["one/t", "one/w"] and mqtt["points"] > 0
    remembered = "".join(p.read_text() for p in settings_home.rglob("*.ini"))
    remembered = urllib.parse.unquote(urllib.parse.unquote(remembered))  # keys are escaped
    assert f"mqtt://{ADDRESS}:{broker.secured}/lab/+" in remembered
    assert PASSWORD not in remembered and USER not in remembered


def test_every_source_form_has_its_line_in_help_and_in_the_readme():
    from tarvinel.stelvane.options import make_parser
    from tarvinel.stelvane.sources import SYNTAXES, source_forms

    shown = make_parser().format_help().splitlines()
    readme = (REPO_ROOT / "README.md").read_text()
    for usage, meaning in source_forms():
        assert any(line.split() == [usage, *meaning.split()] for line in shown), usage
    for syntax in SYNTAXES:
        if syntax.form == "scheme":
            assert f"stelvane {syntax.text}" in readme, syntax.text
