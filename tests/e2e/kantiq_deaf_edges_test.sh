#!/usr/bin/env bash
# Kantiq.exe whose input goes quiet or is not there, under Wine with a
# display and a PulseAudio sound card (run inside scripts/wine-env.sh):
#   kantiq_deaf_edges_test.sh Kantiq.exe kantiq-config.exe test-sender.exe \
#       window_driver.exe example.toml OUTDIR
# A muted recording source must turn the status amber within the set silence
# time and back to green when unmuted; a sound server that is down when
# Kantiq starts must give the window a German line and no English box, and
# Kantiq must listen once the server is back; a restart of Kantiq must find
# the remembered input again.
set -uo pipefail
export PULSE_LATENCY_MSEC=${PULSE_LATENCY_MSEC:-20}

kantiq=$1 config=$2 sender=$3 driver=$4 example=$5 out=$6
rm -rf "$out"
mkdir -p "$out"
failed=0
main='Brevalo Kantiq'
mainWin="$main|1020="
wine_env=$(cd -- "$(dirname -- "$0")/../../scripts" && pwd)/wine-env.sh

source "$(dirname "$0")/../lib/checks.sh"
source "$(dirname "$0")/../lib/status_colour.sh"
drv() { wine "$driver" "$@"; }
winpath() { winepath -w "$1" 2>/dev/null; }
text() { drv text "$mainWin" "$1" | tr -d '\r'; }
logLines() { [[ -f $1/KantiqLog.txt ]] && iconv -f CP1252 -t UTF-8 "$1/KantiqLog.txt" | tr -d '\r' || true; }
makeCall() { bash "$(dirname "$0")/../../scripts/zvei-call.sh" "$@"; }

raised() { logLines "$app" | grep -c "ALARMIERUNG: $1" || true; }
playAndWait() {
  local before
  before=$(raised "$2")
  paplay "$1"
  for _ in $(seq 1 50); do (($(raised "$2") > before)) && return 0; sleep 0.2; done
  return 1
}
# A receiver's hiss under the calls, for as long as the test runs: an input
# that is not muted always carries some signal.
noisePid=''
startNoise() { paplay "$out/hiss.wav" & noisePid=$!; }
stopNoise() { [[ -n $noisePid ]] && kill "$noisePid" 2>/dev/null; wait "$noisePid" 2>/dev/null; noisePid=''; }
trap stopNoise EXIT

silenceS=4
app=$out/app
mkdir -p "$app"
cp "$kantiq" "$app/Kantiq.exe"
cp "$sender" "$app/S.exe"
toml=$out/test.toml
sed -E "s/^retrigger_delay_ms = .*/retrigger_delay_ms = 1000/; s/^silence_limit_s = .*/silence_limit_s = $silenceS/" \
  "$example" >"$toml"
grep -q "^silence_limit_s = $silenceS\$" "$toml" || { say "FAIL the example sets no silence_limit_s"; exit 1; }
wine "$config" write "$(winpath "$toml")" "$(winpath "$app")" >/dev/null || { say "FAIL writing the configuration"; exit 1; }
makeCall 23345 "$out/call-a.wav"
makeCall 23346 "$out/call-b.wav"
sox -n -r 44100 -c 1 -b 16 "$out/hiss.wav" synth 600 whitenoise vol 0.03
textA='Feuerwehr Musterstadt: Einsatz für alle Kräfte'
textB='Feuerwehr Musterstadt: Atemschutz'

say "== a muted input"
startNoise
(cd "$app" && exec wine "$app/Kantiq.exe") &
kantiqPid=$!
checkTrue "window appears" drv wait "$mainWin" 20000
checkTrue "listening: green" waitColour green 10
checkTrue "a call before muting is raised" playAndWait "$out/call-a.wav" "$textA"
inputLine=$(text 1022)
checkTrue "the window names its input ($inputLine)" grep -q '^Eingang: .' <<<"$inputLine"
checkTrue "Kantiq.ini remembers that input" grep -q '^input_name = "' "$app/Kantiq.ini"

pactl set-source-mute @DEFAULT_SOURCE@ 1
if noticed=$(waitColour amber $((silenceS + 5))); then
  say "ok   the status turns amber ${noticed} s after muting (limit ${silenceS} s)"
else
  say "FAIL the status did not leave green within $((silenceS + 5)) s: $(statusColour)"; failed=1
fi
check "status while muted" "$(watchColours 5)" "amber"
check "monitoring stays switched on" "$(text 1003)" "Kantiq jetzt deaktivieren"
pactl set-source-mute @DEFAULT_SOURCE@ 0
if back=$(waitColour green 5); then
  say "ok   green again ${back} s after unmuting"
else
  say "FAIL not green 5 s after unmuting: $(statusColour)"; failed=1
fi
box=$(text 1015)
check "one line for the silent period, one for its end" \
  "$(grep -c 'Am Eingang liegt kein Signal an' <<<"$box") $(grep -c 'Am Eingang liegt wieder ein Signal an' <<<"$box")" "1 1"
check "no outage of the device meanwhile" "$(grep -c 'Vom Aufnahmegerät kommt kein Signal' <<<"$box")" "0"
checkTrue "a call after unmuting is raised" playAndWait "$out/call-b.wav" "$textB"
import -window root "$out/window-muted.png"
drv close "$mainWin"
wait $kantiqPid
check "exit code after closing" "$?" "0"

say "== a restart finds the remembered input again; a line it cannot use is reported"
remembered=$(grep '^input_name' "$app/Kantiq.ini")
printf 'frobnicate = 1\r\n' >>"$app/Kantiq.ini"
cp "$app/Kantiq.ini" "$out/Kantiq.ini.before"
(cd "$app" && exec wine "$app/Kantiq.exe") &
kantiqPid=$!
checkTrue "window appears" drv wait "$mainWin" 20000
checkTrue "listening: green" waitColour green 10
check "the same input" "$(text 1022)" "$inputLine"
checkTrue "the unknown line is reported" grep -q 'EINSTELLUNGEN: Kantiq.ini, Zeile [0-9]*: Unbekannter Name "frobnicate"' <<<"$(text 1015)"
checkTrue "Kantiq.ini unchanged" cmp -s "$app/Kantiq.ini" "$out/Kantiq.ini.before"
checkTrue "a call is raised" playAndWait "$out/call-a.wav" "$textA"
drv close "$mainWin"
wait $kantiqPid
stopNoise

# The sound server is down when Kantiq starts; it comes back 10 s later.
# With Wine's PulseAudio driver alone, the running process finds the device
# by itself. With the ALSA driver beside it, Wine settles on ALSA (no card)
# for the whole process, as a sound system that lists its inputs once per
# process does: then a fresh process finds the device and a new instance of
# Kantiq takes over.
lateDevice() { # name overrides-for-wine
  say "== the sound server is down when Kantiq starts ($1)"
  local fresh=$out/$1
  mkdir -p "$fresh"
  cp "$kantiq" "$fresh/Kantiq.exe"
  cp "$sender" "$fresh/S.exe"
  cp "$config" "$fresh/kantiq-config.exe"  # as the setup installs it: it looks for the device
  wine "$config" write "$(winpath "$toml")" "$(winpath "$fresh")" >/dev/null || say "FAIL writing the configuration"
  "$wine_env" sound-server stop || say "FAIL stopping the sound server"
  (cd "$fresh" && WINEDLLOVERRIDES="$2" exec wine "$fresh/Kantiq.exe") &
  kantiqPid=$!
  checkTrue "window appears" drv wait "$mainWin" 20000
  checkTrue "amber: no device" waitColour amber 5
  check "no English box" "$(drv box Exception 3000 2>/dev/null | tr -d '\r')" ""
  check "monitoring is switched on" "$(text 1003)" "Kantiq jetzt deaktivieren"
  checkTrue "the result box says there is no device" grep -q "Kein Aufnahmegerät gefunden" <<<"$(text 1015)"
  import -window root "$out/window-no-device-$1.png"
  sleep 7
  "$wine_env" sound-server start || say "FAIL starting the sound server"
  app=$fresh
  if back=$(waitColour green 60); then
    say "ok   listening ${back} s after the sound server started"
  else
    say "FAIL not listening 60 s after the sound server started: $(statusColour)"; failed=1
  fi
}

lateDevice in-process "$WINEDLLOVERRIDES;winealsa.drv,wineoss.drv="
checkTrue "the same instance listens" kill -0 "$kantiqPid"
checkTrue "a call after the device appeared is raised" playAndWait "$out/call-b.wav" "$textB"
drv close "$mainWin"
wait $kantiqPid
check "exit code after closing" "$?" "0"

lateDevice new-instance "$WINEDLLOVERRIDES"
wait $kantiqPid
check "the first instance ended normally" "$?" "0"
check "no box of a second instance" "$(drv box Fehler 500 2>/dev/null | tr -d '\r')" ""
checkTrue "a call after the device appeared is raised" playAndWait "$out/call-b.wav" "$textB"
checkTrue "Kantiq.ini remembers the input that appeared" grep -q '^input_name = "' "$app/Kantiq.ini"
drv close "$mainWin"
checkTrue "the second instance ends" drv gone "$mainWin" 15000

if ((failed)); then
  say "SOME CHECKS FAILED (folders and screenshots in $out)"
  exit 1
fi
say "all checks passed"
