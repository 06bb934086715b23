#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and benchmarking need.
# Only packages that are missing are installed, so a prepared machine pays nothing.
set -euo pipefail

packages=(
    cmake g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins
    libpoppler-qt6-dev
    libpoppler-private-dev  # Poppler's core interface (PDFDoc, SplashOutputDev), as pdftoppm draws
    libjpeg62-turbo-dev libdeflate-dev libtiff-dev zlib1g-dev libwebp-dev  # the engine's encoders
    libpng-dev          # tests read PNG files back with it; bench_engine measures it
    libspng-dev         # bench_engine measures it against libpng
    # velloran-cli's MuPDF renderer: Debian's static libmupdf.a and what it links
    libmupdf-dev libmujs-dev libgumbo-dev libopenjp2-7-dev libjbig2dec0-dev libbrotli-dev libharfbuzz-dev
    libfreetype-dev
    fp-utils            # chmcmd builds the manual
    poppler-utils qpdf  # test fixtures and benchmark peers
    mupdf-tools
    python3-pil         # bench_pdf2image.py reads the pages as pdf2image does
    linux-perf          # where the time goes, when a benchmark misses its goal
    groff ghostscript time  # the command-line benchmark's document and timer
    xvfb xauth          # real windows without a display
    xchm xdg-utils      # the window's Help > Manual and "View in Explorer"
    help2man            # the manual page of velloran-cli
    desktop-file-utils appstream lintian  # checks of the desktop entry, metainfo and package
    dpkg-dev fakeroot   # cpack -G DEB
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
