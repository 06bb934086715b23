#!/bin/sh
# Writes a one-page PDF of 14400 x 14400 points, the largest page PDF allows:
# a frame, a filled triangle and a line of type.
# Written by hand without a cross-reference table, which qpdf then adds.
# Usage: make_poster_pdf.sh OUT.pdf
set -eu
raw=$(mktemp)
trap 'rm -f "$raw"' EXIT
content='q 0 0 1 RG 40 w 100 100 14200 14200 re S Q
q 1 0 0 rg 7000 7000 m 14000 7000 l 7000 14000 l f Q
BT /F1 2000 Tf 1000 3000 Td (POSTER) Tj ET
'
{
    printf '%%PDF-1.4\n'
    printf '1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n'
    printf '2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n'
    printf '3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 14400 14400] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>\nendobj\n'
    printf '4 0 obj\n<< /Length %d >>\nstream\n%sendstream\nendobj\n' "$(printf '%s' "$content" | wc -c)" "$content"
    printf '5 0 obj\n<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>\nendobj\n'
    printf 'trailer\n<< /Size 6 /Root 1 0 R >>\n%%%%EOF\n'
} >"$raw"
qpdf "$raw" "$1" 2>/dev/null || [ $? -eq 3 ] # 3: repaired with warnings
