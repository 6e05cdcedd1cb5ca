"""The text format, reader and writer together: rows of numbers under column
names, comma-, tab- or space-separated, with `#@` directives.

    reader.py   TextReader: the bytes of a stream to the feed's commands
    rows.py     lines to numbers: fields, numbers, blocks of rows as arrays
    writer.py   a table as text that the reader reads back

This package imports no Qt: the producer process reads with it.
"""
