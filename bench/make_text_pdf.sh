#!/bin/sh
# Writes a text-heavy PDF of N A4 pages (default 30): paragraphs in eight
# fonts and many sizes, rules and simple shapes, typeset by groff and turned
# into PDF by Ghostscript's ps2pdf.
# Usage: make_text_pdf.sh OUT.pdf [PAGES]
set -eu
out=$1
pages=${2:-30}
for tool in groff ps2pdf; do
    command -v "$tool" >/dev/null || { echo "make_text_pdf.sh: $tool is needed (Debian: groff, ghostscript)" >&2; exit 2; }
done

awk -v n="$pages" 'BEGIN {
    split("TR TB TI HR HB CR PR NI", fonts, " ")
    nw = split("velloran converts pages of documents into images quickly while every core renders a different page and the writer encodes the result with care for size and speed", w, " ")
    seed = 1
    print ".pl 11.69i"; print ".ll 6.3i"; print ".po 1i"
    for (p = 1; p <= n; p++) {
        print ".ft HB"; print ".ps 20"; print ".vs 24"; print "Section " p; print ".br"
        for (para = 0; para < 10; para++) {
            s = 8 + (p * 3 + para * 5) % 9
            print ".ft " fonts[1 + (p + para) % 8]; print ".ps " s; print ".vs " (s + 2); print ".sp 0.4"
            line = ""
            for (k = 0; k < 55; k++) {
                seed = (seed * 1103515245 + 12345) % 2147483648
                line = line w[1 + int(seed / 65536) % nw] " "
            }
            print line
        }
        print ".sp 0.3"
        print "\\D'\''l 6i 0'\''"
        print ".br"
        print "\\D'\''e 1i 0.5i'\''\\h'\''0.3i'\''\\D'\''P 0.5i 0 0 0.5i -0.5i 0'\''"
        if (p < n) print ".bp"
    }
}' | groff -Tps | ps2pdf -sPAPERSIZE=a4 - "$out"
