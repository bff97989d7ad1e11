#!/usr/bin/env python3
"""Counts what one ctest run did, from the JUnit file it wrote.

    ctest-summary.py JUNIT STAGE SKIPPED_LIST

Prints "passed failed skipped" on one line and appends one line per skipped
test to SKIPPED_LIST: the stage, the test and why it was skipped (the last
line the test printed, which every skip of ours makes its reason).
"""
import sys
import xml.etree.ElementTree as ElementTree


def reason_of(case):
    out = case.findtext("system-out") or ""
    lines = [line.strip() for line in out.splitlines() if line.strip()]
    for line in reversed(lines):
        # GoogleTest puts the reason of a GTEST_SKIP on the line before
        # "[  SKIPPED ]".
        if line.startswith("[  SKIPPED ]") or line.startswith("[==========]"):
            continue
        if line.startswith("[") and "]" in line:
            continue
        return line
    skipped = case.find("skipped")
    if skipped is not None and skipped.get("message"):
        return skipped.get("message")
    return "(no reason printed)"


def is_skip(case):
    """A skip the test chose; ctest also says "notrun" of a program that
    could not be started, which is a failure."""
    skipped = case.find("skipped")
    message = skipped.get("message", "") if skipped is not None else ""
    return message.startswith("SKIP_RETURN_CODE") or message.startswith("SKIP_REGULAR_EXPRESSION")


def main():
    junit, stage, skipped_list = sys.argv[1:4]
    passed = failed = skipped = 0
    notes = []
    root = ElementTree.parse(junit).getroot()
    for case in root.iter("testcase"):
        status = case.get("status")
        if status == "run":
            passed += 1
        elif is_skip(case):
            skipped += 1
            notes.append(f"{stage}\t{case.get('name')}\t{reason_of(case)}")
        else:
            failed += 1
    with open(skipped_list, "a", encoding="utf-8") as out:
        for note in notes:
            out.write(note + "\n")
    print(passed, failed, skipped)


if __name__ == "__main__":
    main()
