"""What keeps the package importable off Linux: no module runs anything
POSIX-only when it is imported, and the Linux-only parts step aside where the
system lacks them."""

import ast
from pathlib import Path
from types import SimpleNamespace

from tarvinel.stelvane import app

PACKAGE = Path(__file__).resolve().parents[2] / "tarvinel" / "stelvane"

# Modules Windows does not have.
POSIX_MODULES = {"fcntl", "termios", "tty", "pty", "pwd", "grp", "resource", "posix",
                 "syslog", "crypt"}
# Names of the signal and os modules that exist on POSIX systems only.
POSIX_NAMES = {
    "signal": {"SIGHUP", "SIGCONT", "SIGKILL", "SIGSTOP", "SIGUSR1", "SIGUSR2", "SIGPIPE",
               "SIGALRM", "SIGCHLD", "SIGQUIT", "SIGTSTP", "SIGWINCH", "pthread_kill",
               "setitimer", "alarm", "pause", "siginterrupt"},
    "os": {"fork", "forkpty", "getuid", "geteuid", "getgid", "uname", "setsid", "killpg",
           "getpgid", "sched_getaffinity", "mkfifo", "O_NONBLOCK"},
}


def import_time_nodes(tree: ast.Module):
    """The nodes a module runs when it is imported: everything but the
    bodies of its functions (class bodies run at import)."""
    pending = list(tree.body)
    while pending:
        node = pending.pop()
        if isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef, ast.Lambda)):
            pending.extend(node.decorator_list if not isinstance(node, ast.Lambda) else [])
            pending.extend(d for d in node.args.defaults + node.args.kw_defaults if d)
            continue
        yield node
        pending.extend(ast.iter_child_nodes(node))


def posix_only_at_import(path: Path) -> list[str]:
    """What the module at `path` runs at import that only POSIX systems have."""
    found = []
    for node in import_time_nodes(ast.parse(path.read_text(), str(path))):
        if isinstance(node, ast.Import):
            found += [alias.name for alias in node.names
                      if alias.name.split(".")[0] in POSIX_MODULES]
        elif isinstance(node, ast.ImportFrom) and not node.level:
            if (node.module or "").split(".")[0] in POSIX_MODULES:
                found.append(node.module)
        elif (isinstance(node, ast.Attribute) and isinstance(node.value, ast.Name)
              and node.attr in POSIX_NAMES.get(node.value.id, ())):
            found.append(f"{node.value.id}.{node.attr}")
    return [f"{path.name}:{name}" for name in found if name]


def test_no_module_runs_posix_only_code_when_imported(tmp_path):
    planted = tmp_path / "planted.py"
    planted.write_text(
        "import os, signal\nimport fcntl\nfrom pwd import getpwnam\n"
        "HANGUP = signal.SIGHUP\n"
        "class Watch:\n    kinds = (os.O_NONBLOCK,)\n"
        "    def stop(self, pid):\n        import termios\n"
        "        os.kill(pid, signal.SIGCONT)\n")
    assert sorted(posix_only_at_import(planted)) == [
        "planted.py:fcntl", "planted.py:os.O_NONBLOCK", "planted.py:pwd",
        "planted.py:signal.SIGHUP"]
    modules = sorted(PACKAGE.rglob("*.py"))
    assert len(modules) > 40
    assert [hit for path in modules for hit in posix_only_at_import(path)] == []


def test_the_shutdown_signals_are_those_the_system_has():
    assert app.shutdown_signals(SimpleNamespace(SIGINT=2, SIGTERM=15)) == (2, 15)
    assert app.shutdown_signals(SimpleNamespace(SIGINT=2, SIGTERM=15, SIGHUP=1)) == (2, 15, 1)


def test_the_allocator_is_left_alone_off_linux(monkeypatch):
    def no_library(*args, **kwargs):
        raise AssertionError("a C library was loaded off Linux")

    monkeypatch.setattr(app.sys, "platform", "win32")
    monkeypatch.setattr(app.ctypes, "CDLL", no_library)
    assert app.return_large_blocks_when_freed() is False
