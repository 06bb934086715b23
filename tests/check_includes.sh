#!/usr/bin/env bash
# Checks which way the parts of the program may depend on each other, by the
# includes of the source tree.
# Usage: check_includes.sh SOURCE_ROOT QT_WIDGETS_INCLUDE_DIR [POPPLER_CORE_INCLUDE_DIR [ENGINE_LIBRARIES]]
# ENGINE_LIBRARIES: the engine's libraries and their files, as
# engine/CMakeLists.txt writes them (build/engine-libraries.txt).
# Prints every include that breaks a rule and exits 1 when there is one.
set -euo pipefail
root=$1
widgets_dir=$2
poppler_core_dir=${3:-/usr/include/poppler}
engine_libraries=${4:-}
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

# Only the runner starts processes.
while IFS= read -r line; do
    [ -n "$line" ] || continue
    name=$(target "$line")
    if [[ $name == spawn.h || $name == sys/wait.h ]] && ! [[ $line == runner/* ]]; then
        fail "$(where "$line")" "$name outside the runner: only the runner starts processes"
    fi
done < <(includes app config document conversion engine cli runner)

# The engine's libraries, each file's from engine/CMakeLists.txt's lists:
# PLAIN (what the programs link), DRAWING (the worker's side only),
# POPPLER_MODULE and MUPDF_MODULE (the back-ends' modules, which the rest
# reaches through render/backendmodule.h alone), POPPLER_QT (the tests'
# reference on Poppler's Qt interface).
declare -A library_of=()
if [ -n "$engine_libraries" ]; then
    while IFS='=' read -r library files; do
        for file in $files; do library_of[$file]=$library; done
    done <"$engine_libraries"
fi
# What a file of each library may include of the engine.
may_include() {
    case "$1:$2" in
    PLAIN:PLAIN | DRAWING:PLAIN | DRAWING:DRAWING) return 0 ;;
    POPPLER_MODULE:PLAIN | POPPLER_MODULE:DRAWING | POPPLER_MODULE:POPPLER_MODULE) return 0 ;;
    MUPDF_MODULE:PLAIN | MUPDF_MODULE:DRAWING | MUPDF_MODULE:MUPDF_MODULE) return 0 ;;
    POPPLER_QT:PLAIN | POPPLER_QT:DRAWING | POPPLER_QT:POPPLER_QT) return 0 ;;
    esac
    return 1
}
if [ -n "$engine_libraries" ]; then
    while IFS= read -r line; do
        [ -n "$line" ] || continue
        name=$(target "$line")
        from=${library_of[${line%%:*}]:-}
        to=${library_of[$name]:-}
        [ -n "$from" ] && [ -n "$to" ] || continue
        may_include "$from" "$to" ||
            fail "$(where "$line")" "the engine's $from library includes $name of $to"
    done < <(includes engine)

    # Nothing but a worker draws a page: the programs' folders and the
    # runner's programs' side include the plain library's headers alone.
    while IFS= read -r line; do
        [ -n "$line" ] || continue
        [[ $line == runner/worker/* ]] && continue
        name=$(target "$line")
        to=${library_of[$name]:-}
        [ -n "$to" ] && [ "$to" != PLAIN ] || continue
        fail "$(where "$line")" "$name is of the engine's $to library: a program includes the plain library's headers only"
    done < <(includes app config document conversion cli runner)
fi

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

# The renderer interface names no library: renderer.h (the back-ends as the
# programs know them), renderdocument.h (what the pipeline draws through),
# rendererbackend.h (the descriptions) and backendmodule.h (what a module
# gives) include Qt's and the standard library's headers and the plain types
# beside them, never a library's header or a back-end's own files
# (pdfdocument.h, popplerrenderer.h, ...), and declare nothing of a
# library's types. Each back-end describes itself in its own files.
interface_plain='^engine/(pixelimage|drawingnotes|projectversion|render/(pdfstatus|rendererkind|renderer|documentinfo|renderdocument))\.h$'
for interface in engine/render/renderer.h engine/render/renderdocument.h engine/render/rendererbackend.h \
                 engine/render/backendmodule.h; do
    while IFS= read -r line; do
        [ -n "$line" ] || continue
        name=$(target "$line")
        if [[ $line =~ include[[:space:]]*\" ]]; then
            [[ $name =~ $interface_plain ]] ||
                fail "$(where "$line")" "the renderer interface includes $name: only plain types may be included there"
        elif ! [[ $name =~ ^Q[A-Za-z]*$ || $name =~ ^[a-z_]+$ ]]; then
            fail "$(where "$line")" "the renderer interface includes the library header $name"
        fi
    done < <(includes "$interface")
    while IFS= read -r line; do
        [ -n "$line" ] || continue
        fail "$interface:${line%%:*}" "the renderer interface names a library's type: ${line#*:}"
    done < <(grep -nE '(Poppler::|\<fz_[a-z]|\<pdf_[a-z])' "$interface" || true)
done

# What is particular to a library is said in its back-end's description and
# read from there: outside its own files, the engine and the worker's side
# (the pipeline, the shared opening, the task executor, the worker loop) name
# neither a back-end's kind nor a library's types or calls.
backend_files='^engine/render/(popplerbackend|mupdfbackend|popplerrenderer|popplerinfo|mupdfrenderer|pdfdocument|pagerenderer|popplerview|rendererbackend)\.(cpp|h):'
while IFS= read -r line; do
    [ -n "$line" ] || continue
    [[ $line =~ $backend_files ]] && continue
    fail "$(where "$line")" "names a back-end of its own accord: ${line#*:*:}"
done < <(find engine runner/worker -type f \( -name '*.cpp' -o -name '*.h' \) -print0 |
         xargs -0 grep -HnE 'RendererKind::(Poppler|MuPdf)|Poppler::|\<fz_[a-z]+\(|\<pdf_[a-z]+\(' | grep -vE ':[0-9]+:[[:space:]]*//' || true)

if [ "$failures" -gt 0 ]; then
    echo "$failures include(s) break the layout's rules (docs/ARCHITECTURE.md)"
    exit 1
fi
echo "includes keep the layout's rules"
