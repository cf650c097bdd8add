"""python3 -m buslog decode|plot|verify: signals of buslog logs and candump
traces, and whether a run's logs hold every frame.

    python3 -m buslog decode run.csv --dbc car.dbc --signals 'ENGINE_DATA.*' --output run-signals.csv
    python3 -m buslog plot run.csv --dbc car.dbc --signals ENGINE_DATA.XMISSION_SPEED,-,STEERING_SENSORS.STEER_ANGLE --output drive.png
    python3 -m buslog plot run.csv --ids --output load.png
    python3 -m buslog verify run-*.buslog

Errors are one line on standard error, exit status 1 (2 for a command
line it does not understand); the summary of what was and was not
decoded goes to standard error too.
"""

import argparse
import contextlib
import json
import logging
import math
import os
import sys
import tempfile

import importlib

# The module, not the function buslog.decode that the package exports.
_decode = importlib.import_module(".decode", __package__)

PROGRAM = "python3 -m buslog"

_CSV_FIELDS = "time,channel,message,signal,value,unit,label"


def _csv_text(value):
    text = str(value)
    if any(c in text for c in ',"\r\n') or text != text.strip():
        return '"' + text.replace('"', '""') + '"'
    return text


def _number(value):
    if isinstance(value, float) and not math.isfinite(value):
        return "nan" if math.isnan(value) else ("inf" if value > 0 else "-inf")
    return repr(value) if isinstance(value, float) else str(value)


def _time_texts(decoded, form, none):
    """The times of the block's frames that carry values, as text
    (form % seconds; `none` without a time stamp), in an object array over
    the block's frames."""
    import numpy
    needed = numpy.zeros(len(decoded.time), dtype=bool)
    for column in decoded.columns:
        needed[column.rows] = True
    rows = numpy.nonzero(needed)[0]
    texts = numpy.empty(len(decoded.time), dtype=object)
    texts[rows] = [none if t != t else form % t for t in decoded.time[rows].tolist()]
    return texts


def _write_blocks(blocks, out, form, none, middle_of, line_of):
    """Writes each block's values as lines: the frame's time (form % the
    seconds, `none` without a time stamp), then line_of(middle, value,
    label) for each distinct value of a column, middle_of(column) being
    its channel, message, signal and unit as text. The text of a whole
    block is written at once. Returns the count."""
    import numpy
    count = 0
    middles = {}
    for decoded in blocks:
        lines = numpy.empty(decoded.count, dtype=object)
        times = _time_texts(decoded, form, none)
        for column in decoded.columns:
            key = (column.message, column.signal.name, repr(column.channel))
            middle = middles.get(key)
            if middle is None:
                middle = middles[key] = middle_of(column)
            labels = column.labels or [""] * len(column.values)
            tails = numpy.empty(len(column.values), dtype=object)
            tails[:] = [line_of(middle, value, label) for value, label in zip(column.values, labels)]
            lines[column.at] = times[column.rows] + tails[column.which]
        out.write("".join(lines.tolist()))
        count += decoded.count
    return count


def write_csv(blocks, out):
    """Writes decoded blocks (decode.decode_blocks) as CSV text with a
    header line; returns the count of values."""
    out.write(_CSV_FIELDS + "\n")

    def middle_of(column):
        names = ",".join(_csv_text("" if v is None else v) for v in (column.channel, column.message, column.signal.name))
        return names, _csv_text(column.signal.unit)

    def line_of(middle, value, label):
        return f",{middle[0]},{_number(value)},{middle[1]},{_csv_text(label) if label else ''}\n"
    return _write_blocks(blocks, out, "%.6f", "", middle_of, line_of)


def _json_number(value):
    if isinstance(value, float) and not math.isfinite(value):
        return "null"
    return repr(value) if isinstance(value, float) else str(value)


def write_jsonl(blocks, out):
    """Writes decoded blocks as JSON Lines (the CSV's fields, value a
    number, null for a float that is not finite); returns the count."""
    dumps = json.dumps

    def middle_of(column):
        return (f'"channel": {dumps(column.channel)}, "message": {dumps(column.message)}, '
                f'"signal": {dumps(column.signal.name)}', dumps(column.signal.unit))

    def line_of(middle, value, label):
        return f', {middle[0]}, "value": {_json_number(value)}, "unit": {middle[1]}, "label": {dumps(label)}}}\n'
    return _write_blocks(blocks, out, '{"time": %.6f', '{"time": null', middle_of, line_of)


class _Usage(Exception):
    pass


def _dbc_arguments(items):
    """--dbc FILE and --dbc CHANNEL=FILE, as decode() takes them."""
    if not items:
        return None
    result = {}
    for item in items:
        channel, _, path = item.partition("=")
        if not path or os.path.exists(item) or "/" in channel or os.sep in channel:
            channel, path = None, item
        if channel in result:
            raise _Usage(f"--dbc given twice for {'every channel' if channel is None else channel}")
        result[channel] = path
    return result


def _patterns(items):
    patterns = []
    for item in items or []:
        patterns += _decode.split_patterns(item)
    return patterns or None


def _check_inputs(paths):
    for path in paths:
        if not os.path.exists(path):
            raise _decode.DatabaseError(f"{path}: no such file")
        if os.path.isdir(path):
            raise _decode.DatabaseError(f"{path}: is a folder")


def _umask():
    mask = os.umask(0o22)
    os.umask(mask)
    return mask


@contextlib.contextmanager
def _output(path, inputs, overwrite, binary=False):
    """A file to write to: standard output without path; else a temporary
    file beside path, renamed to it when the block ends well, removed when
    it does not. An existing file is replaced only with overwrite, an input
    never."""
    if path is None or path == "-":
        yield sys.stdout
        return
    if os.path.exists(path):
        if any(os.path.exists(i) and os.path.samefile(i, path) for i in inputs):
            raise _decode.DatabaseError(f"{path}: is one of the inputs; not replaced")
        if not overwrite:
            raise _decode.DatabaseError(f"{path}: exists; give --overwrite to replace it")
    folder = os.path.dirname(os.path.abspath(path))
    if not os.path.isdir(folder):
        raise _decode.DatabaseError(f"{path}: folder {folder} does not exist")
    descriptor, temporary = tempfile.mkstemp(prefix="." + os.path.basename(path) + ".", dir=folder)
    try:
        with os.fdopen(descriptor, "wb" if binary else "w", encoding=None if binary else "utf-8",
                       newline=None if binary else "\n") as out:
            yield out if not binary else temporary
        # The temporary file is private (0600); the output gets the mode
        # any new file gets: 0666 less the umask.
        os.chmod(temporary, 0o666 & ~_umask())
        os.replace(temporary, path)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise


def _decode_command(args):
    dbc = _dbc_arguments(args.dbc)
    if dbc is None:
        raise _Usage("decode needs --dbc FILE")
    _check_inputs(args.logs + list(dbc.values()))
    to = args.to
    if to is None:
        to = "jsonl" if args.output and args.output.endswith((".jsonl", ".json")) else "csv"
    summary = _decode.Summary()
    blocks = _decode.decode_blocks(args.logs, dbc, signals=_patterns(args.signals), strict=args.strict,
                                   summary=summary)
    with _output(args.output, args.logs, args.overwrite) as out:
        (write_jsonl if to == "jsonl" else write_csv)(blocks, out)
        out.flush()
    if not args.quiet:
        print(summary.text(), file=sys.stderr)
    return 0


def _plot_command(args):
    _plot = importlib.import_module(".plot", __package__)
    dbc = _dbc_arguments(args.dbc)
    patterns = _patterns(args.signals)
    if dbc is None and patterns:
        raise _Usage("--signals needs --dbc FILE")
    if dbc is not None and not patterns:
        raise _Usage("plot --dbc needs --signals PATTERN,... (the signals to draw)")
    if dbc is not None and args.ids:
        raise _Usage("--ids is for a plot without --dbc")
    _check_inputs(args.logs + list((dbc or {}).values()))
    if args.output:
        extension = os.path.splitext(args.output)[1].lower()
        if extension not in _plot.FORMATS:
            raise _Usage(f"--output {args.output}: give a file ending in {', '.join(_plot.FORMATS)}")
    elif sys.platform.startswith("linux") and not (os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY")):
        raise _Usage("no display for a window: give --output FILE.png (or .svg, .pdf)")
    summary = _decode.Summary()
    figure = _plot.plot(args.logs, dbc=dbc, signals=patterns, start=args.start, stop=args.stop,
                        subplots=args.subplots, clock=args.clock, ids=args.ids, summary=summary,
                        interactive=args.output is None)
    if args.output:
        with _output(args.output, args.logs, args.overwrite, binary=True) as temporary:
            _plot.save(figure, temporary, format=os.path.splitext(args.output)[1][1:].lower())
    if not args.quiet:
        print(summary.text(), file=sys.stderr)
        if args.output:
            print(f"  picture {os.path.abspath(args.output)}", file=sys.stderr)
    if args.output is None:
        _plot.show(figure)
    return 0


def _verify_command(args):
    """Exit status as `buslog-host verify`: the verdict (0, 1 or 3)."""
    from .verify import VerifyError, verify
    try:
        result = verify(args.logs)
    except VerifyError as error:
        print(f"{PROGRAM} verify: {error}", file=sys.stderr)
        return 3
    if args.json:
        print(result.json())
    elif args.csv:
        print("item,file,first,last,count,why")
        for f in result.files:
            why = "ends in a cut line" if f.cut_end else "no log" if f.no_log else ""
            print(f"file,{_csv_text(f.path)},{f.first_frame},{f.last_frame},{f.frames},{why}")
        for g in result.gaps:
            print(f"{g.cause},,{g.first},{g.last},{g.last - g.first + 1},{_csv_text(g.why)}")
        for d in result.drops:
            print(f"dropped,{_csv_text(d.path)},,,{d.count},{_csv_text(d.interface)}")
        if result.twice:
            print(f"twice,,,,{result.twice},")
        print(f"verdict,,,,{result.verdict},{_csv_text(result.verdict_text)}")
    else:
        print(result.text())
    return result.verdict


def _parser():
    parser = argparse.ArgumentParser(prog=PROGRAM, description="Signals of buslog logs and candump traces, "
                                     "decoded with a CAN database (DBC, ARXML, KCD, SYM, ... as canmatrix reads them).")
    commands = parser.add_subparsers(dest="command", metavar="decode|plot|verify")
    commands.required = True

    def common(sub):
        sub.add_argument("logs", nargs="+", metavar="LOG", help="buslog logs (read as one, in this order) or candump traces")
        sub.add_argument("--dbc", action="append", metavar="[CHANNEL=]FILE",
                         help="the CAN database, for every channel or for one (its interface name, e.g. can1=body.dbc)")
        sub.add_argument("--signals", action="append", metavar="PATTERN,...",
                         help="MESSAGE.SIGNAL patterns with * and ?, case as the database writes it")
        sub.add_argument("--overwrite", action="store_true", help="an existing --output file may be replaced")
        sub.add_argument("--quiet", action="store_true", help="no summary on standard error")

    sub = commands.add_parser("decode", help="one row a signal value, as CSV or JSON Lines",
                              description="Writes time,channel,message,signal,value,unit,label for every value "
                              "of the chosen signals (all without --signals).")
    common(sub)
    sub.add_argument("--to", choices=["csv", "jsonl"], help="output format (default csv; jsonl for an --output ending in .jsonl)")
    sub.add_argument("--output", metavar="PATH", help="the file to write (default: standard output)")
    sub.add_argument("--strict", action="store_true",
                     help="stop with an error at a frame the database does not know, a frame too short "
                     "for its message or a line that is not a frame")
    sub.set_defaults(run=_decode_command)

    sub = commands.add_parser("plot", help="signals over time, or the bus load without --dbc",
                              description="Draws the chosen signals over time (steps: a signal holds its value "
                              "until the next frame), with lost frames (gaps of the frame numbers) marked. "
                              "Without --dbc: frames a second per channel and, with --ids, frames by identifier.")
    common(sub)
    sub.add_argument("--output", metavar="PATH", help="the picture: .png, .svg or .pdf (default: a window)")
    sub.add_argument("--start", type=float, metavar="S", help="from S seconds after the log's start")
    sub.add_argument("--stop", type=float, metavar="S", help="up to S seconds after the log's start")
    sub.add_argument("--subplots", action="store_true", help="a panel for each signal")
    sub.add_argument("--clock", action="store_true", help="the time axis in clock time (UTC), not seconds")
    sub.add_argument("--ids", action="store_true", help="without --dbc: a timeline of frames by identifier too")
    sub.set_defaults(run=_plot_command)

    sub = commands.add_parser("verify", help="is every frame of a run in its logs, or its loss recorded?",
                              description="Accounts for every frame of a run: LOG... are its files, in any order, "
                              "or folders of them. Exit status 0 nothing lost, 1 frames lost and every loss "
                              "explained by a record, 3 anything unexplained.")
    sub.add_argument("logs", nargs="+", metavar="LOG", help="the run's logs, or folders of them")
    form = sub.add_mutually_exclusive_group()
    form.add_argument("--csv", action="store_true", help="one CSV table")
    form.add_argument("--json", action="store_true", help="one JSON object")
    sub.set_defaults(run=_verify_command)
    return parser


class _Errors(logging.Handler):
    """Warnings of the package on standard error, as one line each."""

    def emit(self, record):
        print(f"{PROGRAM}: warning: {record.getMessage()}", file=sys.stderr)


def main(argv=None):
    parser = _parser()
    args = parser.parse_args(argv)
    handler = _Errors(logging.WARNING)
    logger = logging.getLogger("buslog")
    logger.addHandler(handler)
    propagate, logger.propagate = logger.propagate, False
    try:
        return args.run(args)
    except _Usage as error:
        parser.print_usage(sys.stderr)
        print(f"{PROGRAM} {args.command}: error: {error}", file=sys.stderr)
        return 2
    except (_decode.DatabaseError, _decode.DecodeError) as error:
        print(f"{PROGRAM} {args.command}: error: {error}", file=sys.stderr)
        return 1
    except BrokenPipeError:
        # Standard output closed early (| head): stop quietly.
        with contextlib.suppress(OSError):
            os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 0
    except OSError as error:
        print(f"{PROGRAM} {args.command}: error: {error.filename or ''}: {error.strerror or error}", file=sys.stderr)
        return 1
    finally:
        logger.removeHandler(handler)
        logger.propagate = propagate


if __name__ == "__main__":
    sys.exit(main())
