#!/bin/bash
# velloran-cli --renderer poppler -j 1 against pdftoppm, the tool built on the
# same Poppler drawing: CPU seconds (user + system, the worker's included) for
# every page at 150 dpi as JPEG and as PNG, best of REPEATS with the two taking
# turns, on the generated 40-page report (text, tables, line art, a picture)
# and a generated 40-page text document. Goal: pdftoppm's CPU time / ours of
# at least 1.0. Then whether the pixels are pdftoppm's (BMP against its PPM,
# with ImageMagick's compare when it is there).
#
# Usage: bench/bench_poppler.sh [BUILD_DIR]
#   BUILD_DIR  a Release build (default: build-release; configured and built here)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build-release}
repeats=${REPEATS:-3}
for tool in pdftoppm; do
    command -v $tool >/dev/null || { echo "bench_poppler.sh: $tool is needed (Debian: poppler-utils)" >&2; exit 2; }
done
cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELLORAN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target velloran-cli velloran-worker bench_worker -j2 >/dev/null
cli=$build/velloran-cli
export QT_QPA_PLATFORM=offscreen

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/bench_worker" make "$work/report.pdf" 40 2>/dev/null
"$here/make_text_pdf.sh" "$work/text.pdf" 40

# cpu COMMAND...: prints the CPU seconds of the command and what it waited for
cpu() {
    rm -rf "$work/o"; mkdir -p "$work/o"
    /usr/bin/time -f "%U %S" -o "$work/time" "$@" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; return 1; }
    awk '{ print $1 + $2 }' "$work/time"
}
# least A B: the smaller number
least() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); cores: $(nproc); best of $repeats, taking turns"
printf '%-10s %-5s %12s %12s %7s %s\n' document type "pdftoppm_s" "velloran_s" ratio goal
failed=0
for doc in report text; do
    pdf=$work/$doc.pdf
    for type in jpg png; do
        pp_type=-jpeg; [ "$type" = png ] && pp_type=-png
        pp='' ours=''
        for _ in $(seq "$repeats"); do
            pp=$(least "$pp" "$(cpu pdftoppm -r 150 "$pp_type" "$pdf" "$work/o/p")")
            ours=$(least "$ours" "$(cpu "$cli" -q -j 1 --renderer poppler -t "$type" -r 150 -o "$work/o" "$pdf")")
        done
        ratio=$(awk -v a="$pp" -v b="$ours" 'BEGIN { printf "%.3f", a / b }')
        verdict=ok; awk -v r="$ratio" 'BEGIN { exit !(r < 1.0) }' && { verdict=MISSED; failed=1; }
        printf '%-10s %-5s %12s %12s %7s %s\n' "$doc" "$type" "$pp" "$ours" "$ratio" ">= 1.0 $verdict"
    done
    if command -v compare >/dev/null; then
        rm -rf "$work/o"; mkdir -p "$work/o"
        pdftoppm -r 150 -f 1 -l 3 "$pdf" "$work/o/p"
        "$cli" -q -j 1 --renderer poppler -t bmp -r 150 -p 1-3 -o "$work/o" "$pdf"
        same=yes
        for i in 1 2 3; do
            apart=$(compare -metric AE "$work/o/${doc}_$i.bmp" "$work/o/p-0$i.ppm" null: 2>&1 || true)
            [ "$apart" = 0 ] || { echo "$doc page $i: $apart pixels differ from pdftoppm's"; same=no; failed=1; }
        done
        echo "$doc pages 1-3: pixels as pdftoppm's: $same"
    fi
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $failed
