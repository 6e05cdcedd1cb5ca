"""The output of real tools, run by the tests where they are installed
(`make deps` installs them): what --summary shows of it, the names, the
rows and the lines account. The tools run at once, in the background, so
that the slowest (sar, dstat: a second) sets the time of all."""

import os
import shutil
import subprocess
import sys

import pytest

from tests.support.readstream import ReadStream

TOOL_ENV = {"LC_ALL": "C", "PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "COLUMNS": "200"}
# name: (command, the Debian package that brings it)
TOOLS = {
    "ping": (["ping", "-c", "3", "-i", "0.2", "127.0.0.1"], "iputils-ping"),
    "nstat": (["nstat", "-as"], "iproute2"),
    "ip": (["ip", "-s", "link"], "iproute2"),
    "sar": (["sar", "1", "1"], "sysstat"),
    "sar-dev": (["sar", "-n", "DEV", "1", "1"], "sysstat"),
    "top": (["top", "-b", "-n", "2", "-d", "0.2"], "procps"),
    "dstat": (["dstat", "--nocolor", "-cdngy", "1", "2"], "dstat"),
    "free": (["free", "-s", "0.1", "-c", "3"], "procps"),
    "free -h": (["free", "-h"], "procps"),
    "ps aux": (["ps", "aux"], "procps"),
    "ps -ef": (["ps", "-ef"], "procps"),
    "df": (["df"], "coreutils"),
    "df -h": (["df", "-h"], "coreutils"),
}


# A process whose name holds a blank (as a browser's "Web Content"), for top
# and ps to list: prctl(PR_SET_NAME) names it.
SPACED_NAME = "spaced worker"
NAMED = ("import ctypes, time; ctypes.CDLL(None).prctl(15, b'%s', 0, 0, 0); print(flush=True); "
         "time.sleep(60)" % SPACED_NAME)


@pytest.fixture(scope="module")
def outputs():
    """{name: (stdout, return code)} of each installed tool, or the reason it
    did not run, while a process with a blank in its name runs."""
    with subprocess.Popen([sys.executable, "-c", NAMED], stdout=subprocess.PIPE) as named:
        named.stdout.readline()  # its name is set
        try:
            return _run_tools()
        finally:
            named.kill()


def _run_tools() -> dict:
    running = {}
    for name, (command, package) in TOOLS.items():
        if shutil.which(command[0], path=TOOL_ENV["PATH"]) is None:
            running[name] = f"{command[0]} is not installed (the Debian package {package})"
            continue
        running[name] = subprocess.Popen(command, stdout=subprocess.PIPE,
                                         stderr=subprocess.DEVNULL, env=TOOL_ENV)
    done = {}
    for name, process in running.items():
        if isinstance(process, str):
            done[name] = process
            continue
        out, _ = process.communicate(timeout=30)
        done[name] = (out, process.returncode)
    return done


def output(outputs, name: str) -> bytes:
    found = outputs[name]
    if isinstance(found, str):
        pytest.skip(found)
    out, code = found
    if code != 0 or not out.strip():
        pytest.skip(f"{' '.join(TOOLS[name][0])} did not run here (exit {code})")
    return out


def lines_of(out: bytes) -> int:
    return len(out.decode().splitlines())


def test_ping_plots_its_round_trip_times_against_icmp_seq(outputs):
    out = output(outputs, "ping")
    read = ReadStream(out, added_x="arrival")
    assert read.names == ["icmp_seq", "ttl", "time"] and read.unit("time") == "ms"
    assert read.column("icmp_seq").tolist() == [1, 2, 3] and (read.column("time") > 0).all()
    assert read.lines == {"total": lines_of(out), "data": 3, "problems": 0,
                          "skipped": {"blank": 1, "title": lines_of(out) - 4}}


def test_nstat_is_one_snapshot_of_every_counter(outputs):
    out = output(outputs, "nstat")
    listed = [line.split() for line in out.decode().splitlines() if not line.startswith("#")]
    read = ReadStream(out)
    assert read.names[0] == "row" and len(read.rows) == 1
    assert read.names[1:3] == [listed[0][0], listed[0][0] + ".2"]
    assert read.column(listed[-1][0])[0] == float(listed[-1][1])
    assert read.lines == {"total": lines_of(out), "data": len(listed), "problems": 0,
                          "skipped": {"comment": 1}}


def test_ip_link_statistics_by_interface(outputs):
    out = output(outputs, "ip")
    read = ReadStream(out)
    assert read.names[:3] == ["row", "lo.RX.bytes", "lo.RX.packets"] and len(read.rows) == 1
    interfaces = [line for line in out.decode().splitlines() if line[:1].isdigit()]
    assert read.lines["data"] == 2 * len(interfaces) and read.lines["problems"] == 0
    # (Its link lines, and the altnames some interfaces have, are titles.)
    assert read.lines["skipped"]["names"] == 2 * len(interfaces)
    assert read.balanced and not read.problems


def test_proc_net_dev_by_interface():
    with open("/proc/net/dev", "rb") as listing:
        out = listing.read()
    read = ReadStream(out)
    assert {"lo.receive.bytes", "lo.transmit.packets"} <= set(read.names)
    assert len(read.rows) == 1 and read.lines["skipped"] == {"names": 2}
    assert read.lines["data"] == lines_of(out) - 2 and not read.problems


@pytest.mark.parametrize("name, first_names", [
    ("sar", ["time", "CPU", "%user"]), ("sar-dev", ["time", "IFACE", "rxpck/s"]),
])
def test_sar_reports_pass_over_their_averages(outputs, name, first_names):
    out = output(outputs, name)
    text = out.decode().splitlines()
    rows = [line for line in text[3:] if line.strip() and not line.startswith("Average")]
    read = ReadStream(out)
    assert read.names[:3] == first_names and len(read.rows) == len(rows)
    averages = sum(line.startswith("Average") for line in text)
    assert read.lines == {"total": len(text), "data": len(rows), "problems": 0,
                          "skipped": {"title": 1, "blank": text.count(""), "names": 1,
                                      "summary": averages}}
    assert not read.problems


def test_top_reads_every_process_of_both_screens(outputs):
    out = output(outputs, "top")
    text = out.decode().splitlines()
    processes = [line for line in text if line.split()[:1] and line.split()[0].isdigit()]
    read = ReadStream(out)
    assert read.names[:4] == ["row", "PID", "USER", "PR"] and read.names[-1] == "COMMAND"
    # Every process line is a row, a command whose name holds a space too.
    # (A summary line of an odd shape that a busy machine prints now and
    # then is a problem of its line, counted.)
    read_pids = set(read.rows[:, 1].tolist())
    unread = [line for line in processes if float(line.split()[0]) not in read_pids]
    assert read.lines["data"] == len(read.rows) == len(processes), (
        unread, read.lines, read.problems[-4:])
    assert read.balanced and read.lines["problems"] <= 1
    assert SPACED_NAME in read.texts("COMMAND")
    assert read.lines["skipped"]["names"] == 1 and read.lines["skipped"]["repeated header"] > 0


def test_dstat_reads_every_row_with_its_groups_apart(outputs):
    out = output(outputs, "dstat")
    names = next(line for line in out.decode().splitlines() if "usr" in line.split())
    names = names.replace("|", " ").split()
    read = ReadStream(out)
    # (Whether its CPU share rose in two rows or not, a row number in front.)
    assert read.names[-len(names):] == names and "read" in names
    assert len(read.rows) == 2 and not read.problems
    assert read.lines["data"] == 2 and read.balanced and read.lines["problems"] == 0


@pytest.mark.parametrize("name", ["free", "free -h"])
def test_free_gives_a_row_a_snapshot_with_a_column_a_label_and_name(outputs, name):
    out = output(outputs, name)
    text = out.decode().splitlines()
    labelled = [line.split() for line in text if line.split()[:1] in (["Mem:"], ["Swap:"])]
    read = ReadStream(out)
    assert read.names[1:4] == ["Mem.total", "Mem.used", "Mem.free"]
    assert read.names[-3:] == ["Swap.total", "Swap.used", "Swap.free"]
    assert len(read.rows) == text.count(text[0]) and not read.problems
    assert read.lines["data"] == len(labelled) and read.balanced
    # The memory in bytes however free prints it (-h: 23Gi), and used below total.
    mem = read.rows[:, 1:4]
    assert (mem[:, 0] > 2 ** 20).all() and (mem[:, 1] < mem[:, 0]).all()


@pytest.mark.parametrize("name, last", [("ps aux", "COMMAND"), ("ps -ef", "CMD"),
                                        ("df", "Mounted on"), ("df -h", "Mounted on")])
def test_a_last_column_of_free_text_keeps_every_line_with_its_whole_text(outputs, name, last):
    out = output(outputs, name)
    names_line, *rows = out.decode().splitlines()
    width = len(names_line.split()) - (last == "Mounted on")
    read = ReadStream(out)
    assert read.names[-width:] == names_line.split()[:width - 1] + [last]
    # A process's command with its arguments, a mount point: the rest of its line.
    assert read.texts(last) == [row.split(None, width - 1)[-1].strip() for row in rows]
    assert read.lines == {"total": len(rows) + 1, "data": len(rows), "skipped": {"names": 1},
                          "problems": 0}
    assert not read.problems


SAR = b"""\
Linux 6.1.0 (host) \t12/10/26 \t_x86_64_\t(2 CPU)

02:05:39        CPU     %user     %nice   %system   %iowait    %steal     %idle
02:05:40        all     35.82     30.85     32.84      0.00      0.50      0.00
02:05:41        all     47.74     14.07     36.18      0.00      2.01      0.00
Average:        all     41.75     22.50     34.50      0.00      1.25      0.00
"""


def test_a_report_average_row_is_passed_over_as_a_summary_not_stored():
    read = ReadStream(SAR)
    assert len(read.rows) == 2 and not read.problems
    assert read.lines["skipped"]["summary"] == 1 and read.balanced
