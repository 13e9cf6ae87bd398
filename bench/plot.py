#!/usr/bin/env python3
"""Draws requests/s and p99 latency against connections from a bench/run (JSON lines) into
one SVG: the server in solid lines, the echo limit dashed, one colour per request.

    bench/plot.py RESULTS.jsonl OUT.svg
"""
import json
import math
import statistics
import sys
from collections import defaultdict

COLOURS = ["#1f5fa8", "#c0392b", "#27864a", "#8e44ad", "#d68910", "#5d6d7e"]
PANEL_W, PANEL_H = 420, 300
MARGIN_L, MARGIN_R, MARGIN_T, MARGIN_B = 70, 20, 40, 50


def series(runs):
    """{(requests, label): {connections: (median req/s, median p99 µs)}} of the closed loop."""
    points = defaultdict(lambda: defaultdict(list))
    for run in runs:
        if run["mode"] == "closed":
            points[(run["requests"], run["label"])][run["connections"]].append(run)
    result = {}
    for key, by_connections in points.items():
        result[key] = {
            c: (statistics.median(r["requests_per_s"] for r in group),
                statistics.median(r["latency_us"]["p99"] for r in group))
            for c, group in by_connections.items()}
    return result


def log_ticks(low, high):
    ticks = []
    for exponent in range(math.floor(math.log10(low)), math.ceil(math.log10(high)) + 1):
        for mantissa in (1, 2, 5):
            value = mantissa * 10 ** exponent
            if low <= value <= high:
                ticks.append(value)
    return ticks


def label(value):
    for limit, suffix in ((1e6, "M"), (1e3, "k")):
        if value >= limit:
            return f"{value / limit:g}{suffix}"
    return f"{value:g}"


def panel(x0, title, data, pick, connections):
    values = [pick(point) for line in data.values() for point in line.values() if pick(point) > 0]
    low = 10 ** math.floor(math.log10(min(values)))
    high = 10 ** math.ceil(math.log10(max(values)))
    cmin, cmax = min(connections), max(connections)
    width = PANEL_W - MARGIN_L - MARGIN_R
    height = PANEL_H - MARGIN_T - MARGIN_B

    def sx(c):
        span = math.log(cmax) - math.log(cmin) or 1
        return x0 + MARGIN_L + (math.log(c) - math.log(cmin)) / span * width

    def sy(v):
        return MARGIN_T + height - (math.log(v) - math.log(low)) / (math.log(high) - math.log(low)) * height

    out = [f'<text x="{x0 + PANEL_W / 2}" y="22" text-anchor="middle" font-weight="bold">{title}</text>',
           f'<rect x="{x0 + MARGIN_L}" y="{MARGIN_T}" width="{width}" height="{height}" '
           'fill="none" stroke="#888"/>']
    for tick in log_ticks(low, high):
        y = sy(tick)
        out.append(f'<line x1="{x0 + MARGIN_L}" x2="{x0 + MARGIN_L + width}" y1="{y:.1f}" '
                   f'y2="{y:.1f}" stroke="#ddd"/>')
        out.append(f'<text x="{x0 + MARGIN_L - 6}" y="{y + 4:.1f}" text-anchor="end">{label(tick)}</text>')
    for c in connections:
        x = sx(c)
        out.append(f'<text x="{x:.1f}" y="{MARGIN_T + height + 18}" text-anchor="middle">{c}</text>')
    out.append(f'<text x="{x0 + MARGIN_L + width / 2}" y="{PANEL_H - 10}" '
               'text-anchor="middle">connections</text>')
    requests = sorted({key[0] for key in data})
    for (request, who), line in sorted(data.items()):
        colour = COLOURS[requests.index(request) % len(COLOURS)]
        dash = ' stroke-dasharray="6 4"' if who == "echo" else ""
        path = " ".join(f"{sx(c):.1f},{sy(pick(p)):.1f}" for c, p in sorted(line.items()) if pick(p) > 0)
        out.append(f'<polyline points="{path}" fill="none" stroke="{colour}" stroke-width="2"{dash}/>')
        for c, p in line.items():
            if pick(p) > 0:
                out.append(f'<circle cx="{sx(c):.1f}" cy="{sy(pick(p)):.1f}" r="3" fill="{colour}"/>')
    return out


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1]) as lines:
        runs = [json.loads(line) for line in lines if line.strip()]
    data = series(runs)
    if not data:
        sys.exit("plot.py: no closed-loop runs")
    connections = sorted({c for line in data.values() for c in line})
    requests = sorted({key[0] for key in data})
    legend_h = 20 * (len(requests) + 1) + 10
    total_w, total_h = 2 * PANEL_W, PANEL_H + legend_h
    svg = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{total_w}" height="{total_h}" '
           f'font-family="sans-serif" font-size="12">',
           f'<rect width="{total_w}" height="{total_h}" fill="white"/>']
    svg += panel(0, "requests/s", data, lambda p: p[0], connections)
    svg += panel(PANEL_W, "p99 latency (µs)", data, lambda p: p[1], connections)
    y = PANEL_H + 15
    for i, request in enumerate(requests):
        colour = COLOURS[i % len(COLOURS)]
        svg.append(f'<line x1="{MARGIN_L}" x2="{MARGIN_L + 30}" y1="{y}" y2="{y}" stroke="{colour}" stroke-width="2"/>')
        svg.append(f'<text x="{MARGIN_L + 38}" y="{y + 4}">{request}</text>')
        y += 20
    svg.append(f'<text x="{MARGIN_L}" y="{y + 4}">solid: server (plug-in in the stand-in host); '
               'dashed: echo limit</text>')
    svg.append("</svg>")
    with open(sys.argv[2], "w") as out:
        out.write("\n".join(svg) + "\n")


if __name__ == "__main__":
    main()
