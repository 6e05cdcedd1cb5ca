"""What the tests of several folders share; no tests of its own.

    running.py          the application started as a user starts it (and
                        its --summary), child interpreters, what /proc says
                        of a process
    network.py          a free port on 127.0.0.1, a client that sends rows
    producers.py        a source in its producer process, and what arrived
    fault_producers.py  what a scripted producer process runs (no Qt: the
                        producer imports it)
    frames.py           a window over a producer, its frames timed through
                        a fault (the run_window fixture)
    window.py           a main window over a queue the test fills itself
    userinput.py        keys, choices, drags and the clipboard, as a user
    axes.py             the tick texts an axis draws, read as a user reads them
    tables.py           a saved text file read back by its definition
    crossings.py        a limit line's crossings found one row at a time
    timezones.py        the process' local zone for one test (the berlin
                        fixture)
    transport_peers.py  real peers for the transports: a broker, a
                        WebSocket server, a line server, a source in a thread
    standins.py         the host's stand-ins the native modules are driven with
    leakcheck.py        allocated blocks and reference counts over many calls

The fixtures here that several folders use are registered once, in the top
conftest.py; a folder that alone uses one imports it in its own conftest.py.
Test modules import from here, never from each other.
"""
