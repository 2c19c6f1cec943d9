#!/usr/bin/env python3
"""Checks a `setup build --json` report against the package folder it names.

Usage: check_report.py <report.json> <package folder>
Every file of the folder must be listed once, with its size and a SHA-256
that Python's hashlib computes alike; nothing else may be listed. The report's installer must be the single file,
listed among them. Prints one
summary line ("status=…;warnings=…;entries=…") for the caller to compare and
exits 1 with the differences when the listing is wrong.
"""
import hashlib
import json
import os
import sys


def main(report_path, folder):
    with open(report_path, encoding="utf-8") as stream:
        report = json.load(stream)
    on_disk = {}
    for base, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(base, name)
            with open(path, "rb") as stream:
                digest = hashlib.sha256(stream.read()).hexdigest()
            on_disk[os.path.relpath(path, folder).replace(os.sep, "\\")] = (os.path.getsize(path), digest)
    listed = {f["name"]: (f["size"], f["sha256"]) for f in report["files"]}
    problems = [f"{name}: listed {listed.get(name)}, on disk {on_disk.get(name)}"
                for name in sorted(set(on_disk) | set(listed)) if on_disk.get(name) != listed.get(name)]
    if len(listed) != len(report["files"]):
        problems.append("a file is listed twice")
    installer = report["installer"]
    if report["packageFolder"] is not None and (
            installer is None or listed.get(installer["name"]) != (installer["size"], installer["sha256"])
            or not installer["name"].endswith("-setup.exe")):
        problems.append(f"installer {installer} is not the single file listed")
    entries = ",".join(
        "-" if w["entry"] is None else
        f"{w['entry']['list']}:{w['entry']['position']}:{w['entry']['name']}:{w['entry']['action']}:{w['entry']['line']}"
        for w in report["warnings"])
    print(f"status={report['status']};exit={report['exitCode']};warnings={report['warningCount']};"
          f"listed={len(report['warnings'])};entries={entries}")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
