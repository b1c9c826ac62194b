#!/usr/bin/env python3
"""Turns bench/run.sh's measurements into one Markdown table.

    report.py OUT_DIR

Reads OUT_DIR/rows.tsv (one line per table row, written by run.sh's `row`), hyperfine's JSON
exports OUT_DIR/NAME.json, OUT_DIR/rss.tsv (peak resident set per benchmark, KiB) and
OUT_DIR/dbus.tsv (D-Bus messages of one run, when present), and prints the tables. A ratio is always of medians from the same hyperfine call:
    time:       subject / (factor x anchor)   the target is an upper bound
    throughput: factor x anchor / subject     the target is a lower bound
"""

import json
import os
import sys


def medians(path):
    with open(path) as f:
        results = json.load(f)["results"]
    return {r["command"]: r["median"] for r in results}


def milliseconds(seconds):
    return "%.2f ms" % (seconds * 1000) if seconds < 10 else "%.2f s" % seconds


def main():
    out = sys.argv[1]
    rss = {}
    with open(os.path.join(out, "rss.tsv")) as f:
        for line in f:
            key, kib = line.rstrip("\n").split("\t")
            rss[key] = int(kib)
    print("| Benchmark | Median | Anchor | Anchor median | Ratio | Target | Met | Peak RSS |")
    print("|---|---:|---|---:|---:|---:|---|---:|")
    missed = []
    with open(os.path.join(out, "rows.tsv")) as f:
        for line in f:
            _, label, name, subject, anchor, factor, mode, target, rss_key = (
                line.rstrip("\n").split("\t"))
            times = medians(os.path.join(out, name + ".json"))
            factor = float(factor)
            anchor_time = factor * times[anchor]
            if mode == "time":
                ratio = times[subject] / anchor_time
                bound, met = "≤ %s×" % target, None if target == "-" else ratio <= float(target)
            else:
                ratio = anchor_time / times[subject]
                bound, met = "≥ %s×" % target, None if target == "-" else ratio >= float(target)
            if target == "-":
                bound = "-"
            anchor_label = ("%g × " % factor if factor != 1 else "") + anchor
            verdict = "-" if met is None else ("yes" if met else "**no**")
            if met is False:
                missed.append(label)
            print("| %s | %s | %s | %s | %.2f× | %s | %s | %.1f MiB |" % (
                label, milliseconds(times[subject]), anchor_label, milliseconds(anchor_time),
                ratio, bound, verdict, rss[rss_key] / 1024))
    print()
    print("Anchors: store = `git credential-store get` on the same request; gh = `gh auth "
          "git-credential get` with the token in its plain-text config; secret-tool = "
          "`secret-tool lookup` of the same keyring item; curl = the same refresh POST to the "
          "same local fake service; openssl = `openssl dgst -sha256` over the same files. "
          "For `verified` the ratio is throughput (anchor time / helper time). Peak RSS is the "
          "helper's (or the verification driver's), the largest of three runs.")
    if missed:
        print()
        print("Targets missed: " + "; ".join(missed) + ".")
    messages = os.path.join(out, "dbus.tsv")
    if os.path.exists(messages):
        print()
        print("D-Bus messages of one run (every message on the private bus meanwhile):")
        print()
        print("| Run | Messages |")
        print("|---|---:|")
        with open(messages) as f:
            for line in f:
                label, count = line.rstrip("\n").split("\t")
                print("| %s | %s |" % (label, count))


if __name__ == "__main__":
    main()
