#!/usr/bin/env bash
# Converts one generated 30-page document with the conversion worker and with
# pdftoppm, and prints pages per second (wall clock and CPU time), their ratio
# and peak memory. The two take turns, and the best of the repeats counts, so
# that other load on the machine skews both alike.
# Usage: bench/bench_worker.sh [build folder] (default: build-release, a Release build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-release}
pages=30
dpi=150
quality=75
repeats=${REPEATS:-5}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELLORAN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_worker -j2 >/dev/null
bench=$build/bench/bench_worker
export QT_QPA_PLATFORM=offscreen
export QT_LOGGING_RULES="*.debug=false" # the worker names every file it writes

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" make "$work/bench.pdf" "$pages" 2>/dev/null

field() { sed -E "s/.*[ ^]?$1=([0-9.]+).*/\1/" <<<"$2"; }

worker_once() { # ext dpi -> "wall_ms cpu_ms peak_kib idle_kib page_image_kib"
    rm -rf "$work/out" && mkdir "$work/out"
    local line
    line=$("$bench" run "$work/bench.pdf" "$work/out" "$1" "$2" "$quality" 2>/dev/null)
    echo "$(field work_ms "$line") $(field cpu_ms "$line") $(field peak_kib "$line") $(field idle_kib "$line") $(field page_image_kib "$line")"
}

pdftoppm_once() { # options... -> "wall_ms cpu_ms peak_kib"
    rm -rf "$work/pp" && mkdir "$work/pp"
    { /usr/bin/time -f '%e %U %S %M' pdftoppm -r "$dpi" "$@" "$work/bench.pdf" "$work/pp/p"; } 2>&1 | tail -1 |
        awk '{ printf "%.0f %.0f %d\n", $1 * 1000, ($2 + $3) * 1000, $4 }'
}

min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b + 0 < a + 0) ? b : a }'; }

echo "$pages pages, A4, $dpi dpi, quality $quality; best of $repeats, taking turns;"
echo "worker: the run alone, to \"All converted\" (the pauses between pages pass while pages are drawn); pdftoppm: the whole process"
printf '%-5s | %8s %8s %6s | %8s %8s %6s | %8s %8s\n' type worker pdftoppm ratio worker pdftoppm ratio worker pdftoppm
printf '%-5s | %24s | %24s | %17s\n' "" "pages per second (wall)" "pages per CPU second" "peak MiB"
for ext in jpg png tiff; do
    case $ext in
        jpg) opts=(-jpeg -jpegopt "quality=$quality") ;;
        png) opts=(-png) ;;
        tiff) opts=(-tiff) ;;
    esac
    ww='' wc='' wm='' pw='' pc='' pm=''
    for _ in $(seq "$repeats"); do
        read -r a b c _ _ <<<"$(worker_once "$ext" "$dpi")"
        ww=$(min "$ww" "$a") wc=$(min "$wc" "$b") wm=$c
        read -r a b c <<<"$(pdftoppm_once "${opts[@]}")"
        pw=$(min "$pw" "$a") pc=$(min "$pc" "$b") pm=$c
    done
    awk -v e="$ext" -v n="$pages" -v ww="$ww" -v wc="$wc" -v pw="$pw" -v pc="$pc" -v wm="$wm" -v pm="$pm" \
        'BEGIN { printf "%-5s | %8.2f %8.2f %6.2f | %8.2f %8.2f %6.2f | %8.1f %8.1f\n", e,
                 n * 1000 / ww, n * 1000 / pw, pw / ww, n * 1000 / wc, n * 1000 / pc, pc / wc, wm / 1024, pm / 1024 }'
done

echo
echo "Worker memory at 300 dpi: peak above idle (document open, preview drawn) against one page image"
printf '%-5s %10s %10s %12s %16s\n' type idle_MiB peak_MiB above_MiB page_image_MiB
for ext in jpg png tiff; do
    read -r _ _ peak idle image <<<"$(worker_once "$ext" 300)"
    awk -v e="$ext" -v i="$idle" -v p="$peak" -v m="$image" \
        'BEGIN { printf "%-5s %10.1f %10.1f %12.1f %16.1f\n", e, i / 1024, p / 1024, (p - i) / 1024, m / 1024 }'
done
