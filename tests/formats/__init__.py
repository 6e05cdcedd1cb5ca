"""Tests of the formats: bytes and lines of a stream read into the queue's
commands, tables sniffed and parsed, values written as a user reads them."""
