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
#   loading Qt Core                 (reported: what each of the two processes pays for it,
#                                   and the one-page ratio as it would be without it)
# Usage: bench/bench_start.sh [BUILD_DIR]   (default: build-release, configured and built here)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build-release}
runs=${RUNS:-40}
command -v perf >/dev/null || { echo "bench_start.sh: perf is needed (Debian: linux-perf)" >&2; exit 2; }
command -v pdftoppm >/dev/null || { echo "bench_start.sh: pdftoppm is needed (Debian: poppler-utils)" >&2; exit 2; }
cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELLORAN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target velloran-cli velloran-worker bench_load -j2 >/dev/null
cli=$build/velloran-cli

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$here/make_text_pdf.sh" "$work/one.pdf" 1
mkdir -p "$work/o"

# The runs take turns, one of each a round, RUNS rounds: the machine's speed
# moves over a minute (pdftoppm's own page has moved from 38 to 52 ms within a
# day), and a ratio is only worth what both sides saw alike. Each run's CPU
# time (task-clock, children included) is perf stat's; perf answers with the
# command's exit status, and a refused worker's is not 0.
names=(cli_start worker_start shell pp ours poppler one_worker nothing qtcore)
commands=(
    "$(printf '%q ' "$cli" --version)"
    "$(printf '%q ' sh -c 'exec "$0" 3</dev/null' "$build/velloran-worker")"
    "sh -c 'exec true'"
    "$(printf '%q ' pdftoppm -r 150 -jpeg "$work/one.pdf" "$work/o/p")"
    "$(printf '%q ' "$cli" -q -t jpg -r 150 -o "$work/o" "$work/one.pdf")"
    "$(printf '%q ' "$cli" -q --renderer poppler -t jpg -r 150 -o "$work/o" "$work/one.pdf")"
    "$(printf '%q ' "$cli" -q -j 1 -t jpg -r 150 -o "$work/o" "$work/one.pdf")"
    "$(printf '%q ' "$build/bench/bench_load")"
    "$(printf '%q ' "$build/bench/bench_load" libQt6Core.so.6)"
)
declare -A total
for name in "${names[@]}"; do total[$name]=0; done
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); cores: $(nproc); mean of $runs runs, taking turns"
for ((round = 0; round < runs; ++round)); do
    for i in "${!names[@]}"; do
        ms=$({ eval "perf stat -x, -e task-clock ${commands[$i]}" 2>&1 >/dev/null || true; } | awk -F, '/task-clock/ { print $1 }')
        total[${names[$i]}]=$(awk -v a="${total[${names[$i]}]}" -v b="$ms" 'BEGIN { print a + b }')
    done
done
mean() { awk -v a="${total[$1]}" -v n="$runs" 'BEGIN { printf "%.2f", a / n }'; }
cli_start=$(mean cli_start)
worker_start=$(awk -v a="$(mean worker_start)" -v b="$(mean shell)" 'BEGIN { printf "%.2f", a - b }')
pp=$(mean pp)
ours=$(mean ours)
poppler=$(mean poppler)
one_worker=$(mean one_worker)
# Qt Core with what it needs (ICU, GLib, PCRE2 ...), loaded by a process that does nothing else.
qtcore=$(awk -v a="$(mean qtcore)" -v b="$(mean nothing)" 'BEGIN { printf "%.2f", a - b }')

printf '%-44s %8s %s\n' run cpu_ms goal
printf '%-44s %8s %s\n' "velloran-cli --version" "$cli_start" "<= 6"
printf '%-44s %8s %s\n' "a worker's start (its shell's subtracted)" "$worker_start" "<= 6"
printf '%-44s %8s\n' "pdftoppm -r 150 -jpeg, one page" "$pp"
printf '%-44s %8s\n' "velloran-cli -t jpg -r 150, one page" "$ours"
printf '%-44s %8s\n' "  the same, --renderer poppler" "$poppler"
printf '%-44s %8s\n' "  the same, -j 1" "$one_worker"
printf '%-44s %8s\n' "loading Qt Core, in a process of its own" "$qtcore"
printf '%-44s %8s %s\n' "pdftoppm's CPU / velloran-cli's" "$(awk -v a="$pp" -v b="$ours" 'BEGIN { printf "%.2f", a / b }')" ">= 1.3"
printf '%-44s %8s\n' "pdftoppm's CPU / velloran-cli's (poppler)" "$(awk -v a="$pp" -v b="$poppler" 'BEGIN { printf "%.2f", a / b }')"
# Both the program and its worker load Qt Core: what the ratio would be if
# neither did, the rest unchanged.
printf '%-44s %8s\n' "  the same, less Qt Core's load in each" "$(awk -v a="$pp" -v b="$ours" -v q="$qtcore" 'BEGIN { printf "%.2f", a / (b - 2 * q) }')"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
