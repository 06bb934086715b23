#!/usr/bin/env bash
# Converts one generated 30-page document with the conversion worker and with
# pdftoppm, and prints pages per second, their ratio and peak memory.
# Usage: bench/bench_worker.sh [build folder] (default: build-release, a Release build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-release}
pages=30
dpi=150
quality=75
repeats=${REPEATS:-3}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELLORAN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_worker -j2 >/dev/null
bench=$build/bench/bench_worker
export QT_QPA_PLATFORM=offscreen
export QT_LOGGING_RULES="*.debug=false" # the worker names every file it writes

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" make "$work/bench.pdf" "$pages" 2>/dev/null

# Best of the repeats: the machine is shared, so the fastest run is the least disturbed one.
worker_run() { # ext dpi -> "pages_per_s peak_kib idle_kib page_image_kib"
    local best=0 line out
    for _ in $(seq "$repeats"); do
        rm -rf "$work/out" && mkdir "$work/out"
        line=$("$bench" run "$work/bench.pdf" "$work/out" "$1" "$2" "$quality" 2>/dev/null)
        out=$(sed -E 's/.*pages_per_s=([0-9.]+) idle_kib=([0-9]+) peak_kib=([0-9]+) page_image_kib=([0-9]+)/\1 \3 \2 \4/' <<<"$line")
        best=$(awk -v a="$best" -v b="$out" 'BEGIN { split(b, f, " "); if (f[1] > a + 0) print b; else print a }')
    done
    echo "$best"
}

pdftoppm_run() { # format options... -> "pages_per_s peak_kib"
    local best=0 t
    for _ in $(seq "$repeats"); do
        rm -rf "$work/pp" && mkdir "$work/pp"
        t=$( { /usr/bin/time -f '%e %M' pdftoppm -r "$dpi" "$@" "$work/bench.pdf" "$work/pp/p" ; } 2>&1 | tail -1)
        best=$(awk -v a="$best" -v t="$t" -v n="$pages" \
            'BEGIN { split(t, f, " "); s = f[1] < 0.01 ? 0.01 : f[1]; r = n / s;
                     split(a, g, " "); if (r > g[1] + 0) printf "%.2f %d\n", r, f[2]; else print a }')
    done
    echo "$best"
}

echo "$pages pages, A4, $dpi dpi, quality $quality; best of $repeats; worker time without its 15 ms pauses"
printf '%-5s %14s %16s %7s %14s %16s\n' type worker_pages/s pdftoppm_pages/s ratio worker_peak_MiB pdftoppm_peak_MiB
for ext in jpg png tiff; do
    case $ext in
        jpg) opts=(-jpeg -jpegopt "quality=$quality") ;;
        png) opts=(-png) ;;
        tiff) opts=(-tiff) ;;
    esac
    read -r wps wpeak _ _ <<<"$(worker_run "$ext" "$dpi")"
    read -r pps ppeak <<<"$(pdftoppm_run "${opts[@]}")"
    awk -v e="$ext" -v w="$wps" -v p="$pps" -v wm="$wpeak" -v pm="$ppeak" \
        'BEGIN { printf "%-5s %14.2f %16.2f %7.2f %14.1f %16.1f\n", e, w, p, w / p, wm / 1024, pm / 1024 }'
done

echo
echo "Memory at 300 dpi (worker): peak above idle against one page image"
printf '%-5s %10s %10s %12s %16s\n' type idle_MiB peak_MiB above_MiB page_image_MiB
for ext in jpg png tiff; do
    read -r _ peak idle image <<<"$(REPEATS=1 worker_run "$ext" 300)"
    awk -v e="$ext" -v i="$idle" -v p="$peak" -v m="$image" \
        'BEGIN { printf "%-5s %10.1f %10.1f %12.1f %16.1f\n", e, i / 1024, p / 1024, (p - i) / 1024, m / 1024 }'
done
