"""Faults of the transports' peers: a server killed in the middle of a line,
a connection that stays open and silent, a WebSocket connection cut without
a close, and floods of garbage over UDP (from more senders than are kept
apart), MQTT and ZeroMQ. Every row before the fault stays, the fault is
told, the source goes on, and nothing waits or spins."""

import socket
import time

import numpy as np
import pytest

from tarvinel.stelvane.sources import (
    MqttSource, TcpClientSource, UdpSource, ZmqSource, source_from_text)
from tarvinel.stelvane.sources.udp import MAX_SENDERS

from tests.support.network import free_port
from tests.support.producers import Run
from tests.support.running import IDLE_CPU, cpu_seconds, python
from tests.support.transport_peers import LineServer, WebSocketServer

ADDRESS = "127.0.0.1"
GARBAGE = bytes(np.random.default_rng(7).integers(11, 256, 30_000, dtype=np.uint8)).replace(
    b"#", b"\n#")


def garbage_pieces(size=1000):
    return [GARBAGE[i:i + size] for i in range(0, len(GARBAGE), size)]


def test_a_server_killed_in_the_middle_of_a_line(running):
    port = free_port()
    r = running(TcpClientSource(ADDRESS, port))
    server = python("""
        import socket, sys, time
        listener = socket.create_server(("127.0.0.1", int(sys.argv[1])))
        connection, _ = listener.accept()
        connection.sendall(b"t,v\\n" + b"".join(b"%d,%d\\n" % (i, i * i) for i in range(300))
                           + b"300,9")                      # of "300,90000"
        time.sleep(60)
        """, port)
    try:
        r.until(lambda r: len(r.rows()) == 300, seconds=20)
        r.status.infos.clear()  # a refusal before the server was up said "reconnecting" too
    finally:
        server.kill()
        server.wait()
    r.until(lambda r: any("reconnecting" in i for i in r.status.infos))
    assert r.rows() == [[i, i * i] for i in range(300)]  # "300,9" is no row of its own
    assert any("middle of line 302; the unfinished line was dropped" in p
               for p in r.status.problems), (r.status.problems, r.status.infos)
    listener = LineServer(port)
    with listener.accept() as connection:
        connection.sendall(b"301,90601\n")
    r.until(lambda r: len(r.rows()) == 301)
    assert r.names() == [["t", "v"]]
    listener.close()


def test_a_silent_connection_neither_spins_nor_holds_the_window():
    listener = LineServer()
    r = Run(source_from_text(f"tcp-client://{ADDRESS}:{listener.port}"))
    connection = listener.accept()
    connection.sendall(b"a,b\n1,2\n")  # then nothing, and the connection stays open
    r.until(lambda r: r.runs() == [[[1, 2]]])
    pid = r.producer.process.pid
    used = cpu_seconds(pid)
    time.sleep(1)
    assert cpu_seconds(pid) - used < IDLE_CPU
    started = time.monotonic()
    assert r.producer.stop() == 0 and time.monotonic() - started < 2
    connection.close()
    listener.close()


def test_a_websocket_cut_without_a_close(running):
    pytest.importorskip("websockets")
    server = WebSocketServer()
    r = running(source_from_text(f"ws://{ADDRESS}:{server.port}/"))
    server.outbox.put("t,v\n0,0\n")
    r.until(lambda r: r.rows() == [[0, 0]])
    server.cut()
    r.until(lambda r: any("reconnecting" in i for i in r.status.infos))
    server.outbox.put("1,1\n")
    r.until(lambda r: r.rows() == [[0, 0], [1, 1]])
    server.stop()


def test_a_websocket_flood_of_garbage(running):
    pytest.importorskip("websockets")
    server = WebSocketServer()
    r = running(source_from_text(f"ws://{ADDRESS}:{server.port}/"))
    for message in ["t,v\n0,0\n", *garbage_pieces(), "1,1\n"]:
        server.outbox.put(message)
    r.until(lambda r: r.rows()[-1:] == [[1, 1]])
    assert r.rows()[0] == [0, 0] and len(r.status.problems) > 10 and r.names() == [["t", "v"]]
    server.stop()


def test_a_udp_flood_of_garbage_from_many_senders(running):
    port = free_port(socket.SOCK_DGRAM)
    r = running(UdpSource(ADDRESS, port)).until(lambda r: r.status.infos)
    good = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    good.sendto(b"t,v\n0,0\n", (ADDRESS, port))
    r.until(lambda r: r.rows() == [[0, 0]])
    for piece in garbage_pieces():
        good.sendto(piece, (ADDRESS, port))
        time.sleep(0.0005)  # within what the kernel holds for the source
    crowd = [socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in range(MAX_SENDERS + 5)]
    for sender in crowd:
        sender.sendto(b"9\n", (ADDRESS, port))
    good.sendto(b"1,1\n", (ADDRESS, port))
    r.until(lambda r: [1, 1] in [row[:2] for row in r.rows()])
    refused = [p for p in r.status.problems if f"already {MAX_SENDERS} senders" in p]
    assert len(refused) == 6  # the good sender and the first 63 others are kept apart
    assert len(r.names()[-1]) == 2 + MAX_SENDERS - 1
    assert sum("is not a number" in p or "columns expected" in p for p in r.status.problems) > 10
    for sender in (good, *crowd):
        sender.close()


def test_an_mqtt_flood_of_garbage(running, broker):
    r = running(MqttSource(ADDRESS, broker.plain, "flood"))
    r.until(lambda r: any("subscribed" in i for i in r.status.infos))
    time.sleep(0.2)
    broker.publish("flood", [b"t,v\n0,0\n", *garbage_pieces(), b"1,1\n"])
    r.until(lambda r: r.rows()[-1:] == [[1, 1]])
    assert r.rows()[0] == [0, 0] and len(r.status.problems) > 10 and r.names() == [["t", "v"]]


def test_a_zmq_flood_of_garbage_and_a_message_too_large(running):
    zmq = pytest.importorskip("zmq")
    port = free_port()
    context = zmq.Context()
    pub = context.socket(zmq.PUB)
    pub.bind(f"tcp://{ADDRESS}:{port}")
    r = running(ZmqSource(ADDRESS, port))
    for _ in range(100):  # until the subscription has reached the publisher
        pub.send(b"t,v\n0,0\n")
        if r.take().rows():
            break
        time.sleep(0.05)
    for piece in [*garbage_pieces(), b"1," + b"1" * (1 << 20)]:
        pub.send(piece)
    pub.send(b"1,1\n")
    r.until(lambda r: r.rows()[-1:] == [[1, 1]])
    assert any("1 message(s) over 1,048,576 bytes" in p for p in r.status.problems)
    assert r.names() == [["t", "v"]]
    pub.close(0)
    r.close()
    context.term()
