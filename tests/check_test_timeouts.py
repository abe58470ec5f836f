#!/usr/bin/env python3
"""Fails when a test registered in the build folder has no time limit.

Usage: check_test_timeouts.py <ctest> <build folder>
"""

import json
import subprocess
import sys


def main():
    ctest, build = sys.argv[1], sys.argv[2]
    listing = subprocess.run([ctest, "--test-dir", build, "--show-only=json-v1"],
                             stdout=subprocess.PIPE, check=True, text=True).stdout
    tests = json.loads(listing).get("tests", [])
    if not tests:
        print("no tests listed in " + build)
        return 1
    missing = []
    for t in tests:
        props = {p["name"]: p["value"] for p in t.get("properties", [])}
        if float(props.get("TIMEOUT", 0)) <= 0:
            missing.append(t["name"])
    for name in missing:
        print("no TIMEOUT: " + name)
    print("%d tests, %d without a time limit" % (len(tests), len(missing)))
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
