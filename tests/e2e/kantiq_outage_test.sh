#!/usr/bin/env bash
# Kantiq.exe while its sound server dies and comes back, under Wine with a
# display and a PulseAudio sound card (run inside scripts/wine-env.sh):
#   kantiq_outage_test.sh Kantiq.exe kantiq-config.exe test-sender.exe \
#       window_driver.exe example.toml OUTDIR [DOWN_SECONDS]
# The window must say at every moment whether it listens, and a call played
# after the server is back must be raised.
set -uo pipefail
export PULSE_LATENCY_MSEC=${PULSE_LATENCY_MSEC:-20}

kantiq=$1 config=$2 sender=$3 driver=$4 example=$5 out=$6 down=${7:-8}
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
playAndWait() { # wav alarm-text: plays the call, waits until it is logged (10 s at most)
  local before
  before=$(raised "$2")
  paplay "$1"
  for _ in $(seq 1 50); do (($(raised "$2") > before)) && return 0; sleep 0.2; done
  return 1
}

app=$out/app
mkdir -p "$app"
cp "$kantiq" "$app/Kantiq.exe"
cp "$sender" "$app/S.exe"
toml=$out/test.toml
# Two alarms 2 s apart from each other in the test: no retrigger delay in the way.
sed -E 's/^retrigger_delay_ms = .*/retrigger_delay_ms = 1000/' "$example" >"$toml"
wine "$config" write "$(winpath "$toml")" "$(winpath "$app")" >/dev/null || say "FAIL writing the configuration"
makeCall 23345 "$out/call-a.wav"
makeCall 23346 "$out/call-b.wav"
textA='Feuerwehr Musterstadt: Einsatz für alle Kräfte'
textB='Feuerwehr Musterstadt: Atemschutz'

(cd "$app" && exec wine "$app/Kantiq.exe") &
kantiqPid=$!
checkTrue "window appears" drv wait "$mainWin" 20000
checkTrue "listening: green" waitColour green 10
checkTrue "a call before the outage is raised" playAndWait "$out/call-a.wav" "$textA"

say "== the sound server dies"
"$wine_env" sound-server stop || say "FAIL stopping the sound server"
if noticed=$(waitColour amber 10); then
  say "ok   the status turns amber ${noticed} s after the server died"
else
  say "FAIL the status did not leave green within 10 s: $(statusColour)"; failed=1
fi
check "monitoring stays switched on" "$(text 1003)" "Kantiq jetzt deaktivieren"
checkTrue "the result box says listening stopped" grep -q "STÖRUNG: Vom Aufnahmegerät kommt kein Signal" <<<"$(text 1015)"
# While it is down, restarts are refused again and again; one box for all of them.
colours=$(watchColours "$down")
check "status while the server is down" "$colours" "amber"
boxText=$(drv box Recorder 2000 | tr -d '\r')
checkTrue "one Recorder box for the outage ($boxText)" test -n "$boxText"
sleep 3
check "no second box during the same outage" "$(drv box Recorder 500 2>/dev/null | tr -d '\r')" ""

say "== the sound server comes back"
"$wine_env" sound-server start || say "FAIL starting the sound server"
if back=$(waitColour green 15); then
  say "ok   listening again ${back} s after the server's return"
  checkTrue "back within 10 s" test "$back" -le 10
else
  say "FAIL still not green 15 s after the server's return: $(statusColour)"; failed=1
fi
checkTrue "the result box says listening resumed" grep -q "Aufnahme läuft wieder" <<<"$(text 1015)"
box=$(text 1015)
check "each change is listed once" "$(grep -c 'STÖRUNG' <<<"$box") $(grep -c 'wieder' <<<"$box")" "1 1"
check "the log holds alarms and their SMS only" "$(logLines "$app" | grep -vEc ': (ALARMIERUNG|SMS [A-Z ]+): ')" "0"
checkTrue "a call after the return is raised" playAndWait "$out/call-b.wav" "$textB"
checkTrue "and another one" playAndWait "$out/call-a.wav" "$textA"
check "status after the calls" "$(statusColour)" "green"
import -window root "$out/window.png"

say "== closing the window"
drv close "$mainWin"
wait $kantiqPid
check "exit code after closing" "$?" "0"

if ((failed)); then
  say "SOME CHECKS FAILED (folders and screenshot in $out)"
  exit 1
fi
say "all checks passed (screenshot: $out/window.png)"
