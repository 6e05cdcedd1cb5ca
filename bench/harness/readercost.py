"""The reader a source makes (formats.make_reader), alone, reading one file
fed in pieces as a pipe delivers them, into a sink that only counts: run in
a process of its own with PYTHONPATH naming the tree to measure.

    python bench/harness/readercost.py FILE [PIECE_BYTES] [REPEATS]

Prints one JSON line: the tree measured, the road taken, rows, the best
seconds of REPEATS reads and rows per second, by the clock and by the
processor time this process spent (steadier on a busy machine).
"""
import json
import sys
import time


class CountingSink:
    """A feed that keeps nothing but the count of rows handed to it."""

    def __init__(self):
        self.rows_seen = 0

    def rows(self, block, words=None):
        self.rows_seen += len(block)

    def __getattr__(self, name):
        return lambda *args, **kwargs: None  # columns, roll, pattern, ...


def read_once(data: bytes, piece: int):
    from tarvinel.stelvane.formats import make_reader

    sink, problems = CountingSink(), []
    reader = make_reader(sink, problems.append, name="bench")
    start, cpu = time.perf_counter(), time.process_time()
    for offset in range(0, len(data), piece):
        reader.take(data[offset:offset + piece])
    reader.finish()
    return (time.perf_counter() - start, time.process_time() - cpu, sink.rows_seen, reader.road,
            len(problems))


def main(argv):
    import tarvinel.stelvane

    path, piece = argv[0], int(argv[1]) if len(argv) > 1 else 65536
    repeats = int(argv[2]) if len(argv) > 2 else 3
    with open(path, "rb") as source:
        data = source.read()
    runs = [read_once(data, piece) for _ in range(repeats)]
    best, _, rows, road, problems = min(runs)
    cpu = min(run[1] for run in runs)
    print(json.dumps({"tree": tarvinel.stelvane.__file__.rsplit("/tarvinel/", 1)[0],
                      "road": road, "rows": rows, "problems": problems, "seconds": best,
                      "rows_per_second": rows / best, "rows_per_cpu_second": rows / cpu}))


if __name__ == "__main__":
    main(sys.argv[1:])
