#!/bin/bash
# What the command line's output options cost: --gray and --mono against
# colour output at the same size and type, --multipage against single TIFF
# files, TIFF compression, the JPEG choices and the drawing options
# (--no-antialias, --no-annotations, --cmyk) against the defaults (time and
# bytes), on a generated 30-page text document. Best of REPEATS runs of
# each, taking turns, single-threaded so that the encoders show.
#
# Usage: [DOC=file.pdf] bench/bench_outputs.sh [BUILD_DIR]   (a Release build holding velloran-cli)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build-release}
cli=$build/velloran-cli
repeats=${REPEATS:-3}
[ -x "$cli" ] || { echo "bench_outputs.sh: no $cli; build it: cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release && cmake --build build-release --target velloran-cli" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# DOC=file.pdf measures another document instead (the report of bench_cli.sh).
if [ -n "${DOC:-}" ]; then
    cp "$DOC" "$work/doc.pdf"
else
    "$here/make_text_pdf.sh" "$work/doc.pdf" 30
fi
pages=$(pdfinfo "$work/doc.pdf" | awk '/^Pages:/ { print $2 }')

# seconds ARGS...: wall time of one run into an empty folder.
seconds() {
    rm -rf "$work/out"
    local start end
    start=$(date +%s.%N)
    "$cli" -q -j 1 -r 150 -o "$work/out" "$@" "$work/doc.pdf"
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
    du -sb "$work/out" | cut -f1 >"$work/bytes"
}

cases=(
    "png colour|-t png"
    "png --gray|-t png --gray"
    "png --mono|-t png --mono"
    "png --no-antialias|-t png --no-antialias"
    "png --no-annotations|-t png --no-annotations"
    "tiff colour|-t tiff"
    "tiff --gray|-t tiff --gray"
    "tiff --mono (G4)|-t tiff --mono"
    "tiff --multipage|-t tiff --multipage"
    "tiff packbits|-t tiff --compression packbits"
    "tiff lzw|-t tiff --compression lzw"
    "tiff deflate|-t tiff --compression deflate"
    "tiff jpeg|-t tiff --compression jpeg"
    "tiff --cmyk|-t tiff --cmyk"
    "jpg colour|-t jpg"
    "jpg --gray|-t jpg --gray"
    "jpg --progressive|-t jpg --progressive"
    "jpg --optimize|-t jpg --optimize"
    "jpg 444|-t jpg --subsampling 444"
    "jpg --no-antialias|-t jpg --no-antialias"
    "jpg --cmyk|-t jpg --cmyk"
)
declare -A best=() bytes=()
for ((i = 0; i < repeats; i++)); do
    for c in "${cases[@]}"; do
        label=${c%%|*}
        # shellcheck disable=SC2086
        s=$(seconds ${c#*|})
        bytes[$label]=$(cat "$work/bytes")
        if [ -z "${best[$label]:-}" ] || awk -v a="$s" -v b="${best[$label]}" 'BEGIN { exit !(a < b) }'; then
            best[$label]=$s
        fi
    done
done

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg); $pages pages at 150 dpi, -j 1, best of $repeats"
printf '%-22s %8s %8s %11s  %s\n' case seconds pages/s bytes "against colour of the same type"
for c in "${cases[@]}"; do
    label=${c%%|*}
    base="${label%% *} colour"
    printf '%-22s %8s %8.1f %11s  %s\n' "$label" "${best[$label]}" "$(awk -v s="${best[$label]}" -v p="$pages" 'BEGIN { print p / s }')" \
        "${bytes[$label]}" \
        "$(awk -v s="${best[$label]}" -v b="${best[$base]}" -v n="${bytes[$label]}" -v m="${bytes[$base]}" \
            'BEGIN { printf "%.2fx the time, %.2fx the bytes", s / b, n / m }')"
done
