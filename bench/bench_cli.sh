#!/bin/bash
# Pages per second and peak memory of velloran-cli against pdftoppm and
# mutool draw, on a generated 30-page text document and on a real text-heavy
# PDF, at 150 and 300 dpi. One run of each; ratios are against pdftoppm of
# the same type (and mutool for png).
#
# Usage: bench/bench_cli.sh [BUILD_DIR] [JOBS]
#   BUILD_DIR  a Release build holding velloran-cli (default: build-release)
#   JOBS       -j for velloran-cli (default: 2)
#   BENCH_REAL_PDF=file  the real document (default: a PDF found under /usr/share/doc)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build-release}
jobs=${2:-2}
cli=$build/velloran-cli
[ -x "$cli" ] || { echo "bench_cli.sh: no $cli; build it: cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release && cmake --build build-release --target velloran-cli" >&2; exit 2; }
for tool in pdftoppm mutool pdfinfo; do
    command -v $tool >/dev/null || { echo "bench_cli.sh: $tool is needed (Debian: poppler-utils, mupdf-tools)" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "bench_cli.sh: /usr/bin/time is needed (Debian: time)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$here/make_text_pdf.sh" "$work/generated.pdf" 30
real=${BENCH_REAL_PDF:-}
if [ -z "$real" ]; then
    real=$(find /usr/share/doc -name '*.pdf' -size +100k 2>/dev/null | sort | head -n 1)
fi
docs=("$work/generated.pdf")
[ -n "$real" ] && docs+=("$real") || echo "bench_cli.sh: no real PDF found; set BENCH_REAL_PDF" >&2

pages_of() { pdfinfo "$1" | awk '/^Pages:/ { print $2 }'; }

# measure NAME PAGES COMMAND...: runs the command in an empty output folder;
# prints "seconds peak_kb cpu_seconds" after checking that it wrote one file per page.
measure() {
    local pages=$1; shift
    rm -rf "$work/out"; mkdir "$work/out"
    /usr/bin/time -f "%e %M %U %S" -o "$work/time" "$@" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; return 1; }
    local written; written=$(find "$work/out" -type f | wc -l)
    [ "$written" -eq "$pages" ] || { echo "wrote $written of $pages pages: $*" >&2; return 1; }
    awk '{ printf "%s %s %.2f\n", $1, $2, $3 + $4 }' "$work/time"
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg) (other work on the machine slows every row)"
printf '%-16s %4s %5s  %-18s %8s %7s %7s %8s   %s\n' document dpi pages tool pages/s time_s cpu_s peak_MB ratio
for doc in "${docs[@]}"; do
    name=$(basename "$doc" .pdf)
    pages=$(pages_of "$doc")
    for dpi in 150 300; do
        declare -A rate=()
        run() {
            local label=$1 type=$2; shift 2
            read -r secs kb cpu < <(measure "$pages" "$@")
            local pps; pps=$(awk -v p="$pages" -v s="$secs" 'BEGIN { printf "%.2f", p / (s > 0 ? s : 0.01) }')
            rate[$label]=$pps
            local ratio=""
            if [[ $label == velloran* ]]; then
                ratio=$(awk -v a="$pps" -v b="${rate[pdftoppm-$type]}" 'BEGIN { printf "%.2fx", a / b }')
                [ "$type" = png ] && ratio="$ratio $(awk -v a="$pps" -v b="${rate[mutool-png]}" 'BEGIN { printf "%.2fx mutool", a / b }')"
            fi
            printf '%-16s %4s %5s  %-18s %8s %7s %7s %8.1f   %s\n' "${name:0:16}" "$dpi" "$pages" "$label" \
                "$pps" "$secs" "$cpu" "$(awk -v k="$kb" 'BEGIN { print k / 1024 }')" "$ratio"
        }
        run pdftoppm-jpg jpg pdftoppm -r "$dpi" -jpeg "$doc" "$work/out/p"
        run pdftoppm-png png pdftoppm -r "$dpi" -png "$doc" "$work/out/p"
        run pdftoppm-tiff tiff pdftoppm -r "$dpi" -tiff "$doc" "$work/out/p"
        run mutool-png png mutool draw -q -r "$dpi" -o "$work/out/p%d.png" "$doc"
        for type in jpg png tiff; do
            run "velloran-j$jobs-$type" "$type" "$cli" -q -j "$jobs" -t "$type" -r "$dpi" -o "$work/out" "$doc"
        done
        run "velloran-j1-png" png "$cli" -q -j 1 -t png -r "$dpi" -o "$work/out" "$doc"
        unset rate
    done
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "cores: $(nproc); velloran-cli -j $jobs; cpu_s: user + system seconds; ratios: velloran pages/s over pdftoppm of the same type (and over mutool for png)"
