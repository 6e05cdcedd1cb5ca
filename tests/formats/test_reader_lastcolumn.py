"""Tables whose last column holds free text with blanks in it (a process's
command with its arguments, a mount point): every such line is a row with
the rest of its line in that column, and a names line whose last name is
two words ("Mounted on") names the columns."""

import pytest

from tests.support.readstream import ReadStream

PS_AUX = """\
USER         PID %CPU %MEM    VSZ   RSS TTY      STAT START   TIME COMMAND
root           1  0.5  0.0  60076 12356 ?        S<Ll Dec09   3:48 /sbin/init splash  --log-level=info
root           2  0.0  0.0      0     0 ?        S    Dec09   0:00 [kthreadd]
root          14  0.0  0.0      0     0 ?        S    Dec09   0:01 [ksoftirqd/0]
ana          812  1.2  0.4 812000 40960 pts/0    Sl+  09:12   0:07 python3 -m http.server 8000
ana          901  0.0  0.0   7064  3200 pts/1    R+   09:40   0:00 ps aux
"""

PS_EF = """\
UID          PID    PPID  C STIME TTY          TIME CMD
root           1       0  0 Dec09 ?        00:03:48 /sbin/init splash
root           2       0  0 Dec09 ?        00:00:00 [kthreadd]
root         211       1  0 Dec09 ?        00:00:02 /usr/sbin/sshd -D
ana          812     700  1 09:12 pts/0    00:00:07 python3 -m http.server 8000
ana          902     812  0 09:40 pts/1    00:00:00 ps -ef
"""

DF = """\
Filesystem     1K-blocks     Used Available Use% Mounted on
udev             8123456        0   8123456   0% /dev
tmpfs            1634560     2048   1632512   1% /run
/dev/nvme0n1p2 487652172 98765432 363987654  22% /
/dev/sdb1       30000000  1000000  29000000   4% /media/ana/USB STICK
"""


PROCESSES = {  # the table: its names, and the last column's text in each row
    PS_AUX: (["USER", "PID", "%CPU", "%MEM", "VSZ", "RSS", "TTY", "STAT", "START", "TIME",
              "COMMAND"],
             ["/sbin/init splash  --log-level=info", "[kthreadd]", "[ksoftirqd/0]",
              "python3 -m http.server 8000", "ps aux"]),
    PS_EF: (["UID", "PID", "PPID", "C", "STIME", "TTY", "TIME", "CMD"],
            ["/sbin/init splash", "[kthreadd]", "/usr/sbin/sshd -D",
             "python3 -m http.server 8000", "ps -ef"]),
}


@pytest.mark.parametrize("table", PROCESSES, ids=["ps aux", "ps -ef"])
@pytest.mark.parametrize("step", [None, 40])  # a file, and lines as a pipe brings them
def test_a_process_list_keeps_every_process_with_its_whole_command(table, step):
    names, commands = PROCESSES[table]
    read = ReadStream(table.encode(), step)
    assert read.names == names and read.column("PID").tolist()[:2] == [1, 2]
    # The rest of the line as written, from the command's first field on.
    assert read.texts(names[-1]) == commands
    assert read.lines == {"total": 6, "data": 5, "skipped": {"names": 1}, "problems": 0}


def test_df_names_its_last_column_mounted_on_and_keeps_a_mount_point_with_a_blank():
    for text in (DF, DF.replace("Mounted on", "Mounted   on")):
        read = ReadStream(text.encode())
        assert read.names[-6:] == ["Filesystem", "1K-blocks", "Used", "Available", "Use%",
                                   "Mounted on"]
        assert read.texts("Mounted on") == ["/dev", "/run", "/", "/media/ana/USB STICK"]
        assert read.column("Used").tolist() == [0, 2048, 98765432, 1000000]
        assert read.lines == {"total": 5, "data": 4, "skipped": {"names": 1}, "problems": 0}


def test_a_command_with_blanks_far_below_the_first_lines_is_a_row_with_its_units_read():
    # top's process list: the first lines decide the table; a process whose
    # name holds a blank (and whose memory is 2.2g) comes long after them.
    head = "  PID USER      VIRT    RES S  %CPU COMMAND\n"
    rows = [f"{1000 + i:5d} ana    {100 + i}m    {i + 1}.5m S   0.{i % 10} worker-{i}\n"
            for i in range(300)]
    rows[250] = " 1250 ana      3.1g   2.2g S  12.5 Web Content\n"
    read = ReadStream((head + "".join(rows)).encode(), step=512)
    assert read.names[-1] == "COMMAND" and len(read.rows) == 300
    assert read.texts("COMMAND")[250] == "Web Content"
    # (top counts KiB: 1.5m is 1536, 2.2g is 2.2 * 1024².)
    assert read.column("RES")[[0, 250]].tolist() == [1536, 2.2 * 1024 ** 2]
    assert read.lines == {"total": 301, "data": 300, "skipped": {"names": 1}, "problems": 0}


def test_a_line_with_one_bad_value_and_a_long_command_is_a_row_with_a_problem():
    text = PS_AUX.replace("ana          812", "ana         x812")
    read = ReadStream(text.encode())
    assert len(read.rows) == 5 and read.texts("COMMAND")[3] == "python3 -m http.server 8000"
    assert read.column("PID")[3] != read.column("PID")[3]  # missing
    assert len(read.problems) == 1 and "'x812' is not a number" in read.problems[0]
    assert read.lines == {"total": 6, "data": 5, "skipped": {"names": 1}, "problems": 0}


def test_fewer_fields_and_extra_words_after_a_state_stay_problems():
    # Only a last column of free text takes the rest of a line: a state of
    # a state (a few words repeated) followed by more words is a line gone wrong, and so is
    # a process line that lacks fields.
    states = "t v state\n" + "".join(f"{i} {i / 2} {'on' if i % 3 else 'off'}\n"
                                     for i in range(20))
    read = ReadStream((states + "20 10.0 on 21 10.5 off\n").encode())
    assert len(read.rows) == 20 and read.lines["problems"] == 1 and read.balanced
    assert "6 values, 3 columns expected" in read.problems[0]
    short = PS_AUX + "ana          903  0.0  0.0   7064\n"
    read = ReadStream(short.encode())
    assert len(read.rows) == 5 and read.lines["problems"] == 1
    assert "5 values, 11 columns expected" in read.problems[0]
