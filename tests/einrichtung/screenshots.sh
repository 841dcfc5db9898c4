#!/usr/bin/env bash
# Pictures of Kantiq-Einrichtung.exe: each page at 96 and at 120 DPI, as
# PNG files with an 8-bit palette, for docs/images/einrichtung/. Not a
# ctest; run it inside the Wine environment (see docs/testing.md):
#
#   KANTIQ_WINE_ARCH=win64 scripts/wine-env.sh run --no-audio -- \
#       tests/einrichtung/screenshots.sh build/win64 docs/images/einrichtung
#
# Opens the window on a scratch folder with copies of the examples, so the
# pictures show the examples' values. Needs ImageMagick (import, convert).
set -uo pipefail

build=${1:?build folder}
out=${2:?folder for the pictures}
here=$(cd -- "$(dirname -- "$0")" && pwd)
root=$(cd -- "$here/../.." && pwd)
exe=$build/tools/kantiq-einrichtung/Kantiq-Einrichtung.exe
winctl=$build/tests/wine/winctl.exe
ids=$root/tools/kantiq-einrichtung/einrichtung_ids.h
caption=Kantiq-Einrichtung
pages=(alarme empfaenger sms-weg eingang erweitert)

for tool in import convert; do
  command -v "$tool" >/dev/null || { echo "screenshots.sh: $tool (ImageMagick) is not installed" >&2; exit 1; }
done
[[ -f $exe && -f $winctl ]] || { echo "screenshots.sh: build $exe and $winctl first" >&2; exit 1; }
id() { sed -n "s/^#define $1 \([0-9]*\).*/\1/p" "$ids"; }
ctl() { wine "$winctl" "$@"; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$out" "$scratch/app"
cp "$root/examples/kantiq.toml" "$root/examples/S.toml" "$scratch/app/"

for dpi in 96 120; do
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  # A Wine process reads the DPI when it starts: the window's is a new one.
  wine "$exe" "$(winepath -w "$scratch/app")" >/dev/null 2>&1 &
  pid=$!
  ctl wait-window "$caption" 30000 >/dev/null || { echo "screenshots.sh: no window" >&2; exit 1; }
  for i in "${!pages[@]}"; do
    ((i > 0)) && ctl send-key "$caption" 0x27 "$(id IDC_TABS)"  # VK_RIGHT: the next tab
    sleep 1
    read -r x y w h < <(ctl window-rect "$caption")
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$scratch/shot.png"
    convert "$scratch/shot.png" -colors 256 -define png:color-type=3 "$out/$((i + 1))-${pages[i]}-${dpi}dpi.png"
  done
  ctl close "$caption"
  ctl wait-gone "$caption" 5000 || kill "$pid"
  wait "$pid"
done
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
ls -l "$out"
