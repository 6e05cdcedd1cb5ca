"""The problem log behind the problems box and the status bar: repeats
counted, the newest kept, the first and the last shown."""

from tarvinel.stelvane.window.problems import ProblemLog


def test_problem_log_counts_repeats_and_keeps_the_newest():
    log = ProblemLog(kept=3)
    assert (log.count, log.text, log.tool_tip) == (0, "", "")
    for message in ["a", "b", "b", "b", "c", "d", "a"]:
        log.add(message)
    assert log.count == 7
    assert list(log.entries) == [("c", 1), ("d", 1), ("a", 1)]  # "a" again after others: new entry
    log.add("a")
    assert log.text == "a (×2)" and log.tool_tip == "c\nd\na (×2)"


def test_problem_texts_are_the_first_and_the_last_as_shown():
    log = ProblemLog(kept=3)
    for message in ["a", "b", "b"]:
        log.add(message)
    assert log.texts() == ["a", "b (×2)"]  # fewer than first and last together: each once
    for message in "cdefg":
        log.add(message)
    # The first ones outlive the log's own bound.
    assert log.texts() == ["a", "b (×2)", "c", "e", "f", "g"]
    assert log.texts(first=1, last=1) == ["a", "g"]
