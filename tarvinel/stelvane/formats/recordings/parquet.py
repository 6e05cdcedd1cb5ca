"""Parquet files (pyarrow), read in batches of rows as they are stored.

This module imports no Qt: the producer process uses it.
"""

from .arrowtable import arrow_table
from .columnar import RecordingError, Skipped, send_recording
from . import need


def read(recording) -> str | None:
    parquet = need("pyarrow.parquet", "pyarrow")
    with open(recording.path, "rb") as file:
        try:
            # Not pre-buffered: a pre-buffering reader keeps every row group
            # it read until its last batch, as much memory as the file.
            stored = parquet.ParquetFile(file, pre_buffer=False)
        except Exception as error:  # noqa: BLE001 - pyarrow's own errors for a bad footer
            raise RecordingError(f"no Parquet file, or a truncated one: {error}") from None
        skipped = Skipped()
        table = arrow_table(stored.schema_arrow, stored.metadata.num_rows,
                            lambda rows: stored.iter_batches(batch_size=rows), skipped)
        return send_recording(recording, table, skipped)
