#!/bin/bash
# velloran-cli against pdftoppm and mutool draw, in one run on this machine:
# pages per second (best of REPEATS, the tools taking turns so that other load
# skews all alike), CPU seconds, peak memory and file sizes, as ratios against
# the goals below. Documents: the generated 40-page report (text, tables, line
# art, a picture) and a generated 40-page text document with rules and shapes;
# then a 14400 x 14400 pt poster for memory and for one page on two threads.
# velloran-cli runs with its default renderer (MuPDF) unless marked poppler.
#
# Usage: bench/bench_cli.sh [BUILD_DIR]
#   BUILD_DIR  a Release build (default: build-release; configured and built here)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build-release}
repeats=${REPEATS:-3}
for tool in pdftoppm mutool pdfinfo; do
    command -v $tool >/dev/null || { echo "bench_cli.sh: $tool is needed (Debian: poppler-utils, mupdf-tools)" >&2; exit 2; }
done
cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELLORAN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target velloran-cli bench_worker bench_renderer -j2 >/dev/null
cli=$build/velloran-cli
export QT_QPA_PLATFORM=offscreen

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/bench_worker" make "$work/report.pdf" 40 2>/dev/null
"$here/make_text_pdf.sh" "$work/text.pdf" 40
"$here/make_poster_pdf.sh" "$work/poster.pdf"

# once OUTDIR COMMAND...: prints "wall_s cpu_s peak_kb bytes_written"
once() {
    local out=$1; shift
    rm -rf "$out"; mkdir -p "$out"
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; return 1; }
    read -r e u s m <"$work/time"
    echo "$e $(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }') $m $(du -sb "$out" | cut -f1)"
}

declare -A wall cpu peak size
# best LABEL OUTDIR COMMAND...: keeps the fastest of the repeats for LABEL
best() {
    local label=$1 out=$2; shift 2
    read -r e c m b < <(once "$out" "$@")
    if [ -z "${wall[$label]:-}" ] || awk -v a="$e" -v b="${wall[$label]}" 'BEGIN { exit !(a < b) }'; then
        wall[$label]=$e; cpu[$label]=$c
    fi
    peak[$label]=$m; size[$label]=$b
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b / a }'; } # speed ratio from two times

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); cores: $(nproc); best of $repeats, taking turns"
for doc in report text; do
    pdf=$work/$doc.pdf
    pages=$(pdfinfo "$pdf" | awk '/^Pages:/ { print $2 }')
    wall=(); cpu=(); peak=(); size=()
    for _ in $(seq "$repeats"); do
        best pp-jpg "$work/o" pdftoppm -r 150 -jpeg "$pdf" "$work/o/p"
        best pp-tiff "$work/o" pdftoppm -r 150 -tiff "$pdf" "$work/o/p"
        # Two single-threaded runs side by side: what two cores of this machine
        # give against one, the ceiling of -j 2 against -j 1.
        best pp-jpg-two "$work/o" sh -c 'pdftoppm -r 150 -jpeg "$0" "$1/a" & pdftoppm -r 150 -jpeg "$0" "$1/b"; wait' "$pdf" "$work/o"
        best mu-png "$work/o" mutool draw -q -r 150 -o "$work/o/p%d.png" "$pdf"
        for t in jpg tiff png bmp; do
            best "v1-$t" "$work/o" "$cli" -q -j 1 -t "$t" -r 150 -o "$work/o" "$pdf"
        done
        best v1-jpg-poppler "$work/o" "$cli" -q -j 1 --renderer poppler -t jpg -r 150 -o "$work/o" "$pdf"
        best v2-jpg-poppler "$work/o" "$cli" -q -j 2 --renderer poppler -t jpg -r 150 -o "$work/o" "$pdf"
        # The window's conversion, every page, from its start to "All converted"
        # (the program's start and the document's opening included).
        best window-jpg "$work/o" "$build/bench/bench_worker" run "$pdf" "$work/o" jpg 150
        best v2-jpg "$work/o" "$cli" -q -j 2 -t jpg -r 150 -o "$work/o" "$pdf"
        best v2-png "$work/o" "$cli" -q -j 2 -t png -r 150 -o "$work/o" "$pdf"
    done
    echo
    echo "$doc.pdf, $pages pages, 150 dpi"
    printf '%-26s %8s %7s %8s %10s\n' run pages/s cpu_s peak_MB MB_written
    for l in pp-jpg pp-tiff mu-png v1-jpg v1-tiff v1-png v1-bmp v1-jpg-poppler v2-jpg-poppler v2-jpg v2-png window-jpg; do
        awk -v l="$l" -v p="$pages" -v w="${wall[$l]}" -v c="${cpu[$l]}" -v m="${peak[$l]}" -v b="${size[$l]}" \
            'BEGIN { printf "%-26s %8.1f %7.2f %8.1f %10.1f\n", l, p / w, c, m / 1024, b / 1048576 }'
    done
    printf '%-44s %6s %s\n' goal ratio "(CPU time ratio) target"
    # Colour documents against plain text.
    target=2.8; [ "$doc" = text ] && target=2.2
    printf '%-44s %6s %s\n' "jpg -j 1 / pdftoppm -jpeg" "$(ratio "${wall[v1-jpg]}" "${wall[pp-jpg]}")" "(CPU $(ratio "${cpu[v1-jpg]}" "${cpu[pp-jpg]}")) >= $target"
    printf '%-44s %6s %s\n' "tiff -j 1 / pdftoppm -tiff" "$(ratio "${wall[v1-tiff]}" "${wall[pp-tiff]}")" "(CPU $(ratio "${cpu[v1-tiff]}" "${cpu[pp-tiff]}")) >= $target"
    printf '%-44s %6s %s\n' "png -j 1 / mutool draw" "$(ratio "${wall[v1-png]}" "${wall[mu-png]}")" "(CPU $(ratio "${cpu[v1-png]}" "${cpu[mu-png]}")) >= 2.5"
    printf '%-44s %6s %s\n' "png size / mutool's" "$(awk -v a="${size[v1-png]}" -v b="${size[mu-png]}" 'BEGIN { printf "%.2f", a / b }')" "<= 1.10"
    printf '%-44s %6s %s\n' "jpg -j 2 / pdftoppm -jpeg" "$(ratio "${wall[v2-jpg]}" "${wall[pp-jpg]}")" ">= 4.5"
    printf '%-44s %6s %s\n' "png -j 2 / mutool draw" "$(ratio "${wall[v2-png]}" "${wall[mu-png]}")" ">= 3.6"
    printf '%-44s %6s %s\n' "jpg -j 2 / -j 1 (pages per second)" "$(ratio "${wall[v2-jpg]}" "${wall[v1-jpg]}")" ">= 1.9"
    printf '%-44s %6s %s\n' "png -j 2 / -j 1 (pages per second)" "$(ratio "${wall[v2-png]}" "${wall[v1-png]}")" ">= 1.9"
    printf '%-44s %6s %s\n' "  the machine: two pdftoppm at once / one" \
        "$(awk -v one="${wall[pp-jpg]}" -v two="${wall[pp-jpg-two]}" 'BEGIN { printf "%.2f", 2 * one / two }')" "(pages per second)"
    printf '%-44s %6s %s\n' "jpg -j 1 --renderer poppler / pdftoppm" "$(ratio "${wall[v1-jpg-poppler]}" "${wall[pp-jpg]}")" "(CPU $(ratio "${cpu[v1-jpg-poppler]}" "${cpu[pp-jpg]}")) CPU >= 1.0"
    printf '%-44s %6s %s\n' "jpg -j 2 --renderer poppler / pdftoppm" "$(ratio "${wall[v2-jpg-poppler]}" "${wall[pp-jpg]}")" ">= 1.8"
    printf '%-44s %6s %s\n' "the window's jpg conversion / pdftoppm" "$(ratio "${wall[window-jpg]}" "${wall[pp-jpg]}")" ">= 1.8"
    # The floor: MuPDF's drawing and the encoder's writing of the same pages,
    # each measured alone, against the CPU time of the whole run.
    for t in jpg png; do
        read -r _ draw encode < <("$build/bench/bench_renderer" split "$pdf" 150 "$t")
        printf '%-44s %6s %s\n' "$t -j 1 CPU / (draw $draw s + encode $encode s)" \
            "$(awk -v c="${cpu[v1-$t]}" -v d="$draw" -v e="$encode" 'BEGIN { printf "%.2f", c / (d + e) }')" "<= 1.1 (run ${cpu[v1-$t]} s)"
    done
    # One page image at 150 dpi (A4, 32 bits) plus 40 MB per thread.
    image_mb=$(awk 'BEGIN { printf "%.1f", 1240 * 1754 * 4 / 1048576 }')
    printf '%-44s %6s %s\n' "peak MB -j 1 / -j 2" "${peak[v1-jpg]%???}/${peak[v2-jpg]%???}" \
        "<= $(awk -v i="$image_mb" 'BEGIN { printf "%.0f / %.0f", i + 40, 2 * (i + 40) }') (page image $image_mb MB + 40 MB per thread)"
done

echo
echo "poster.pdf, one 14400 x 14400 pt page, png at 150 dpi (30000 x 30000 pixels)"
for renderer in mupdf poppler; do
    declare -A poster=()
    for j in 1 2; do
        read -r e c m b < <(once "$work/o" "$cli" -q -j "$j" --renderer "$renderer" -t png -r 150 -o "$work/o" "$work/poster.pdf")
        poster[$j]=$e
        awk -v r="$renderer" -v j="$j" -v e="$e" -v c="$c" -v m="$m" -v b="$b" \
            'BEGIN { printf "%-8s -j %s: %.1f s, cpu %.1f s, peak %.0f MB (goal: 64 MB bands + 40 MB per thread), %.1f MB written\n", r, j, e, c, m / 1024, b / 1048576 }'
    done
    printf '%-44s %6s %s\n' "$renderer poster -j 2 / -j 1" "$(ratio "${poster[2]}" "${poster[1]}")" ">= 1.7"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
