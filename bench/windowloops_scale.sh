#!/bin/sh
# Runs bench_windowloops at 1,000 and at 35,000 chosen articles and puts the window's longest
# pause of each command side by side. Flags a command whose pause at 35,000 is over 200 ms,
# and one whose pause grows faster than the selection (more than 35 times from 1,000 to
# 35,000, counting pauses under 10 ms as 10 ms: the watch's own grain).
# Usage (needs a display): bench/windowloops_scale.sh [build folder] [--no-drop]
set -eu
build=${1:-build}
shift 2>/dev/null || true
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
xvfb-run -a -s "-screen 0 1600x1200x24" "$build/bench/bench_windowloops" --selected 1000 "$@" \
    > "$out/small.txt"
xvfb-run -a -s "-screen 0 1600x1200x24" "$build/bench/bench_windowloops" --selected 35000 "$@" \
    > "$out/large.txt"
python3 - "$out/small.txt" "$out/large.txt" <<'PY'
import re, sys

line = re.compile(r"^(.*?)\s+(\d+) selected\s+([\d.]+) s\s+longest pause of the window's thread\s+(\d+) ms")

def pauses(path):
    found = {}
    for text in open(path, encoding="utf-8"):
        match = line.match(text)
        if match:
            found[match.group(1).strip()] = (int(match.group(2)), int(match.group(4)))
    return found

small, large = pauses(sys.argv[1]), pauses(sys.argv[2])
flagged = 0
print("%-60s %10s %10s %8s  %s" % ("command", "1,000", "35,000", "growth", ""))
for name, (chosen, pause) in large.items():
    before = small.get(name)
    growth = pause / max(before[1], 10) if before else float("nan")
    marks = []
    if pause > 200:
        marks.append("over 200 ms")
    if before and growth > 35:
        marks.append("grows faster than the selection")
    flagged += bool(marks)
    print("%-60s %7s ms %7d ms %7.1fx  %s" % (name, before[1] if before else "-", pause, growth,
                                            ", ".join(marks)))
print("%d of %d commands flagged" % (flagged, len(large)))
PY
