"""Binary data on standard input is told by its first bytes, as a file's
are: a recording redirected from a file is read as that file; one piped in
is one clear problem, never garbage read as text."""

import gzip
import os

import numpy as np

from tests.support.running import python, stelvane, summary_of


def test_a_recording_on_standard_input_is_read_or_refused_with_one_clear_problem(tmp_path):
    t = np.arange(300.0)
    np.save(tmp_path / "run.npy", np.column_stack([t, np.sin(t / 20)]))
    (tmp_path / "rows.csv.gz").write_bytes(gzip.compress(b"t,v\n1,2\n"))
    with open(tmp_path / "run.npy", "rb") as redirected:  # stelvane - < run.npy
        from_file = stelvane("-", stdin=redirected, seconds=30, until_end=True)
    read_end, write_end = os.pipe()  # cat rows.csv.gz | stelvane -
    piped = stelvane("-", stdin=read_end, seconds=30, until_end=True)
    os.close(read_end)
    writer = python("import sys; sys.stdout.buffer.write(open(sys.argv[1], 'rb').read())",
                    tmp_path / "rows.csv.gz", stdout=write_end)
    os.close(write_end)
    assert writer.wait(30) == 0

    summary = summary_of(from_file)
    assert (summary["points"], summary["problems"]) == (300, 0)
    assert summary["stats"][0]["count"] == 300 and summary["ended"]
    summary = summary_of(piped)
    assert summary["points"] == 0 and summary["point_columns"] == []
    assert summary["problem_texts"] == [
        "binary data on standard input (gzip): save it to a file and open that (stelvane FILE)"]
