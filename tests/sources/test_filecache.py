"""Which files go through the columnar cache and how: a text file longer
than --max-rows converted once (per way of reading it), a short one left
alone, a followed one read on from where its cached rows end."""

from dataclasses import replace

import numpy as np
import pytest

from tarvinel.stelvane.formats import ReadOptions, recordings
from tarvinel.stelvane.sources.file import FirstRead
from tarvinel.stelvane.sources import filecache
from tarvinel.stelvane.sources.filecache import LargeFiles, Progress, cached_recording


class Said:
    """The status pipe's end, keeping what was said."""

    listening = False

    def __init__(self):
        self.infos, self.problems = [], []

    def info(self, text):
        self.infos.append(text)

    def problem(self, text):
        self.problems.append(text)


class Rows:
    """A feed keeping the rows handed to it."""

    def __init__(self):
        self.blocks = []

    def rows(self, block, words=None):
        self.blocks.append(np.asarray(block))

    def __getattr__(self, name):
        return lambda *args, **kwargs: None


@pytest.fixture
def long_file(tmp_path):
    path = tmp_path / "long.csv"
    path.write_text("t,v\n" + "".join(f"{i},{i % 7}\n" for i in range(2000)))
    return path


LARGE = LargeFiles(max_rows=500)


def test_a_file_longer_than_max_rows_is_converted_once_per_way_of_reading(long_file):
    said = Said()
    first = cached_recording(str(long_file), None, ReadOptions(), LARGE, said, None)
    assert first.entry.rows == 2000 and first.reader is None
    np.testing.assert_array_equal(first.entry.column(1), np.arange(2000) % 7)
    assert said.infos[-1] == "long.csv: 2,000 rows in the cache" and not said.problems
    again = cached_recording(str(long_file), None, ReadOptions(), LARGE, said, None)
    assert again.entry.folder == first.entry.folder
    assert said.infos[-1] == "long.csv: 2,000 rows from the cache"
    other = cached_recording(str(long_file), None, replace(ReadOptions(), sep=","), LARGE, said,
                             None)
    assert other.entry.folder != first.entry.folder
    assert cached_recording(str(long_file), None, ReadOptions(), LargeFiles(max_rows=5000), said,
                            None) is None


def test_a_parquet_file_shows_its_first_rows_while_it_is_converted(tmp_path):
    pa = pytest.importorskip("pyarrow")
    parquet = pytest.importorskip("pyarrow.parquet")
    path = tmp_path / "long.parquet"
    parquet.write_table(pa.table({"t": np.arange(2000.0)}), path, row_group_size=300)
    first = FirstRead(str(path), Rows(), Said())  # says nothing: no window listens
    found = recordings.recognise(path.read_bytes()[:recordings.HEAD_BYTES], str(path))
    mapped = cached_recording(str(path), found, ReadOptions(), LARGE, Said(), None, preview=first)
    assert mapped.entry.rows == 2000 and first.previewing
    assert np.concatenate(first.feed.blocks).ravel().tolist() == list(range(500))  # --max-rows


def test_a_followed_file_reads_on_from_where_its_cached_rows_end(long_file):
    for attempt in ("converted", "found"):
        feed = Rows()
        mapped = cached_recording(str(long_file), None, ReadOptions(), LARGE, Said(), None, feed)
        assert mapped.position == long_file.stat().st_size and mapped.reader is not None
        mapped.reader.take(b"2000,1\n2001,2\n")
        assert np.concatenate(feed.blocks).tolist() == [[2000, 1], [2001, 2]], attempt


def test_every_progress_message_gives_the_share_done(monkeypatch):
    monkeypatch.setattr(filecache, "PROGRESS_SECONDS", 0)
    said = Said()
    text = Progress(said, "long.csv", 1000)
    text(250, 10)
    text(None, 20)  # a block of rows, between two reads of bytes
    Progress(said, "long.parquet", 1000, rows=400)(None, 100)  # its footer tells its rows
    assert said.infos == [f"long.{kind}: into the cache, 25%, {rows} rows"
                          for kind, rows in (("csv", 10), ("csv", 20), ("parquet", 100))]


def test_a_conversion_counting_no_bytes_gives_its_share_from_the_header(tmp_path, monkeypatch):
    monkeypatch.setattr(filecache, "PROGRESS_SECONDS", 0)
    path = tmp_path / "long.npy"
    np.save(path, np.arange(4000.0).reshape(2000, 2))
    found = recordings.recognise(path.read_bytes()[:recordings.HEAD_BYTES], str(path))
    said = Said()
    assert cached_recording(str(path), found, ReadOptions(), LARGE, said, None).entry.rows == 2000
    progress = [text for text in said.infos if "into the cache" in text]
    assert progress and all("%," in text for text in progress), said.infos
