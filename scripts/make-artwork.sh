#!/usr/bin/env bash
# Draws the program's icon and bitmaps from text and shapes with ImageMagick:
#   make-artwork.sh OUTDIR
# writes kantiq.ico (48/32/24/16 px, 32-bit with alpha), status-on.bmp,
# status-off.bmp, status-fault.bmp, status-silent.bmp, status-no-input.bmp and
# status-sms-waiting.bmp (230x40, 24-bit), about-button.bmp
# (30x30, 24-bit), banner.bmp (340x106, 16-bit) and, for the setup program's
# first and last pages, setup-side.bmp (164x314, 24-bit). The output depends only on the fonts of
# fonts-dejavu-core and on ImageMagick, so the build runs it every time.
set -euo pipefail

out=${1:?usage: make-artwork.sh OUTDIR}
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

fontdir=/usr/share/fonts/truetype/dejavu
sans=$fontdir/DejaVuSans.ttf
bold=$fontdir/DejaVuSans-Bold.ttf
for f in "$sans" "$bold"; do
  [[ -r $f ]] || { echo "make-artwork: font $f missing (fonts-dejavu-core)" >&2; exit 1; }
done

# No dates or names in the files, so the same input gives the same bytes.
strip=(-strip -define png:exclude-chunks=date,time)
bmp24() { convert "$1" -alpha off -type TrueColor "${strip[@]}" "BMP3:$2"; }

# --- status panels 114, 115, 118, 120, 121 and 122 -------------------------------------------
# A rounded panel with a soft gradient and a lamp on the left.
panel() { # colour-top colour-bottom lamp-colour title subtitle output
  convert -size 230x40 xc:'#f0f0f0' \
    \( -size 226x36 gradient:"$1-$2" \
       \( -size 226x36 xc:black -fill white -draw 'roundrectangle 0,0 225,35 6,6' \) \
       -alpha off -compose CopyOpacity -composite \) \
    -geometry +2+2 -compose Over -composite \
    -fill none -stroke '#00000060' -strokewidth 1 -draw 'roundrectangle 2,2 227,37 6,6' \
    -stroke '#ffffff' -strokewidth 2 -fill "$3" -draw 'circle 20,20 20,10' \
    -stroke none -fill '#ffffffa0' -draw 'circle 17,16 17,13' \
    -fill white -stroke none -font "$bold" -pointsize 15 -annotate +38+18 "$4" \
    -font "$sans" -pointsize 10 -annotate +38+32 "$5" \
    "$tmp/panel.png"
  bmp24 "$tmp/panel.png" "$6"
}
panel '#3fbf4f' '#17792a' '#8cff70' 'Aktiviert' 'Analysiere Signal auf Alarmierung ...' "$out/status-on.bmp"
panel '#d9463b' '#8f1b14' '#ffb0a0' 'Deaktiviert' 'Keine Auswertung des Signals' "$out/status-off.bmp"
panel '#f0a020' '#a85a00' '#fff070' 'Störung' 'Kein Signal vom Aufnahmegerät ...' "$out/status-fault.bmp"
panel '#f0a020' '#a85a00' '#fff070' 'Störung' 'Eingang stumm: kein Ton ...' "$out/status-silent.bmp"
panel '#f0a020' '#a85a00' '#fff070' 'Störung' 'Kein Aufnahmegerät gefunden ...' "$out/status-no-input.bmp"
panel '#f0a020' '#a85a00' '#fff070' 'Störung' 'SMS nicht gesendet ...' "$out/status-sms-waiting.bmp"

# --- about button face 116 ---------------------------------------------------
# A round blue question mark on the button face colour; drawn large and
# scaled down for smooth edges.
convert -size 240x240 xc:'#f0f0f0' \
  -fill '#0b3f8c' -draw 'circle 120,120 120,6' \
  -fill '#2f7fe0' -draw 'circle 120,120 120,18' \
  -fill '#ffffff40' -draw 'ellipse 120,78 70,40 0,360' \
  -fill white -font "$bold" -pointsize 170 -gravity center -annotate +0+8 '?' \
  -resize 30x30 "$tmp/about.png"
bmp24 "$tmp/about.png" "$out/about-button.bmp"

# --- banner 117 ----------------------------------------------------------------
# Night-blue background, a pager drawn from shapes with radio waves, the
# product name and the slogan. The dialogs centre the banner in its control
# without scaling it, and with some fonts the control is a few pixels smaller
# than the bitmap: the picture on it (pager and texts) is centred and must
# keep clear of every edge by the margin below.
banner_margin=8
convert -size 340x106 xc:none \
  -fill '#2b2f36' -stroke '#9aa4b2' -strokewidth 2 -draw 'roundrectangle 18,22 92,92 10,10' \
  -stroke none -fill '#3c424c' -draw 'roundrectangle 24,28 86,86 7,7' \
  -fill '#b8e07a' -stroke '#1a1d22' -strokewidth 1 -draw 'rectangle 30,34 80,56' \
  -stroke none -fill '#26400f' -font "$bold" -pointsize 10 -annotate +34+49 'ALARM' \
  -fill '#d23b2f' -draw 'circle 37,72 37,66' \
  -fill '#9aa4b2' -draw 'roundrectangle 50,67 64,77 3,3' -draw 'roundrectangle 68,67 82,77 3,3' \
  -fill '#ff5a4a' -draw 'rectangle 44,16 66,22' \
  -fill none -stroke '#7fc4ff' -strokewidth 2.5 \
  -draw 'arc 88,43 114,69 -40,40' -draw 'arc 79,34 123,78 -40,40' -draw 'arc 70,25 132,87 -40,40' \
  -stroke none -fill '#9cc8ff' -font "$sans" -pointsize 14 -annotate +150+34 'Brevalo' \
  -fill white -font "$bold" -pointsize 38 -annotate +148+70 'Kantiq' \
  -fill '#ffd24a' -font "$sans" -pointsize 13 -annotate +150+92 'Alarmierung per Handy' \
  -trim +repage "$tmp/banner-picture.png"
read -r pw ph < <(identify -format '%w %h\n' "$tmp/banner-picture.png")
if ((pw > 340 - 2 * banner_margin || ph > 106 - 2 * banner_margin)); then
  echo "make-artwork: the banner's picture (${pw}x${ph}) does not keep ${banner_margin} px from the edges" >&2
  exit 1
fi
convert -size 340x106 gradient:'#123a74-#061833' \
  -fill '#ffffff10' -draw 'circle 300,-40 300,90' \
  "$tmp/banner-picture.png" -gravity center -compose Over -composite \
  "${strip[@]}" "$tmp/banner.png"
bmp24 "$tmp/banner.png" "$tmp/banner24.bmp"
# 16-bit 5-5-5 with a plain info header (no bit masks), which every loader
# reads; ImageMagick writes 16-bit bitmaps only with mask headers.
python3 - "$tmp/banner24.bmp" "$out/banner.bmp" <<'PY'
import struct, sys
src = open(sys.argv[1], 'rb').read()
offset, = struct.unpack_from('<I', src, 10)
w, h, planes, bpp = struct.unpack_from('<iiHH', src, 18)
assert bpp == 24 and h > 0
stride24 = (w * 3 + 3) & ~3
stride16 = (w * 2 + 3) & ~3
rows = bytearray()
for y in range(h):
    row = bytearray()
    for x in range(w):
        b, g, r = src[offset + y * stride24 + 3 * x: offset + y * stride24 + 3 * x + 3]
        row += struct.pack('<H', ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3))
    rows += row + bytes(stride16 - len(row))
info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 16, 0, len(rows), 2835, 2835, 0, 0)
head = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(rows), 0, 0, 14 + len(info))
open(sys.argv[2], 'wb').write(head + info + rows)
PY

# --- icon 110 --------------------------------------------------------------------
# A circular emblem: blue disc, white ring, the product name across it in the
# larger sizes and its initial in the small ones.
emblem() { # size text pointsize output
  convert -size 256x256 xc:none \
    -fill '#0b3f8c' -draw 'circle 128,128 128,4' \
    -fill none -stroke white -strokewidth 14 -draw 'circle 128,128 128,22' \
    -stroke none -fill '#2f7fe0' -draw 'circle 128,128 128,30' \
    -fill white -font "$bold" -pointsize "$3" -gravity center -annotate +0+0 "$2" \
    -resize "$1x$1" "${strip[@]}" "PNG32:$4"
}
emblem 48 'Kantiq' 46 "$tmp/i48.png"
emblem 32 'Kantiq' 46 "$tmp/i32.png"
emblem 24 'K' 150 "$tmp/i24.png"
emblem 16 'K' 150 "$tmp/i16.png"
convert "$tmp/i48.png" "$tmp/i32.png" "$tmp/i24.png" "$tmp/i16.png" "$out/kantiq.ico"

# --- the setup program's side picture -------------------------------------------
# The banner's night blue, the emblem and the names, upright.
emblem 256 'Kantiq' 46 "$tmp/emblem.png"
convert -size 164x314 gradient:'#123a74-#061833' \
  -fill '#ffffff10' -draw 'circle 150,-30 150,120' \
  \( "$tmp/emblem.png" -resize 104x104 \) -gravity north -geometry +0+34 -compose Over -composite \
  -gravity north -stroke none -fill '#9cc8ff' -font "$sans" -pointsize 15 -annotate +0+160 'Brevalo' \
  -fill white -font "$bold" -pointsize 34 -annotate +0+180 'Kantiq' \
  -fill '#ffd24a' -font "$sans" -pointsize 14 -annotate +0+232 'Alarmierung' -annotate +0+252 'per Handy' \
  "$tmp/side.png"
bmp24 "$tmp/side.png" "$out/setup-side.bmp"
