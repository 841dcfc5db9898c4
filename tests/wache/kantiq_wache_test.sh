#!/usr/bin/env bash
# KantiqWache.exe with the real Kantiq.exe, under Wine with a display and a
# PulseAudio sound card (run inside scripts/wine-env.sh):
#   kantiq_wache_test.sh KantiqWache.exe Kantiq.exe kantiq-config.exe \
#       test-sender.exe window_driver.exe example.toml OUTDIR sender_record_dump.exe \
#       kantiq_restart_probe.exe
# Kantiq killed and frozen is started again and hears the next call; a
# window closed by the user and a missing configuration end the watchdog's
# care; more crashes than allowed make it give up; a Kantiq that must hand
# over to a fresh instance of itself, for a new input or because the setup
# window asked it to read a new installation, stays in the watchdog's care. Giving
# up is told to whoever looks after the PC through the sender. The
# watchdog's times are shortened through its test variable.
set -uo pipefail
export PULSE_LATENCY_MSEC=${PULSE_LATENCY_MSEC:-20}

wache=$1 kantiq=$2 config=$3 sender=$4 driver=$5 example=$6 out=$7 dump=$8 restartProbe=$9
rm -rf "$out"
mkdir -p "$out"
failed=0
mainWin='Brevalo Kantiq|1020='
wine_env=$(cd -- "$(dirname -- "$0")/../../scripts" && pwd)/wine-env.sh
hangMs=8000
export KANTIQ_WACHE_ZEITEN="haenger=$hangMs pause=1000 antwort=1000 takt=250 neustarts=3"

source "$(dirname "$0")/../lib/checks.sh"
source "$(dirname "$0")/../lib/status_colour.sh"
drv() { wine "$driver" "$@"; }
greenWithin() { waitColour green "$1" >/dev/null; }
winpath() { winepath -w "$1" 2>/dev/null; }
makeCall() { bash "$(dirname "$0")/../../scripts/zvei-call.sh" "$@"; }

app=$out/app
mkdir -p "$app"
cp "$wache" "$app/KantiqWache.exe"
cp "$kantiq" "$app/Kantiq.exe"
cp "$sender" "$app/S.exe"
wine "$config" write "$(winpath "$example")" "$(winpath "$app")" >/dev/null || say "FAIL writing the configuration"
makeCall 23345 "$out/call.wav"
alarmText='Feuerwehr Musterstadt: Einsatz für alle Kräfte'

wacheLog() { [[ -f $app/KantiqWache.txt ]] && iconv -f CP1252 -t UTF-8 "$app/KantiqWache.txt" | tr -d '\r' || true; }
logCount() { wacheLog | grep -c -- "$1" || true; }
# Notices the (test) sender was started with, by its text.
noticeCount() { wine "$dump" "$(winpath "$app")" | tr -d '\r' | grep '^notice ' | grep -c -- "$1" || true; }
raised() { [[ -f $app/KantiqLog.txt ]] && iconv -f CP1252 -t UTF-8 "$app/KantiqLog.txt" | grep -c "ALARMIERUNG: $alarmText" || echo 0; }
callRaised() { # plays the call, waits until it is logged (10 s at most)
  local before
  before=$(raised)
  paplay "$out/call.wav"
  for _ in $(seq 1 50); do (($(raised) > before)) && return 0; sleep 0.2; done
  return 1
}
# The Linux process of the running Kantiq.exe: the only one started from
# this test's folder. Its command line names the program by its Linux path
# when started with wine, by its Windows path when started by the watchdog.
kantiqUnixPid() {
  local dir
  dir=$(winpath "$app/Kantiq.exe")
  { pgrep -f -- "$app/Kantiq.exe"; pgrep -f -- "${dir//\\/\\\\}"; } | head -1
}
# Waits up to $2 s until the log has at least $1 lines "neu gestartet"; prints the seconds taken.
waitRestarts() {
  local i
  for ((i = 0; i < $2 * 4; i++)); do
    (($(logCount 'Kantiq neu gestartet') >= $1)) && { echo $((i / 4)); return 0; }
    sleep 0.25
  done
  return 1
}
killKantiq() { # signal
  local pid
  pid=$(kantiqUnixPid)
  [[ -n $pid ]] || { say "FAIL no Kantiq.exe process to kill"; failed=1; return 1; }
  kill "-$1" "$pid"
}
# A sender a killed Kantiq had just started (an alarm's or a notice's run)
# can be left behind under Wine when its parent dies while it starts; none
# may outlive the test and keep its output open.
endStraySenders() {
  local dir pid
  dir=$(winpath "$app/S.exe")
  for pid in $({ pgrep -f -- "$app/S.exe"; pgrep -f -- "${dir//\\/\\\\}"; } | sort -u); do
    kill -KILL "$pid" 2>/dev/null
  done
}
trap endStraySenders EXIT
startWache() { (cd "$app" && exec wine "$app/KantiqWache.exe") & wachePid=$!; }
wacheEnds() { # waits up to $1 s for the watchdog to end
  local i
  for ((i = 0; i < $1 * 4; i++)); do kill -0 "$wachePid" 2>/dev/null || { wait "$wachePid"; return 0; }; sleep 0.25; done
  return 1
}

say "== the watchdog starts Kantiq"
startWache
checkTrue "Kantiq's window appears" drv wait "$mainWin" 20000
check "the log says so" "$(logCount 'Kantiq gestartet (Prozess ')" "1"
(cd "$app" && exec wine "$app/KantiqWache.exe")
check "a second watchdog ends at once" "$?" "0"
check "only one watchdog runs" "$(logCount 'Wache gestartet')" "1"
checkTrue "listening: green" greenWithin 15

say "== Kantiq killed"
pid=$(kantiqUnixPid)
checkTrue "Kantiq's process found ($pid)" test -n "$pid"
kill -KILL "$pid"
if took=$(waitRestarts 1 10); then
  say "ok   restarted ${took} s after it was killed"
else
  say "FAIL not restarted within 10 s"; failed=1
fi
check "the reason is logged" "$(logCount 'unerwartet beendet worden')" "1"
checkTrue "the window is back" drv wait "$mainWin" 20000
checkTrue "listening again: green" greenWithin 15
checkTrue "a call afterwards is raised" callRaised

say "== Kantiq frozen (its window does not answer)"
pid=$(kantiqUnixPid)
kill -STOP "$pid"
frozenAt=$SECONDS
if waitRestarts 2 $((hangMs / 1000 + 12)) >/dev/null; then
  took=$((SECONDS - frozenAt))
  say "ok   ended and restarted ${took} s after it froze"
  checkTrue "not before the hang limit" test "$took" -ge $((hangMs / 1000))
else
  say "FAIL not restarted within $((hangMs / 1000 + 12)) s"; failed=1
fi
check "the hang is logged" "$(logCount "Fenster antwortet seit $((hangMs / 1000)) s nicht")" "1"
# Gone, or a zombie nobody has reaped yet: either way it runs no more.
processGone() { [[ ! -e /proc/$1/stat ]] || [[ $(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) == Z ]]; }
checkTrue "the frozen process is gone" processGone "$pid"
checkTrue "the window is back" drv wait "$mainWin" 20000
checkTrue "listening again: green" greenWithin 15
checkTrue "a call afterwards is raised" callRaised

say "== more crashes than the limit (3)"
killKantiq KILL
checkTrue "the third restart is allowed" waitRestarts 3 10
checkTrue "the window is back" drv wait "$mainWin" 20000
killKantiq KILL
checkTrue "the watchdog gives up and ends" wacheEnds 10
check "and says why" "$(logCount 'Die Wache gibt auf')" "1"
for _ in $(seq 1 20); do (($(noticeCount 'Kantiq-Wache: ') >= 1)) && break; sleep 0.25; done
check "and tells whoever looks after the PC" "$(noticeCount 'Kantiq-Wache: .*Die Wache gibt auf')" "1"
check "no further restart" "$(logCount 'Kantiq neu gestartet')" "3"
checkTrue "no Kantiq left" drv gone "$mainWin" 3000

say "== the window closed by the user"
startWache
checkTrue "Kantiq's window appears" drv wait "$mainWin" 20000
drv close "$mainWin"
checkTrue "the watchdog ends" wacheEnds 15
check "the log says why" "$(logCount 'Fenster geschlossen). Die Wache endet')" "1"
sleep 2
checkTrue "Kantiq is not started again" drv gone "$mainWin" 1000
check "starts in all" "$(logCount 'Kantiq gestartet (Prozess ')" "2"

say "== Kantiq already running: taken under care"
(cd "$app" && exec wine "$app/Kantiq.exe") &
directPid=$!
checkTrue "Kantiq's window appears" drv wait "$mainWin" 20000
startWache
for _ in $(seq 1 40); do (($(logCount 'Die Wache übernimmt es') == 1)) && break; sleep 0.25; done
check "the watchdog takes it over" "$(logCount 'Die Wache übernimmt es')" "1"
check "and starts none" "$(logCount 'Kantiq gestartet (Prozess ')" "2"
killKantiq KILL
wait "$directPid" 2>/dev/null
checkTrue "the adopted one, killed, is restarted" waitRestarts 4 10
checkTrue "the window is back" drv wait "$mainWin" 20000
drv close "$mainWin"
checkTrue "closed: the watchdog ends" wacheEnds 15

say "== no configuration"
mv "$app/SMSConfig1.dat" "$out/SMSConfig1.dat"
before=$(wacheLog | wc -l)
startWache
box=$(drv box Fehler 15000 | tr -d '\r')
checkTrue "Kantiq's own box says so" grep -q "Konfigurationsdatei" <<<"$box"
checkTrue "the watchdog ends" wacheEnds 10
newLines=$(wacheLog | tail -n +$((before + 1)))
check "one start" "$(grep -c 'Kantiq gestartet (Prozess ' <<<"$newLines")" "1"
check "one line says why" "$(grep -c 'Einrichtung (SMSConfig1.dat, SMSConfig2.dat) fehlt' <<<"$newLines")" "1"
check "no restart" "$(grep -c 'neu gestartet' <<<"$newLines")" "0"
for _ in $(seq 1 20); do (($(noticeCount 'Kantiq-Wache: Kantiq startet nicht') >= 1)) && break; sleep 0.25; done
check "told once" "$(noticeCount 'Kantiq-Wache: Kantiq startet nicht: Die Einrichtung')" "1"
check "no second box" "$(drv box Fehler 2000 2>/dev/null | tr -d '\r')" ""
mv "$out/SMSConfig1.dat" "$app/SMSConfig1.dat"

# The sound server is down when Kantiq starts. Wine's ALSA driver beside its
# PulseAudio one makes the process settle on ALSA (no card) for good, so
# only a fresh process finds the device when the server is back
# (kantiq-config, beside the program, is asked): Kantiq ends to be started
# again, and the watchdog starts it.
say "== a device only a fresh process finds: the new instance under the watchdog"
cp "$config" "$app/kantiq-config.exe"
"$wine_env" sound-server stop || say "FAIL stopping the sound server"
startWache
checkTrue "Kantiq's window appears" drv wait "$mainWin" 20000
sleep 7
"$wine_env" sound-server start || say "FAIL starting the sound server"
for _ in $(seq 1 240); do (($(logCount 'neu erkanntes Aufnahmeger') >= 1)) && break; sleep 0.25; done
check "Kantiq ends to be started afresh" "$(logCount 'um ein neu erkanntes Aufnahmegerät zu nutzen')" "1"
checkTrue "the watchdog starts the new instance at once" waitRestarts 5 5
checkTrue "listening: green" greenWithin 20
check "no box of a second instance" "$(drv box Fehler 500 2>/dev/null | tr -d '\r')" ""
checkTrue "a call afterwards is raised" callRaised
drv close "$mainWin"
checkTrue "closed: the watchdog ends" wacheEnds 15
check "nothing counted as a crash" "$(wacheLog | tail -n 6 | grep -c 'unerwartet')" "0"

# askRestart: the setup side asks the running Kantiq to start afresh and
# waits for the new one; sets $probe and $newProcess.
askRestart() {
  local status oldProcess
  probe=$(wine "$restartProbe" 20000)
  status=$?
  probe=$(tr -d '\r' <<<"$probe")
  say "     ${probe//$'\n'/ | }"
  check "the setup side sees it restarted" "$status" "0"
  oldProcess=$(sed -n 's/^before //p' <<<"$probe")
  newProcess=$(sed -n 's/^after //p' <<<"$probe")
  checkTrue "a new process ($oldProcess -> $newProcess)" \
    test -n "$newProcess" -a "$newProcess" != 0 -a "$newProcess" != "$oldProcess"
}

say "== a new installation: the setup window asks Kantiq to start afresh"
before=$(wacheLog | wc -l)
startWache
checkTrue "Kantiq's window appears" drv wait "$mainWin" 20000
askRestart
newLines=$(wacheLog | tail -n +$((before + 1)))
check "the watchdog says why" "$(grep -c 'um eine neue Einrichtung zu lesen' <<<"$newLines")" "1"
check "and starts it again at once" "$(grep -c "Kantiq neu gestartet (Prozess $newProcess)" <<<"$newLines")" "1"
check "not counted as a crash" "$(grep -c 'unerwartet' <<<"$newLines")" "0"
check "nor as closed by the user" "$(grep -c 'Fenster geschlossen' <<<"$newLines")" "0"
checkTrue "the window is back" drv wait "$mainWin" 20000
checkTrue "listening: green" greenWithin 20
drv close "$mainWin"
checkTrue "closed: the watchdog ends" wacheEnds 15

say "== the same without a watchdog: Kantiq starts its successor itself"
(cd "$app" && exec wine "$app/Kantiq.exe") &
directPid=$!
checkTrue "Kantiq's window appears" drv wait "$mainWin" 20000
askRestart
check "and it counts as running" "$(sed -n 's/^running //p' <<<"$probe")" "1"
checkTrue "the window is there" drv wait "$mainWin" 5000
drv close "$mainWin"
checkTrue "closed: no Kantiq left" drv gone "$mainWin" 10000
wait "$directPid" 2>/dev/null

say "== the log"
check "lines not dated or without CR LF" \
  "$(LC_ALL=C grep -cvE '^[0-9]{2}\.[0-9]{2}\.[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}: .+'$'\r''$' "$app/KantiqWache.txt")" "0"
check "Windows-1252 text" "$(LC_ALL=C grep -c "Die Wache $(printf '\xfc')bernimmt es" "$app/KantiqWache.txt")" "1"
wacheLog >"$out/KantiqWache-utf8.txt"

if ((failed)); then
  say "SOME CHECKS FAILED (folder and log in $out)"
  exit 1
fi
say "all checks passed"
