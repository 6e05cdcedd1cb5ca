"""A saved text file read back as the application's text format defines
it, independently of the application's own reader."""

import numpy as np


def read_table(path, runs=None):
    """The file as the application's text format defines it: comment lines
    start with #, the first other line names the columns, numbers in Python's
    notation, an empty field is NaN, an empty line ends a run. Returns
    (names, columns); the rows of each run are counted into `runs` (a list)."""
    lines = [line for line in open(path, encoding="utf-8").read().splitlines()
             if not line.lstrip().startswith("#")]
    counted = [0]
    for line in lines[1:]:
        if line.strip():
            counted[-1] += 1
        elif counted[-1]:
            counted.append(0)
    if runs is not None:
        runs += [n for n in counted if n]
    lines = [line for line in lines if line.strip()]
    names = lines[0].split(",")

    def number(text):
        text = text.strip()
        if not text:
            return float("nan")
        return complex(text) if text.endswith("j") else float(text)

    rows = [[number(field) for field in line.split(",")] for line in lines[1:]]
    assert all(len(row) == len(names) for row in rows)
    columns = [np.array([row[j] for row in rows]) for j in range(len(names))]
    return names, columns
