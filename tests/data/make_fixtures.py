#!/usr/bin/env python3
"""Writes the committed test PDFs that QPdfWriter cannot make.

Run in this folder; needs qpdf on the path for the encrypted files."""

import os
import subprocess


def write_pdf(name, objects, trailer_extra=b""):
    out = b"%PDF-1.4\n"
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for offset in offsets:
        out += b"%010d 00000 n \n" % offset
    out += b"trailer\n<< /Size %d /Root 1 0 R%s >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, trailer_extra, xref)
    with open(name, "wb") as f:
        f.write(out)


content = b"BT /F1 48 Tf 72 80 Td (1) Tj ET"
one_page = [
    b"<< /Type /Catalog /Pages 2 0 R >>",
    b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
    b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R"
    b" /Resources << /Font << /F1 5 0 R >> >> >>",
    b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream",
    b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
]

write_pdf("one-page.pdf", one_page)

no_kids_count_0 = list(one_page)
no_kids_count_0[1] = b"<< /Type /Pages /Kids [] /Count 0 >>"
write_pdf("no-kids-count-0.pdf", no_kids_count_0)

no_kids_count_1 = list(one_page)
no_kids_count_1[1] = b"<< /Type /Pages /Kids [] /Count 1 >>"
write_pdf("no-kids-count-1.pdf", no_kids_count_1)

# Two pages under a tree that promises three: the third cannot be had.
count_3_two_kids = list(one_page)
count_3_two_kids[1] = b"<< /Type /Pages /Kids [3 0 R 6 0 R] /Count 3 >>"
count_3_two_kids.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R"
                        b" /Resources << /Font << /F1 5 0 R >> >> >>")
write_pdf("count-3-two-kids.pdf", count_3_two_kids)

# Three kids, the third a reference to an object the file does not have.
dangling_third_page = list(count_3_two_kids)
dangling_third_page[1] = b"<< /Type /Pages /Kids [3 0 R 6 0 R 9 0 R] /Count 3 >>"
write_pdf("dangling-third-page.pdf", dangling_third_page)

# An encryption dictionary of revision 99 with no keys: MuPDF refuses the
# file, Poppler says the encryption is odd and reads it as it is.
odd_encryption = list(one_page) + [b"<< /Filter /Standard /V 5 /R 99 >>"]
write_pdf("odd-encryption.pdf", odd_encryption, b" /Encrypt 6 0 R")

# Three pages, the middle one 0.4 points high: no pixel to draw at 72 dpi.
thin_middle_page = list(one_page)
thin_middle_page[1] = b"<< /Type /Pages /Kids [3 0 R 6 0 R 7 0 R] /Count 3 >>"
thin_middle_page.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 0.4] /Contents 4 0 R"
                        b" /Resources << /Font << /F1 5 0 R >> >> >>")
thin_middle_page.append(thin_middle_page[2])
write_pdf("thin-middle-page.pdf", thin_middle_page)

# One page with a MediaBox of 1e9 points a side, far past what PDF allows.
huge_mediabox = list(one_page)
huge_mediabox[2] = huge_mediabox[2].replace(b"[0 0 200 200]", b"[0 0 1000000000 1000000000]")
write_pdf("huge-mediabox.pdf", huge_mediabox)

# One page that takes minutes for any renderer: form X0 draws X1 four times at
# half size, X1 draws X2 so, and so on 24 deep: 4^24 (2.8e14) squares.
depth = 24
nested_forms = list(one_page[:2])
nested_forms.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R"
                    b" /Resources << /XObject << /X 5 0 R >> >> >>")
nested_content = b"q 200 0 0 200 0 0 cm /X Do Q"
nested_forms.append(b"<< /Length %d >>\nstream\n" % len(nested_content) + nested_content + b"\nendstream")
for level in range(depth):
    if level + 1 < depth:
        body = b" ".join(b"q 0.5 0 0 0.5 %s cm /X Do Q" % corner for corner in (b"0 0", b"0.5 0", b"0 0.5", b"0.5 0.5"))
        resources = b" /Resources << /XObject << /X %d 0 R >> >>" % (6 + level)
    else:
        body = b"0 0 1 rg 0.1 0.1 0.8 0.8 re f"
        resources = b""
    nested_forms.append(b"<< /Type /XObject /Subtype /Form /BBox [0 0 1 1]%s /Length %d >>\nstream\n"
                        % (resources, len(body)) + body + b"\nendstream")
write_pdf("nested-forms.pdf", nested_forms)

subprocess.run(["qpdf", "--encrypt", "secret", "owner", "256", "--",
                "one-page.pdf", "user-password.pdf"], check=True)
subprocess.run(["qpdf", "--encrypt", "", "owner", "256", "--print=none", "--modify=none", "--extract=n", "--",
                "one-page.pdf", "owner-password.pdf"], check=True)
os.remove("one-page.pdf")
