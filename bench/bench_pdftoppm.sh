#!/bin/bash
# velloran-cli run as pdftoppm and as pdftocairo (through the build's
# poppler-compat folder) against poppler-utils' pdftoppm and pdftocairo, on the
# same command lines: wall time, best of REPEATS, the two taking turns so that
# other load skews both alike, and the speed ratio against its goal:
#   40 pages, -r 150 -png            2.5x
#   40 pages, -r 150 -jpeg           2.5x
#   one page, -r 150 -png            1.3x
#   40 pages to standard output, PPM (as pdf2image reads them)   3x
#   pdftocairo, 40 pages, -r 150 -png   2.5x
# The 40-page document is the generated report (bench_worker make) when the
# build has bench_worker, else the generated text document; the one page is
# the text document's first.
#
# Usage: bench/bench_pdftoppm.sh [BUILD_DIR]
#   BUILD_DIR  a Release build with velloran-cli and velloran-worker (default: build-release)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build-release}
repeats=${REPEATS:-3}
# bench_worker makes the 40-page document through Qt Gui, with no display.
export QT_QPA_PLATFORM=offscreen
declare -A ours theirs
for tool in pdftoppm pdftocairo; do
    ours[$tool]=$build/poppler-compat/$tool
    theirs[$tool]=$(command -v $tool) || { echo "bench_pdftoppm.sh: $tool is needed (Debian: poppler-utils)" >&2; exit 2; }
    [ -x "${ours[$tool]}" ] || { echo "bench_pdftoppm.sh: no ${ours[$tool]}: build velloran-cli and velloran-worker in $build" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -x "$build/bench/bench_worker" ]; then
    "$build/bench/bench_worker" make "$work/forty.pdf" 40 2>/dev/null
    forty="the generated report"
else
    "$here/make_text_pdf.sh" "$work/forty.pdf" 40
    forty="the generated text document"
fi
"$here/make_text_pdf.sh" "$work/one.pdf" 1

# once PROGRAM ARGS...: the wall time of one run, in seconds; OUT is an empty folder
once() {
    rm -rf "$work/out"; mkdir -p "$work/out"
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; return 1; }
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}
# Standard output into a pipe, as a library reads it.
piped() { "$@" | cat >/dev/null; }

declare -A best
keep() { # keep LABEL SECONDS
    if [ -z "${best[$1]:-}" ] || awk -v a="$2" -v b="${best[$1]}" 'BEGIN { exit !(a < b) }'; then best[$1]=$2; fi
}

cases=(png jpeg one stdout cairo)
declare -A args doc
args[png]="-r 150 -png"; doc[png]=forty
args[jpeg]="-r 150 -jpeg"; doc[jpeg]=forty
args[one]="-r 150 -png"; doc[one]=one
args[stdout]="-r 150"; doc[stdout]=forty
args[cairo]="-r 150 -png"; doc[cairo]=forty
declare -A tool=([png]=pdftoppm [jpeg]=pdftoppm [one]=pdftoppm [stdout]=pdftoppm [cairo]=pdftocairo)
declare -A goal=([png]=2.5 [jpeg]=2.5 [one]=1.3 [stdout]=3 [cairo]=2.5)
declare -A what=([png]="40 pages, -r 150 -png" [jpeg]="40 pages, -r 150 -jpeg" [one]="one page, -r 150 -png"
                 [stdout]="40 pages to standard output, PPM" [cairo]="pdftocairo, 40 pages, -r 150 -png")

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); cores: $(nproc); best of $repeats, taking turns"
echo "40 pages: $forty"
for _ in $(seq "$repeats"); do
    for c in "${cases[@]}"; do
        pdf=$work/${doc[$c]}.pdf
        for who in theirs ours; do
            if [ "$who" = theirs ]; then program=${theirs[${tool[$c]}]}; else program=${ours[${tool[$c]}]}; fi
            if [ "$c" = stdout ]; then
                # shellcheck disable=SC2086
                keep "$c-$who" "$(once piped "$program" ${args[$c]} "$pdf")"
            else
                # shellcheck disable=SC2086
                keep "$c-$who" "$(once "$program" ${args[$c]} "$pdf" "$work/out/p")"
            fi
        done
    done
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-36s %9s %9s %6s %5s\n' run poppler velloran ratio goal
for c in "${cases[@]}"; do
    awk -v w="${what[$c]}" -v t="${best[$c-theirs]}" -v o="${best[$c-ours]}" -v g="${goal[$c]}" \
        'BEGIN { printf "%-36s %8.2fs %8.2fs %5.2fx %4.1fx%s\n", w, t, o, t / o, g, (t / o >= g ? "" : "  below the goal") }'
done
