"""Arrow IPC files (Feather v2), Arrow IPC streams and Feather v1 files
(pyarrow). An IPC file's batches are read one at a time as they are sent,
never all at once: read, not mapped, as the pages of a map the rows were
read from would stay the process's memory until the file is closed.

This module imports no Qt: the producer process uses it.
"""

from .arrowtable import arrow_table
from .columnar import RecordingError, Skipped, send_recording
from . import need


def file_rows(path: str) -> tuple[int, int]:
    """(rows, columns) of an Arrow IPC file, from its footer and its batches'
    headers, through a map: no batch's values are read."""
    pa = need("pyarrow")
    with pa.memory_map(path) as source:
        stored = pa.ipc.open_file(source)
        rows = sum(stored.get_batch(i).num_rows for i in range(stored.num_record_batches))
        return rows, len(stored.schema)


def read(recording) -> str | None:
    pa = need("pyarrow")
    with open(recording.path, "rb") as file:
        magic = file.read(6)
    if magic[:4] == b"FEA1":
        return _read_feather_v1(recording, pa)
    with pa.OSFile(recording.path) as source:
        try:
            if magic == b"ARROW1":
                stored = pa.ipc.open_file(source)
                rows, _ = file_rows(recording.path)
                batches = (lambda _: (stored.get_batch(i) for i in range(stored.num_record_batches)))
            else:
                stored = pa.ipc.open_stream(source)
                whole = stored.read_all()  # a stream tells its length only at its end
                rows, batches = whole.num_rows, lambda _: whole.to_batches()
        except pa.ArrowException as error:
            raise RecordingError(f"no Arrow IPC file, or a truncated one: {error}") from None
        skipped = Skipped()
        return send_recording(recording, arrow_table(stored.schema, rows, batches, skipped), skipped)


def _read_feather_v1(recording, pa) -> str | None:
    feather = need("pyarrow.feather", "pyarrow")
    try:
        whole = feather.read_table(recording.path, memory_map=True)
    except pa.ArrowException as error:
        raise RecordingError(f"no Feather file, or a truncated one: {error}") from None
    skipped = Skipped()
    table = arrow_table(whole.schema, whole.num_rows, lambda _: whole.to_batches(), skipped)
    return send_recording(recording, table, skipped)
