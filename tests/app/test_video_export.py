"""`stelvane FILE --replay SPEED --export-video PATH`: the replay rendered to
a video, checked with the encoder library's own reader; and `--at X`: the
replay saved at an instant."""

import json
import os
from pathlib import Path
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

from tarvinel.stelvane import app, options
from tarvinel.stelvane.window import videoexport

imageio_ffmpeg = pytest.importorskip("imageio_ffmpeg")

REPO_ROOT = Path(__file__).resolve().parents[2]
SECONDS, STEP = 2.0, 0.1  # the recording: two seconds of X, ten rows a second
ROWS = round(SECONDS / STEP) + 1


@pytest.fixture(scope="module")
def recording(tmp_path_factory):
    path = tmp_path_factory.mktemp("recording") / "recorded.csv"
    path.write_text("t,v\n" + "".join(f"{i * STEP:.1f},{(i * 7) % 13}\n" for i in range(ROWS)))
    return path


def run_command(*args, cwd):
    env = dict(os.environ, PYTHONPATH=str(REPO_ROOT))
    return subprocess.run([sys.executable, "-m", "tarvinel.stelvane", *map(str, args)],
                          cwd=cwd, env=env, capture_output=True, text=True, timeout=120)


# The window's own size, and one smaller than the window can be (scaled to it).
@pytest.mark.parametrize("name, speed, fps, size, frames", [
    ("replay.mp4", 2, 10, (320, 200), 10), ("replay.gif", 4, 10, (320, 200), 5),
    ("replay.mp4", 4, 5, None, 3)])  # half a second at 5 frames/s: the last frame is the end
def test_the_video_lasts_the_replay_at_its_speed(qapp, recording, tmp_path, capsys, name, speed,
                                                 fps, size, frames):
    video = tmp_path / "out" / name
    sized = ["--video-size", "{}x{}".format(*size)] if size else []
    command = [recording, "--replay", speed, "--export-video", video, "--video-fps", fps, *sized,
               "--summary", "--fresh"]
    if size:  # a size given: made in this process, whatever its screen
        assert app.main(list(map(str, command))) == 0
        out = capsys.readouterr().out
    else:  # the window's own: a process of its own, off screen, which no screen makes smaller
        done = run_command(*command, cwd=tmp_path)
        assert done.returncode == 0, done.stderr
        out = done.stdout
    said = next(line for line in out.splitlines() if line.startswith("video: "))
    assert said.startswith(f"video: {video} ({frames} frames, {frames / fps:g} s, ")
    assert imageio_ffmpeg.count_frames_and_secs(str(video)) == (frames, frames / fps)
    reader = imageio_ffmpeg.read_frames(str(video))
    width, height = next(reader)["size"]
    assert said.endswith(f", {width}x{height})")
    if size:
        assert (width, height) == size
    else:  # the window's size (1200x760 or what its toolbar needs), even for an MP4
        assert width >= 1200 and height >= 760 and width % 2 == height % 2 == 0
    pictures = [np.frombuffer(frame, np.uint8).reshape(height, width, 3) for frame in reader]
    assert len(pictures) == frames
    # The curve grows from frame to frame; the replay ended at the last one.
    assert np.abs(pictures[0].astype(int) - pictures[-1]).mean() > 0.5
    replay = json.loads(out.splitlines()[-1])["replay"]
    assert replay["ended"] and replay["position"] == ROWS
    assert sorted(p.name for p in video.parent.iterdir()) == [name]  # no partial file left


@pytest.mark.parametrize("args, complaint", [
    (["FILE", "--export-video", "v.mp4"], "--export-video renders a replay: give --replay SPEED"),
    (["FILE", "--replay", "max", "--export-video", "v.mp4"], "give --replay SPEED (a number)"),
    (["FILE", "--replay", "--export-video", "v.avi"], "could not save v.avi: name it .mp4 or .gif"),
    (["FILE", "--replay", "--export-video", "v.mp4", "--video-size", "321x200"],
     "v.mp4: an MP4 video's width and height are even, not 321x200"),
    (["FILE", "--replay", "--export-video", "v.gif", "--video-size", "big"],
     "WIDTHxHEIGHT in pixels, each from 1 to 7680 (e.g. 1280x720), not 'big'"),
    (["FILE", "--replay", "--export-video", "v.gif", "--video-size", "100000x100"],
     "not '100000x100'"),
    (["FILE", "--replay", "--export-video", "v.gif", "--seconds", "3"],
     "--export-video ends with the replay: leave out --seconds"),
])
def test_bad_video_requests_are_refused_before_anything_starts(capsys, args, complaint):
    with pytest.raises(SystemExit) as leaving:
        options.parse_args(args)
    assert leaving.value.code == 2
    assert complaint in capsys.readouterr().err


def test_without_the_encoder_the_message_names_the_extra(capsys, monkeypatch):
    monkeypatch.setitem(sys.modules, "imageio_ffmpeg", None)  # import fails
    with pytest.raises(SystemExit):
        options.parse_args(["FILE", "--replay", "--export-video", "v.mp4"])
    assert "needs the [video] extra: pip install 'tarvinel-stelvane[video]'" in \
        capsys.readouterr().err


def test_a_video_that_cannot_be_written_fails_the_run(qapp, recording, tmp_path, capsys):
    blocker = tmp_path / "file"
    blocker.write_text("")
    code = app.main([str(recording), "--replay", "4", "--export-video",
                     str(blocker / "v.mp4"), "--video-size", "320x200", "--fresh"])
    assert code == 1
    assert f"video failed: could not write {blocker / 'v.mp4'}" in capsys.readouterr().err


def test_a_source_that_stops_before_the_end_of_the_file_fails_the_run(
        qapp, recording, tmp_path, capsys, monkeypatch):
    opened = app.create_app

    def producer_killed(*args, **options):
        application = opened(*args, **options)
        application.producer.process.kill()  # still starting: it reads nothing
        return application

    monkeypatch.setattr(app, "create_app", producer_killed)
    video = tmp_path / "v.mp4"
    code = app.main([str(recording), "--replay", "4", "--export-video", str(video), "--fresh"])
    assert code == 1
    assert "video failed: the file could not be read to its end" in capsys.readouterr().err
    assert list(tmp_path.iterdir()) == []


def test_an_interrupted_recording_leaves_no_file(recording, tmp_path):
    video = tmp_path / "v.mp4"
    env = dict(os.environ, PYTHONPATH=str(REPO_ROOT))
    command = subprocess.Popen(
        [sys.executable, "-m", "tarvinel.stelvane", str(recording), "--replay", "0.05",
         "--export-video", str(video), "--video-size", "320x200", "--fresh"],
        env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    partial = tmp_path / ".v.mp4.partial.mp4"
    deadline = time.monotonic() + 60
    while not partial.exists() and time.monotonic() < deadline and command.poll() is None:
        time.sleep(0.05)
    assert partial.exists()  # the recording is under way: forty seconds of replay
    command.send_signal(signal.SIGINT)
    out, err = command.communicate(timeout=60)
    assert command.returncode == 128 + signal.SIGINT
    assert f"video failed: {video}: stopped before the replay's end" in err
    assert list(tmp_path.iterdir()) == []


def saved_rows(path: Path) -> list[str]:
    return [line for line in path.read_text().splitlines() if not line.startswith("#")]


@pytest.mark.parametrize("at, last_x", [("1.25", "1.2"), ("+0.5s", "0.5"), ("-3", None)])
def test_at_saves_the_replay_at_that_instant(qapp, recording, tmp_path, capsys, at, last_x):
    picture, rows = tmp_path / "at.png", tmp_path / "at.csv"
    code = app.main([str(recording), "--replay", "2", f"--at={at}", "--export-png", str(picture),
                     "--export-csv", str(rows), "--summary", "--fresh"])
    assert code == 0
    replay = json.loads(capsys.readouterr().out.splitlines()[-1])["replay"]
    shown = saved_rows(rows)[1:]
    assert replay["paused"] and replay["position"] == len(shown)
    assert (shown[-1].split(",")[0] if shown else None) == last_x
    assert picture.read_bytes().startswith(b"\x89PNG")


def test_at_needs_an_x_that_rises(qapp, tmp_path, capsys):
    wobbly = tmp_path / "wobbly.csv"
    wobbly.write_text("t,v\n0,1\n2,1\n1,1\n")
    code = app.main([str(wobbly), "--replay", "--at", "1", "--export-csv",
                     str(tmp_path / "at.csv"), "--fresh"])
    assert code == 1
    assert "--at 1: the replay has no X column that rises to seek by" in capsys.readouterr().err
    assert not (tmp_path / "at.csv").exists()


@pytest.mark.parametrize("args, complaint", [
    (["FILE", "--at", "3", "--export-png", "a.png"], "--at saves the replay at an instant"),
    (["FILE", "--replay", "--at", "3"], "give --replay and --export-png or --export-csv"),
    (["FILE", "--replay", "--at", "3", "--export-png", "a.png", "--seconds", "2"],
     "(no --seconds, no --export-video)"),
    (["FILE", "--replay", "--at", "soon", "--export-png", "a.png"],
     "X must be a number (a value of the X column) or +SPAN after the start"),
    (["FILE", "--replay", "--at", "+3 rows", "--export-png", "a.png"], "not '+3 rows'"),
])
def test_bad_instants_are_refused_before_anything_starts(capsys, args, complaint):
    with pytest.raises(SystemExit) as leaving:
        options.parse_args(args)
    assert leaving.value.code == 2
    assert complaint in capsys.readouterr().err


def test_a_fault_while_drawing_a_frame_stops_the_recording(qtbot, recording, tmp_path, capsys,
                                                            monkeypatch):
    def broken(frames):
        raise RuntimeError("no picture")

    monkeypatch.setattr(videoexport.WindowFrames, "next", broken)
    video = tmp_path / "v.mp4"
    with qtbot.capture_exceptions() as raised:  # the fault goes on to be reported, once
        code = app.main([str(recording), "--replay", "4", "--export-video", str(video),
                         "--video-size", "320x200", "--fresh"])
    assert code == 1
    assert [str(error) for _, error, _ in raised] == ["no picture"]
    assert "video failed: a frame could not be made: RuntimeError('no picture')" in \
        capsys.readouterr().err
    assert list(tmp_path.iterdir()) == []
