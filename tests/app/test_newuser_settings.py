"""A settings file with a value of megabytes, met as a user starts the
application: the value is ignored and named by its key and length; the
problem texts and stderr stay a few lines."""

import json
import os
from pathlib import Path
import subprocess
import sys

REPO_ROOT = Path(__file__).resolve().parents[2]
HUGE = 2_000_000  # characters: a damaged file's value


def test_an_oversized_settings_value_is_ignored_and_named_by_its_length(settings_home, tmp_path):
    ini = settings_home / "tarvinel" / "stelvane.ini"
    ini.parent.mkdir(parents=True, exist_ok=True)
    ini.write_text("[General]\nformat=1\n[window]\nlive=" + "9" * HUGE + "s\n"
                   "[points]\nfx=" + "x" * HUGE + "\n")
    data = tmp_path / "data.csv"
    data.write_text("t,v\n0,1\n1,2\n")
    env = dict(os.environ, PYTHONPATH=str(REPO_ROOT), XDG_CONFIG_HOME=str(settings_home))
    env.pop("STELVANE_SCREENSHOT", None)
    app = subprocess.run([sys.executable, "-m", "tarvinel.stelvane", str(data), "--no-follow",
                          "--seconds", "1", "--summary"],
                         env=env, capture_output=True, text=True, timeout=60)
    assert app.returncode == 0, app.stderr[:2000]
    assert len(app.stderr) < 2000
    summary = json.loads(app.stdout.strip().splitlines()[-1])
    texts = summary["problem_texts"]
    assert any("window/live ignored (2,000,001 characters" in text for text in texts)
    assert any("points/fx ignored (2,000,000 characters" in text for text in texts)
    assert all(len(text) < 400 for text in texts)


def test_a_long_problem_is_kept_by_its_start_and_its_length():
    from tarvinel.stelvane.window.problems import KEPT_LIMIT, ProblemLog
    log = ProblemLog()
    log.add("bad value " + "z" * 5_000_000)
    assert log.text.startswith("bad value zzz") and log.text.endswith("(5,000,010 characters in all)")
    assert len(log.text) < KEPT_LIMIT + 50
