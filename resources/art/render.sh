#!/usr/bin/env bash
# Render the artwork sources in resources/art/ into the PNG files used by
# the program. Run from the repository root:  bash resources/art/render.sh
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/../.."
ART=resources/art

command -v rsvg-convert >/dev/null || { echo "rsvg-convert is missing (apt-get install librsvg2-bin)" >&2; exit 1; }
mkdir -p resources/icon resources/pix resources/skin
for size in 16 32 48 64 128 256; do mkdir -p "resources/desktop/icons/${size}x${size}"; done

# source svg | output png | width | height
TARGETS="
logo.svg                 resources/icon/logo.png                 256 256
document-open.svg        resources/icon/document-open.png        32  32
document-open-folder.svg resources/icon/document-open-folder.png 32  32
go-previous.svg          resources/icon/go-previous.png          32  32
go-next.svg              resources/icon/go-next.png              32  32
program_banner.svg       resources/pix/program_banner.png        595 80
preview.svg              resources/pix/preview.png               260 280
radio_off.svg            resources/skin/radio_off.png            19  21
radio_off_hover.svg      resources/skin/radio_off_hover.png      19  21
radio_on.svg             resources/skin/radio_on.png             19  21
radio_on_hover.svg       resources/skin/radio_on_hover.png       19  21
combo_down_arrow.svg     resources/skin/combo_down_arrow.png     12  12
combo_up_arrow.svg       resources/skin/combo_up_arrow.png       12  12
logo.svg                 resources/desktop/icons/16x16/velloran.png   16  16
logo.svg                 resources/desktop/icons/32x32/velloran.png   32  32
logo.svg                 resources/desktop/icons/48x48/velloran.png   48  48
logo.svg                 resources/desktop/icons/64x64/velloran.png   64  64
logo.svg                 resources/desktop/icons/128x128/velloran.png 128 128
logo.svg                 resources/desktop/icons/256x256/velloran.png 256 256
"

while read -r src out w h; do
    [ -n "${src:-}" ] || continue
    rsvg-convert -w "$w" -h "$h" -o "$out" "$ART/$src"
    echo "rendered $out"
done <<< "$TARGETS"

python3 "$ART/metal_bg.py" resources/skin/metal_bg.png
echo "rendered resources/skin/metal_bg.png"

# Verify the pixel size of every output.
python3 - "$TARGETS" <<'PY'
import struct, sys
targets = [l.split() for l in sys.argv[1].splitlines() if l.strip()]
targets.append(["metal_bg.py", "resources/skin/metal_bg.png", "526", "23"])
bad = 0
for _, path, w, h in targets:
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        print("NOT A PNG:", path); bad += 1; continue
    pw, ph = struct.unpack(">II", head[16:24])
    if (pw, ph) != (int(w), int(h)):
        print(f"WRONG SIZE: {path} is {pw}x{ph}, expected {w}x{h}"); bad += 1
if bad:
    sys.exit(1)
print(f"all {len(targets)} images have the expected size")
PY
