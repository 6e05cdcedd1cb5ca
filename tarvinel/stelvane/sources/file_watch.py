"""Waking a followed file's reader when the file changes: inotify where the
system has it (Linux, through ctypes: no library to install), a timer
elsewhere.

A watch is on the file itself (the inode the reader holds open, named
through /proc/self/fd where there is one: no race with a rename), not on its
directory, so that other files changing beside it wake nobody. What the
reader must notice all reaches that inode: a write or a truncation
(IN_MODIFY), a removal or a rename over the path (IN_ATTRIB: the link count
drops), a rename away (IN_MOVE_SELF). Once the path holds another file, the
reader watches that one instead (`watch` again, with the new file).

Whatever the watch says, the reader still looks now and then (IDLE_CHECK):
a file system that does not notify (a network file system written from
another machine, a file written through a mapping) is still followed, only
more slowly, and held problems still go out. Idle, a watched file costs a
wake-up every IDLE_CHECK seconds and nothing else.

This module imports no Qt: it runs in the producer process.
"""

import ctypes
import os
import selectors
import sys

# The timer where there is no inotify.
POLL_INTERVAL = 0.05
# The timer while a file is missing: no file, no watch (see file.py's DELETE_GRACE).
MISSING_CHECK = 0.05
# The longest a watched file's reader sleeps without an event.
IDLE_CHECK = 0.5

_IN_NONBLOCK = 0o4000
_IN_CLOEXEC = 0o2000000
_IN_MODIFY, _IN_ATTRIB, _IN_MOVE_SELF, _IN_DELETE_SELF = 0x2, 0x4, 0x800, 0x400
WATCHED_EVENTS = _IN_MODIFY | _IN_ATTRIB | _IN_MOVE_SELF | _IN_DELETE_SELF
# Events are drained in reads of this size; every event is only a wake-up.
_DRAIN_BYTES = 64 << 10


def _inotify():
    """libc's inotify_init1, inotify_add_watch and inotify_rm_watch, or None."""
    if not sys.platform.startswith("linux"):
        return None
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        init, add, remove = libc.inotify_init1, libc.inotify_add_watch, libc.inotify_rm_watch
    except (OSError, AttributeError):
        return None
    init.argtypes, init.restype = (ctypes.c_int,), ctypes.c_int
    add.argtypes, add.restype = (ctypes.c_int, ctypes.c_char_p, ctypes.c_uint32), ctypes.c_int
    remove.argtypes, remove.restype = (ctypes.c_int, ctypes.c_int), ctypes.c_int
    return init, add, remove


class FileWatch:
    """Waits until the watched file may have changed, or the window has
    closed (`stop`, the reading end of a pipe, becomes readable). Without
    inotify (or when the system refuses another watch) it waits
    POLL_INTERVAL, as a timer."""

    def __init__(self, stop):
        self.stop = stop
        self._calls = _inotify()
        self._fd = -1
        self._wd = -1
        self._selector = None
        if self._calls is not None:
            fd = self._calls[0](_IN_NONBLOCK | _IN_CLOEXEC)
            if fd >= 0:
                self._fd = fd
                self._selector = selectors.DefaultSelector()
                self._selector.register(fd, selectors.EVENT_READ)
                self._selector.register(stop.fileno(), selectors.EVENT_READ)

    @property
    def notifies(self) -> bool:
        """Whether a change wakes the reader (else only the timer does)."""
        return self._wd >= 0

    def watch(self, file, path: str) -> None:
        """Watches `file` (open, found at `path`), and no longer the one before."""
        if self._fd < 0:
            return
        add, remove = self._calls[1], self._calls[2]
        wd = add(self._fd, f"/proc/self/fd/{file.fileno()}".encode(), WATCHED_EVENTS)
        if wd < 0:  # no /proc
            wd = add(self._fd, os.fsencode(path), WATCHED_EVENTS)
        if self._wd >= 0 and self._wd != wd:
            remove(self._fd, self._wd)  # fails harmlessly for a file already gone
        self._wd = wd  # -1: no watch (a limit reached): the timer takes over

    def wait(self, missing: bool = False) -> bool:
        """False once the window has closed, else True after a change or
        the timeout: MISSING_CHECK while the file is missing, POLL_INTERVAL
        while it is unwatched, IDLE_CHECK while it is watched."""
        if missing:
            return not self.stop.poll(MISSING_CHECK)
        if not self.notifies:
            return not self.stop.poll(POLL_INTERVAL)
        self._selector.select(IDLE_CHECK)
        self._drain()
        return not self.stop.poll()

    def _drain(self) -> None:
        try:
            while len(os.read(self._fd, _DRAIN_BYTES)) == _DRAIN_BYTES:
                pass
        except BlockingIOError:
            pass

    def close(self) -> None:
        if self._selector is not None:
            self._selector.close()
            self._selector = None
        if self._fd >= 0:
            os.close(self._fd)
            self._fd = self._wd = -1
