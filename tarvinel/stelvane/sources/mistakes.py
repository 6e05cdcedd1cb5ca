"""SOURCE texts that name no source the user meant: a file in a folder that
does not exist, most often a scheme typed with a character missing
(`mqtt//host`, `tcp:/127.0.0.1:5000`), which would otherwise wait silently
for a file that can never appear; and the errors of a listening source that
the system names by number only.

This module imports no Qt: the producer process uses it too.
"""

import errno
import os

from .base import SourceError


def check_file_text(text: str, schemes) -> None:
    """Raises SourceError for a SOURCE read as a file path whose folder does
    not exist, saying what was understood and what was probably meant.
    `schemes` are the scheme prefixes the sources take ("tcp://", "serial:")."""
    folder = os.path.dirname(os.path.abspath(text))
    if os.path.isdir(folder):
        return
    meant = _meant_scheme(text, schemes)
    if meant is not None:
        raise SourceError(f"{text}: read as a file in the folder {folder}, which does not "
                          f"exist; did you mean {meant}?")
    raise SourceError(f"{text}: read as a file, but its folder {folder} does not exist "
                      "(a file is followed only in a folder that exists)")


def _meant_scheme(text: str, schemes) -> str | None:
    """`text` with the scheme it seems to start with written right (the
    longest scheme name first: tcp-client before tcp), None if it does not."""
    for prefix in sorted(schemes, key=len, reverse=True):
        name = prefix.rstrip(":/")
        rest = text[len(name):]
        if text.lower().startswith(name) and rest[:1] in (":", "/", "\\"):
            return prefix + rest.lstrip(":/\\")
    return None


# What a listening source says of the system's errors, by number.
_LISTEN_ERRORS = {
    errno.EADDRINUSE: "the port is in use by another program: choose another port, or stop "
                      "the program listening there",
    errno.EADDRNOTAVAIL: "the host is no address of this machine: listen on 127.0.0.1 (this "
                         "machine only) or 0.0.0.0 (every network)",
    errno.EACCES: "the port needs privileges: choose a port of 1024 or above",
}


def explained(error: OSError) -> str:
    """The error's text, with what to do where the system gives a number only."""
    advice = _LISTEN_ERRORS.get(error.errno)
    return f"{error.strerror or error}: {advice}" if advice else str(error)
