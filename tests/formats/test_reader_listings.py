"""Line shapes whose values carry their names: text with key=value pairs
inside (ping's replies), and name/value listings printed once per snapshot
(nstat, Prometheus, /proc/net/dev, ip -s link), read as --summary shows
them: the names, one row per reply or snapshot, the lines account."""

import numpy as np
import pytest

from tests.support.readstream import ReadStream

PING = """\
PING 127.0.0.1 (127.0.0.1) 56(84) bytes of data.
64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=0.058 ms
64 bytes from 127.0.0.1: icmp_seq=2 ttl=64 time=0.034 ms
64 bytes from 127.0.0.1: icmp_seq=3 ttl=64 time=1.5 s

--- 127.0.0.1 ping statistics ---
3 packets transmitted, 3 received, 0% packet loss, time 408ms
rtt min/avg/max/mdev = 0.034/0.043/0.058/0.010 ms
"""


@pytest.mark.parametrize("step", [None, 9])
def test_ping_replies_give_their_pairs_as_columns_with_icmp_seq_first(step):
    read = ReadStream(PING.encode(), step, added_x="arrival")
    # icmp_seq grows with the replies: the first number column, the X.
    assert read.names == ["icmp_seq", "ttl", "time"] and read.unit("time") == "ms"
    assert read.rows.tolist() == [[1, 64, 0.058], [2, 64, 0.034], [3, 64, 1500]]
    assert read.lines == {"total": 8, "data": 3, "skipped": {"blank": 1, "title": 4},
                          "problems": 0}
    assert not read.problems


def test_label_value_pairs_read_their_suffixes_into_one_unit_a_column():
    text = "load=45%,size=4KiB,lat=2ms\nload=50%,size=1MiB,lat=900us\nload=7,size=1,lat=3s\n"
    read = ReadStream(text.encode())
    assert [read.unit(n) for n in read.names] == ["%", "B", "ms"]
    assert read.rows.tolist() == [[45, 4096, 2], [50, 1024 ** 2, 0.9], [7, 1, 3000]]
    assert read.balanced and not read.problems
