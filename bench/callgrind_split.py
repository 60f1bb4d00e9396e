#!/usr/bin/env python3
"""Splits a callgrind profile of one installer run into the installer's own
cost and winsim's.

Usage: callgrind_split.py CALLGRIND_OUT [TOP]

Functions are told apart by the source file they were compiled from (the
build needs -g): src/ is the installer, winsim/ the simulator, tests/ and
bench/ the harness; anything else (the C and C++ libraries, template code
from system headers) is a library. The installer's cost is the instructions
of its own functions plus everything the libraries did on their behalf
(memset, memcpy); the rest of the run is winsim's (with what the libraries
did for it). Prints the totals and the TOP functions of each side by their
own instructions."""
import collections
import os
import re
import sys


# The repository's root: source files are told apart by their path below it,
# so that a checkout that itself lies below some "src" directory is read right.
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__))) + "/"


def classify(path):
    if not path.startswith(ROOT):
        return "library"
    top = path[len(ROOT):].split("/", 1)[0]
    if top == "src":
        return "installer"
    if top == "winsim":
        return "winsim"
    if top in ("tests", "bench"):
        return "harness"
    return "library"


def main():
    path = sys.argv[1]
    top = int(sys.argv[2]) if len(sys.argv) > 2 else 8
    names = {}  # (kind, id) -> name

    def name(kind, text):
        m = re.match(r"\((\d+)\)(?: (.*))?$", text)
        if not m:
            return text
        key = (kind, m.group(1))
        if m.group(2) is not None:
            names[key] = m.group(2)
        return names.get(key, text)

    self_cost = collections.Counter()
    fn_file = {}
    edges = collections.Counter()
    cur_fn, cur_fl, call_target, pending_call = None, "", None, False
    file_kinds = {"fl": "fl", "fi": "fl", "fe": "fl", "cfl": "fl", "cfi": "fl"}
    with open(path) as f:
        for line in f:
            line = line.rstrip("\n")
            if not line:
                continue
            head, _, rest = line.partition("=")
            if head in file_kinds and _:
                value = name("fl", rest)
                if head == "fl":
                    cur_fl = value
                continue
            if head == "fn" and _:
                cur_fn = name("fn", rest)
                fn_file.setdefault(cur_fn, cur_fl)
                continue
            if head == "cfn" and _:
                call_target = name("fn", rest)
                continue
            if head == "calls" and _:
                pending_call = True
                continue
            if head in ("ob", "cob") and _:
                name("ob", rest)
                continue
            if line[0] in "0123456789+-*":
                parts = line.split()
                cost = int(parts[1]) if len(parts) > 1 else 0
                if pending_call:
                    edges[(cur_fn, call_target)] += cost
                    pending_call = False
                else:
                    self_cost[cur_fn] += cost
    total = sum(self_cost.values())
    kind = {fn: classify(fl) for fn, fl in fn_file.items()}
    for fn in self_cost:
        kind.setdefault(fn, "library")
    installer = sum(c for fn, c in self_cost.items() if kind[fn] == "installer")
    installer += sum(c for (a, b), c in edges.items() if kind.get(a) == "installer" and kind.get(b) == "library")
    harness = sum(c for fn, c in self_cost.items() if kind[fn] == "harness")
    harness += sum(c for (a, b), c in edges.items() if kind.get(a) == "harness" and kind.get(b) == "library")
    winsim = total - installer - harness
    print("instructions_total %d" % total)
    print("instructions_installer %d" % installer)
    print("instructions_winsim %d" % winsim)
    print("instructions_harness %d" % harness)
    for side in ("installer", "winsim", "library"):
        best = sorted((c for c in self_cost.items() if kind[c[0]] == side), key=lambda c: -c[1])[:top]
        for fn, c in best:
            short = re.sub(r"\(.*", "", fn.replace("(anonymous namespace)", "{anon}"))
            print("top_%s %d %s" % (side, c, short))


if __name__ == "__main__":
    main()
