"""A stream's bytes as UTF-8, whatever they came in: UTF-8 (a byte-order
mark or none) as they are; UTF-16 and UTF-32 with a byte-order mark decoded;
bytes that are no UTF-8 read as Latin-1 from there on (told once).

The readers parse UTF-8 bytes (numbers are ASCII, words UTF-8). ASCII
blocks, the common case, cost one check of their bytes.

This module imports no Qt: the producer process uses it.
"""

import codecs

UTF8 = "utf-8"
LATIN1 = "latin-1"
# Byte-order marks, the longer first (UTF-32's little-endian one begins as UTF-16's).
_MARKS = ((codecs.BOM_UTF32_LE, "utf-32-le"), (codecs.BOM_UTF32_BE, "utf-32-be"),
          (codecs.BOM_UTF16_LE, "utf-16-le"), (codecs.BOM_UTF16_BE, "utf-16-be"))


class Transcoder:
    """`take(bytes)` gives the same text as UTF-8 bytes; `finish()` what is
    left. `encoding` names what the stream is read as; `fell_back(why,
    lines)` is told once where bytes are no UTF-8 and Latin-1 reads them from
    then on (`lines`: the line ends in the bytes fed before them)."""

    def __init__(self, fell_back):
        self._fell_back = fell_back
        self.restart()

    def restart(self) -> None:
        self.encoding = None  # decided by the first bytes
        self._head = b""
        self._decoder = None

    def take(self, data: bytes) -> bytes:
        if self.encoding is None:
            self._head += data
            if any(len(self._head) < len(mark) and mark.startswith(self._head)
                   for mark, _ in _MARKS):
                return b""  # the beginning of a byte-order mark, maybe
            data, self._head = self._head, b""
            data = self._choose(data)
        if self.encoding == UTF8:
            if data.isascii() and (self._decoder is None or not self._decoder.getstate()[0]):
                return data
            return self._checked(data)
        return self._decoder.decode(data).encode(UTF8)

    def finish(self) -> bytes:
        """The bytes held back: a stream's first few, or a character's start."""
        out = b""
        if self.encoding is None:
            data, self._head = self._head, b""
            if not data:
                return b""
            data = self._choose(data)
            out = (self._checked(data) if self.encoding == UTF8
                   else self._decoder.decode(data).encode(UTF8))
        if self._decoder is None:
            return out
        if self.encoding == UTF8:
            rest = self._decoder.getstate()[0]
            self._decoder.reset()
            return out + (self._to_latin1(rest, 0) if rest else b"")
        return out + self._decoder.decode(b"", True).encode(UTF8, "replace")

    def _choose(self, data: bytes) -> bytes:
        for mark, encoding in _MARKS:
            if data.startswith(mark):
                self.encoding = encoding
                self._decoder = codecs.getincrementaldecoder(encoding)("replace")
                return data[len(mark):]
        self.encoding = UTF8
        return data

    def _checked(self, data: bytes) -> bytes:
        """UTF-8 bytes as they are; where they are none, Latin-1 from here on."""
        if self._decoder is None:
            self._decoder = codecs.getincrementaldecoder(UTF8)()
        held = self._decoder.getstate()[0]
        try:
            self._decoder.decode(data)
        except UnicodeDecodeError as error:
            return self._to_latin1(held + data, error.start)
        rest = self._decoder.getstate()[0]  # a character's start, held for the next bytes
        whole = held + data
        return whole[:len(whole) - len(rest)]

    def _to_latin1(self, data: bytes, offset: int) -> bytes:
        """`offset`: where in `data` the first byte that is no UTF-8 is."""
        self.encoding = LATIN1
        self._decoder = codecs.getincrementaldecoder(LATIN1)()
        self._fell_back("bytes that are no UTF-8: read as Latin-1 from here on",
                        data.count(b"\n", 0, max(0, offset)))
        return data.decode(LATIN1).encode(UTF8)
