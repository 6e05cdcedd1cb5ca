"""Fixtures of the sources' tests: a source run in a thread with a real Feed
(running), and the real peers of the transports (a mosquitto broker with its
certificates). The window beside a source (run_window) comes from the top
conftest."""

from tests.support.transport_peers import broker, certificates, running  # noqa: F401  (fixtures)
