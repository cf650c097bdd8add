"""Pictures of bus logs with matplotlib: decoded signals over time, or,
without a database, the bus load and a timeline of identifiers.

    figure = buslog.plot("run.csv", dbc="car.dbc", signals=["ENGINE_DATA.XMISSION_SPEED", "-", "*.ENGINE_RPM"],
                         output="drive.png")

Signals are drawn as steps (a signal holds its value until the next frame
brings another). Patterns up to a "-" share a panel; `subplots` gives each
signal a panel of its own. A panel's first unit is on its left axis, the
others on its right one; a signal with a value table shows its labels on
the axis. Gaps in a buslog log's frame numbers, frames the writer lost,
are drawn on every panel at their time with the count; frames of a chosen
message that could not be decoded (too short for it) are ticks along the
bottom of its panels. A stretch in which a plotted message did not come
(no frame for more than 5 times its median period and at least 0.5 s),
where no frame was lost, is a grey band on its panels: silence, not data.

matplotlib draws with the Agg backend (no window, no display needed)
unless `interactive` is asked for.
"""

import datetime
import fnmatch
import os

import importlib

# The module, not the function buslog.decode that the package exports.
_decode = importlib.import_module(".decode", __package__)
_verify = importlib.import_module(".verify", __package__)

__all__ = ["plot", "save", "show", "FORMATS"]

FORMATS = (".png", ".svg", ".pdf")

_WIDTH = 11.0  # inches
_PANEL_HEIGHT = 2.3
_LOST_COLOUR = "#d62728"
_UNDECODED_COLOUR = "#ff7f0e"
_SILENT_COLOUR = "#7f7f7f"
# A message is silent when no frame of it came for more than this many of
# its median periods, and at least _SILENT_SECONDS.
_SILENT_PERIODS = 5.0
_SILENT_SECONDS = 0.5
# Silences said in words on a panel, for each message; more are drawn only.
_MAX_SILENCE_TEXTS = 4
# The words stand in rows this far apart (points): two rows for each of a
# panel's messages, so that messages silent at the same moments are each
# said, and a message's next silence does not run into its words for the
# one before. More messages than rows begin again at the bottom.
_SILENCE_ROW_POINTS = 9
_SILENCE_ROWS = 6
# Gaps whose count is written beside their line; more are drawn as lines only.
_MAX_GAP_TEXTS = 12


def _pyplot(interactive):
    import matplotlib
    if not interactive:
        matplotlib.use("Agg", force=True)
    import matplotlib.pyplot as pyplot
    return pyplot


class _Series:
    def __init__(self, message, signal, channel, unit):
        self.message, self.signal, self.channel, self.unit = message, signal, channel, unit
        self.times, self.values = [], []
        self.labels = {}  # physical value -> label
        self.silences = []

    @property
    def name(self):
        return f"{self.message}.{self.signal}"


def _groups(patterns, subplots):
    """Patterns split at "-" into the panels' pattern lists."""
    groups = [[]]
    for pattern in patterns:
        if pattern == "-":
            if groups[-1]:
                groups.append([])
        else:
            groups[-1].append(pattern)
    return [group for group in groups if group]


def _panels(series, patterns, subplots):
    """Lists of series, one a panel, in the order the patterns name them."""
    panels = []
    placed = set()
    for group in _groups(patterns, subplots):
        panel = []
        for pattern in group:
            for key, one in series.items():
                if key not in placed and fnmatch.fnmatchcase(one.name, pattern):
                    panel.append(one)
                    placed.add(key)
        if subplots:
            panels += [[one] for one in panel]
        elif panel:
            panels.append(panel)
    return panels


def _origin(summary, clock):
    """The time that is 0 on the axis, and whether times are absolute."""
    if summary.start is not None:
        return summary.start, True
    first = summary.first_time
    if first is None:
        return 0.0, False
    # candump traces hold epoch times; a log without its start marker
    # holds seconds since its start.
    return first, first > 1e8


def _title(summary, origin, absolute):
    names = [os.path.basename(path) for path in summary.files]
    name = names[0] if len(names) == 1 else f"{names[0]} ... {names[-1]} ({len(names)} files)"
    if absolute:
        moment = datetime.datetime.fromtimestamp(origin, datetime.timezone.utc)
        return f"{name}, started {moment:%Y-%m-%d %H:%M:%S} UTC"
    return f"{name} (the log does not say when it began)"


class _Axis:
    """Maps log times to the axis: seconds from the origin, or clock time."""

    def __init__(self, origin, absolute, clock):
        self.origin, self.clock = origin, clock
        if clock and not absolute:
            raise _decode.DatabaseError("--clock: the log does not say when it began (no buslog start marker)")

    def __call__(self, times):
        if self.clock:
            import matplotlib.dates as dates
            return [dates.date2num(datetime.datetime.fromtimestamp(t, datetime.timezone.utc)) for t in times]
        origin = self.origin
        return [t - origin for t in times]

    def limit(self, seconds):
        return None if seconds is None else self([self.origin + seconds])[0]

    def label(self, origin):
        if self.clock:
            return "time (UTC)"
        return "seconds since the start"


def _in_range(times, start, stop, origin):
    lo = -float("inf") if start is None else origin + start
    hi = float("inf") if stop is None else origin + stop
    return lo, hi


def _cut(series, lo, hi):
    """The series' points within [lo, hi], the value held at lo first."""
    times, values = series.times, series.values
    keep_t, keep_v = [], []
    before = None
    for t, v in zip(times, values):
        if t < lo:
            before = v
            continue
        if t > hi:
            break
        if before is not None and not keep_t:
            keep_t.append(lo)
            keep_v.append(before)
        keep_t.append(t)
        keep_v.append(v)
    return keep_t, keep_v


_CAUSE_TEXTS = {"removed": "removed by the ring", "lost": "lost ({})", "gone": "gone ({})",
                "unexplained": "lost, no record says why"}


def _causes(summary):
    """What each gap in the frame numbers is, by the logs' own records
    (buslog.verify): {the frame before it: "lost (No space left on
    device)", "removed by the ring", ...}. Kept on the summary."""
    causes = getattr(summary, "causes", None)
    if causes is not None:
        return causes
    summary.causes = causes = {}
    logs = [path for path in summary.files if not _decode._is_candump(path)]
    if not logs or not summary.gaps:
        return causes
    try:
        found = _verify.verify(logs).gaps
    except OSError:
        return causes
    for gap in summary.gaps:
        first, last = gap.after + 1, gap.after + gap.lost
        texts = []
        for cause in found:
            if cause.last >= first and cause.first <= last:
                text = _CAUSE_TEXTS[cause.cause].format(cause.why)
                if text not in texts:
                    texts.append(text)
        causes[gap.after] = "; ".join(texts) or "lost"
    return causes


def _lost_only(summary, gaps):
    """The gaps that are losses, not the ring's removals."""
    causes = _causes(summary)
    return [gap for gap in gaps if causes.get(gap.after, "lost") != _CAUSE_TEXTS["removed"]]


def _mark_gaps(axes, summary, axis, lo, hi, label_first):
    gaps = [gap for gap in summary.gaps if gap.time is not None and lo <= gap.time <= hi]
    if not gaps:
        return
    causes = _causes(summary)
    texts = set(sorted(gaps, key=lambda g: -g.lost)[:_MAX_GAP_TEXTS])
    xs = axis([gap.time for gap in gaps])
    befores = [None if gap.since is None else axis([max(gap.since, lo)])[0] for gap in gaps]
    for index, ax in enumerate(axes):
        for gap, x, since in zip(gaps, xs, befores):
            # The frames were lost between the frame before the gap and the one after.
            if since is not None and since < x:
                ax.axvspan(since, x, color=_LOST_COLOUR, alpha=0.15, linewidth=0, zorder=2)
            ax.axvline(x, color=_LOST_COLOUR, linestyle="--", linewidth=1.0, alpha=0.8, zorder=3)
            if gap in texts:
                ax.annotate(f"{gap.lost:,} {causes.get(gap.after, 'lost')}", xy=(x, 1.0),
                            xycoords=("data", "axes fraction"),
                            xytext=(3, -3), textcoords="offset points", ha="left", va="top",
                            fontsize=8, color=_LOST_COLOUR, zorder=4, gid=f"buslog-gap-{gap.after}",
                            bbox=dict(facecolor="white", alpha=0.8, edgecolor="none", pad=1))


def silences(times, gaps=()):
    """(start, end) of the stretches in which frames at `times` (sorted
    seconds) did not come: longer than 5 times their median period and
    at least 0.5 s, and with no lost frames in them (a Gap of the frame
    numbers between them)."""
    import numpy
    times = numpy.asarray(times, dtype=numpy.float64)
    times = times[~numpy.isnan(times)]
    if len(times) < 3:
        return []
    periods = numpy.diff(times)
    limit = max(_SILENT_PERIODS * float(numpy.median(periods)), _SILENT_SECONDS)
    found = []
    lost = [(gap.since, gap.time) for gap in gaps if gap.time is not None and gap.since is not None]
    for at in numpy.nonzero(periods > limit)[0].tolist():
        start, end = float(times[at]), float(times[at + 1])
        if any(since < end and start < after for since, after in lost):
            continue
        found.append((start, end))
    return found


def _mark_silences(ax, series, axis, lo, hi):
    """Grey bands over the stretches in which the panel's messages did not
    come, with how long: each message's words in two rows of its own, taken
    in turn."""
    marked, messages = set(), 0
    for one in series:
        key = (one.channel, one.message)
        if key in marked:
            continue
        marked.add(key)
        shown = [(start, end) for start, end in one.silences if end >= lo and start <= hi]
        if not shown:
            continue
        first_row, messages = messages * 2, messages + 1
        # The longest are said in words; all are drawn.
        said = sorted(sorted(shown, key=lambda stretch: stretch[0] - stretch[1])[:_MAX_SILENCE_TEXTS])
        for number, (start, end) in enumerate(shown):
            left, right = axis([max(start, lo), min(end, hi)])
            ax.axvspan(left, right, facecolor=_SILENT_COLOUR, alpha=0.12, hatch="//", edgecolor=_SILENT_COLOUR,
                       linewidth=0, zorder=1, gid=f"buslog-silence-{one.message}-{number}")
            if (start, end) in said:
                row = (first_row + said.index((start, end)) % 2) % _SILENCE_ROWS
                ax.annotate(f"{one.message}: none for {end - start:.1f} s", xy=(left, 0.0),
                            xycoords=("data", "axes fraction"), xytext=(2, 3 + row * _SILENCE_ROW_POINTS),
                            textcoords="offset points", ha="left", va="bottom", fontsize=7, color=_SILENT_COLOUR,
                            zorder=4, gid=f"buslog-silence-text-{one.message}-{number}")


def _mark_undecoded(ax, times, axis, lo, hi, message):
    """Ticks along the panel's bottom at the frames of message that could
    not be decoded; returns the words for the panel's right-hand title."""
    times = [t for t in times if lo <= t <= hi]
    if not times:
        return None
    ax.plot(axis(times), [0.0] * len(times), linestyle="none", marker="|", markersize=12, markeredgewidth=2,
            color=_UNDECODED_COLOUR, transform=ax.get_xaxis_transform(), clip_on=False, zorder=4,
            gid=f"buslog-undecoded-{message}")
    return f"{message}: {_decode.count(len(times), 'frame')} not decoded"


def _value_ticks(ax, series):
    """The value table's labels as the axis' ticks, for those values the
    signal takes (all of the table when it has few entries), leaving out
    labels that would stand on top of each other."""
    table = {}
    for one in series:
        table.update(one.labels)
    if not table:
        return
    taken = {v for one in series for v in one.values}
    shown = sorted(v for v in table if v in taken or len(table) <= 6)
    if not shown:
        return
    low, high = min(taken | set(shown)), max(taken | set(shown))
    # A tick label needs about an eighth of a panel's height.
    spacing = (high - low) / 8.0
    ticks = []
    for value in shown:
        if not ticks or value - ticks[-1] >= spacing:
            ticks.append(value)
    ax.set_yticks(ticks)
    ax.set_yticklabels([f"{table[v]} ({v:g})" for v in ticks], fontsize=8)
    if high - low <= 16:
        ax.set_ylim(low - 0.5, high + 0.5)


def plot(logs, dbc=None, signals=None, start=None, stop=None, subplots=False, clock=False, ids=False,
         summary=None, interactive=False, output=None):
    """The matplotlib Figure of the logs (a path or a list of paths, read as
    one): with dbc, the signals matching the patterns in `signals` (a "-"
    starts a new panel); without, the frames a second per channel and,
    with ids, frames by identifier. start and stop are seconds from the
    log's start. What was read is counted into summary (a decode.Summary).
    With output (a .png, .svg or .pdf path) the picture is written there."""
    if summary is None:
        summary = _decode.Summary()
    _decode.check_logs(logs)
    pyplot = _pyplot(interactive)
    if dbc is not None:
        if isinstance(signals, str):
            signals = _decode.split_patterns(signals)
        if not signals:
            raise _decode.DatabaseError("no signals chosen to plot")
        figure = _plot_signals(pyplot, logs, dbc, list(signals), start, stop, subplots, clock, summary)
    else:
        figure = _plot_traffic(pyplot, logs, start, stop, clock, ids, summary)
    if output is not None:
        save(figure, output)
    return figure


def _figure(pyplot, panels_heights):
    height = 1.2 + sum(panels_heights)
    figure, axes = pyplot.subplots(len(panels_heights), 1, sharex=True, squeeze=False,
                                   figsize=(_WIDTH, height), layout="constrained",
                                   gridspec_kw={"height_ratios": panels_heights})
    return figure, [row[0] for row in axes]


def _finish(figure, axes, summary, axis, origin, absolute, lo, hi, start, stop):
    title = _title(summary, origin, absolute)
    shown = _lost_only(summary, [gap for gap in summary.gaps if gap.time is not None and lo <= gap.time <= hi])
    if shown:
        lost = sum(gap.lost for gap in shown)
        title += (f": {_decode.count(lost, 'frame')} lost in {_decode.count(len(shown), 'gap')} "
                  "of the frame numbers (red)")
    figure.suptitle(title, fontsize=12)
    axes[-1].set_xlabel(axis.label(origin))
    if axis.clock:
        import matplotlib.dates as dates
        axes[-1].xaxis.set_major_formatter(dates.DateFormatter("%H:%M:%S"))
    left, right = axis.limit(start), axis.limit(stop)
    if left is not None or right is not None:
        axes[-1].set_xlim(left=left, right=right)
    for ax in axes:
        ax.grid(True, alpha=0.3)


def _series(logs, dbc, patterns, summary):
    """{(channel, message, signal): _Series} of the chosen signals, from the
    decoder's columns; each series' `silences` are its message's."""
    import numpy
    parts = {}
    for decoded in _decode.decode_blocks(logs, dbc, signals=patterns, summary=summary):
        for column in decoded.columns:
            key = (column.channel, column.message, column.signal.name)
            one = parts.get(key)
            if one is None:
                one = parts[key] = _Series(column.message, column.signal.name, column.channel, column.signal.unit)
                one.times, one.values = [], []
            values = numpy.empty(len(column.values), dtype=object)
            values[:] = column.values
            one.times.append(decoded.time[column.rows])
            one.values.append(values[column.which])
            if column.labels:
                one.labels.update((value, label) for value, label in zip(column.values, column.labels) if label)
    frames = {}
    for one in parts.values():
        one.times = numpy.concatenate(one.times).tolist()
        one.values = numpy.concatenate(one.values).tolist()
        frames.setdefault((one.channel, one.message), []).append(one)
    for same in frames.values():
        # A message's frames: the times of its plain signals, all of them
        # for a multiplexed one.
        times = sorted({t for one in same for t in one.times})
        found = silences(times, summary.gaps)
        for one in same:
            one.silences = found
    return parts


def _plot_signals(pyplot, logs, dbc, patterns, start, stop, subplots, clock, summary):
    series = _series(logs, dbc, patterns, summary)
    channels = {key[0] for key in series}
    panels = _panels(series, patterns, subplots)
    if not panels:
        raise _decode.DatabaseError("the logs hold no frame of the chosen signals")
    origin, absolute = _origin(summary, clock)
    axis = _Axis(origin, absolute, clock)
    lo, hi = _in_range(None, start, stop, origin)

    heights = [_PANEL_HEIGHT + (0.25 * (len(panel) - 1) if len(panel) > 1 else 0) for panel in panels]
    figure, axes = _figure(pyplot, heights)
    colours = pyplot.rcParams["axes.prop_cycle"].by_key()["color"]
    for ax, panel in zip(axes, panels):
        units = []
        for one in panel:
            if one.unit not in units:
                units.append(one.unit)
        right = ax.twinx() if len(units) > 1 else None
        lines = []
        for index, one in enumerate(panel):
            times, values = _cut(one, lo, hi)
            target = ax if one.unit == units[0] else right
            name = one.name if len(channels) == 1 else f"{one.name} ({one.channel})"
            unit = f" [{one.unit}]" if one.unit else ""
            line, = target.step(axis(times), values, where="post", linewidth=1.2,
                                color=colours[index % len(colours)], label=name + unit)
            lines.append(line)
        ax.set_ylabel(units[0] or "value")
        if right is not None:
            right.set_ylabel(", ".join(unit or "value" for unit in units[1:]))
        labelled = [one for one in panel if one.labels and one.unit == units[0]]
        if labelled and len(labelled) == len([one for one in panel if one.unit == units[0]]):
            _value_ticks(ax, labelled)
        title = ", ".join(line.get_label() for line in lines)
        ax.set_title(title if len(title) <= 110 else f"{len(panel)} signals", fontsize=10, loc="left")
        notes = [_mark_undecoded(ax, summary.undecoded.get(message, []), axis, lo, hi, message)
                 for message in sorted({one.message for one in panel})]
        notes = [note for note in notes if note]
        if notes:
            ax.set_title("; ".join(notes) + " (ticks below)", fontsize=9, loc="right", color=_UNDECODED_COLOUR)
        if len(panel) > 1:
            ax.legend(handles=lines, fontsize=8, loc="best", ncol=min(len(lines), 3), framealpha=0.8)
        _mark_silences(ax, panel, axis, lo, hi)
    _mark_gaps(axes, summary, axis, lo, hi, True)
    _finish(figure, axes, summary, axis, origin, absolute, lo, hi, start, stop)
    return figure


def _plot_traffic(pyplot, logs, start, stop, clock, ids, summary):
    import numpy
    per_channel = {}
    per_id = {}
    for block in _decode.frame_blocks(logs, summary):
        timed = ~numpy.isnan(block.time)
        for code in numpy.unique(block.channel[timed]).tolist():
            chosen = timed & (block.channel == code)
            channel = block.channels[code]
            per_channel.setdefault(channel, []).extend(block.time[chosen].tolist())
            if not ids:
                continue
            chosen &= ~block.error
            keys = block.id[chosen].astype(numpy.int64) << 1 | block.extended[chosen]
            times = block.time[chosen]
            for key in numpy.unique(keys).tolist():
                per_id.setdefault((key >> 1, bool(key & 1), channel), []).extend(times[keys == key].tolist())
    if not per_channel:
        raise _decode.DatabaseError("the logs hold no CAN frame")
    origin, absolute = _origin(summary, clock)
    axis = _Axis(origin, absolute, clock)
    lo, hi = _in_range(None, start, stop, origin)
    heights = [_PANEL_HEIGHT + 0.5]
    if ids:
        heights.append(max(3.0, min(12.0, 0.13 * len(per_id))))
    figure, axes = _figure(pyplot, heights)
    ax = axes[0]
    first = max(lo, min(min(t) for t in per_channel.values()))
    last = min(hi, max(max(t) for t in per_channel.values()))
    seconds = int(last - first) + 1
    for channel, times in sorted(per_channel.items(), key=lambda item: str(item[0])):
        counts = [0] * seconds
        for t in times:
            if lo <= t <= hi:
                index = int(t - first)
                if 0 <= index < seconds:
                    counts[index] += 1
        edges = [first + i for i in range(seconds)]
        ax.step(axis(edges + [first + seconds]), counts + [counts[-1]], where="post", linewidth=1.2,
                label=f"{channel}: {_decode.count(len(times), 'frame')}")
    ax.set_ylabel("frames/s")
    ax.set_title("bus load: frames a second per channel", fontsize=10, loc="left")
    ax.legend(fontsize=8, loc="upper left")
    ax.set_ylim(bottom=0)
    if ids:
        ax = axes[1]
        keys = sorted(per_id, key=lambda k: (str(k[2]), k[1], k[0]))
        many_channels = len(per_channel) > 1
        for row, key in enumerate(keys):
            times = [t for t in per_id[key] if lo <= t <= hi]
            ax.plot(axis(times), [row] * len(times), linestyle="none", marker="|", markersize=4,
                    markeredgewidth=0.6, color="#1f77b4", rasterized=True)
        names = []
        for identifier, extended, channel in keys:
            name = f"{identifier:08X}" if extended else f"{identifier:03X}"
            names.append(f"{channel} {name}" if many_channels else name)
        ax.set_yticks(range(len(keys)))
        ax.set_yticklabels(names, fontsize=6 if len(keys) > 40 else 8, family="monospace")
        ax.set_ylim(-1, len(keys))
        ax.invert_yaxis()
        ax.set_ylabel("identifier")
        ax.set_title(f"frames by identifier ({len(keys)} identifiers)", fontsize=10, loc="left")
    _mark_gaps(axes, summary, axis, lo, hi, True)
    _finish(figure, axes, summary, axis, origin, absolute, lo, hi, start, stop)
    return figure


def save(figure, path, format=None):
    """Writes the figure to path (.png at 100 dpi, .svg or .pdf; text in
    an SVG stays text, to be found and selected)."""
    import matplotlib
    with matplotlib.rc_context({"svg.fonttype": "none", "svg.hashsalt": "buslog"}):
        figure.savefig(path, format=format, dpi=100, metadata={"Date": None} if _kind(path, format) == "svg" else None)


def _kind(path, format):
    return (format or os.path.splitext(str(path))[1][1:]).lower()


def show(figure):
    """Opens the figure in a window (needs a display)."""
    import matplotlib.pyplot as pyplot
    pyplot.show()
