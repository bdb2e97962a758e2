#!/usr/bin/env python3
"""Counts test cases of one CTest run: GoogleTest cases from each program's XML,
one case for a CTest test without XML, and at least one failure for a failed test.

usage: count-results.py BUILD_DIR   ->  prints "PASSED FAILED"
"""
import os
import sys
import xml.etree.ElementTree as ET

build = sys.argv[1]
passed = failed = 0
try:
    junit = ET.parse(os.path.join(build, "ctest-junit.xml")).getroot()
except (OSError, ET.ParseError):
    print("0 1")
    sys.exit(0)
for case in junit.iter("testcase"):
    name = case.get("name")
    ctest_ok = case.get("status") == "run" and case.find("failure") is None
    if case.get("status") == "disabled":
        continue
    gtest_xml = os.path.join(build, "test-results", name + ".xml")
    p = f = 0
    if os.path.exists(gtest_xml):
        try:
            for tc in ET.parse(gtest_xml).getroot().iter("testcase"):
                if tc.get("status") != "run" or tc.get("result") == "skipped":
                    continue
                if tc.find("failure") is not None:
                    f += 1
                else:
                    p += 1
        except ET.ParseError:
            pass
    elif ctest_ok:
        p = 1
    if not ctest_ok and f == 0:
        f = 1
    passed += p
    failed += f
print(passed, failed)
