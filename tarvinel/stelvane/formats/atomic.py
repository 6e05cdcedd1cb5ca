"""Writing a file whole or not at all.

Every file the window saves is written under a temporary name in the
target's directory, flushed to the disk and then renamed over the target:
whoever reads the target sees the old file or the whole new one, and a
failure (no space, no permission) leaves no partial file under the requested
name. A failure is an ExportError whose message tells the user which file
and why.
"""

from collections.abc import Iterable
import errno
import os
import tempfile

# What the user is told for the usual reasons a write fails.
_REASONS = {
    errno.ENOSPC: "no space left on the device",
    errno.EDQUOT: "the disk quota is used up",
    errno.EACCES: "permission denied",
    errno.EPERM: "the operation is not permitted",
    errno.EROFS: "the file system is read-only",
    errno.ENOENT: "the directory does not exist",
    errno.ENOTDIR: "a part of the path is not a directory",
    errno.EISDIR: "it is a directory",
    errno.ENAMETOOLONG: "the name is too long",
    errno.EFBIG: "the file would be too large",
    errno.EIO: "input/output error",
}


class ExportError(Exception):
    """A file could not be written; the message says which and why, for the user."""


def describe_os_error(path: str, error: OSError) -> str:
    reason = _REASONS.get(error.errno) or error.strerror or str(error)
    return f"could not save {path}: {reason}"


def write_atomically(path: str, chunks: Iterable[bytes]) -> None:
    """Writes the chunks to `path` so that `path` holds either its old content
    or all of the new one. Raises ExportError with the reason on failure.

    A target that exists and is no regular file (a device such as /dev/null,
    a named pipe) is written to directly: renaming over it would replace the
    device itself."""
    path = os.fspath(path)
    # A symbolic link stays one: the file it points to is what gets replaced.
    target = os.path.realpath(path) if os.path.islink(path) else path
    try:
        if os.path.exists(target) and not os.path.isfile(target) and not os.path.isdir(target):
            _write_through(target, chunks)
        else:
            _write_and_rename(target, chunks)
    except OSError as error:
        raise ExportError(describe_os_error(path, error)) from error


def _write_all(fd: int, chunks: Iterable[bytes]) -> None:
    for chunk in chunks:
        view = memoryview(chunk)
        while view:
            view = view[os.write(fd, view):]


def _write_through(path: str, chunks: Iterable[bytes]) -> None:
    fd = os.open(path, os.O_WRONLY)
    try:
        _write_all(fd, chunks)
    finally:
        os.close(fd)


def _write_and_rename(path: str, chunks: Iterable[bytes]) -> None:
    if os.path.isdir(path):
        raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), path)
    directory, name = os.path.split(os.path.abspath(path))
    fd, temporary = tempfile.mkstemp(prefix=f".{name}.", suffix=".part", dir=directory)
    try:
        try:
            _write_all(fd, chunks)
            # The data reaches the disk before the name does: after a crash
            # the name never stands for a file with missing blocks.
            os.fsync(fd)
        finally:
            os.close(fd)
        # mkstemp makes the file private; a saved file gets the usual mode.
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(temporary, 0o666 & ~umask)
        os.replace(temporary, path)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise
    _sync_directory(directory)


def _sync_directory(directory: str) -> None:
    # Makes the rename itself durable; some file systems cannot, which only
    # costs durability after a crash, not the file.
    try:
        fd = os.open(directory, os.O_RDONLY)
    except OSError:
        return
    try:
        os.fsync(fd)
    except OSError:
        pass
    finally:
        os.close(fd)


# The pictures a plot is saved as, by the file name's suffix.
PLOT_FORMATS = {".png": "PNG", ".svg": "SVG"}


def plot_format(path: str) -> str:
    """"PNG" or "SVG" by the file name's suffix; ExportError for any other."""
    suffix = os.path.splitext(path)[1].lower()
    if suffix not in PLOT_FORMATS:
        raise ExportError(f"could not save {path}: name it .png or .svg")
    return PLOT_FORMATS[suffix]
