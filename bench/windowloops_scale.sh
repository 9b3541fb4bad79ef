#!/bin/sh
# Runs bench_windowloops at 1,000 and at 35,000 chosen articles, on SQLite and on MariaDB,
# once normally and once with another connection holding what the commands write, and puts
# the window's longest pause of each command side by side. Flags a command whose pause at
# 35,000 is over 200 ms, and one whose pause grows faster than the selection (more than 35
# times from 1,000 to 35,000, counting pauses under 10 ms as 10 ms: the watch's own grain).
# MariaDB runs on a throw-away server of scripts/with-mariadb.sh.
# Usage (needs a display):
#   bench/windowloops_scale.sh [build folder] [--backends "sqlite mariadb"]
#                              [--locks "free held"] [--drops]
# The drops of all drafts take minutes each at 35,000 and are left out unless --drops is
# given; --backends and --locks choose a part of the eight runs.
set -eu
build=${1:-build}
shift 2>/dev/null || true
backends="sqlite mariadb"
locks="free held"
drop=--no-drop
while [ $# -gt 0 ]; do
    case $1 in
    --backends) backends=$2; shift 2 ;;
    --locks) locks=$2; shift 2 ;;
    --drops) drop=; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
    esac
done
here=$(cd "$(dirname "$0")/.." && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for backend in $backends; do
    for lock in $locks; do
        for size in 1000 35000; do
            set -- "$build/bench/bench_windowloops" --selected $size $drop
            [ "$lock" = held ] && set -- "$@" --held
            if [ "$backend" = mariadb ]; then
                "$here/scripts/with-mariadb.sh" xvfb-run -a -s "-screen 0 1600x1200x24" \
                    "$@" --mariadb > "$out/$backend-$lock-$size.txt"
            else
                xvfb-run -a -s "-screen 0 1600x1200x24" "$@" > "$out/$backend-$lock-$size.txt"
            fi
        done
    done
done
python3 - "$out" <<'PY'
import glob, os, re, sys

line = re.compile(r"^(\S+)\s+(\S+)\s+(.*?)\s+(\d+) selected\s+([\d.]+) s\s+longest pause of "
                  r"the window's thread\s+(\d+) ms\s+([\d.]+)x list")
skipped = re.compile(r"^not run: (.*)$")

def read(path):
    found, order, notrun = {}, [], []
    seen = {}
    for text in open(path, encoding="utf-8"):
        match = line.match(text)
        if match:
            name = match.group(3).strip()
            # A command run twice (paste) keeps both rows apart.
            seen[name] = seen.get(name, 0) + 1
            if seen[name] > 1:
                name += " #%d" % seen[name]
            found[name] = (int(match.group(6)), float(match.group(7)))
            order.append(name)
        elif skipped.match(text):
            notrun.append(skipped.match(text).group(1))
    return found, order, notrun

flagged = total = 0
notrun = set()
runs = sorted({os.path.basename(p).rsplit("-", 1)[0] for p in glob.glob(sys.argv[1] + "/*.txt")})
for run in runs:
    small, _, n1 = read(os.path.join(sys.argv[1], run + "-1000.txt"))
    large, order, n2 = read(os.path.join(sys.argv[1], run + "-35000.txt"))
    notrun.update(n1 + n2)
    backend, lock = run.split("-")
    print("\n%s, rows %s" % (backend, "held by another connection" if lock == "held" else "free"))
    print("%-88s %9s %9s %7s %8s  %s" % ("command", "1,000", "35,000", "growth", "vs list", ""))
    for name in order:
        pause, ratio = large[name]
        before = small.get(name)
        growth = pause / max(before[0], 10) if before else float("nan")
        marks = []
        if pause > 200:
            marks.append("over 200 ms")
        if before and growth > 35:
            marks.append("grows faster than the selection")
        flagged += bool(marks)
        total += 1
        print("%-88s %6s ms %6d ms %6.1fx %7.2fx  %s" % (name[:88], before[0] if before else "-",
                                                     pause, growth, ratio, ", ".join(marks)))
print("\n%d of %d command rows flagged" % (flagged, total))
for reason in sorted(notrun):
    print("not run: " + reason)
PY
