"""The command line: the options of `stelvane`, in groups by what they set
(the source, the simulated instrument, the window), and the checks across
options that argparse cannot make by itself."""

import argparse
from dataclasses import dataclass
import math
import os
import sys

from .formats.atomic import ExportError, plot_format
from .formats.reading import FORMAT_CHOICES, ReadOptions, separator
from .formats.videoencode import check_size, encoder_library, video_format, video_size
from .model.entitysplit import AUTO as AUTO_SPLIT
from .model.expressions import ExpressionError, parse_definition
from .model.limits import parse_limit, repeated_curve
from .model.replay import DEFAULT_RATE, MAX
from .model.timewindow import CHOICES, parse_window
from .sources import source_forms
from .sources.instrument import ProducerOptions
from .version import version


def _positive(kind):
    def parse(text):
        value = kind(text)
        if value <= 0:
            raise argparse.ArgumentTypeError(f"must be greater than 0, not {text}")
        return value
    return parse


def _not_negative(kind):
    def parse(text):
        value = kind(text)
        if value < 0:
            raise argparse.ArgumentTypeError(f"must not be negative, not {text}")
        return value
    return parse


class _PrintVersion(argparse.Action):
    """--version: the version is looked up only when asked for."""

    def __init__(self, option_strings, dest, **options):
        super().__init__(option_strings, dest, nargs=0, default=argparse.SUPPRESS, **options)

    def __call__(self, parser, namespace, values, option_string=None):
        print(parser.prog, version())
        parser.exit()


def _refused_as_error(parse):
    """`parse` as an option's type: the ValueError it raises is the option's error."""
    def convert(text):
        try:
            return parse(text)
        except ValueError as error:
            raise argparse.ArgumentTypeError(str(error)) from None
    return convert


def _expression(text: str):
    """--expr's NAME=EXPRESSION compiled; an empty text: no derived series."""
    if not text.strip():
        return None
    try:
        return parse_definition(text)
    except ExpressionError as error:
        raise argparse.ArgumentTypeError(str(error)) from None


def add_expression_option(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--expr", type=_expression, action="append", metavar="NAME=EXPRESSION",
                        help="a derived series, a column like the others (repeatable): "
                             "arithmetic and comparisons over column names (`a name` in "
                             "backquotes), pi, e, abs sqrt exp log log10 sin cos tan arctan2 "
                             "hypot minimum maximum where clip, and over the rows derivative(y) "
                             "integral(y) delta(y) moving_average(y, N) lowpass(y, f); "
                             "e.g. --expr 'p=volts*amps' (default: the remembered ones; "
                             "--expr '': none)")
    parser.add_argument("--limit", type=_refused_as_error(parse_limit), action="append", default=[],
                        metavar="NAME=VALUE",
                        help="a limit line at VALUE on the curve of column NAME (repeatable): "
                             "its crossings are marked, counted in the status bar and in "
                             "--summary's limits")


def replay_speed(text: str) -> float:
    """--replay's SPEED: `max`, or a positive number (times real time)."""
    if text.strip().lower() == "max":
        return MAX
    try:
        value = float(text)
    except ValueError:
        value = None
    if value is None or not 0 < value < math.inf:
        hint = (" (give the FILE before --replay, or a SPEED after it)"
                if value is None else "")
        raise argparse.ArgumentTypeError(
            f"SPEED must be a positive number or max, not {text!r}{hint}")
    return value


@dataclass(frozen=True)
class At:
    """--at: an X value, or (after_start) a span after the first row's X."""
    text: str
    value: float
    after_start: bool = False


def instant(text: str) -> At:
    """--at's X: a number in X's units, or +SPAN after the start (+30s, +2min)."""
    given = text.strip()
    try:
        if given.startswith("+"):
            span = parse_window(given[1:])
            if span.span is None:
                raise ValueError("rows")
            return At(given, span.span, after_start=True)
        value = float(given)
    except ValueError:
        value = math.nan
    if not math.isfinite(value):
        raise argparse.ArgumentTypeError(
            f"X must be a number (a value of the X column) or +SPAN after the start "
            f"(+30s, +2min, +5), not {text!r}")
    return At(given, value)


def add_replay_options(parser: argparse.ArgumentParser) -> None:
    replay = parser.add_argument_group("replaying a recorded file")
    replay.add_argument("--replay", type=replay_speed, nargs="?", const=1.0, metavar="SPEED",
                        help="play FILE (read whole, not followed) at the pace of the live "
                             "plot's X column, SPEED times real time (default 1; max: as fast "
                             "as it is read), with a slider under the plots")
    replay.add_argument("--replay-rate", type=_positive(float), metavar="ROWS",
                        help="rows per second at speed 1 where X does not grow with the rows "
                             f"(default {DEFAULT_RATE:g})")
    replay.add_argument("--at", type=instant, metavar="X",
                        help="with --export-png or --export-csv: the replay paused where X (a "
                             "value of the X column, or +SPAN after the start: +30s, +2min) is, "
                             "saved, then exit")


def add_video_options(parser: argparse.ArgumentParser) -> None:
    video = parser.add_argument_group("a replay to video (the [video] extra)")
    video.add_argument("--export-video", metavar="PATH",
                       help="with --replay SPEED: render the replay to PATH (.mp4 or .gif), "
                            "frame by frame at the replay's pace but as fast as it draws, "
                            "then exit (a 10 s file at speed 2 makes a 5 s video)")
    video.add_argument("--video-fps", type=_positive(float), default=30.0, metavar="FPS",
                       help="the video's frames per second (default %(default)g)")
    video.add_argument("--video-size", type=video_size, metavar="WxH",
                       help="the video's size in pixels (default: the window's)")


def check_video(parser: argparse.ArgumentParser, args: argparse.Namespace) -> None:
    if not args.export_video:
        return
    if args.replay is None or args.replay == MAX:
        parser.error("--export-video renders a replay: give --replay SPEED (a number)")
    if args.seconds:
        parser.error("--export-video ends with the replay: leave out --seconds")
    try:
        video_format(args.export_video)
        if args.video_size:
            check_size(args.export_video, args.video_size)
        encoder_library()
    except ExportError as error:
        parser.error(str(error))


def source_forms_text() -> str:
    """The --help epilog: a line per SOURCE form, from the sources' registry."""
    lines = [f"  {usage:<34} {meaning}" for usage, meaning in source_forms()]
    return "\n".join([
        "SOURCE forms:", *lines,
        "The client forms, MQTT and serial: reconnect with a back-off when the peer goes away "
        "(--once: end).",
        "MQTT's password: the file --password-file names, else $STELVANE_MQTT_PASSWORD."])


def add_transport_options(parser: argparse.ArgumentParser) -> None:
    """The options of the sources whose peer may go away or want credentials."""
    transport = parser.add_argument_group("network sources and serial ports")
    transport.add_argument("--once", action="store_true",
                           help="end the source when its peer goes away instead of reconnecting")
    transport.add_argument("--password-file", metavar="FILE",
                           help="MQTT: the password is this file's first line "
                                "(default: $STELVANE_MQTT_PASSWORD)")
    transport.add_argument("--ca", metavar="FILE",
                           help="mqtts://, wss://: the authorities to check the server against "
                                "(default: the system's)")
    transport.add_argument("--cert", metavar="FILE",
                           help="mqtts://, wss://: a client certificate")
    transport.add_argument("--key", metavar="FILE",
                           help="mqtts://, wss://: the client certificate's private key")


def transport_options(args: argparse.Namespace) -> dict:
    """What add_transport_options read, as source_from_text takes it."""
    return {"once": args.once, "password_file": args.password_file,
            "ca": args.ca, "cert": args.cert, "key": args.key}


def make_parser() -> argparse.ArgumentParser:
    defaults = ProducerOptions()
    # The same program as the `stelvane` command and as python -m tarvinel.stelvane.
    run_as_module = os.path.basename(sys.argv[0]) == "__main__.py"
    parser = argparse.ArgumentParser(
        prog="python -m tarvinel.stelvane" if run_as_module else "stelvane",
        description="Live plots of your data: text rows from standard input, a file, the\n"
                    "network (TCP, UDP, MQTT, WebSocket, ZeroMQ) or a serial port, a producer\n"
                    "script, or the simulated instrument.",
        epilog=source_forms_text(), formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument(
        "source", nargs="?", metavar="SOURCE",
        help="where the data comes from (the forms below); none: the simulated instrument")
    parser.add_argument("--version", action=_PrintVersion, help="print the version and exit")
    parser.add_argument("--no-follow", action="store_true",
                        help="read a file once instead of following it as it grows")
    parser.add_argument("--pattern", default=None,
                        help="(X,Y) pattern for points (X,Y regular expressions, ; between pairs); a pattern the source sends replaces it "
                             "(default: the remembered one, else the first column against every "
                             f"other, or the instrument's {defaults.point_pattern!r})")
    parser.add_argument("--trace-pattern", default=None,
                        help="(X,Y) pattern for traces (default: the remembered one, else the first "
                             "trace column against every other, or the instrument's "
                             f"{defaults.trace_pattern!r})")
    add_expression_option(parser)
    add_reading_options(parser)
    add_replay_options(parser)
    add_video_options(parser)
    add_transport_options(parser)
    add_instrument_options(parser, defaults)
    add_window_options(parser)
    add_memory_options(parser)
    return parser


def add_instrument_options(parser: argparse.ArgumentParser, defaults: ProducerOptions) -> None:
    """The simulated instrument's rates and sizes (used when there is no SOURCE)."""
    producer = parser.add_argument_group("the simulated instrument (no SOURCE)")
    producer.add_argument("--rate", type=_positive(float), default=defaults.rate,
                          help="point rows per second (default %(default)s)")
    producer.add_argument("--columns", type=_positive(int), default=defaults.columns,
                          help="point columns, time included (default %(default)s)")
    producer.add_argument("--run-length", type=_not_negative(int), default=defaults.run_length,
                          help="point rows per run before a ROLL; 0: never roll (default %(default)s)")
    producer.add_argument("--trace-rate", type=_not_negative(float), default=defaults.trace_rate,
                          help="whole traces per second; 0: none (default %(default)s)")
    producer.add_argument("--trace-points", type=_positive(int), default=defaults.trace_points,
                          help="rows per trace (default %(default)s)")


def add_memory_options(parser: argparse.ArgumentParser) -> None:
    """What the window keeps in memory and on disk."""
    memory = parser.add_argument_group("memory and disk")
    memory.add_argument("--max-rows", type=_positive(int), default=1_000_000,
                        help="rows a run keeps in memory; a longer live run goes on on disk "
                             "(--disk-cap) (default %(default)s)")
    memory.add_argument("--disk-cap", type=_not_negative(float), default=10.0, metavar="GB",
                        help="disk the rows of live runs beyond --max-rows may take (files that "
                             "go with the process); 0: drop them (default %(default)s)")
    memory.add_argument("--cache-size", type=_positive(float), default=20.0, metavar="GB",
                        help="a file of more rows than --max-rows is read once into a cache of "
                             "columns on disk ($XDG_CACHE_HOME/tarvinel-stelvane), which keeps "
                             "every row; the cache holds at most this many GB, the least "
                             "recently opened files leaving first (default %(default)s)")
    memory.add_argument("--history", type=_not_negative(int), default=10,
                        help="finished runs kept (default %(default)s)")


def add_window_options(parser: argparse.ArgumentParser) -> None:
    """What the window shows and keeps, and what it does at the end of --seconds."""
    window = parser.add_argument_group("window")
    window.add_argument("--live-rows", type=_positive(int), default=20_000,
                        help="newest rows of the current run in the live plot: the 'rows' "
                             "window (default %(default)s)")
    window.add_argument("--window", type=_refused_as_error(parse_window), metavar="SPAN",
                        help="what the live plot shows of the current run while it follows: "
                             "the rows whose X lies in the last SPAN, a number in X's units or "
                             "with ms, s, min, h or d (seconds, as a time column holds them), or "
                             "'N rows' (the newest N), or 'rows' (--live-rows); a pan or zoom "
                             f"shows older rows from memory (e.g. {', '.join(CHOICES[1:])}; "
                             "default: the remembered one, else rows)")
    window.add_argument("--seconds", type=_not_negative(float),
                        default=float(os.environ.get("STELVANE_RUN_SECONDS") or 0),
                        help="close after this long; 0: stay open (default: $STELVANE_RUN_SECONDS or 0)")
    window.add_argument("--until-end", action="store_true",
                        help="close once the source has ended and every row it sent is in "
                             "the window (with --seconds: whichever comes first); for scripts "
                             "with --summary, --screenshot or the exports")
    window.add_argument("--screenshot", default=os.environ.get("STELVANE_SCREENSHOT") or None,
                        help="save the window as this PNG when --seconds ends "
                             "(default: $STELVANE_SCREENSHOT)")
    window.add_argument("--summary", action="store_true",
                        help="at exit, print one JSON line: points, runs, traces, point_columns, "
                             "split, trace_columns, pairs, problems, ended, live_x, window, "
                             "window_rows, stats, derived (and replay)")
    window.add_argument("--export-png", metavar="PATH",
                        help="save the live plot to PATH (.png or .svg) when --seconds ends "
                             "(or at --at in a replay)")
    window.add_argument("--export-csv", metavar="PATH",
                        help="save the current run's data to PATH as text when --seconds ends "
                             "(at --at: the rows the replay shows)")
    window.add_argument("--fresh", action="store_true",
                        help="start from the default settings, not the remembered ones "
                             "(the settings are still saved at the end)")


def _separator(text: str):
    try:
        return separator(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None


def _names(text: str) -> tuple[str, ...]:
    names = tuple(name.strip() for name in text.split(","))
    if not all(names):
        raise argparse.ArgumentTypeError(f"names separated by commas, none empty, not {text!r}")
    return names


def _split_column(text: str) -> str:
    if not text.strip():
        raise argparse.ArgumentTypeError("a column's name, auto or none, not an empty text")
    return text.strip()


def add_reading_options(parser: argparse.ArgumentParser) -> None:
    """How a stream of text reads, where the guess from its first lines is wrong."""
    reading = parser.add_argument_group(
        "reading text (standard input, a file, TCP, a serial port)")
    reading.add_argument("--format", choices=FORMAT_CHOICES, default="auto",
                         help="auto: recognised from the first lines (default); table: a table of "
                              "numbers, times and words; keyvalue: label:value or label=value "
                              "pairs; marked: >name:value lines; jsonl: a JSON object a line; "
                              "influx: InfluxDB's line protocol; textpairs: text with key=value "
                              "pairs inside (ping); listing: name/value listings, a row per "
                              "snapshot (nstat, Prometheus); "
                              "text: plain numbers under the first line of names")
    reading.add_argument("--sep", type=_separator, default="auto", metavar="SEP",
                         help="the separator of a table's fields: one character, or tab, space "
                              "(runs of blanks), comma, semicolon, pipe (default: found)")
    reading.add_argument("--names-line", type=_positive(int), metavar="N",
                         help="the line (from 1) that holds a table's column names")
    reading.add_argument("--names", type=_names, metavar="A,B,C",
                         help="the column names themselves; the data begins at the first row")
    reading.add_argument("--split", type=_split_column, default=AUTO_SPLIT, metavar="COLUMN",
                         help="the text column that names each row's entity (a long table: "
                              "symbol,date,price): each number column shows as one column per "
                              "entity, price[AAPL]; none: never split (default: split where X "
                              "grows within each entity but not over the rows)")
    reading.add_argument("--time-format", default="", metavar="STRFTIME",
                         help="a strftime format (e.g. '%%d.%%m.%%Y %%H:%%M') for times no "
                              "other shape reads")


def read_options(args: argparse.Namespace) -> ReadOptions:
    """The reading options of parsed arguments."""
    return ReadOptions(format=args.format, sep=args.sep, names_line=args.names_line,
                       names=args.names, time_format=args.time_format)


def parse_args(argv=None, parser=None) -> argparse.Namespace:
    parser = parser or make_parser()
    args = parser.parse_args(argv)
    if args.at is not None and (args.replay is None or not (args.export_png or args.export_csv)
                                or args.export_video or args.seconds):
        parser.error("--at saves the replay at an instant: give --replay and --export-png or "
                     "--export-csv (no --seconds, no --export-video)")
    if args.until_end and (args.at is not None or args.export_video):
        parser.error("--until-end closes when the source ends: not with --at or --export-video")
    if (args.export_png or args.export_csv) and not (args.seconds or args.until_end) \
            and args.at is None:
        parser.error("--export-png and --export-csv write when --seconds ends (or at --at "
                     "in a replay): give --seconds or --until-end")
    if args.replay_rate is not None and args.replay is None:
        parser.error("--replay-rate sets the pace of --replay: give --replay")
    if args.replay is not None and args.source is None:
        parser.error("--replay plays a recorded file: give it (stelvane FILE --replay)")
    if args.expr is not None:
        args.expr = [expression for expression in args.expr if expression is not None]
        names = [expression.name for expression in args.expr]
        twice = next((name for name in names if names.count(name) > 1), None)
        if twice is not None:
            parser.error(f"--expr: the derived series {twice!r} is given twice")
    if repeated_curve(args.limit) is not None:
        parser.error(f"--limit: the curve {repeated_curve(args.limit)!r} has two limits (one a curve)")
    check_video(parser, args)
    if args.export_png:
        try:
            plot_format(args.export_png)
        except ExportError as error:
            parser.error(f"--export-png: {error}")
    return args
