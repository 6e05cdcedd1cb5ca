"""Sockets on 127.0.0.1 for the tests: a free port, and one client that
sends its data and waits for the source to close."""

import errno
import socket


def free_port(kind=socket.SOCK_STREAM):
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def send(port, data):
    """Sends `data` as one client, and waits until the source closes the
    connection (at the end of the data, or earlier for a line over the limits)."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as client:
        try:
            client.sendall(data)
            client.shutdown(socket.SHUT_WR)
            while client.recv(4096):
                pass
        except OSError as error:
            # The source closed first (a line over the limits): the reset may
            # reach the client in any of its calls, shutdown() included.
            if error.errno not in (errno.ECONNRESET, errno.EPIPE, errno.ENOTCONN):
                raise
