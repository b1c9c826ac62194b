#!/usr/bin/env python3
"""Prints why each test of the last ctest run was skipped.

    scripts/test-skips.py BUILD_DIR

ctest's console names a skipped test with "(Skipped)" only; the reason that the test gave (the
message of GTEST_SKIP) is in BUILD_DIR/Testing/Temporary/LastTest.log. This prints one line per
skipped test, "<test>: Skipped: <reason>", in the order of the log, and nothing when no test was
skipped. Always exits 0 when the log can be read (the test run's own status is ctest's), 1 when it
cannot.
"""
import re
import sys

START = re.compile(r"^\d+/\d+ Testing: (.+)$")


def reason(output):
    # GoogleTest writes "<file>:<line>: Skipped", the message lines, then "[  SKIPPED ] <test>".
    lines = output.splitlines()
    for index, line in enumerate(lines):
        if line.endswith(": Skipped") or line == "Skipped":
            message = []
            for following in lines[index + 1:]:
                if following.startswith("[  SKIPPED ]"):
                    break
                if following.strip():
                    message.append(following.strip())
            if message:
                return " ".join(message)
    # Any other program: its last words.
    words = [line.strip() for line in lines if line.strip() and not line.startswith("[")]
    return words[-1] if words else "(no reason given)"


def skipped(log):
    name = None
    output = []
    in_output = False
    after_output = []
    for line in log.splitlines():
        started = START.match(line)
        if started:
            name, output, in_output, after_output = started.group(1), [], False, []
            continue
        if name is None:
            continue
        if line == "Output:":
            in_output = None  # the rule line comes next
        elif in_output is None:
            in_output = True
        elif in_output and line == "<end of output>":
            in_output = False
        elif in_output:
            output.append(line)
        else:
            after_output.append(line)
            if line.startswith(f'"{name}" end time:'):
                if any(l.startswith("Skip ") for l in after_output):
                    yield name, reason("\n".join(output))
                name = None


def main():
    if len(sys.argv) != 2:
        print("usage: scripts/test-skips.py BUILD_DIR", file=sys.stderr)
        return 2
    path = f"{sys.argv[1]}/Testing/Temporary/LastTest.log"
    try:
        with open(path, encoding="utf-8", errors="replace") as file:
            log = file.read()
    except OSError as error:
        print(f"test-skips: {path}: {error.strerror}", file=sys.stderr)
        return 1
    for name, why in skipped(log):
        print(f"{name}: Skipped: {why}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
