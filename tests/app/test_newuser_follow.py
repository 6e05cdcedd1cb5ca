"""A followed file as the README describes it: deleted, it ends the source;
deleted and written anew within the grace time, it is followed on."""


from tarvinel.stelvane.sources.file import DELETE_GRACE

WAIT = 20_000  # ms: the producer is a fresh interpreter that loads numpy first


def test_a_file_written_anew_within_the_grace_time_is_followed_on_and_a_deleted_one_ends(
        qtbot, open_app, tmp_path):
    path = tmp_path / "log.csv"
    path.write_text("t,v\n0,1\n1,2\n")
    window = open_app(str(path))
    qtbot.waitUntil(lambda: window.summary()["points"] == 2, timeout=WAIT)
    path.unlink()
    qtbot.wait(int(DELETE_GRACE * 1000 / 5))  # well within the grace time
    path.write_text("t,w\n5,6\n6,7\n7,8\n")
    qtbot.waitUntil(lambda: window.point_dataset.column_names == ["t", "w"], timeout=WAIT)
    qtbot.waitUntil(lambda: len(window.point_dataset) == 3, timeout=WAIT)
    assert not window.summary()["ended"] and window.summary()["runs"] == 2  # a new run
    path.unlink()  # and not written again: the source ends
    qtbot.waitUntil(lambda: window.summary()["ended"], timeout=WAIT)
    assert window.status_bar.currentMessage() == "source ended: the file was deleted"
