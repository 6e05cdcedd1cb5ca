"""A stand-in for the objects Vandrel hands commands to: every data set and
toolbar operation it may call goes through `note`, which each test module
defines for what it wants to see."""


class Recorder:
    def __init__(self, name, log):
        self.name, self.log = name, log

    def note(self, operation, *data):
        self.log.append((self.name, operation, *data))

    def set_column_names(self, names):
        self.note("set_column_names", names)

    def append(self, data):
        self.note("append", data)

    def roll(self):
        self.note("roll")

    def refresh_comb(self):
        self.note("refresh_comb")

    def set_point_text(self, text):
        self.note("set_point_text", text)

    def set_trace_text(self, text):
        self.note("set_trace_text", text)
