"""The command dispatcher written in plain Python: the reference that the
differential tests and the benchmark hold the native module against."""

import warnings
from multiprocessing import Queue

from tarvinel.stelvane.dataset import Dataset
from tarvinel.stelvane.toolbar import ToolBar


class Vandrel:
    def __init__(self, queue: Queue, toolbar: ToolBar, point_dataset: Dataset, trace_dataset: Dataset):
        self.toolbar = toolbar
        self.queue = queue
        self.point_dataset = point_dataset
        self.trace_dataset = trace_dataset

    def flush(self):
        while not self.queue.empty():
            words = self.queue.get()
            try:
                assert isinstance(words, tuple), "QueueHandler - fifo Content must be tuple"
                assert len(words) == 2, 'QueueHandler -the tuple must be like ("command_type" , "DATA")'
                cmd, data = words
                assert isinstance(cmd, str), "QueueHandler - the command should be a string"
            except AssertionError as e:
                warnings.warn(e.args[0])
                continue
            self.handle(cmd, data)

    def handle(self, cmd, data):
        if cmd == "PN":
            self.point_dataset.set_column_names(data)
            self.toolbar.refresh_comb()
        elif cmd == "TN":
            self.trace_dataset.set_column_names(data)
            self.toolbar.refresh_comb()
        elif cmd == "PD":
            self.point_dataset.append(data)
        elif cmd == "TD":
            self.trace_dataset.append(data)
        elif cmd == "ROLL":
            self.point_dataset.roll()
        elif cmd == "PXY":
            self.toolbar.set_point_text(data)
        elif cmd == "TXY":
            self.toolbar.set_trace_text(data)
        else:
            warnings.warn("QueueHandler - unknown command : " + format(cmd, ""))
