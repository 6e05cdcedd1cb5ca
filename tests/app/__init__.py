"""Tests of the whole application: the window started with a source, the
command line in a process of its own, --summary, remembered settings, the
replay, and faults of the producer and of the surroundings."""
