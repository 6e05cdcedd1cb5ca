"""Recordings in their own formats, written by each format's own library
(pyarrow, h5py, scipy.io, numpy, wave, fitsio, gzip, bz2, lzma, zstandard)
and read back through the real file source, as `stelvane FILE` reads them:
the names, the rows, the values, and one clear problem for what is not read."""

import bz2
import gzip
import json
import lzma
from multiprocessing import Pipe
import queue
import resource
import sys
import wave

import numpy as np
import pytest

from tarvinel.stelvane.sources.feed import Feed
from tarvinel.stelvane.formats import ReadOptions
from tarvinel.stelvane.formats.recordings import columnar
from tarvinel.stelvane.protocol import PD, PN, TEXT, TIME, TextRows
from tarvinel.stelvane.sources.file import FileSource
from tarvinel.stelvane.sources.filecache import LargeFiles

from tests.support.running import run_main, summary_in

pa = pytest.importorskip("pyarrow")
pq = pytest.importorskip("pyarrow.parquet")
feather_files = pytest.importorskip("pyarrow.feather")
h5py = pytest.importorskip("h5py")
scipy_io = pytest.importorskip("scipy.io")
fitsio = pytest.importorskip("fitsio")
zstandard = pytest.importorskip("zstandard")

ROWS = 50
T = np.arange(ROWS, dtype=np.float64) * 0.5
V = np.sin(T)


class Status:
    def __init__(self):
        self.problems, self.infos = [], []

    def problem(self, text):
        self.problems.append(text)

    listening = False  # no window: the file source waits for none to take its rows

    def info(self, text):
        self.infos.append(text)

    def tick(self):
        pass


class Read:
    """A file read by FileSource in this process: what reached the feed."""

    def __init__(self, path, follow=False, reading=ReadOptions(), large=LargeFiles()):
        commands, (stop, window) = queue.Queue(), Pipe(False)  # the window stays open
        self.status = Status()
        self.ended = FileSource(str(path), follow, reading, large).run(Feed(commands), self.status,
                                                                        stop)
        window.close()
        self.items = []
        while not commands.empty():
            self.items.append(commands.get())

    @property
    def problems(self):
        return self.status.problems

    @property
    def columns(self):
        names = [data for word, data in self.items if word == PN]
        return names[-1] if names else None

    @property
    def rows(self):
        blocks = [data.block if isinstance(data, TextRows) else np.atleast_2d(data)
                  for word, data in self.items if word == PD]
        return np.vstack(blocks) if blocks else np.empty((0, 0))

    def column(self, name):
        return self.rows[:, list(self.columns).index(name)]


# --- writers: one file of each format, and the names it reads as -----------------------


def parquet(path):
    pq.write_table(pa.table({"t": T, "v": V, "n": pa.array(np.arange(ROWS), pa.int32())}), path)
    return ["t", "v", "n"], []


def feather(path):
    table = pa.table({"t": T, "v": V, "tags": pa.array([[1]] * ROWS)})
    feather_files.write_feather(table, path)
    return ["t", "v"], ["tags (of type list<item: int64>)"]


def arrow_stream(path):
    table = pa.table({"t": T, "v": V})
    with pa.OSFile(str(path), "wb") as sink, pa.ipc.new_stream(sink, table.schema) as writer:
        for batch in table.to_batches(max_chunksize=7):
            writer.write_batch(batch)
    return ["t", "v"], []


def hdf5_records(path):
    records = np.zeros(ROWS, [("t", "f8"), ("v", "f4"), ("n", "i2")])
    records["t"], records["v"], records["n"] = T, V, np.arange(ROWS)
    with h5py.File(path, "w") as stored:
        stored["run/table"] = records
        stored["run/notes"] = np.arange(3)
    return ["t", "v", "n"], ["run/notes (beside the table of records, 1-D 3)"]


def hdf5_columns(path):
    """netCDF-4 as h5py writes it: a coordinate (a dimension scale) and a
    variable along it, an image and a single value beside them."""
    with h5py.File(path, "w") as stored:
        stored["v"] = V
        stored["t"] = T
        stored["t"].make_scale("t")
        stored["v"].dims[0].attach_scale(stored["t"])
        stored["v"].attrs["units"] = "V"
        stored["image"] = np.zeros((16, 16))
        stored["gain"] = 2.0
    return ["t", "v"], ["gain (a single value)", "image (2-D 16×16)"]


def matlab_73(path):
    """MATLAB v7.3: HDF5 after a 512-byte header, matrices kept transposed."""
    with h5py.File(path, "w", userblock_size=512) as stored:
        stored["data"] = np.vstack([T, V])  # MATLAB's 50×2 matrix
        stored["data"].attrs["MATLAB_class"] = np.bytes_("double")
        stored["label"] = np.frombuffer(b"a\0b\0", "<u2")
        stored["label"].attrs["MATLAB_class"] = np.bytes_("char")
    with open(path, "r+b") as file:
        file.write(b"MATLAB 7.3 MAT-file, written by a test".ljust(116) + b"\0" * 8 + b"\x00\x02IM")
    return ["data[0]", "data[1]"], ["label (a MATLAB char)"]


def matlab_5(path):
    scipy_io.savemat(path, {"t": T.reshape(-1, 1), "s": {"v": V}, "fs": 2.0, "name": "run 1"})
    return ["t", "s.v"], ["fs (a single value)", "name (MATLAB text)"]


def netcdf_3(path):
    with scipy_io.netcdf_file(path, "w") as stored:
        stored.createDimension("time", ROWS)
        v = stored.createVariable("v", "f8", ("time",))
        t = stored.createVariable("time", "f8", ("time",))
        t.units = b"seconds since 2026-01-01 00:00:00"
        t[:], v[:] = T, V
    return ["time", "v"], []


def npy(path):
    np.save(path, np.column_stack([T, V]))
    return ["rec[0]", "rec[1]"], []


def npz(path):
    np.savez(path, t=T, v=V, frame=np.zeros((4, 4)), meta=np.array([{"a": 1}], dtype=object))
    return ["t", "v"], ["frame (2-D 4×4)", "meta (Python objects (pickled), not loaded)"]


def wav(path):
    with wave.open(str(path), "wb") as stored:
        stored.setnchannels(2)
        stored.setsampwidth(2)
        stored.setframerate(2)  # a row every 0.5 s, as T
        stored.writeframes(np.column_stack([V * 16384, -V * 16384]).astype("<i2").tobytes())
    return ["time", "ch1", "ch2"], []


def fits(path):
    records = np.zeros(ROWS, [("t", "f8"), ("v", "f8"), ("ok", "?")])
    records["t"], records["v"], records["ok"] = T, V, True
    with fitsio.FITS(str(path), "rw", clobber=True) as stored:
        stored.write(np.zeros((3, 3), "f4"))
        stored.write(records, units=["s", "V", ""], extname="RUN")
    return ["t", "v", "ok"], ["HDU 0 (primary, 2-D 3×3)"]


def json_array(path):
    path.write_text(json.dumps([{"t": t, "v": v, "when": "2026-01-01T00:00:00Z"}
                                for t, v in zip(T.tolist(), V.tolist())], indent=1))
    return ["t", "v", "when"], []


WRITERS = {"rec.parquet": parquet, "rec.feather": feather, "rec.arrows": arrow_stream,
           "rec.h5": hdf5_records, "rec.nc": hdf5_columns, "rec73.mat": matlab_73,
           "rec5.mat": matlab_5, "rec3.nc": netcdf_3, "rec.npy": npy, "rec.npz": npz,
           "rec.wav": wav, "rec.fits": fits, "rec.json": json_array}


def written(tmp_path, name):
    path = tmp_path / name
    names, skipped = WRITERS[name](path)
    return path, names, skipped


@pytest.mark.parametrize("name", WRITERS)
def test_each_format_opens_with_its_names_rows_and_values(tmp_path, name):
    path, names, skipped = written(tmp_path, name)
    read = Read(path, follow=True)  # a recording is read whole, and not followed
    assert list(read.columns) == names
    assert read.ended.startswith(f"end of file: {ROWS} rows of {len(names)} columns")
    assert read.rows.shape == (ROWS, len(names))
    x, y = read.rows[:, 0], read.rows[:, 1]
    if name == "rec3.nc":  # seconds since 2026-01-01
        assert np.allclose(x, 1767225600 + T) and read.columns.kinds[0] == TIME
    else:
        assert np.allclose(x, T)
    scale = 0.5 if name == "rec.wav" else 1.0  # full scale is 1
    assert np.allclose(y, V * scale, atol=1e-4)
    if skipped:
        assert read.problems == [f"{name}: not read, no table column: " + ", ".join(skipped)]
    else:
        assert read.problems == []


def test_units_times_and_words_keep_their_kinds(tmp_path):
    fits_file, _, _ = written(tmp_path, "rec.fits")
    assert Read(fits_file).columns.units == ("s", "V", "")
    table = pa.table({"when": pa.array(np.arange(3) * 10**9, pa.timestamp("ns", tz="UTC")),
                      "site": ["a", None, "b"], "on": [True, None, False]})
    pq.write_table(table, tmp_path / "mixed.parquet")
    read = Read(tmp_path / "mixed.parquet")
    assert read.columns.kinds == (TIME, TEXT, "number")
    assert np.allclose(read.column("when"), [0, 1, 2])
    assert np.array_equal(read.column("site"), [0, np.nan, 1], equal_nan=True)
    assert np.array_equal(read.column("on"), [1, np.nan, 0], equal_nan=True)


def test_a_long_recording_goes_in_blocks_and_its_words_carry_on(tmp_path, monkeypatch):
    monkeypatch.setattr(columnar, "BLOCK_BYTES", 16 * 10)  # ten rows of two columns a block
    words = [f"w{i // 7}" for i in range(ROWS)]  # a new word every 7 rows
    t = np.where(np.arange(ROWS) == 13, np.nan, T)  # a value missing in the second block
    # One Arrow batch, sent as slices of it.
    feather_files.write_feather(pa.table({"t": pa.array(t, from_pandas=True), "word": words}),
                                tmp_path / "long.arrow", compression="uncompressed")
    read = Read(tmp_path / "long.arrow")
    blocks = [data for word, data in read.items if word == PD]
    assert len(blocks) == 5 and np.allclose(read.column("t"), t, equal_nan=True)
    feather_files.write_feather(pa.table({"t": pa.array([], pa.float64())}), tmp_path / "0.arrow")
    empty = Read(tmp_path / "0.arrow")
    assert empty.problems == [] and empty.rows.size == 0
    assert np.array_equal(read.column("word"), [i // 7 for i in range(ROWS)])
    sent = [w for block in blocks if isinstance(block, TextRows) for w in block.words.get(1, [])]
    assert sent == sorted(set(words), key=words.index)  # each word once, in code order


CODECS = {".gz": gzip.compress, ".bz2": bz2.compress, ".xz": lzma.compress,
          ".zst": lambda data: zstandard.ZstdCompressor().compress(data)}
CSV = "t,v\n" + "".join(f"{t},{v}\n" for t, v in zip(T, V))


@pytest.mark.parametrize("suffix", CODECS)
def test_compressed_text_reads_as_the_text_itself(tmp_path, suffix):
    path = tmp_path / f"rec.csv{suffix}"
    half = len(CSV) // 2  # two members or frames, one after the other, read as one text
    path.write_bytes(CODECS[suffix](CSV[:half].encode()) + CODECS[suffix](CSV[half:].encode()))
    read = Read(path)
    assert read.columns == ["t", "v"] and read.problems == []
    assert np.allclose(read.column("t"), T) and np.allclose(read.column("v"), V)


def test_a_compressed_json_array_goes_to_its_own_reader(tmp_path):
    json_array(tmp_path / "rec.json")
    (tmp_path / "rec.json.gz").write_bytes(gzip.compress((tmp_path / "rec.json").read_bytes()))
    read = Read(tmp_path / "rec.json.gz")
    assert read.columns == ["t", "v", "when"] and read.problems == []
    assert read.ended == f"end of file: {ROWS} rows of 3 columns, JSON array (gzip)"
    assert np.allclose(read.column("v"), V)


# --- what is not read, said once -------------------------------------------------------


def corrupted(path):
    """The file cut short (or a Touchstone-free text file's body spoiled)."""
    data = path.read_bytes()
    if path.suffix == ".json":
        path.write_bytes(data[:len(data) // 2])
    elif path.suffix == ".fits":
        path.write_bytes(data[:2880 + 1000])  # the primary header and part of its image
    elif path.suffix == ".wav":
        path.write_bytes(data[:44 + 40])      # the header and ten frames
    elif path.suffix == ".mat" and data.startswith(b"MATLAB 5"):
        path.write_bytes(data[:200])
    else:
        path.write_bytes(data[:len(data) // 3])


@pytest.mark.parametrize("name", [*WRITERS, "rec.csv.gz", "rec.csv.xz"])
def test_a_cut_short_file_of_each_format_gives_one_clear_problem(tmp_path, name):
    if name.startswith("rec.csv"):
        path = tmp_path / name
        path.write_bytes(CODECS[path.suffix](CSV.encode()))
    else:
        path, _, _ = written(tmp_path, name)
    corrupted(path)
    read = Read(path)  # never raises
    assert len(read.problems) == 1, read.problems
    [problem] = read.problems
    assert problem.startswith(f"{name}: ") and "Traceback" not in problem
    assert any(word in problem for word in ("cut short", "truncated", "cannot be read", "no "))
    if name == "rec.wav":  # read as far as it goes, and said
        assert len(read.rows) == 10 and "ends after 10 of the 50 frames" in problem


def test_damage_in_the_middle_keeps_the_rows_before_it_and_says_so(tmp_path, monkeypatch):
    monkeypatch.setattr(columnar, "BLOCK_BYTES", 16 * 10)  # ten rows a block, as stored
    path = tmp_path / "groups.parquet"
    pq.write_table(pa.table({"t": T, "v": V}), path, row_group_size=10)
    page = pq.ParquetFile(path).metadata.row_group(3).column(0)
    data = bytearray(path.read_bytes())
    at = page.dictionary_page_offset or page.data_page_offset
    data[at:at + 12] = b"\xff" * 12  # the fourth group's first page header
    path.write_bytes(bytes(data))
    cache = tmp_path / "cache"  # longer than --max-rows: read through the cache, not kept there
    for large in (LargeFiles(), LargeFiles(max_rows=20, cache_dir=str(cache))):
        read = Read(path, large=large)
        assert np.allclose(read.column("t"), T[:30])
        [problem] = read.problems
        assert problem.startswith("groups.parquet: cannot be read as Parquet, damaged or cut short: ")
        assert problem.endswith(" (the 30 rows before it are kept)") and problem.isprintable()
    assert read.ended == problem and not list(cache.iterdir())


def test_damaged_bytes_never_raise_out_of_a_reader(tmp_path):
    rng = np.random.default_rng(1)
    for name in WRITERS:
        path, _, _ = written(tmp_path, name)
        whole = path.read_bytes()
        for _ in range(4):
            damaged = bytearray(whole)
            for at in rng.integers(0, len(whole), rng.integers(1, 8)):
                damaged[at] = rng.integers(0, 256)
            path.write_bytes(bytes(damaged))
            read = Read(path)  # raises nothing
            assert read.ended and all(p.startswith(name) for p in read.problems)


def test_a_reader_that_crashes_on_a_file_is_one_problem(tmp_path, monkeypatch):
    from tarvinel.stelvane.formats.recordings import scipyio
    path, _, _ = written(tmp_path, "rec5.mat")
    monkeypatch.setattr(scipyio, "_LOAD_MATLAB",  # as scipy's reader does on some damaged files
                        "import os, signal; signal.signal(signal.SIGSEGV, signal.SIG_DFL); "
                        "os.kill(os.getpid(), signal.SIGSEGV)")
    monkeypatch.chdir(tmp_path)  # where a core file would be left, were cores allowed
    soft, hard = resource.getrlimit(resource.RLIMIT_CORE)
    resource.setrlimit(resource.RLIMIT_CORE, (hard, hard))
    try:
        read = Read(path)
    finally:
        resource.setrlimit(resource.RLIMIT_CORE, (soft, hard))
    assert read.problems == ["rec5.mat: damaged: the MATLAB reader crashed on it (SIGSEGV)"]
    assert read.ended == read.problems[0] and read.columns is None
    assert not list(tmp_path.glob("core*"))


def test_a_binary_file_no_reader_knows_says_so(tmp_path):
    rng = np.random.default_rng(5)
    cases = {"noise.csv": rng.bytes(3000),                      # whatever its name says
             "archive.zip": b"PK\x03\x04" + rng.bytes(500),     # a ZIP of no arrays
             "sweep.s2p": rng.bytes(2000),                      # a text format's name
             "image.dat": b"\x89PNG\r\n\x1a\n" + rng.bytes(500),
             "packed.gz": gzip.compress(np.arange(100.0).tobytes())}
    for name, data in cases.items():
        (tmp_path / name).write_bytes(data)
        read = Read(tmp_path / name)
        kind = " (gzip-compressed)" if name == "packed.gz" else ""
        assert read.problems == [f"{name}: binary file: no reader for it{kind}"]
        assert read.ended == read.problems[0] and read.columns is None
    written(tmp_path, "rec.npy")
    (tmp_path / "rec.npy.xz").write_bytes(lzma.compress((tmp_path / "rec.npy").read_bytes()))
    assert Read(tmp_path / "rec.npy.xz").problems == [
        "rec.npy.xz: a NumPy file inside: decompress it first (xz-compressed)"]


def test_the_bytes_decide_before_the_name(tmp_path):
    pq.write_table(pa.table({"t": T}), tmp_path / "looks.csv")
    assert Read(tmp_path / "looks.csv").ended.endswith("(Parquet)")
    (tmp_path / "named.parquet").write_text("t,v\n1,2\n")  # text under a binary format's name
    read = Read(tmp_path / "named.parquet")
    assert read.columns == ["t", "v"] and read.ended == "end of file"


def test_a_missing_library_names_the_extra(tmp_path, monkeypatch):
    written(tmp_path, "rec.parquet")
    monkeypatch.setitem(sys.modules, "pyarrow.parquet", None)  # import fails as if not installed
    read = Read(tmp_path / "rec.parquet")
    assert read.problems == ["rec.parquet: reading Parquet needs pyarrow: "
                             "pip install 'tarvinel-stelvane[recordings]'"]


def test_python_objects_in_a_npy_are_not_unpickled(tmp_path):
    np.save(tmp_path / "objects.npy", np.array([{"a": 1}], dtype=object), allow_pickle=True)
    read = Read(tmp_path / "objects.npy")
    assert read.columns is None and len(read.problems) == 1
    assert "Python objects (pickled), which are not read" in read.problems[0]


def test_the_app_shows_a_recording_and_its_summary(tmp_path, qapp, capsys):
    path, _, _ = written(tmp_path, "rec.h5")
    code, out, err = run_main(capsys, path, "--until-end", "--seconds", "30", "--summary")
    assert code == 0 and "Traceback" not in err, err
    summary = summary_in(out)
    assert summary["points"] == ROWS and summary["point_columns"] == ["t", "v", "n"]
    assert summary["pairs"] == [["t", "v"], ["t", "n"]] and summary["ended"]
    assert summary["problem_texts"] == ["rec.h5: not read, no table column: "
                                        "run/notes (beside the table of records, 1-D 3)"]
    assert [s["count"] for s in summary["stats"]] == [ROWS, ROWS]
