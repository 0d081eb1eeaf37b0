#!/usr/bin/env bash
# Remakes the installer's pictures from scratch with ImageMagick 6 and Python 3 (no other tools):
#   artwork.jpg  the left card's picture, a road at dusk running to the horizon: drawn at 1920 x 1080,
#                stored as its 736 x 1080 centre (the card shows only the middle 712 columns; the cut
#                lies on JPEG block edges, so the pixels kept decode exactly as in the whole picture)
#   logo.png     1536 x 1024 with alpha: the road mark and the KORVANE wordmark
#   icon.ico     the road mark, PNG entries of 16 to 256 pixels
# The palette is the window's: background #101114, accent #FF713B. The results are committed; run
# this only to change them: resources/make-art.sh
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bold_font=/usr/share/fonts/truetype/open-sans/OpenSans-ExtraBold.ttf
wide_font=/usr/share/fonts/truetype/open-sans/OpenSans-Semibold.ttf

# --- artwork -------------------------------------------------------------------------------------
W=1920 H=1080 HZ=480 CX=960
export HZ
# Sky: near-black at the top warming into an ember glow at the horizon; the ground below is dark.
convert -size ${W}x${HZ} gradient:'#0c0d11-#4a2015' "$work/sky.png"
convert -size ${W}x$((H - HZ)) gradient:'#1a1210-#0b0c0f' "$work/ground.png"
convert "$work/sky.png" "$work/ground.png" -append "$work/base.png"
# The low sun behind the hills: a soft accent disc with a wide halo.
convert -size ${W}x${H} xc:none -fill '#ff713b' -draw "circle $CX,$HZ $CX,$((HZ - 110))" \
  -blur 0x90 "$work/halo.png"
convert -size ${W}x${H} xc:none -fill '#ffb08a' -draw "circle $CX,$((HZ + 10)) $CX,$((HZ - 52))" \
  -blur 0x4 "$work/sun.png"
# Stars: a fixed seed keeps the picture the same on every run.
python3 - "$work/stars.mvg" <<'PY'
import os, random, sys
random.seed(18)
hz = int(os.environ["HZ"])
with open(sys.argv[1], "w") as out:
    for _ in range(260):
        x, y = random.uniform(0, 1920), random.uniform(0, hz - 120)
        r = random.choice([0.7, 0.9, 1.1, 1.5])
        a = random.uniform(0.25, 0.85) * (1 - y / (hz - 40))
        out.write(f"fill rgba(255,236,220,{a:.2f}) circle {x:.1f},{y:.1f} {x + r:.1f},{y:.1f}\n")
PY
convert -size ${W}x${H} xc:none -draw "$(cat "$work/stars.mvg")" "$work/stars.png"
# Two ranges of hills, the far one lit from behind.
python3 - "$work/hills.mvg" <<'PY'
import math, os, sys
hz = int(os.environ["HZ"])
def ridge(base, amp, seed, colour):
    points = [f"0,1080"]
    for x in range(0, 1921, 24):
        y = base - amp * (0.55 * math.sin(x / 210 + seed) + 0.3 * math.sin(x / 97 + 2 * seed) + 0.15 * math.sin(x / 41 + seed))
        # The road's valley: the hills open where the road meets the horizon.
        y += 60 * math.exp(-((x - 960) / 170) ** 2)
        points.append(f"{x},{y:.1f}")
    points.append("1920,1080")
    return f"fill {colour} polygon " + " ".join(points) + "\n"
with open(sys.argv[1], "w") as out:
    out.write(ridge(hz - 40, 70, 1.3, "#24171a"))
    out.write(ridge(hz, 45, 4.1, "#141218"))
PY
convert -size ${W}x${H} xc:none -draw "$(cat "$work/hills.mvg")" "$work/hills.png"
# The road: asphalt narrowing to the vanishing point, lit edges, and the accent centre dashes.
python3 - "$work/road.mvg" <<'PY'
import os, sys
cx, hz, h = 960, int(os.environ["HZ"]) + 6, 1080
def at(t):            # t = 0 at the horizon, 1 at the bottom edge; perspective spacing
    return hz + (h - hz) * t
def half(t):
    return 6 + 760 * t
with open(sys.argv[1], "w") as out:
    out.write(f"fill #17161a polygon {cx - half(0)},{at(0)} {cx + half(0)},{at(0)} {cx + half(1.0)},{h} {cx - half(1.0)},{h}\n")
    for side in (-1, 1):
        pts = []
        for t in (0.0, 1.0):
            pts.append((cx + side * half(t) * 0.94, at(t)))
        out.write(f"stroke rgba(255,160,120,0.55) stroke-width 5 line {pts[0][0]},{pts[0][1]} {pts[1][0]},{pts[1][1]}\n")
    # Dashes get longer and wider toward the viewer.
    t = 0.02
    while t < 1.0:
        length = 0.045 + 0.11 * t
        t2 = min(t + length * 0.55, 1.0)
        w1, w2 = 1 + 16 * t, 1 + 16 * t2
        out.write(f"stroke none fill #ff713b polygon {cx - w1},{at(t)} {cx + w1},{at(t)} {cx + w2},{at(t2)} {cx - w2},{at(t2)}\n")
        t = t2 + length * 0.45
PY
convert -size ${W}x${H} xc:none -draw "$(cat "$work/road.mvg")" "$work/road.png"
# Headlight glow on the asphalt near the viewer.
convert -size ${W}x${H} xc:none -fill 'rgba(255,113,59,0.22)' -draw "ellipse $CX,1080 520,220 0,360" \
  -blur 0x80 "$work/lights.png"
convert "$work/base.png" "$work/stars.png" -composite "$work/halo.png" -compose screen -composite \
  -compose over "$work/sun.png" -composite "$work/hills.png" -composite "$work/road.png" -composite \
  "$work/lights.png" -compose screen -composite -compose over \
  \( -size ${W}x${H} radial-gradient:'none-rgba(8,9,12,0.7)' \) -composite \
  -attenuate 0.25 +noise Gaussian -crop 736x${H}+592+0 +repage -strip -sampling-factor 4:2:0 -quality 82 \
  -define jpeg:optimize-coding=true "$here/artwork.jpg"

# --- mark (the icon's picture and the logo's left part) ----------------------------------------
# An accent tile with a road running toward its top edge, the dashed centre line in the background
# colour. Drawn at 1024 px and reduced for every size.
convert -size 1024x1024 xc:none \
  \( -size 1024x1024 gradient:'#ff8a55-#f0602c' \) \
  \( -size 1024x1024 xc:black -fill white -draw 'roundrectangle 0,0 1023,1023 230,230' \) \
  -delete 0 -alpha off -compose copy-opacity -composite \
  -compose over -fill '#101114' -draw 'polygon 452,170 572,170 838,880 186,880' \
  -fill '#ff7a45' -draw 'polygon 504,250 520,250 530,360 494,360' \
  -draw 'polygon 490,440 534,440 550,600 474,600' \
  -draw 'polygon 468,690 556,690 570,880 454,880' \
  "$work/mark.png"

# --- logo ----------------------------------------------------------------------------------------
convert -size 1536x1024 xc:none \
  \( "$work/mark.png" -resize 560x560 \) -geometry +40+232 -composite \
  -font "$bold_font" -fill '#f3f3f5' -pointsize 250 -annotate +650+560 'KOR' \
  -font "$bold_font" -fill '#f3f3f5' -pointsize 250 -annotate +650+800 'VANE' \
  "$work/logo-text.png"
convert "$work/logo-text.png" -trim +repage -background none -gravity center -extent 1536x1024 \
  -depth 8 -strip -define png:compression-level=9 "PNG32:$here/logo.png"

# --- icon ----------------------------------------------------------------------------------------
sizes=(16 24 32 48 64 128 256)
for size in "${sizes[@]}"; do
  convert "$work/mark.png" -resize ${size}x${size} -depth 8 -strip -define png:compression-level=9 "PNG32:$work/icon-$size.png"
done
python3 - "$here/icon.ico" "${sizes[@]/#/$work/icon-}" <<'PY'
import struct, sys
# An icon file whose entries are PNG images (Windows Vista and later read them at every size).
target, images = sys.argv[1], [p + ".png" for p in sys.argv[2:]]
blobs = [open(p, "rb").read() for p in images]
offset = 6 + 16 * len(blobs)
header = struct.pack("<HHH", 0, 1, len(blobs))
entries, data = b"", b""
for path, blob in zip(images, blobs):
    size = struct.unpack(">I", blob[16:20])[0]
    entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset + len(data))
    data += blob
open(target, "wb").write(header + entries + data)
PY
echo "make-art: wrote artwork.jpg, logo.png, icon.ico"
