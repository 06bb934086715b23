#!/usr/bin/env bash
# Checks which way the parts of the program may depend on each other, by the
# includes of the source tree.
# Usage: check_includes.sh SOURCE_ROOT QT_WIDGETS_INCLUDE_DIR [POPPLER_CORE_INCLUDE_DIR]
# Prints every include that breaks a rule and exits 1 when there is one.
set -euo pipefail
root=$1
widgets_dir=$2
poppler_core_dir=${3:-/usr/include/poppler}
cd "$root"

failures=0
fail() { echo "$1: $2"; failures=$((failures + 1)); }

# "file:line:#include <x>" lines of the program's sources in the given folders.
includes() {
    find "$@" -type f \( -name '*.cpp' -o -name '*.h' \) -print0 2>/dev/null |
        xargs -0 -r grep -HnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' || true
}
target() { sed -E 's/.*include[[:space:]]*[<"]([^>"]+)[>"].*/\1/' <<<"$1"; }
where() { cut -d: -f1,2 <<<"$1"; }

is_widgets_header() {
    local name=$1
    [[ $name == QtWidgets/* || $name == ui_*.h ]] && return 0
    [[ $name != */* && -e "$widgets_dir/$name" ]]
}

window_folders='^(app|config|document|conversion|forms)/'

# The engine: no widgets, no form, no settings store, nothing of either front end.
while IFS= read -r line; do
    [ -n "$line" ] || continue
    name=$(target "$line")
    if is_widgets_header "$name"; then
        fail "$(where "$line")" "the engine includes the widget header $name"
    elif [[ $name =~ $window_folders || $name == cli/* ]]; then
        fail "$(where "$line")" "the engine includes $name of a front end"
    fi
done < <(includes engine)

# The command line: the engine only, never the window.
while IFS= read -r line; do
    [ -n "$line" ] || continue
    name=$(target "$line")
    if is_widgets_header "$name"; then
        fail "$(where "$line")" "the command line includes the widget header $name"
    elif [[ $name =~ $window_folders ]]; then
        fail "$(where "$line")" "the command line includes $name of the window"
    fi
done < <(includes cli)

# The window never reaches into the command line.
while IFS= read -r line; do
    [ -n "$line" ] || continue
    name=$(target "$line")
    [[ $name == cli/* ]] && fail "$(where "$line")" "the window includes $name of the command line"
done < <(includes app config document conversion)

# Poppler's core interface (PDFDoc.h, SplashOutputDev.h, goo/GooString.h, ...):
# the headers of its include folder, beside the Qt interface's poppler-*.h.
is_poppler_core_header() {
    local bare=${1#poppler/}
    [[ $bare == goo/* || $bare == splash/* || $bare == fofi/* ]] && return 0
    [[ $bare != */* && $bare != poppler-* && -e "$poppler_core_dir/$bare" ]]
}

# Libraries kept in one place each. Tests and benchmarks may read files back
# with any of them, so only the program's folders are looked at.
poppler_files='^engine/render/(pdfdocument|pagerenderer|popplerview|popplerrenderer|popplerinfo)\.cpp:'
poppler_core_files='^engine/render/(popplerrenderer|popplerinfo)\.cpp:'
mupdf_files='^engine/render/mupdfrenderer\.cpp:'
image_files='^engine/image/'
while IFS= read -r line; do
    [ -n "$line" ] || continue
    name=$(target "$line")
    if [[ $name == poppler* || $name == poppler/* ]] && ! [[ $line =~ $poppler_files ]]; then
        fail "$(where "$line")" "Poppler's header $name outside the Poppler renderer"
    fi
    if is_poppler_core_header "$name" && ! [[ $line =~ $poppler_core_files ]]; then
        fail "$(where "$line")" "Poppler's core header $name outside engine/render/popplerrenderer.cpp"
    fi
    if [[ $name == mupdf/* ]] && ! [[ $line =~ $mupdf_files ]]; then
        fail "$(where "$line")" "MuPDF's header $name outside the MuPDF renderer"
    fi
    if [[ $name =~ ^(jpeglib\.h|jerror\.h|turbojpeg\.h|png\.h|pngconf\.h|tiffio\.h|tiff\.h|zlib\.h|libdeflate\.h|spng\.h|webp/.*)$ ]] &&
       ! [[ $line =~ $image_files ]]; then
        fail "$(where "$line")" "the image library header $name outside the encoders"
    fi
done < <(includes app config document conversion engine cli)

# Nothing but a worker draws a page: only the runner starts processes, and
# neither the window nor the command line includes anything that draws.
drawing_headers='^engine/(pagepipeline|parallelbands)\.h$|^engine/render/(sharedopening|pagerenderer|popplerview)\.h$'
while IFS= read -r line; do
    [ -n "$line" ] || continue
    name=$(target "$line")
    if [[ $name == spawn.h || $name == sys/wait.h ]] && ! [[ $line == runner/* ]]; then
        fail "$(where "$line")" "$name outside the runner: only the runner starts processes"
    fi
    if [[ $name =~ $drawing_headers ]]; then
        if [[ $line =~ $window_folders ]]; then
            fail "$(where "$line")" "the window includes $name: only a worker draws a page"
        elif [[ $line == cli/* ]]; then
            fail "$(where "$line")" "the command line includes $name: only a worker draws a page"
        fi
    fi
done < <(includes app config document conversion engine cli runner)

# The runner's two halves: the programs' side (runner/) and the worker's
# (runner/worker/) share only the protocol; nothing but the worker's side
# includes the worker's side.
while IFS= read -r line; do
    [ -n "$line" ] || continue
    name=$(target "$line")
    if [[ $name == runner/worker/* ]] && ! [[ $line == runner/worker/* ]]; then
        fail "$(where "$line")" "$name is the worker's side: only the worker includes it"
    fi
done < <(includes app config document conversion engine cli runner)

# The renderer interface names no library: renderer.h includes Qt's and the
# standard library's headers and the plain types beside it (pdfstatus.h,
# rendererkind.h), never a library's header or a back-end's wrapper
# (pdfdocument.h, pagerenderer.h, popplerrenderer.h, ...), and declares
# nothing of a library's types. Each back-end describes itself in its own files.
renderer_h=engine/render/renderer.h
renderer_plain='^engine/render/(pdfstatus|rendererkind)\.h$'
while IFS= read -r line; do
    [ -n "$line" ] || continue
    name=$(target "$line")
    if [[ $line =~ include[[:space:]]*\" ]]; then
        [[ $name =~ $renderer_plain ]] ||
            fail "$(where "$line")" "the renderer interface includes $name: only plain types may be included there"
    elif ! [[ $name =~ ^Q[A-Za-z]*$ || $name =~ ^[a-z_]+$ ]]; then
        fail "$(where "$line")" "the renderer interface includes the library header $name"
    fi
done < <(includes "$renderer_h")
while IFS= read -r line; do
    [ -n "$line" ] || continue
    fail "$renderer_h:${line%%:*}" "the renderer interface names a library's type: ${line#*:}"
done < <(grep -nE '(Poppler::|\<fz_[a-z]|\<pdf_[a-z])' "$renderer_h" || true)

if [ "$failures" -gt 0 ]; then
    echo "$failures include(s) break the layout's rules (docs/ARCHITECTURE.md)"
    exit 1
fi
echo "includes keep the layout's rules"
