"""Tables whose last column holds free text with blanks in it (a process's
command with its arguments, a mount point): every such line is a row with
the rest of its line in that column, and a names line whose last name is
two words ("Mounted on") names the columns."""

from tests.support.readstream import ReadStream

PS_AUX = """\
USER         PID %CPU %MEM    VSZ   RSS TTY      STAT START   TIME COMMAND
root           1  0.5  0.0  60076 12356 ?        S<Ll Dec09   3:48 /sbin/init splash  --log-level=info
root           2  0.0  0.0      0     0 ?        S    Dec09   0:00 [kthreadd]
root          14  0.0  0.0      0     0 ?        S    Dec09   0:01 [ksoftirqd/0]
ana          812  1.2  0.4 812000 40960 pts/0    Sl+  09:12   0:07 python3 -m http.server 8000
ana          901  0.0  0.0   7064  3200 pts/1    R+   09:40   0:00 ps aux
"""

DF = """\
Filesystem     1K-blocks     Used Available Use% Mounted on
udev             8123456        0   8123456   0% /dev
tmpfs            1634560     2048   1632512   1% /run
/dev/nvme0n1p2 487652172 98765432 363987654  22% /
/dev/sdb1       30000000  1000000  29000000   4% /media/ana/USB STICK
"""


def test_a_process_list_from_a_pipe_keeps_its_first_process_with_its_whole_command():
    # Decided at its second line, where one wider line is all the evidence.
    read = ReadStream(PS_AUX.encode(), step=40)
    assert read.names[-3:] == ["START", "TIME", "COMMAND"]
    assert read.texts("COMMAND") == ["/sbin/init splash  --log-level=info", "[kthreadd]",
                                     "[ksoftirqd/0]", "python3 -m http.server 8000", "ps aux"]
    assert read.lines == {"total": 6, "data": 5, "skipped": {"names": 1}, "problems": 0}


def test_df_names_its_last_column_mounted_on_and_keeps_a_mount_point_with_a_blank():
    read = ReadStream(DF.encode())
    assert read.names[-2:] == ["Use%", "Mounted on"]
    assert read.texts("Mounted on") == ["/dev", "/run", "/", "/media/ana/USB STICK"]
    assert read.lines == {"total": 5, "data": 4, "skipped": {"names": 1}, "problems": 0}


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
