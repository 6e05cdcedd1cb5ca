"""Source mistakes as a new user makes them on the command line: a scheme
typed with a character missing, a file in a folder that does not exist, a
port another program listens on."""

import json
import os
from pathlib import Path
import socket
import subprocess
import sys

import pytest

REPO_ROOT = Path(__file__).resolve().parents[2]


def stelvane(*args, cwd):
    env = dict(os.environ, PYTHONPATH=str(REPO_ROOT))
    env.pop("STELVANE_SCREENSHOT", None)
    return subprocess.run([sys.executable, "-m", "tarvinel.stelvane", *args], cwd=cwd, env=env,
                          capture_output=True, text=True, timeout=60)


@pytest.mark.parametrize("source, said", [
    ("mqtt//broker.local/plant/#", "did you mean mqtt://broker.local/plant/#?"),
    ("tcp:/127.0.0.1:5000", "did you mean tcp://127.0.0.1:5000?"),
    ("tcp-client//127.0.0.1:5000", "did you mean tcp-client://127.0.0.1:5000?"),
    ("logs/today.csv", "its folder"),
])
def test_a_mistyped_source_exits_with_2_and_says_what_was_meant(refusal, tmp_path, monkeypatch,
                                                                source, said):
    monkeypatch.chdir(tmp_path)
    last = refusal(source, "--seconds", "5").strip().splitlines()[-1]
    assert said in last and "does not exist" in last


def test_a_file_in_a_folder_that_exists_is_waited_for(tmp_path):
    (tmp_path / "logs").mkdir()
    app = stelvane("logs/today.csv", "--seconds", "1", "--summary", cwd=tmp_path)
    assert app.returncode == 0, app.stderr[-2000:]


def test_a_port_in_use_says_so_and_what_to_do(tmp_path):
    with socket.create_server(("127.0.0.1", 0)) as other:
        port = other.getsockname()[1]
        app = stelvane(f"tcp://127.0.0.1:{port}", "--seconds", "3", "--summary", cwd=tmp_path)
    texts = json.loads(app.stdout.strip().splitlines()[-1])["problem_texts"]
    assert any("port is in use by another program: choose another port, or stop the program "
               "listening there" in text for text in texts), texts
