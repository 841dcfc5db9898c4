#!/usr/bin/env bash
# The setup window and the running program together, under Wine with a
# display and a sound card (run inside scripts/wine-env.sh): Kantiq runs on
# the shipped examples; the setup window adds an alarm and applies; asked to,
# Kantiq starts afresh and raises a call for the new code, which the sender
# gets.
#   einrichtung_e2e_test.sh Kantiq.exe Kantiq-Einrichtung.exe kantiq-config.exe test-sender.exe \
#       window_driver.exe winctl.exe sender_record_dump.exe einrichtung_ids.h EXAMPLES_DIR OUTDIR
set -uo pipefail

kantiq=$1 setup=$2 config=$3 sender=$4 driver=$5 winctl=$6 dump=$7 ids=$8 examples=$9 out=${10}
rm -rf "$out"
mkdir -p "$out"
failed=0
source "$(dirname "$0")/../lib/checks.sh"

main='Brevalo Kantiq'
mainWin="$main|1020="
caption=Kantiq-Einrichtung
drv() { wine "$driver" "$@"; }
ctl() { wine "$winctl" "$@"; }
winpath() { winepath -w "$1" 2>/dev/null; }
id() { sed -n "s/^#define $1 \([0-9]*\).*/\1/p" "$ids"; }
logLines() { [[ -f $1/KantiqLog.txt ]] && iconv -f CP1252 -t UTF-8 "$1/KantiqLog.txt" | tr -d '\r' || true; }
senderRuns() { wine "$dump" "$(winpath "$1")" | tr -d '\r' | grep -v '^notice ' || true; }
makeCall() { bash "$(dirname "$0")/../../scripts/zvei-call.sh" "$@"; }
# Waits up to 30 s until the report area holds the text; prints the report.
reportWith() {
  local report
  for _ in $(seq 1 120); do
    report=$(ctl get-text "$caption" "$(id IDC_REPORT)" | tr -d '\r')
    [[ $report == *"$1"* ]] && break
    sleep 0.25
  done
  printf '%s' "$report"
}

app=$out/app
mkdir -p "$app"
cp "$kantiq" "$app/Kantiq.exe"
cp "$setup" "$app/Kantiq-Einrichtung.exe"
cp "$sender" "$app/S.exe"
cp "$examples/kantiq.toml" "$examples/S.toml" "$app/"
wine "$config" write "$(winpath "$app/kantiq.toml")" "$(winpath "$app")" >/dev/null || say "FAIL writing the configuration"
makeCall 54321 "$out/call-54321.wav"
makeCall 23345 "$out/call-23345.wav"

say "== Kantiq on the examples"
(cd "$app" && exec wine "$app/Kantiq.exe") >"$out/kantiq.log" 2>&1 &
firstPid=$!
checkTrue "Kantiq's window appears" drv wait "$mainWin" 20000
sleep 2
paplay "$out/call-54321.wav"
sleep 1
check "a call for a code not yet set up raises nothing" "$(logLines "$app" | grep -c ALARMIERUNG)" 0

say "== a new alarm in the setup window, applied, Kantiq restarted"
wine "$app/Kantiq-Einrichtung.exe" >"$out/setup.log" 2>&1 &
setupPid=$!
checkTrue "the setup window opens" ctl wait-window "$caption" 30000
ctl set-text "$caption" "$(id IDC_ALARM_TEXT)" "Löschzug Nord: Brand" || say "FAIL set the alarm's text"
ctl set-text "$caption" "$(id IDC_ALARM_CODE)" "54321" || say "FAIL set the alarm's code"
ctl click "$caption" "$(id IDC_ALARM_NEW)"
ctl click "$caption" "$(id IDC_APPLY)"
box=$(ctl msgbox-text "Kantiq neu starten" 30000 | tr -d '\r')
checkTrue "asked whether to restart Kantiq: [$box]" grep -q "^Kantiq läuft. Jetzt neu starten" <<<"$box"
ctl click "Kantiq neu starten" 6  # Ja
report=$(reportWith "Kantiq wurde neu gestartet")
checkTrue "the window says Kantiq was restarted: [${report//$'\n'/ | }]" \
  grep -q "Kantiq wurde neu gestartet und arbeitet jetzt mit der neuen Einrichtung." <<<"$report"
for _ in $(seq 1 100); do kill -0 "$firstPid" 2>/dev/null || break; sleep 0.2; done
wait "$firstPid"
check "the first Kantiq ended as closed (exit code)" "$?" 0
checkTrue "a new Kantiq window is there" drv wait "$mainWin" 20000
checkTrue "SMSConfig1.dat holds the new alarm" \
  grep -q "Löschzug Nord: Brand" <<<"$(wine "$config" show "$(winpath "$app/SMSConfig1.dat")" 2>&1)"

say "== the new code raised by the new Kantiq, and an old one still"
sleep 2
paplay "$out/call-54321.wav"
for _ in $(seq 1 50); do [[ $(logLines "$app") == *"Löschzug Nord"* ]] && break; sleep 0.2; done
checkTrue "the new alarm is raised" grep -q "ALARMIERUNG: Löschzug Nord: Brand$" <<<"$(logLines "$app")"
for _ in $(seq 1 50); do [[ $(senderRuns "$app") == *"Löschzug Nord"* ]] && break; sleep 0.2; done
check "the sender gets the new alarm" "$(senderRuns "$app" | cut -d' ' -f1,3-)" "alarm Löschzug Nord: Brand"
paplay "$out/call-23345.wav"
for _ in $(seq 1 50); do [[ $(logLines "$app") == *"alle Kräfte"* ]] && break; sleep 0.2; done
checkTrue "an alarm of the examples is still raised" \
  grep -q "ALARMIERUNG: Feuerwehr Musterstadt: Einsatz für alle Kräfte$" <<<"$(logLines "$app")"
check "no other alarm" "$(logLines "$app" | grep -c ALARMIERUNG)" 2

ctl close "$caption"
ctl wait-gone "$caption" 10000 || { say "FAIL the setup window did not close"; failed=1; kill "$setupPid"; }
wait "$setupPid"
drv close "$mainWin"
drv gone "$mainWin" 20000 || say "FAIL the new Kantiq did not close"

if ((failed)); then
  say "SOME CHECKS FAILED (folders in $out)"
  exit 1
fi
say "all checks passed"
