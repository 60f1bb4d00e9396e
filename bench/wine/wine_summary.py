#!/usr/bin/env python3
"""Medians and ratios of bench/wine/run.sh's runs.tsv: for "in" and "un",
install.exe's time over mrvbase.exe's in each run, as measured and with
install.exe's own fixed sleeps taken out; the median of each over the runs,
and the median time install.exe took from the log dialog's closing to its
exit (not part of its time)."""
import statistics
import sys


def main():
    rows = []
    with open(sys.argv[1]) as f:
        head = f.readline().rstrip("\n").split("\t")
        for line in f:
            rows.append(dict(zip(head, line.rstrip("\n").split("\t"))))
    print("%-4s %5s %12s %12s %12s %10s %10s %8s %14s" % (
        "cmd", "runs", "install ms", "sleeps ms", "mrvbase ms", "ratio", "no waits", "exit", "dialog close"))
    for command in ("in", "un"):
        ratios, bare, inst, base, sleeps, closes, codes = [], [], [], [], [], [], set()
        runs = sorted({r["run"] for r in rows}, key=int)
        for run in runs:
            i = [r for r in rows if r["run"] == run and r["command"] == command and r["program"] == "install"]
            b = [r for r in rows if r["run"] == run and r["command"] == command and r["program"] == "mrvbase"]
            if not i or not b or "NA" in (i[0]["ms"], b[0]["ms"]):
                continue
            ims, bms, sms = float(i[0]["ms"]), float(b[0]["ms"]), float(i[0]["sleep_ms"])
            inst.append(ims)
            base.append(bms)
            sleeps.append(sms)
            codes.add(i[0]["exit"])
            if i[0]["dialog"] == "1":
                closes.append(float(i[0]["after_close_ms"]))
            ratios.append(ims / bms)
            bare.append((ims - sms) / bms)
        if not ratios:
            print("%-4s no complete run" % command)
            continue
        close = "%.1f" % statistics.median(closes) if closes else "-"
        print("%-4s %5d %12.1f %12.1f %12.1f %10.2f %10.2f %8s %14s" % (
            command, len(ratios), statistics.median(inst), statistics.median(sleeps), statistics.median(base),
            statistics.median(ratios), statistics.median(bare), ",".join(sorted(codes)), close))


if __name__ == "__main__":
    main()
