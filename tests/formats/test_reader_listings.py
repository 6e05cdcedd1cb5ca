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


def nstat(received: int) -> str:
    return ("#kernel\n" + f"IpInReceives                    {received}             0.0\n"
            + "".join(f"{name}                    {received // 2 + i}     1.5\n"
                      for i, name in enumerate(("IpInDelivers", "IpOutRequests", "TcpInSegs"))))


PROMETHEUS = """\
# HELP http_requests_total The total number of HTTP requests.
# TYPE http_requests_total counter
http_requests_total{method="post",code="200"} 1027 1395066363000
http_requests_total{method="post",code="400"}    3 1395066363000
# TYPE process_open_fds gauge
process_open_fds 15
go_goroutines 8
"""

PROC_NET_DEV = """\
Inter-|   Receive                            |  Transmit
 face |bytes    packets errs drop fifo frame|bytes    packets errs drop fifo colls
    lo: {0}   43389    0    0    0     0 150652810   43389    0    0    0     0
  eth0: 8341468352  166413    0    0    0     0  8029206  105159    0    0    0     0
"""

IP_LINK = """\
1: lo: <LOOPBACK,UP,LOWER_UP> mtu 65536 qdisc noqueue state UNKNOWN mode DEFAULT group default
    link/loopback 00:00:00:00:00:00 brd 00:00:00:00:00:00
    RX:  bytes packets errors dropped  missed   mcast
     {0}   43389      0       0       0       0
    TX:  bytes packets errors dropped carrier collsns
     150652810   43389      0       0       0       0
2: eth0@if5: <BROADCAST,MULTICAST,UP,LOWER_UP> mtu 1400 qdisc pfifo_fast state UP mode DEFAULT
    link/ether 02:fc:00:00:00:01 brd ff:ff:ff:ff:ff:ff
    RX:  bytes packets errors dropped  missed   mcast
    8341468352  166413      0       0       0       0
    TX:  bytes packets errors dropped carrier collsns
       8029206  105159      0       0       0       0
"""


@pytest.mark.parametrize("step", [None, 23])
def test_nstat_snapshots_are_one_row_each_with_a_name_per_counter(step):
    read = ReadStream((nstat(100) + nstat(180) + nstat(260)).encode(), step)
    assert read.names[:4] == ["row", "IpInReceives", "IpInReceives.2", "IpInDelivers"]
    assert read.column("IpInReceives").tolist() == [100, 180, 260]
    assert read.column("TcpInSegs").tolist() == [52, 92, 132]
    assert read.column("row").tolist() == [1, 2, 3]
    assert read.lines == {"total": 15, "data": 12, "skipped": {"comment": 3}, "problems": 0}


def test_prometheus_samples_keep_their_labels_in_the_column_names():
    read = ReadStream((PROMETHEUS * 2).encode())
    assert read.names == ["row", 'http_requests_total{method="post",code="200"}',
                          'http_requests_total{method="post",code="200"}.2',
                          'http_requests_total{method="post",code="400"}',
                          'http_requests_total{method="post",code="400"}.2',
                          "process_open_fds", "go_goroutines"]
    assert read.rows[:, [1, 3, 5, 6]].tolist() == [[1027, 3, 15, 8]] * 2
    assert read.lines == {"total": 14, "data": 8, "skipped": {"comment": 6}, "problems": 0}


@pytest.mark.parametrize("listing, names", [
    (PROC_NET_DEV, ["lo.receive.bytes", "lo.receive.packets", "eth0.transmit.colls"]),
    (IP_LINK, ["lo.RX.bytes", "lo.TX.collsns", "eth0.RX.bytes", "eth0.TX.collsns"]),
])
def test_interface_listings_name_each_value_by_interface_and_header(listing, names):
    read = ReadStream((listing.format(1000) + listing.format(2500)).encode(), 50)
    assert read.names[0] == "row" and set(names) <= set(read.names)
    first = names[0]
    assert read.column(first).tolist() == [1000, 2500] and read.rows.shape[0] == 2
    assert read.column(names[-1]).tolist() == [0, 0]
    assert not read.problems and read.balanced
    skipped = read.lines["skipped"]
    assert skipped["names"] == (4 if listing is PROC_NET_DEV else 8)
    assert skipped.get("title", 0) == (0 if listing is PROC_NET_DEV else 8)


def test_a_table_of_words_and_numbers_stays_a_table():
    table = "city x y\n" + "".join(f"{c} {i} {i * 2}\n" for i, c in enumerate(
        ("Graz", "Wien", "Linz", "Bern", "Chur")))
    read = ReadStream(table.encode())
    assert read.road == "table" and read.names[-3:] == ["city", "x", "y"]
    assert len(read.rows) == 5


def test_meminfo_values_with_a_unit_word_read_in_that_unit():
    meminfo = ("MemTotal:       24684748 kB\nMemFree:        14744544 kB\n"
               "HugePages_Total:       0\nHugepagesize:       2048 kB\n")
    read = ReadStream((meminfo * 3).encode())
    assert read.names == ["row", "MemTotal", "MemFree", "HugePages_Total", "Hugepagesize"]
    assert [read.unit(n) for n in read.names[1:]] == ["B", "B", "", "B"]
    assert read.column("MemTotal").tolist() == [24684748e3] * 3
    assert read.lines == {"total": 12, "data": 12, "skipped": {}, "problems": 0}
