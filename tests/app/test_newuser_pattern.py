"""A new user's bad pattern in a real window: the window keeps its own state
whole (plots, labels, ranges, title, statistics of the mode shown), says
what is wrong in one line and goes on drawing."""


from tarvinel.stelvane import qt_compat

QtCore = qt_compat.QtCore
Qt = QtCore.Qt
WAIT = 20_000  # ms: the producer is a fresh interpreter that loads numpy first


def type_pattern(qtbot, field, text):
    field.setFocus()
    qtbot.keyClick(field, Qt.Key.Key_A, Qt.KeyboardModifier.ControlModifier)
    qtbot.keyClicks(field, text)
    qtbot.keyClick(field, Qt.Key.Key_Return)


def click_mode(qtbot, win, name):
    button = win.toolbar.pb if name == "Points" else win.toolbar.tb
    qtbot.mouseClick(button, Qt.MouseButton.LeftButton)


def drawn(win):
    """How many points the live plot's first curve draws, and its axis labels."""
    curve = win.live_plot.plots[0]
    plot = win.live_plot
    return (0 if curve.xData is None else len(curve.xData)), (plot.XLabel.text(), plot.YLabel.text())


def test_a_bad_pattern_then_points_traces_points_keeps_the_points_whole(
        qtbot, open_app, capfd):
    win = open_app()  # the simulated instrument: points and traces
    qtbot.waitUntil(lambda: drawn(win)[0] > 0 and bool(win.trace_dataset.column_names), timeout=WAIT)
    good_pairs = win.selection.pairs
    labels = drawn(win)[1]
    frames = win.live_plot.frames
    type_pattern(qtbot, win.modes["P"].controls.pattern_field, "time,(sine")
    qtbot.wait(100)
    assert win.problems.text.startswith("invalid pattern 'time,(sine'")
    for name in ("Traces", "Points"):
        click_mode(qtbot, win, name)
        qtbot.wait(150)
    assert win.selection.mode == "P" and win.selection.pairs == good_pairs
    qtbot.waitUntil(lambda: drawn(win)[0] > 0, timeout=WAIT)
    assert drawn(win)[1] == labels
    # The live plot's range is the points' time again, not the frequencies; the
    # history names the points' runs.
    qtbot.waitUntil(lambda: win.live_plot.plotItem.vb.viewRange()[0][1] < 1e6, timeout=WAIT)
    qtbot.waitUntil(lambda: "trace" not in win.history_plot.title_text, timeout=WAIT)
    # The frames go on, the table shows the points' columns, one problem line.
    qtbot.waitUntil(lambda: win.live_plot.frames > frames + 5, timeout=WAIT)
    names = [stats.name for _, stats, _ in win.stats.curves(win.plot_presenters[0], wait=True)]
    assert names == [y for _, y in good_pairs]
    assert "Traceback" not in capfd.readouterr().err
    assert win.problems.count == 1
    # A pattern that compiles brings the points' choice back at once.
    type_pattern(qtbot, win.modes["P"].controls.pattern_field, "time,sine")
    qtbot.waitUntil(lambda: win.selection.pairs == [("time", "sine")], timeout=WAIT)
    qtbot.waitUntil(lambda: drawn(win)[1] == ("X:time", "Y:sine"), timeout=WAIT)
    assert win.problems.count == 1


def test_a_file_gets_a_plain_list_and_a_pattern_that_matches_nothing_says_so(
        qtbot, open_app, tmp_path):
    path = tmp_path / "weather.csv"
    path.write_text("date,temp_max,temp_min,weather\n" + "".join(
        f"2024-01-{day:02d},{5 + day},{day - 3},{'sun' if day % 2 else 'rain'}\n"
        for day in range(1, 29)))
    win = open_app(str(path), "--no-follow")
    field = win.modes["P"].controls.pattern_field
    qtbot.waitUntil(lambda: field.text() == "date,(temp_max|temp_min)", timeout=WAIT)
    qtbot.waitUntil(lambda: win.selection.pairs == [("date", "temp_max"), ("date", "temp_min")])
    type_pattern(qtbot, field, "date;temp_max")  # the semicolon where the comma goes
    qtbot.waitUntil(lambda: "no pair matched" in win.status_bar.currentMessage())
    assert "did you mean 'date,temp_max'?" in win.status_bar.currentMessage()
    qtbot.waitUntil(lambda: win.status_bar.pairs_label.text() == "no pair matched", timeout=2000)
    type_pattern(qtbot, field, "date,temp_max")
    qtbot.waitUntil(lambda: win.status_bar.pairs_label.text() == "pairs 1", timeout=2000)
