"""Source mistakes as a new user makes them on the command line: a scheme
typed with a character missing, a file in a folder that does not exist, a
port another program listens on."""

import socket

import pytest


from tests.support.running import WAIT, run_main


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


def test_a_file_in_a_folder_that_exists_is_waited_for(qapp, tmp_path, monkeypatch, capsys):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "logs").mkdir()
    assert run_main(capsys, "logs/today.csv", "--seconds", "1")[0] == 0


def test_a_port_in_use_says_so_and_what_to_do(qtbot, open_app):
    advice = ("port is in use by another program: choose another port, or stop the program "
              "listening there")
    with socket.create_server(("127.0.0.1", 0)) as other:
        window = open_app(f"tcp://127.0.0.1:{other.getsockname()[1]}")
        qtbot.waitUntil(lambda: any(advice in text for text in window.summary()["problem_texts"]),
                        timeout=WAIT)
