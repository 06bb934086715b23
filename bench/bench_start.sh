#!/bin/bash
# What a process costs before it does anything, and what a one-page document
# costs velloran-cli against pdftoppm: CPU time (task-clock, children
# included) by perf stat over many runs, since a start is a few milliseconds.
#   velloran-cli --version          goal: at most 6 ms of CPU
#   a worker started and refused    goal: at most 6 ms (no setup on its descriptor: it loads,
#                                   starts and leaves, as a worker does before its first task)
#   one page, -r 150 -t jpg         goal: pdftoppm -r 150 -jpeg's CPU / ours >= 1.3
#   one page, --renderer poppler    (reported)
#   one page, -j 1                  (reported: one worker started, where -j 2 starts two)
# Usage: bench/bench_start.sh [BUILD_DIR]   (default: build-release, configured and built here)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build-release}
runs=${RUNS:-40}
command -v perf >/dev/null || { echo "bench_start.sh: perf is needed (Debian: linux-perf)" >&2; exit 2; }
command -v pdftoppm >/dev/null || { echo "bench_start.sh: pdftoppm is needed (Debian: poppler-utils)" >&2; exit 2; }
cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELLORAN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target velloran-cli velloran-worker -j2 >/dev/null
cli=$build/velloran-cli

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$here/make_text_pdf.sh" "$work/one.pdf" 1
mkdir -p "$work/o"

# cpu_ms COMMAND...: the mean task-clock of RUNS runs, in milliseconds
# (perf answers with the command's exit status: a refused worker's is not 0)
cpu_ms() {
    { perf stat -x, -r "$runs" -e task-clock "$@" 2>&1 >/dev/null || true; } | awk -F, '/task-clock/ { printf "%.2f", $1 }'
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); cores: $(nproc); mean of $runs runs"
cli_start=$(cpu_ms "$cli" --version)
worker_start=$(cpu_ms sh -c 'exec "$0" 3</dev/null' "$build/velloran-worker")
shell=$(cpu_ms sh -c 'exec true')
worker_start=$(awk -v a="$worker_start" -v b="$shell" 'BEGIN { printf "%.2f", a - b }')
pp=$(cpu_ms pdftoppm -r 150 -jpeg "$work/one.pdf" "$work/o/p")
ours=$(cpu_ms "$cli" -q -t jpg -r 150 -o "$work/o" "$work/one.pdf")
poppler=$(cpu_ms "$cli" -q --renderer poppler -t jpg -r 150 -o "$work/o" "$work/one.pdf")
one_worker=$(cpu_ms "$cli" -q -j 1 -t jpg -r 150 -o "$work/o" "$work/one.pdf")

printf '%-44s %8s %s\n' run cpu_ms goal
printf '%-44s %8s %s\n' "velloran-cli --version" "$cli_start" "<= 6"
printf '%-44s %8s %s\n' "a worker's start (its shell's subtracted)" "$worker_start" "<= 6"
printf '%-44s %8s\n' "pdftoppm -r 150 -jpeg, one page" "$pp"
printf '%-44s %8s\n' "velloran-cli -t jpg -r 150, one page" "$ours"
printf '%-44s %8s\n' "  the same, --renderer poppler" "$poppler"
printf '%-44s %8s\n' "  the same, -j 1" "$one_worker"
printf '%-44s %8s %s\n' "pdftoppm's CPU / velloran-cli's" "$(awk -v a="$pp" -v b="$ours" 'BEGIN { printf "%.2f", a / b }')" ">= 1.3"
printf '%-44s %8s\n' "pdftoppm's CPU / velloran-cli's (poppler)" "$(awk -v a="$pp" -v b="$poppler" 'BEGIN { printf "%.2f", a / b }')"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
