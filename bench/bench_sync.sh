#!/bin/bash
# What durable outputs cost: velloran-cli with each output flushed to the disk
# before it takes its name (what --skip-existing does; its check finds nothing
# in the empty output folder) against a plain run, on the generated
# 40-page report and 40-page text document at 150 dpi, -j 1 and -j 2, best of
# REPEATS with the two taking turns. Then what --skip-existing's check that an
# output is a whole image costs on a folder of 1000 outputs (png and tiff):
# a run that finds every output whole, converts nothing and so is all checking
# (and reading the 25 inputs' page counts).
#
# Usage: bench/bench_sync.sh [BUILD_DIR] [OUTPUT_PARENT]
#   BUILD_DIR      a Release build (default: build-release; configured and built here)
#   OUTPUT_PARENT  where the outputs are written (default: a folder under /var/tmp,
#                  on a disk: /tmp may be memory, where a sync costs nothing)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build-release}
parent=${2:-/var/tmp}
repeats=${REPEATS:-3}
cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELLORAN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target velloran-cli bench_worker -j2 >/dev/null
cli=$build/velloran-cli
export QT_QPA_PLATFORM=offscreen

work=$(mktemp -d "$parent/bench_sync.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/bench/bench_worker" make "$work/report.pdf" 40 2>/dev/null
"$here/make_text_pdf.sh" "$work/text.pdf" 40
echo "outputs on: $(df --output=source,fstype "$work" | tail -1)"

# seconds ARGS...: wall time of one run into an empty folder
seconds() {
    rm -rf "$work/out"
    local start end
    start=$(date +%s.%N)
    "$cli" -q -r 150 -o "$work/out" "$@"
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}

declare -A best=()
keep() { # keep LABEL SECONDS
    if [ -z "${best[$1]:-}" ] || awk -v a="$2" -v b="${best[$1]}" 'BEGIN { exit !(a < b) }'; then best[$1]=$2; fi
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); cores: $(nproc); best of $repeats, taking turns"
printf '%-22s %9s %9s %7s\n' case synced no-sync ratio
for doc in report text; do
    for t in jpg png; do
        for j in 1 2; do
            for _ in $(seq "$repeats"); do
                keep "$doc-$t-$j-sync" "$(seconds -j "$j" -t "$t" --skip-existing "$work/$doc.pdf")"
                keep "$doc-$t-$j-nosync" "$(seconds -j "$j" -t "$t" "$work/$doc.pdf")"
            done
            printf '%-22s %9s %9s %7s\n' "$doc $t -j $j" "${best[$doc-$t-$j-sync]}" "${best[$doc-$t-$j-nosync]}" \
                "$(awk -v a="${best[$doc-$t-$j-sync]}" -v b="${best[$doc-$t-$j-nosync]}" 'BEGIN { printf "%.3f", a / b }')"
        done
    done
done

echo
echo "--skip-existing on 1000 whole outputs (25 inputs of 40 pages, 20 dpi), best of $repeats"
mkdir -p "$work/in"
for i in $(seq -w 1 25); do cp "$work/text.pdf" "$work/in/t$i.pdf"; done
for t in png tiff; do
    rm -rf "$work/skip"
    "$cli" -q -j 2 -r 20 -t "$t" -o "$work/skip" "$work"/in/*.pdf
    best_s=""
    for _ in $(seq "$repeats"); do
        start=$(date +%s.%N)
        "$cli" -q -j 2 -r 20 -t "$t" --skip-existing -o "$work/skip" "$work"/in/*.pdf
        end=$(date +%s.%N)
        s=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
        if [ -z "$best_s" ] || awk -v a="$s" -v b="$best_s" 'BEGIN { exit !(a < b) }'; then best_s=$s; fi
    done
    printf '%-6s %s outputs: %s s in all, %s ms an output at most\n' "$t" "$(ls "$work/skip" | wc -l)" "$best_s" \
        "$(awk -v s="$best_s" 'BEGIN { printf "%.2f", s }')"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
