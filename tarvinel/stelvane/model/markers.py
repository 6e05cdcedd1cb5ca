"""The window's text markers: a place on an X with a text, dropped by the
user (the M key) or read from a file (formats/markers.py). Each belongs to
the X it was placed on, by that axis' name: every plot showing that X
draws it."""

from ..formats.markers import MOST_MARKERS, Marker, marker_line


class MarkerList:
    """The markers in the order they came (the newest MOST_MARKERS: the
    oldest go first); `version` grows with each change."""

    def __init__(self):
        self.items: list[Marker] = []
        self.version = 0

    def __len__(self) -> int:
        return len(self.items)

    def add(self, marker: Marker) -> bool:
        """Adds `marker`, unless the same one is there already (a file read
        anew brings its markers again); true if added."""
        if marker in self.items:
            return False
        self.items.append(marker)
        del self.items[:-MOST_MARKERS]
        self.version += 1
        return True

    def remove(self, index: int) -> None:
        if 0 <= index < len(self.items):
            del self.items[index]
            self.version += 1

    def on(self, x_name: str) -> list[Marker]:
        """The markers of the X named `x_name`."""
        return [marker for marker in self.items if marker.x_name == x_name]

    def lines(self) -> list[str]:
        """The directive lines of a data file, one per marker."""
        return [marker_line(marker) for marker in self.items]

    def summary(self) -> list[dict]:
        return [{"x_name": m.x_name, "x": m.x, "text": m.text} for m in self.items]
