"""What the network sources and the serial port share: HOST:PORT in a SOURCE
text, the optional libraries (and the extra that brings each), TLS contexts,
the MQTT password, and reconnecting with a back-off.

Reconnecting: the client forms, MQTT and serial ports go on by themselves
when their peer goes away (a broker restarted, a device reset, a cable
pulled and plugged back), unless --once. A session is one connection, run to
its end. The wait before the next one doubles from FIRST_DELAY up to
LONGEST_DELAY, and starts again from the first after a session that lasted.
What retrying cannot mend (a wrong password, a certificate the server
refuses) ends the source with a problem naming it instead: a retry loop
would hide it.

This module imports no Qt: it runs in the producer process.
"""

import importlib
import importlib.util
import ipaddress
import os
import ssl
import time

from .base import SourceError

PASSWORD_VARIABLE = "STELVANE_MQTT_PASSWORD"
FIRST_DELAY = 0.25
LONGEST_DELAY = 5.0
# A session that lasted this long was a working connection: the next wait is short again.
LASTED = 2.0


# --- addresses -------------------------------------------------------------------------

def split_host_port(text: str, netloc: str, default_port: int | None = None) -> tuple[str, int]:
    """HOST:PORT (or [IPv6]:PORT) of a SOURCE text; raises SourceError."""
    host, port = netloc, None
    if netloc.startswith("["):
        host, _, rest = netloc[1:].partition("]")
        if rest.startswith(":"):
            port = rest[1:]
        elif rest:
            host = ""
    elif ":" in netloc:
        host, _, port = netloc.rpartition(":")
    if port is None and default_port is not None:
        port = str(default_port)
    if not host or not port or not port.isdigit() or not 0 < int(port) < 65536:
        raise SourceError(f"{text}: HOST:PORT expected, with a port from 1 to 65535")
    return host, int(port)


def host_text(host: str) -> str:
    return f"[{host}]" if ":" in host else host


def is_multicast(host: str) -> bool:
    try:
        return ipaddress.ip_address(host).is_multicast
    except ValueError:
        return False


# --- optional libraries, TLS, the password -----------------------------------------------

def require(module: str, extra: str, form: str) -> None:
    """Raises SourceError naming the extra to install when `module` is missing."""
    try:
        found = importlib.util.find_spec(module) is not None
    except ModuleNotFoundError:
        found = False
    if not found:
        top = module.split(".")[0]
        raise SourceError(f"{form} needs the {top} library: "
                          f"pip install 'tarvinel-stelvane[{extra}]'")


def load(module: str, extra: str, form: str):
    require(module, extra, form)
    return importlib.import_module(module)


def tls_context(ca: str | None, cert: str | None, key: str | None) -> ssl.SSLContext:
    """A client context that checks the server against `ca` (else the
    system's authorities), with a client certificate when given. A file
    that cannot be used is a SourceError naming it."""
    try:
        context = ssl.create_default_context(cafile=ca)
        if cert:
            context.load_cert_chain(cert, key)
    except (OSError, ssl.SSLError) as error:
        raise SourceError(f"TLS files (--ca {ca}, --cert {cert}, --key {key}) cannot be used: "
                          f"{getattr(error, 'strerror', None) or error}") from None
    return context


def password(password_file: str | None) -> str | None:
    """The password from the file --password-file names (its first line),
    else from $STELVANE_MQTT_PASSWORD, else none."""
    if password_file:
        try:
            with open(password_file, encoding="utf-8") as file:
                return file.readline().rstrip("\r\n")
        except OSError as error:
            raise SourceError(f"--password-file {password_file}: {error.strerror}") from None
    return os.environ.get(PASSWORD_VARIABLE)


# --- reconnecting ----------------------------------------------------------------------

class PeerRefused(Exception):
    """The peer refused us for a reason that waiting does not change."""


class Session:
    """What a session tells the loop: whether it got connected."""

    def __init__(self):
        self.connected = False


def keep_connecting(connect, describe: str, once: bool, status, stop) -> str | None:
    """Runs `connect(session)` again and again, with the back-off above.
    `connect` returns None once the window has closed, else why its
    connection ended; it raises PeerRefused for a refusal, OSError for a
    peer that is not there (yet). Returns why the source ended, or None
    once the window has closed."""
    delay = FIRST_DELAY
    while True:
        session, started = Session(), time.monotonic()
        try:
            why = connect(session)
        except PeerRefused as error:
            status.problem(str(error))
            return str(error)
        except ssl.SSLError as error:
            if not session.connected:  # the handshake failed: certificates, not luck
                reason = f"{describe}: TLS failed: {error.reason or error}"
                status.problem(reason)
                return reason
            why = f"{describe}: {error}"
        except OSError as error:
            why = f"{describe}: {error.strerror or error}"
        if why is None or stop.poll():
            return None
        if once:
            return why
        if time.monotonic() - started >= LASTED:
            delay = FIRST_DELAY
        status.info(f"{why}; reconnecting in {delay:.2g} s")
        if stop.poll(delay):
            return None
        delay = min(LONGEST_DELAY, delay * 2)
