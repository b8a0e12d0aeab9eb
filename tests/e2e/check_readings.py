#!/usr/bin/env python3
"""Checks the readings files of one morvek-scan run against each other.

    check_readings.py JSON [PROMETHEUS|-] [SVG|-] [--like|--like-results OTHER.json] [--values EXPR...]

The JSON report must hold together by itself: the read-time classes and the
errors add up to the blocks read; the failed blocks, the bytes read and the
slowest blocks agree with the range the run covered; the slow blocks in the
slowest list are the ones the classes count; the verdict follows from the
errors, the slow blocks and the SMART changes; the state a later run goes on
from repeats the run's figures. The Prometheus file (node_exporter's text
format) must give the same figures, and the SVG speed graph must be XML with
one curve point per speed point and one mark per failed block.

With --like, the report must say what OTHER.json says about the same disk
in everything but the times and the device's path (a disk that comes back
may come under another name): a run that went on from a stopped one
(--resume) against one that was not stopped. Read times are compared as far
as they do not depend on the moment: the blocks of each class together,
and the slow classes (200 ms and more) one by one with their blocks.
--like-results leaves the read times out but for their total, and the reads
in flight: with reads in flight the times depend on how reads were merged.

These are the invariants of any run; what one run must have found (which
blocks failed, which were slow) the calling test checks itself, on the
values of the EXPRs after --values: Python expressions over d, the parsed
JSON report, printed one a line (strings bare, anything else as compact
JSON), so that one start of Python serves a run's checks.

Prints a summary line, or the problems found, then the values; exits 0, or
1 when a problem was found.
"""
import calendar
import json
import math
import re
import sys
import time
import xml.dom.minidom

CLASSES = ["0-5ms", "5-20ms", "20-50ms", "50-200ms", "200-600ms", "600ms+"]
SMART_READINGS = [
    "reallocated_sectors", "reported_uncorrectable", "command_timeouts", "pending_sectors",
    "offline_uncorrectable", "udma_crc_errors", "critical_warning", "media_errors", "error_log_entries",
    "available_spare_percent", "available_spare_threshold_percent", "percentage_used", "grown_defects",
    "uncorrected_read_errors", "power_on_hours", "temperature_celsius",
]

problems = []


def expect(ok, message):
    if not ok:
        problems.append(message)
    return ok


def check_json(r):
    expect(r.get("format") == "morvek-scan-report" and r.get("version") == 1, "format/version")
    run, state, lat = r["run"], r["state"], r["latency"]
    counts, errors = lat["counts"], lat["errors"]
    expect(lat["limits_ms"] == [5, 20, 50, 200, 600], "limits_ms %s" % lat["limits_ms"])
    expect(len(counts) == 6, "%d latency classes" % len(counts))
    blocks = run["blocks_read"]
    expect(sum(counts) + errors == blocks,
           "classes %s + errors %d = %d, but blocks_read is %d" % (counts, errors, sum(counts) + errors, blocks))
    first, nxt, end = state["first_sector"], state["next_sector"], state["end_sector"]
    expect(first <= nxt <= end, "state range %d <= %d <= %d" % (first, nxt, end))
    expect(end <= r["device"]["size_bytes"] // 512, "end_sector %d past the device" % end)
    expect(run["first_sector"] == first and run["next_sector"] == nxt,
           "run range %d..%d, state %d..%d" % (run["first_sector"], run["next_sector"], first, nxt))
    if not run["stopped"] and not run["disk_stopped_answering"]:
        expect(nxt == end, "a whole run ends at its range's end: next %d, end %d" % (nxt, end))
    bad = r["bad_blocks"]
    # A run whose disk stopped answering ends where the row of failed reads
    # that told it so began; those reads are counted all the same.
    past = [b["sector"] for b in bad if b["sector"] >= nxt]
    if run["disk_stopped_answering"]:
        expect(run.get("stopped_answering_at_sector") == nxt and run["stopped"],
               "the disk stopped answering, but not where the run ends (%d)" % nxt)
        expect(past == list(range(nxt, nxt + 128 * len(past), 128)),
               "failed blocks past the run's end are not one row from it: %s" % past[:5])
    else:
        expect(not past, "failed blocks past the run's end: %s" % past[:5])
    expect(blocks == -(-(nxt - first) // 128) + len(past),
           "%d blocks read over sectors %d..%d (%d failures past it)" % (blocks, first, nxt, len(past)))
    for key, value in (("blocks", blocks), ("errors", errors), ("latency_counts", counts),
                       ("slow", counts[4] + counts[5]), ("bad_count", errors)):
        expect(state[key] == value, "state.%s %s, expected %s" % (key, state[key], value))

    sectors = [b["sector"] for b in bad]
    expect(len(bad) == errors, "%d bad_blocks but %d errors" % (len(bad), errors))
    expect(sectors == sorted(set(sectors)), "bad_blocks not ascending: %s" % sectors[:10])
    for b in bad:
        s = b["sector"]
        expect(first <= s < end and s % 128 == 0, "bad block %d outside %d..%d or unaligned" % (s, first, end))
        expect(b["count"] == min(128, end - s), "bad block %d counts %d sectors" % (s, b["count"]))
    expect(state["bytes_read"] == (nxt - first - sum(b["count"] for b in bad if b["sector"] < nxt)) * 512,
           "bytes_read %d for sectors %d..%d less the failed blocks" % (state["bytes_read"], first, nxt))
    expect(r["result"] == ("bad" if errors else "clean"), "result %s with %d errors" % (r["result"], errors))

    slowest = r["slowest"]
    ms = [s["ms"] for s in slowest]
    expect(ms == sorted(ms, reverse=True), "slowest not slowest first")
    expect(len(slowest) == min(100, blocks - errors), "%d slowest of %d good blocks" % (len(slowest), blocks - errors))
    for s in slowest:
        expect(first <= s["sector"] < nxt and s["sector"] % 128 == 0 and s["sector"] not in sectors,
               "slowest block %d is not a good block of the run" % s["sector"])
    if counts[4] + counts[5] <= 100:
        listed = [sum(1 for m in ms if 200 <= m < 600), sum(1 for m in ms if m >= 600)]
        expect(listed == counts[4:], "slowest list has %s blocks of 200-600/600+ ms, classes say %s"
               % (listed, counts[4:]))

    points = [p["sector"] for p in r["speed"]]
    expect(points == sorted(set(points)), "speed points not ascending")
    for p in r["speed"]:
        v = p["mb_per_s"]
        expect(first <= p["sector"] < end and isinstance(v, (int, float)) and math.isfinite(v) and v >= 0,
               "speed point %s" % p)

    smart = r.get("smart")
    warns = False
    if smart:
        after = smart["after"] if smart["after"]["available"] else smart["before"]
        warns = bool(smart["changes"]) or bool(after.get("failing"))
    slow = counts[4] + counts[5]
    level = "bad" if errors else "watch" if slow or warns else "clean"
    expect(r["verdict"]["level"] == level, "verdict %s, expected %s (errors %d, slow %d, SMART warns %s)"
           % (r["verdict"]["level"], level, errors, slow, warns))

    if "bad_sectors" in r:
        listed = r["bad_sectors"]
        expect(listed == sorted(set(listed)), "bad_sectors not ascending")
        for s in listed:
            expect(any(b["sector"] <= s < b["sector"] + b["count"] for b in bad),
                   "bad sector %d in no failed block" % s)
    return "JSON: %d blocks, %d failed, %d slow" % (blocks, errors, slow)


SAMPLE = re.compile(r'^([a-z_]+)\{([^}]*)\} (\S+)$')


def check_prometheus(r, path):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    helped, typed, values = set(), set(), {}
    for line in text.splitlines():
        if line.startswith("# HELP "):
            helped.add(line.split()[2])
        elif line.startswith("# TYPE "):
            expect(line.split()[3] == "gauge", "TYPE line %r" % line)
            typed.add(line.split()[2])
        else:
            m = SAMPLE.match(line)
            if not expect(m is not None, "not a sample line: %r" % line):
                continue
            name, labels, value = m.groups()
            expect(name in helped and name in typed, "%s has no HELP and TYPE before it" % name)
            want = 'device="%s",model="%s"' % (r["device"]["path"], r["device"]["model"])
            expect(labels.startswith(want), "labels %s, expected %s first" % (labels, want))
            values[(name, labels[len(want):])] = float(value)
    lat, state, run = r["latency"], r["state"], r["run"]

    def has(name, value, extra=""):
        got = values.get((name, extra))
        expect(got is not None and abs(got - value) <= 1, "%s%s: %s, expected %s" % (name, extra, got, value))

    has("morvek_scan_bad_blocks", lat["errors"])
    for k, cls in enumerate(CLASSES):
        has("morvek_scan_blocks", lat["counts"][k], ',class="%s"' % cls)
    has("morvek_scan_slow_blocks", state["slow"])
    has("morvek_scan_result_bad", 1 if r["result"] == "bad" else 0)
    has("morvek_scan_stopped", 1 if run["stopped"] else 0)
    has("morvek_scan_last_run_end_timestamp_seconds",
        calendar.timegm(time.strptime(run["ended"], "%Y-%m-%dT%H:%M:%SZ")))
    has("morvek_scan_throughput_bytes_per_second",
        round(state["bytes_read"] / (state["read_ns"] / 1e9)) if state["read_ns"] else 0)
    smart = r.get("smart")
    smart_lines = {n for n, _ in values if n.startswith("morvek_scan_smart_")}
    if smart and smart["after"]["available"]:
        after = smart["after"]
        has("morvek_scan_smart_available", 1)
        has("morvek_scan_smart_worse_during_scan", len(smart["changes"]))
        has("morvek_scan_smart_failing", 1 if after["failing"] else 0)
        for key in SMART_READINGS:
            if key in after:
                has("morvek_scan_smart_" + key, after[key])
            else:
                expect("morvek_scan_smart_" + key not in smart_lines, "%s given, absent in the JSON" % key)
    elif smart:
        # Asked, but no data: monitoring still learns that much, and nothing else.
        has("morvek_scan_smart_available", 0)
        has("morvek_scan_smart_worse_during_scan", 0)
        expect(smart_lines == {"morvek_scan_smart_available", "morvek_scan_smart_worse_during_scan"},
               "SMART readings without SMART data: %s" % sorted(smart_lines))
    else:
        expect(not smart_lines, "SMART lines with --no-smart: %s" % sorted(smart_lines))
    return "Prometheus: %d samples" % len(values)


def check_svg(r, path):
    doc = xml.dom.minidom.parse(path)
    root = doc.documentElement
    expect(root.tagName == "svg", "root element %s" % root.tagName)
    lines = [p for p in root.getElementsByTagName("polyline") if p.getAttribute("id") == "speed"]
    if not expect(len(lines) == 1, "%d speed polylines" % len(lines)):
        return
    pts = [tuple(map(float, p.split(","))) for p in lines[0].getAttribute("points").split()]
    expect(len(pts) == len(r["speed"]), "%d curve points for %d speed points" % (len(pts), len(r["speed"])))
    xs = [x for x, _ in pts]
    expect(xs == sorted(xs), "curve goes back along the disk")
    expect(all(70 <= x <= 880 and 40 <= y <= 350 for x, y in pts), "curve leaves the plot area")
    failed = [g for g in root.getElementsByTagName("g") if g.getAttribute("id") == "failed"]
    marks = [t.firstChild.data for t in failed[0].getElementsByTagName("title")] if failed else []
    want = ["failed read at sector %d" % b["sector"] for b in r["bad_blocks"]]
    expect(marks == want, "failed-block marks %s, expected %s" % (marks[:5], want[:5]))
    n = len(r["bad_blocks"])
    captions = [t.firstChild.data for t in root.getElementsByTagName("text") if t.firstChild]
    expect(any(c.endswith("; %d failed read%s (red)" % (n, "" if n == 1 else "s")) for c in captions),
           "no caption counting %d failed reads" % n)
    return "SVG: %d curve points" % len(pts)


def without_times(r):
    """The report less what depends on when and how fast it ran, and where the disk was found."""
    r = json.loads(json.dumps(r))
    r["device"].pop("path")
    for key in ("started", "ended", "elapsed_seconds"):
        r["run"].pop(key)
    for key in ("elapsed_ms", "read_ns", "stretches"):
        r["state"].pop(key)
    for counts in (r["latency"]["counts"], r["state"]["latency_counts"]):
        counts[:] = [sum(counts[:4])] + counts[4:]
    r["slow_blocks"] = sorted(s["sector"] for s in r.pop("slowest") if s["ms"] >= 200)
    r.pop("speed")
    return r


def without_read_times(r):
    """As without_times, and without the read-time classes and slow blocks:
    with reads in flight a read's time goes to the first block of its merged
    read, and waits overlap."""
    r = without_times(r)
    for counts in (r["latency"]["counts"], r["state"]["latency_counts"]):
        counts[:] = [sum(counts)]
    r.pop("slow_blocks")
    r["state"].pop("slow")
    r["run"].pop("reads_in_flight", None)
    return r


def check_like(r, path, results_only=False):
    with open(path, encoding="utf-8") as f:
        other = json.load(f)
    strip = without_read_times if results_only else without_times
    a, b = strip(r), strip(other)
    differ = []

    def walk(x, y, where):
        if isinstance(x, dict) and isinstance(y, dict):
            for k in sorted(set(x) | set(y)):
                walk(x.get(k), y.get(k), where + "." + k)
        elif isinstance(x, str) and isinstance(y, str) and x != y:
            at = next((i for i, (p, q) in enumerate(zip(x, y)) if p != q), min(len(x), len(y)))
            differ.append("%s: from character %d %r, there %r" % (where[1:], at, x[at:at + 20], y[at:at + 20]))
        elif x != y:
            differ.append("%s: %s, there %s" % (where[1:], str(x)[:80], str(y)[:80]))

    walk(a, b, "")
    expect(not differ, "unlike %s: %s" % (path, "; ".join(differ[:6])))
    return "like %s but for the %stimes" % (path.rsplit("/", 1)[-1], "read " if results_only else "")


def value(d, expr):
    try:
        v = eval(expr)
    except Exception as e:  # said in place of the value, which then differs from any expected one
        return "error in %s: %r" % (expr, e)
    return v if isinstance(v, str) else json.dumps(v, separators=(",", ":"))


def main():
    args, exprs, like = sys.argv[1:], [], None
    if "--values" in args:
        exprs = args[args.index("--values") + 1:]
        args = args[:args.index("--values")]
    results_only = "--like-results" in args
    option = "--like-results" if results_only else "--like"
    if option in args:
        like = args[args.index(option) + 1]
        del args[args.index(option):args.index(option) + 2]
    args += ["-", "-"]
    try:
        with open(args[0], encoding="utf-8") as f:
            report = json.load(f)
    except (OSError, ValueError) as e:
        print("no JSON report: %s" % e)
        sys.exit(1)
    said = []

    def run_check(what, check, *more):
        try:
            said.append(check(report, *more))
        except Exception as e:  # a file that lacks what it must hold is a problem to report, not a crash
            problems.append("%s: %s: %s" % (what, type(e).__name__, e))

    run_check("JSON", check_json)
    if args[1] != "-":
        run_check("Prometheus", check_prometheus, args[1])
    if args[2] != "-":
        run_check("SVG", check_svg, args[2])
    if like:
        run_check(option, check_like, like, results_only)
    if problems:
        print("; ".join(problems[:12]) + ("; ..." if len(problems) > 12 else ""))
    else:
        print("consistent: " + ", ".join(x for x in said if x))
    for expr in exprs:
        print(value(report, expr).replace("\n", " "))
    sys.exit(1 if problems else 0)


main()
