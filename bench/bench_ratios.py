#!/usr/bin/env python3
"""Ratios between successive sizes of Google Benchmark results (JSON from
--benchmark_out): for each benchmark family, the CPU time per iteration at
each size and its ratio to the size ten times smaller, measured in the same
run. A ratio near 10 is linear growth, near 100 quadratic.

Usage: bench_ratios.py BENCH.json"""
import collections
import json
import sys

UNITS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}


def main():
    with open(sys.argv[1]) as f:
        data = json.load(f)
    families = collections.OrderedDict()
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" or "/" not in b["name"]:
            continue
        family, size = b["name"].split("/", 1)
        if not size.isdigit():
            continue
        scale = UNITS[b.get("time_unit", "ns")]
        families.setdefault(family, []).append(
            (int(size), b["cpu_time"] * scale, b["real_time"] * scale, b.get("iterations", 0)))
    print("%-28s %8s %14s %14s %10s %8s" % ("benchmark", "size", "cpu ms", "wall ms", "x previous", "iters"))
    for family, rows in families.items():
        previous = None
        for size, cpu, wall, iters in rows:
            ratio = "%.1f" % (cpu / previous) if previous else "-"
            print("%-28s %8d %14.4f %14.4f %10s %8d" % (family, size, cpu, wall, ratio, iters))
            previous = cpu


if __name__ == "__main__":
    main()
