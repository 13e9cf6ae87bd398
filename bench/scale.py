#!/usr/bin/env python3
"""Prints the table of a bench/scale: one row per plant size from the JSON lines of its runs
(labelled "<tags>:<what>"; medians of repeated runs) and the refresh passes of refresh_bench,
then the idle connections.

    bench/scale.py RESULTS.jsonl REFRESH.json
"""
import json
import sys

from table import fmt, load, median

MiB = 1024 * 1024
TIME_UNITS = {"ns": 1e-3, "us": 1, "ms": 1e3, "s": 1e6}


def by_size(runs):
    sizes = {}
    for run in runs:
        tags, what = run["label"].split(":")
        sizes.setdefault(int(tags), {}).setdefault(what, []).append(run)
    return dict(sorted(sizes.items()))


def refresh_passes(path):
    """CPU µs of one RefreshPass of each size (its wall time on a busy machine is mostly other
    processes' turns)."""
    with open(path) as file:
        report = json.load(file)
    return {int(bench["name"].split("/")[1]): bench["cpu_time"] * TIME_UNITS[bench["time_unit"]]
            for bench in report["benchmarks"] if bench["name"].startswith("RefreshPass/")}


def latency(runs):
    return f"{fmt(median(runs, 'latency_us', 'p50'))} / {fmt(median(runs, 'latency_us', 'p99'))}"


def size_table(sizes, passes):
    rows = [
        "| tags | start to listening s | its CPU s | RSS MiB | peak RSS MiB | "
        "RSS added per tag, bytes | idle CPU % of a core | refresh pass CPU µs | ns per entry | "
        "DAQLIST page (1000) p50 / p99 µs | DAQ_DATA(100) C=16 req/s | its p50 / p99 µs | "
        "errors | load avg |",
        "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|",
    ]
    previous = None
    for tags, runs in sizes.items():
        start, idle = runs.get("start", []), runs.get("idle", [])
        page, data = runs.get("daqlist", []), runs.get("daq_data", [])
        rss = median(idle, "server", "rss_before")
        added = None
        if previous and rss is not None and previous[1] is not None:
            added = (rss - previous[1]) / (tags - previous[0])
        previous = (tags, rss)
        peak = median(start, "rss_peak")
        share = median(idle, "server", "baseline_cpu_share")
        refresh = passes.get(tags)
        errors = sum(run["errors"]["total"] for run in idle + page + data)
        rows.append(
            f"| {fmt(tags)} | {fmt(median(start, 'start_s'), 2)} | "
            f"{fmt(median(start, 'start_cpu_s'), 2)} | {fmt(rss / MiB if rss else None, 1)} | "
            f"{fmt(peak / MiB if peak else None, 1)} | {fmt(added)} | "
            f"{fmt(share * 100 if share is not None else None, 2)} | "
            f"{fmt(refresh, 1 if refresh and refresh < 100 else 0)} | "
            f"{fmt(refresh * 1000 / tags if refresh else None, 2)} | "
            f"{latency(page)} | {fmt(median(data, 'requests_per_s'))} | {latency(data)} | "
            f"{errors} | "
            f"{fmt(median(start + idle + page + data, 'load_average_before'), 2)} |")
    return rows


def connection_lines(sizes):
    lines = []
    for tags, runs in sizes.items():
        for run in runs.get("connections", []):
            server = run["server"]
            before, during = server["baseline_cpu_share"], server["cpu_share"]
            lines.append(
                f"{fmt(run['connections'])} idle connections at {fmt(tags)} tags ({run['ready']} "
                f"ready, {run['errors']['total']} errors): server CPU {before * 100:.2f} % of a "
                f"core before connecting, {during * 100:.2f} % with them "
                f"({(during - before) * 100:.2f} % added); "
                f"{fmt(server.get('rss_per_connection'))} bytes of RSS per connection; "
                f"load average {run['load_average_before']:.2f}")
    return lines


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sizes = by_size(load(sys.argv[1]))
    print("\n".join(size_table(sizes, refresh_passes(sys.argv[2]))))
    lines = connection_lines(sizes)
    if lines:
        print("\n" + "\n".join(lines))


if __name__ == "__main__":
    main()
