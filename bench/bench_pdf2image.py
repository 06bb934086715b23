#!/usr/bin/python3
"""The calls Python's pdf2image makes for convert_from_path(pdf), timed with
poppler-utils' programs and with the build's poppler-compat folder as
poppler_path. pdf2image itself is not packaged for Debian 12, so this runs
what its convert_from_path does with its defaults (200 dpi, PPM, one
thread): pdfinfo for the page count, then one pdftoppm over every page onto
standard output, split into pages by their headers and each opened with
Pillow; the pages are loaded, as a caller that uses them would. The ratio is
reported, with no goal: Pillow's reading of 40 pages of 11 MB each is the
same work both ways (bench_pdftoppm.sh measures the pipe alone).

Usage: bench/bench_pdf2image.py [BUILD_DIR]   (default: build-release)
Needs python3-pil and poppler-utils; the document is made by
bench/make_text_pdf.sh (40 pages) or, when the build has it, bench_worker.
"""

import io
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from PIL import Image

def page_count(pdfinfo, pdf):
    out = subprocess.run([pdfinfo, pdf], capture_output=True, check=True).stdout.decode("utf-8", "replace")
    return int(re.search(r"^Pages:\s+(\d+)", out, re.M).group(1))


def split_ppm(data):
    """Pages of a stream of binary PNM images, as pdf2image's parse_buffer_to_ppm splits it."""
    images = []
    index = 0
    while index < len(data):
        header = re.match(rb"(P[456])\s+(\d+)\s+(\d+)\s(?:(\d+)\s)?", data[index:index + 64])
        code, width, height = header.group(1), int(header.group(2)), int(header.group(3))
        if code == b"P4":
            size = (width + 7) // 8 * height
        else:
            size = width * height * (3 if code == b"P6" else 1)
        size += header.end()
        images.append(Image.open(io.BytesIO(data[index:index + size])))
        index += size
    return images


def convert_from_path(pdf, poppler_path, dpi=200):
    pdfinfo = os.path.join(poppler_path, "pdfinfo")
    pdftoppm = os.path.join(poppler_path, "pdftoppm")
    pages = page_count(pdfinfo, pdf)
    data = subprocess.run([pdftoppm, "-r", str(dpi), "-f", "1", "-l", str(pages), pdf],
                          capture_output=True, check=True).stdout
    images = split_ppm(data)
    for image in images:
        image.load()
    return images


def best_of(repeats, run):
    best = None
    result = None
    for _ in range(repeats):
        start = time.monotonic()
        result = run()
        took = time.monotonic() - start
        best = took if best is None or took < best else best
    return best, result


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "build-release")
    ours = os.path.join(build, "poppler-compat")
    theirs = os.path.dirname(shutil.which("pdftoppm") or "/usr/bin/pdftoppm")
    for folder in (ours, theirs):
        if not os.access(os.path.join(folder, "pdftoppm"), os.X_OK):
            sys.exit(f"bench_pdf2image.py: no pdftoppm in {folder}")
    repeats = int(os.environ.get("REPEATS", "3"))
    with tempfile.TemporaryDirectory() as work:
        pdf = os.path.join(work, "forty.pdf")
        maker = os.path.join(build, "bench", "bench_worker")
        if os.access(maker, os.X_OK):
            subprocess.run([maker, "make", pdf, "40"], check=True, stderr=subprocess.DEVNULL,
                           env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
            what = "the generated report"
        else:
            subprocess.run([os.path.join(here, "make_text_pdf.sh"), pdf, "40"], check=True)
            what = "the generated text document"
        print(f"load average before: {' '.join(open('/proc/loadavg').read().split()[:3])}; cores: {os.cpu_count()}; "
              f"best of {repeats}, taking turns; 40 pages: {what}")
        times = {}
        sizes = {}
        for _ in range(repeats):
            for who, folder in (("poppler-utils", theirs), ("velloran", ours)):
                took, images = best_of(1, lambda: convert_from_path(pdf, folder))
                times[who] = min(times.get(who, took), took)
                sizes[who] = [image.size for image in images]
        print(f"load average after: {' '.join(open('/proc/loadavg').read().split()[:3])}")
        if sizes["velloran"] != sizes["poppler-utils"]:
            sys.exit("bench_pdf2image.py: the pages' sizes differ from poppler-utils'")
        ratio = times["poppler-utils"] / times["velloran"]
        # Reported, no goal: Pillow's reading of the pages is the same work both ways.
        print(f"{'run':<40} {'poppler':>8} {'velloran':>8} {'ratio':>6}")
        print(f"{'convert_from_path, 40 pages, 200 dpi':<40} {times['poppler-utils']:7.2f}s {times['velloran']:7.2f}s "
              f"{ratio:5.2f}x")


if __name__ == "__main__":
    main()
