"""Processes the tests start: the application as a user starts it
(`python -m tarvinel.stelvane`), with --summary for what it showed; child
interpreters running a few lines; and what /proc says of a process (its
children, whether it ended, its processor time)."""

import json
import os
from pathlib import Path
import subprocess
import sys
import textwrap
import time

REPO_ROOT = Path(__file__).resolve().parents[2]
# ms: the producer is a fresh interpreter that loads numpy first, on a busy machine.
WAIT = 20_000
# Processor seconds a waiting producer may take in a second (it wakes a few times a second).
IDLE_CPU = 0.2


def start(*args, env=None, stdin=None, script=None):
    """The application with `args` (started by `script` where given, as an
    installed command is), its output read by the caller."""
    env = dict(os.environ, PYTHONPATH=str(REPO_ROOT), **(env or {}))
    env.pop("STELVANE_SCREENSHOT", None)
    env.pop("STELVANE_RUN_SECONDS", None)
    how = ["-m", "tarvinel.stelvane"] if script is None else [str(script)]
    return subprocess.Popen([sys.executable, *how, *args], env=env, stdin=stdin,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def stelvane(*args, stdin=None, seconds=5, until_end=False):
    """The application with `args` for `seconds` (with `until_end`: until its
    source ended, at most `seconds`), printing its summary at the end."""
    ending = ["--until-end"] if until_end else []
    return start(*args, "--seconds", str(seconds), *ending, "--summary", stdin=stdin)


def summary_of(app):
    out, err = app.communicate(timeout=60)
    assert app.returncode == 0, err
    assert "Traceback" not in err
    return json.loads(out.strip().splitlines()[-1])


def python(code, *args, **kwargs):
    """A child interpreter running `code` (dedented) with `args` as its sys.argv[1:]."""
    return subprocess.Popen([sys.executable, "-c", textwrap.dedent(code), *map(str, args)],
                            **kwargs)


_APPEND = """
    import os, sys
    path, mode, text = sys.argv[1:]
    if mode == "rm":
        os.remove(path)
    else:
        with open(path, mode) as f:
            f.write(text)
    """


def write(path, mode, text):
    """Writes `text` to the file from another process (`mode` "w" or "a"), or
    removes it (`mode` "rm")."""
    assert python(_APPEND, path, mode, text).wait(30) == 0


def children(pid):
    try:
        return {int(c) for c in Path(f"/proc/{pid}/task/{pid}/children").read_text().split()}
    except FileNotFoundError:
        return set()


def is_producer(pid):
    try:
        return b"spawn_main" in Path(f"/proc/{pid}/cmdline").read_bytes()
    except FileNotFoundError:
        return False


def gone(pid):
    try:
        stat = Path(f"/proc/{pid}/stat").read_text()
    except FileNotFoundError:
        return True
    return stat.rsplit(")", 1)[1].split()[0] == "Z"  # a zombie has ended


def wait_gone(pids, seconds=5):
    end = time.monotonic() + seconds
    while time.monotonic() < end and not all(gone(pid) for pid in pids):
        time.sleep(0.05)
    return [pid for pid in pids if not gone(pid)]


def cpu_seconds(pid: int) -> float:
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def run_main(capsys, *args, stdin=None):
    """`stelvane ARGS` run by the application's main() in this process: its
    window, event loop, exports and exit status, without the start of a new
    interpreter and Qt. `stdin`, a descriptor, stands as standard input
    meanwhile. Returns (exit status, stdout, stderr). The signal handlers
    main() sets and standard input are put back afterwards."""
    import signal

    from tarvinel.stelvane import app

    handlers = {signum: signal.getsignal(signum) for signum in app.SHUTDOWN_SIGNALS}
    saved_stdin = os.dup(0)
    capsys.readouterr()
    try:
        if stdin is not None:
            os.dup2(stdin, 0)
        code = app.main(list(map(str, args)))
    finally:
        os.dup2(saved_stdin, 0)
        os.close(saved_stdin)
        for signum, handler in handlers.items():
            signal.signal(signum, handler)
    out, err = capsys.readouterr()
    return code, out, err


def summary_in(out):
    """The --summary line main() printed last."""
    return json.loads(out.strip().splitlines()[-1])
