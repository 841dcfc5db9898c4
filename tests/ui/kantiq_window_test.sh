#!/usr/bin/env bash
# Kantiq.exe's window under Wine (run inside scripts/wine-env.sh): the banner
# on the screen in the main window and the about box, and a second start
# that brings the running window to the front.
#   kantiq_window_test.sh Kantiq.exe kantiq-config.exe winctl.exe banner.bmp \
#       example.toml OUTDIR
# OUTDIR keeps the screenshots.
set -uo pipefail

kantiq=$1 config=$2 winctl=$3 banner=$4 example=$5 out=$6
rm -rf "$out"
mkdir -p "$out/app"
failed=0

source "$(dirname "$0")/../lib/checks.sh"
ctl() { wine "$winctl" "$@"; }
main='Brevalo Kantiq'

app=$out/app
cp "$kantiq" "$app/Kantiq.exe"
wine "$config" write "$(winepath -w "$example")" "$(winepath -w "$app")" >/dev/null ||
  say "FAIL writing the configuration"
startKantiq() { (cd "$app" && exec wine "$app/Kantiq.exe"); }

# The banner as the screen shows it must be the middle of the bitmap, pixel
# for pixel (not scaled), and show at least all but the margin the artwork
# keeps clear of its edges (scripts/make-artwork.sh).
bannerMargin=8
bannerIsWhole() { # name: checks the banner of the topmost window called $main
  local x y w h bw bh dx dy best=-1 diff
  read -r x y w h < <(ctl picture-rect "$main" | tr -d '\r')
  read -r bw bh < <(identify -format '%w %h\n' "$banner")
  import -window root "$out/$1.png"
  convert "$out/$1.png" -crop "${w}x${h}+${x}+${y}" +repage "$out/$1-banner.png"
  checkTrue "$1: the banner shows all but its margin (${w}x${h} of ${bw}x${bh})" \
    test "$w" -le "$bw" -a "$h" -le "$bh" -a "$w" -ge $((bw - 2 * bannerMargin)) -a "$h" -ge $((bh - 2 * bannerMargin))
  # Centred, give or take a pixel of rounding; 16-bit colours may come out
  # a little different on a 24-bit screen.
  for dy in -1 0 1; do
    for dx in -1 0 1; do
      diff=$(convert "$banner" -crop "${w}x${h}+$(((bw - w) / 2 + dx))+$(((bh - h) / 2 + dy))" +repage \
        "$out/$1-banner.png" -metric AE -fuzz 4% -compare -format '%[distortion]' info: 2>/dev/null)
      [[ $diff =~ ^[0-9]+$ ]] || continue
      ((best < 0 || diff < best)) && best=$diff
    done
  done
  check "$1: the banner is the bitmap's middle, unscaled (pixels that differ)" "$best" "0"
}

say "== the banner"
startKantiq &
firstPid=$!
checkTrue "the window appears" ctl wait-window "$main" 20000
sleep 1
bannerIsWhole main-window
ctl click "$main" 1019
sleep 1
bannerIsWhole about-box
aboutIsOnTop() { ctl children "$main" | grep -q 'kantiq\.example\.org'; }
aboutIsGone() { ! aboutIsOnTop; }
ctl send-key "$main" 27 1
sleep 0.5
checkTrue "the about box closes" aboutIsGone

say "== a second start brings the running window to the front"
# The main window by its handle: the about box has the same caption.
mainWin=@$(ctl list | tr -d '\r' | awk -F'\t' -v c="$main" '$2 == "#32770" && $3 == "visible" && $4 == c { print $1 }')
ctl minimize "$main"
for _ in $(seq 1 50); do [[ $(ctl window-state "$main") == iconic* ]] && break; sleep 0.1; done
check "the first window is minimised" "$(ctl window-state "$main" | cut -d' ' -f1)" "iconic"
startKantiq >"$out/second-start.txt" 2>&1 &
secondPid=$!
check "the second start's box" "$(ctl msgbox-text Fehler 15000)" "'Brevalo Kantiq' ist bereits gestartet"
ctl msgbox-ok Fehler
wait "$secondPid"
secondExit=$?
check "the second start's exit code (already running)" "$secondExit" "4"
# Once it ended with 1 and no box: what Wine and the program said then.
[[ $secondExit == 4 ]] || { say "     second start said:"; sed 's/^/       /' "$out/second-start.txt"; ctl list; }
for _ in $(seq 1 50); do [[ $(ctl window-state "$main") == "normal foreground" ]] && break; sleep 0.1; done
check "the first window, after the box" "$(ctl window-state "$main")" "normal foreground"

# With the about box open, that box is what the running window waits for.
ctl click "$main" 1019
sleep 1
ctl minimize "$mainWin"
for _ in $(seq 1 50); do [[ $(ctl window-state "$mainWin" 100) == iconic* ]] && break; sleep 0.1; done
check "the first window is minimised, with its about box" "$(ctl window-state "$mainWin" 100 | cut -d' ' -f1)" "iconic"
startKantiq &
thirdPid=$!
ctl msgbox-ok Fehler 15000
wait "$thirdPid"
for _ in $(seq 1 50); do [[ $(ctl window-state "$main") == "normal foreground" ]] && break; sleep 0.1; done
check "the first window, after the box" "$(ctl window-state "$mainWin" | cut -d' ' -f1)" "normal"
checkTrue "the window on top is the about box" aboutIsOnTop
check "the about box, after the box" "$(ctl window-state "$main")" "normal foreground"
ctl send-key "$main" 27 1
sleep 0.5
ctl close "$main"
wait "$firstPid"
check "exit code after closing" "$?" "0"

if ((failed)); then
  say "SOME CHECKS FAILED (screenshots in $out)"
  exit 1
fi
say "all checks passed (screenshots in $out)"
