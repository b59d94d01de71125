#!/usr/bin/env python3
"""Line and branch coverage from gcovr's JSON report, without exception edges.

A template or inline function has one copy per object file that uses it, and
only the copy that the linker keeps ever runs. gcov marks the exception edges
of the copy that ran, but not those of the copies that never ran, so gcovr's
--exclude-throw-branches leaves their zero counts in the merged figures. gcovr
merges the marks themselves correctly (a branch is an exception edge when any
copy says so), so this reads its merged JSON written without that option and
leaves the marked edges out afterwards.

Usage: coverage-summary.py REPORT.json [--fail-under-line N] [--fail-under-branch N]
"""
import argparse
import json
import sys


def percent(covered, total):
    return 100.0 * covered / total if total else 100.0


def summarise(report):
    rows = []
    for source in sorted(report["files"], key=lambda f: f["file"]):
        lines = [line for line in source["lines"] if not line.get("gcovr/noncode")]
        missed_lines = [line["line_number"] for line in lines if line["count"] == 0]
        branches = [
            (line["line_number"], branch)
            for line in lines
            for branch in line.get("branches", [])
            if not branch.get("throw")
        ]
        missed_branches = sorted({number for number, branch in branches if branch["count"] == 0})
        rows.append({
            "file": source["file"],
            "lines": (len(lines) - len(missed_lines), len(lines)),
            "branches": (sum(1 for _, b in branches if b["count"] > 0), len(branches)),
            "missed_lines": missed_lines,
            "missed_branches": missed_branches,
        })
    return rows


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("report")
    parser.add_argument("--fail-under-line", type=float, default=0.0)
    parser.add_argument("--fail-under-branch", type=float, default=0.0)
    args = parser.parse_args()
    with open(args.report, encoding="utf-8") as report:
        rows = summarise(json.load(report))

    print(f"{'File':34} {'Lines':>15} {'Branches':>15}   Branches missed on lines")
    for row in rows:
        line_text = "{}/{} {:5.1f}%".format(*row["lines"], percent(*row["lines"]))
        branch_text = "{}/{} {:5.1f}%".format(*row["branches"], percent(*row["branches"]))
        missed = ",".join(str(n) for n in row["missed_branches"])
        print(f"{row['file']:34} {line_text:>15} {branch_text:>15}   {missed}")
        if row["missed_lines"]:
            print(f"{'':34} lines missed: {','.join(str(n) for n in row['missed_lines'])}")
    lines = tuple(sum(row["lines"][i] for row in rows) for i in (0, 1))
    branches = tuple(sum(row["branches"][i] for row in rows) for i in (0, 1))
    print("{:34} {:>15} {:>15}".format(
        "TOTAL",
        "{}/{} {:5.1f}%".format(*lines, percent(*lines)),
        "{}/{} {:5.1f}%".format(*branches, percent(*branches))))

    failed = False
    if percent(*lines) < args.fail_under_line:
        print(f"line coverage below {args.fail_under_line}%", file=sys.stderr)
        failed = True
    if percent(*branches) < args.fail_under_branch:
        print(f"branch coverage below {args.fail_under_branch}%", file=sys.stderr)
        failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
