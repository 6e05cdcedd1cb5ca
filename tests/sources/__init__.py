"""Tests of the sources: each in a real producer process or a thread with a
real Feed, fed by real pipes, files, sockets on 127.0.0.1, a broker and a
pseudo-terminal; their faults; the simulated instrument."""
