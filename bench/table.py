#!/usr/bin/env python3
"""Prints the table of a bench/run: the medians of the repeated daqbench runs (JSON lines)
against the server ("host") and the echo limit ("echo"), with the server's ratio to the limit.

    bench/table.py RESULTS.jsonl
"""
import json
import statistics
import sys
from collections import defaultdict


def load(path):
    with open(path) as lines:
        return [json.loads(line) for line in lines if line.strip()]


def median(runs, *path):
    values = []
    for run in runs:
        value = run
        for key in path:
            value = value.get(key) if isinstance(value, dict) else None
        if value is not None:
            values.append(value)
    return statistics.median(values) if values else None


def fmt(value, digits=0):
    if value is None:
        return "–"
    if digits == 0 and abs(value) >= 1000:
        return f"{value:,.0f}".replace(",", " ")
    return f"{value:.{digits}f}"


def ratio(a, b):
    return f"{a / b:.2f}×" if a is not None and b else "–"


def grouped(runs, mode):
    groups = defaultdict(lambda: defaultdict(list))
    for run in runs:
        if run["mode"] == mode:
            groups[(run["requests"], run["connections"])][run["label"]].append(run)
    return groups


def request_order(key):
    requests, connections = key
    k = 0
    if "k=" in requests:
        k = int(requests.split("k=")[1].split(")")[0])
    return (requests.split("(")[0], k, connections)


def baseline_share(runs):
    """The server's CPU share with nobody connected (its DAQ run), from the "baseline" run."""
    return median([run for run in runs if run["label"] == "baseline"],
                  "server", "baseline_cpu_share") or 0.0


def net_cpu_per_request(runs, baseline):
    """Median server CPU µs per request without the DAQ run's own share."""
    values = []
    for run in runs:
        cpu = run.get("server", {}).get("cpu_s")
        if cpu is not None and run["answers"]:
            values.append((cpu - baseline * run["seconds"]) * 1e6 / run["answers"])
    return statistics.median(values) if values else None


def closed_table(runs):
    baseline = baseline_share(runs)
    rows = [
        "| request | conn | server req/s | limit req/s | ratio | server values/s | "
        "server p50 µs | limit p50 µs | server p99 µs | limit p99 µs | "
        "server CPU µs/req | net of DAQ run | limit CPU µs/req | CPU ratio | errors | load avg |",
        "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|",
    ]
    groups = grouped(runs, "closed")
    for key in sorted(groups, key=request_order):
        host, echo = groups[key]["host"], groups[key]["echo"]
        host_rate = median(host, "requests_per_s")
        echo_rate = median(echo, "requests_per_s")
        errors = sum(run["errors"]["total"] for run in host + echo)
        load = median(host + echo, "load_average_before")
        host_cpu = median(host, "server", "cpu_us_per_request")
        net_cpu = net_cpu_per_request(host, baseline)
        echo_cpu = median(echo, "server", "cpu_us_per_request")
        rows.append(
            f"| {key[0]} | {key[1]} | {fmt(host_rate)} | {fmt(echo_rate)} | "
            f"{ratio(host_rate, echo_rate)} | {fmt(median(host, 'values_per_s'))} | "
            f"{fmt(median(host, 'latency_us', 'p50'), 1)} | "
            f"{fmt(median(echo, 'latency_us', 'p50'), 1)} | "
            f"{fmt(median(host, 'latency_us', 'p99'), 1)} | "
            f"{fmt(median(echo, 'latency_us', 'p99'), 1)} | "
            f"{fmt(host_cpu, 2)} | {fmt(net_cpu, 2)} | {fmt(echo_cpu, 2)} | "
            f"{ratio(echo_cpu, net_cpu)} | {errors} | {fmt(load, 2)} |")
    return rows


def most(runs, key):
    """The largest server figure of the runs: memory per connection is new memory only in the
    first run, later runs reuse what the allocator kept from it."""
    values = [run["server"][key] for run in runs if key in run.get("server", {})]
    return max(values) if values else None


def idle_table(runs):
    rows = [
        "| idle connections | server CPU % before connecting | server CPU % with them | "
        "added by them | limit CPU % | server bytes/connection (most) | limit bytes/connection | "
        "errors | load avg |",
        "|---:|---:|---:|---:|---:|---:|---:|---:|---:|",
    ]
    groups = grouped([run for run in runs if run["label"] != "baseline"], "idle")
    for key in sorted(groups, key=request_order):
        host, echo = groups[key]["host"], groups[key]["echo"]
        share = lambda group, what="cpu_share": (median(group, "server", what) or 0) * 100
        added = statistics.median(
            run["server"]["cpu_share"] - run["server"].get("baseline_cpu_share", 0)
            for run in host) * 100
        errors = sum(run["errors"]["total"] for run in host + echo)
        rows.append(
            f"| {key[1]} | {fmt(share(host, 'baseline_cpu_share'), 2)} | {fmt(share(host), 2)} | "
            f"{fmt(added, 2)} | {fmt(share(echo), 2)} | "
            f"{fmt(most(host, 'rss_per_connection'))} | "
            f"{fmt(most(echo, 'rss_per_connection'))} | {errors} | "
            f"{fmt(median(host + echo, 'load_average_before'), 2)} |")
    return rows


def open_table(runs):
    rows = [
        "| request | conn | rate/s | server p50 µs | server p99 µs | server p99.9 µs | "
        "limit p50 µs | limit p99 µs | limit p99.9 µs | server CPU % | errors | load avg |",
        "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|",
    ]
    groups = grouped(runs, "open")
    for key in sorted(groups, key=request_order):
        host, echo = groups[key]["host"], groups[key]["echo"]
        errors = sum(run["errors"]["total"] for run in host + echo)
        rows.append(
            f"| {key[0]} | {key[1]} | {fmt(median(host, 'offered_rate'))} | "
            + " | ".join(fmt(median(group, "latency_us", p), 1)
                         for group in (host, echo) for p in ("p50", "p99", "p99_9"))
            + f" | {fmt((median(host, 'server', 'cpu_share') or 0) * 100, 1)} | {errors} | "
            f"{fmt(median(host + echo, 'load_average_before'), 2)} |")
    return rows


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    runs = load(sys.argv[1])
    print(f"Server with nobody connected (its DAQ run): {baseline_share(runs) * 100:.1f} % of a "
          "core; 'net of DAQ run' takes that share out of the server's CPU per request; "
          "CPU ratio = limit CPU / net server CPU per request.")
    for title, table in (("Closed loop", closed_table), ("Idle connections", idle_table),
                         ("Open loop", open_table)):
        rows = table(runs)
        if len(rows) > 2:
            print(f"\n{title} (medians of the repeated runs; server = the host's plug-in, "
                  "limit = echo-limit; ratio = server / limit)\n")
            print("\n".join(rows))


if __name__ == "__main__":
    main()
