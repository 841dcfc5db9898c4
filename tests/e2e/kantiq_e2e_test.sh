#!/usr/bin/env bash
# Kantiq.exe end to end, under Wine with a display and a sound card whose
# input is fed by paplay (run inside scripts/wine-env.sh):
#   kantiq_e2e_test.sh Kantiq.exe kantiq-config.exe test-sender.exe \
#       window_driver.exe sender_record_dump.exe encode_configuration.exe \
#       example.toml OUTDIR
# OUTDIR keeps the run's folders and a screenshot (window.png) for a look.
set -uo pipefail

kantiq=$1 config=$2 sender=$3 driver=$4 dump=$5 encode=$6 example=$7 out=$8
rm -rf "$out"
mkdir -p "$out"
failed=0
main='Brevalo Kantiq'
# The main window, told apart from the about box of the same caption by its
# status button 1020, which shows no text (the about box's 1020 shows the
# home page).
mainWin="$main|1020="

source "$(dirname "$0")/../lib/checks.sh"

drv() { wine "$driver" "$@"; }
winpath() { winepath -w "$1" 2>/dev/null; }
text() { drv text "$mainWin" "$1" | tr -d '\r'; }

# ZVEI1 calls, made by the project's own generator.
makeCall() { bash "$(dirname "$0")/../../scripts/zvei-call.sh" "$@"; }

# Mean colour of a control's area on the screen, as "r g b" (0..255).
screenColour() { # control id
  local x y w h
  read -r x y w h < <(drv rect "$mainWin" "$1" | tr -d '\r')
  import -window root -crop "$((w / 2))x$((h / 2))+$((x + w / 2))+$((y + h / 4))" +repage \
    -resize 1x1\! -depth 8 txt:- | sed -n 2p | sed -E 's/.*\(([0-9]+),([0-9]+),([0-9]+).*/\1 \2 \3/'
}
isGreen() { local r g b; read -r r g b <<<"$(screenColour 1020)"; ((g > 100 && g > r + 40)); }
isRed() { local r g b; read -r r g b <<<"$(screenColour 1020)"; ((r > 100 && r > g + 40)); }

# A folder with the program, the test sender as S.exe and a configuration.
newFolder() { # name [toml]
  local dir=$out/$1
  mkdir -p "$dir"
  cp "$kantiq" "$dir/Kantiq.exe"
  cp "$sender" "$dir/S.exe"
  if [[ -n ${2:-} ]]; then
    wine "$config" write "$(winpath "$2")" "$(winpath "$dir")" >/dev/null || say "FAIL writing the configuration"
  fi
  echo "$dir"
}
allSenderRuns() { wine "$dump" "$(winpath "$1")" | tr -d '\r'; }
# The runs for alarms and tests; notices to whoever looks after the PC apart.
senderRuns() { allSenderRuns "$1" | grep -v '^notice ' || true; }
logLines() { [[ -f $1/KantiqLog.txt ]] && iconv -f CP1252 -t UTF-8 "$1/KantiqLog.txt" | tr -d '\r' || true; }

# ---------------------------------------------------------------------------
say "== running with the example configuration (retrigger delay 6 s)"
toml=$out/test.toml
sed -E 's/^retrigger_delay_ms = .*/retrigger_delay_ms = 6000/' "$example" >"$toml"
app=$(newFolder app "$toml")
makeCall 23345 "$out/call-23345.wav"
makeCall 23346 "$out/call-23346.wav"

(cd "$app" && exec wine "$app/Kantiq.exe") &
kantiqPid=$!
checkTrue "window appears" drv wait "$mainWin" 20000
sleep 1
check "toggle caption at start" "$(text 1003)" "Kantiq jetzt deaktivieren"
check "speed box at start" "$(text 1013)" "29"
checkTrue "settings are hidden" bash -c "! wine '$driver' visible '$mainWin' 1013"
checkTrue "status picture is green" isGreen
# Only the start, told to whoever looks after the PC (the test sender
# reports it sent).
checkTrue "the start is handed to the sender as a notice" \
  grep -q "^notice [0-9]* Kantiq gestartet am [0-3][0-9]\.[01][0-9]\.20[0-9][0-9] [0-2][0-9]:[0-5][0-9]\.$" <<<"$(allSenderRuns "$app")"
check "result box: nothing but that notice" \
  "$(text 1015 | grep -v 'Hinweis gesendet: Kantiq gestartet am' | grep -Ev '^[ 0-9.:]*$')" ""

drv key "$mainWin" 1003 27
sleep 0.3
checkTrue "escape does not close the main window" drv wait "$mainWin" 1000
check "escape leaves monitoring on" "$(text 1003)" "Kantiq jetzt deaktivieren"

say "== a five-tone call"
paplay "$out/call-23345.wav" &
playPid=$!
# The moment the alarm shows; the spectrogram still shows the call then.
for _ in $(seq 1 100); do [[ $(text 1015) == *ALARMIERUNG* ]] && break; sleep 0.05; done
shown=$(date +%s%3N)
import -window root "$out/window.png"
wait $playPid
sleep 0.5
box=$(text 1015)
alarmText='Feuerwehr Musterstadt: Einsatz für alle Kräfte'
stampRe='[0-3][0-9]\.[01][0-9]\.20[0-9][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]: '
checkTrue "result box: stamp on top, alarm line below" \
  grep -Ezq "
 ${stampRe} 
 ALARMIERUNG: ${alarmText} $" <<<"$box"
log=$(logLines "$app")
checkTrue "one log line" grep -Eq "^${stampRe}ALARMIERUNG: ${alarmText}$" <<<"$log"
check "log line count" "$(grep -c ALARMIERUNG <<<"$log")" "1"
for _ in $(seq 1 50); do [[ -n $(senderRuns "$app") ]] && break; sleep 0.2; done
runs=$(senderRuns "$app")
check "sender called with the alarm text" "$(cut -d' ' -f1,3- <<<"$runs")" "alarm $alarmText"
# The sender starts at once (the alarm was seen in the box a poll or so
# after it was raised).
startMs=$(($(cut -d' ' -f2 <<<"$runs" | head -n1) - 11644473600000))
delay=$((startMs - shown))
checkTrue "sender started at once ($delay ms after the alarm showed)" \
  test "$delay" -ge -1000 -a "$delay" -le 1500

say "== the same call again within the retrigger delay"
paplay "$out/call-23345.wav"
sleep 0.5
check "nothing new in the result box" "$(text 1015)" "$box"
check "nothing new in the log" "$(logLines "$app" | grep -c ALARMIERUNG)" "1"
say "== and after it"
sleep 6
paplay "$out/call-23345.wav"
sleep 0.5
check "raised again after the delay: log" "$(logLines "$app" | grep -c ALARMIERUNG)" "2"
check "raised again after the delay: box lines" "$(text 1015 | grep -c ALARMIERUNG)" "2"

say "== monitoring off and on"
drv click "$mainWin" 1003
sleep 0.5
check "toggle caption when off" "$(text 1003)" "Kantiq jetzt aktivieren"
checkTrue "status picture is red" isRed
paplay "$out/call-23346.wav"
sleep 0.5
check "no alarm while off" "$(logLines "$app" | grep -c ALARMIERUNG)" "2"
drv click "$mainWin" 1003
sleep 0.5
check "toggle caption when on again" "$(text 1003)" "Kantiq jetzt deaktivieren"
checkTrue "status picture is green again" isGreen
paplay "$out/call-23346.wav"
sleep 0.5
checkTrue "the other alarm is raised once on again" \
  grep -q "ALARMIERUNG: Feuerwehr Musterstadt: Atemschutz" <<<"$(logLines "$app")"

say "== test message"
for _ in $(seq 1 100); do (($(senderRuns "$app" | grep -c '^alarm') >= 3)) && break; sleep 0.2; done
before=$(senderRuns "$app" | wc -l)
printf 'sleep 2000\n' >"$app/sender-control.txt"
drv click "$mainWin" 1021
checkTrue "number dialog opens" drv wait "Mobilfunknummer"
drv settext "Mobilfunknummer" 1019 " 0171 2345678 "
drv click "Mobilfunknummer" 1
sleep 0.5
# While the sender runs, the main window still answers.
checkTrue "window answers while the sender runs" bash -c "[[ \$(wine '$driver' text '$mainWin' 1003 | tr -d '\r') == 'Kantiq jetzt deaktivieren' ]]"
check "a box when the sender has ended" "$(drv box Test-SMS 15000 | tr -d '\r')" "Die Test-SMS wurde gesendet."
checkTrue "then the dialog closes" drv gone "Mobilfunknummer" 5000
rm -f "$app/sender-control.txt"
check "test sender run with the number as typed" "$(senderRuns "$app" | tail -n1 | cut -d' ' -f1,3-)" "test  0171 2345678 "
check "one more sender run" "$(senderRuns "$app" | wc -l)" "$((before + 1))"
# An empty number still runs the sender, with an empty last argument. This
# sender fails without a word: the box says so by its exit code.
printf 'exit 3\n' >"$app/sender-control.txt"
drv click "$mainWin" 1021
drv wait "Mobilfunknummer" >/dev/null
drv key "Mobilfunknummer" 1019 13
checkTrue "enter sends: a box says it did not go out" \
  grep -qF "S.exe hat sich mit dem Code 3 beendet." <<<"$(drv box Fehler 15000 | tr -d '\r')"
checkTrue "then the dialog closes" drv gone "Mobilfunknummer" 5000
rm -f "$app/sender-control.txt"
check "empty number passed as empty" "$(senderRuns "$app" | tail -n1 | cut -d' ' -f1,3-)" "test "
before=$((before + 1))
drv click "$mainWin" 1021
drv wait "Mobilfunknummer" >/dev/null
drv settext "Mobilfunknummer" 1019 "0999"
drv click "Mobilfunknummer" 2
checkTrue "cancel closes the dialog" drv gone "Mobilfunknummer"
drv click "$mainWin" 1021
drv wait "Mobilfunknummer" >/dev/null
drv key "Mobilfunknummer" 1019 27
checkTrue "escape closes the dialog" drv gone "Mobilfunknummer"
sleep 0.5
check "cancel and escape start no sender" "$(senderRuns "$app" | wc -l)" "$((before + 1))"
# Without a sender the test says so instead of closing as if it had gone out.
mv "$app/S.exe" "$app/S.exe.away"
drv click "$mainWin" 1021
drv wait "Mobilfunknummer" >/dev/null
drv settext "Mobilfunknummer" 1019 "0171 2345678"
drv click "Mobilfunknummer" 1
check "box when S.exe cannot be started" "$(drv box Fehler 15000 | tr -d '\r')" \
  "$(printf 'Das Sendeprogramm S.exe konnte nicht gestartet werden.\nDie Test-SMS wurde nicht gesendet.')"
checkTrue "dialog closes after the box" drv gone "Mobilfunknummer" 5000
mv "$app/S.exe.away" "$app/S.exe"

say "== about box"
about="$main|1020=https://kantiq.example.org"
drv click "$mainWin" 1019
checkTrue "about box opens" drv wait "$about"
drv key "$about" 1 27
checkTrue "escape closes the about box" drv gone "$about"

say "== a second instance"
(cd "$app" && exec wine "$app/Kantiq.exe") &
secondPid=$!
check "second instance's box" "$(drv box Fehler 15000 | tr -d '\r')" "'Brevalo Kantiq' ist bereits gestartet"
wait $secondPid
check "second instance's exit code (already running)" "$?" "4"
checkTrue "first instance still runs" drv wait "$mainWin" 1000

say "== closing the window"
drv close "$mainWin"
wait $kantiqPid
check "exit code after closing" "$?" "0"

# ---------------------------------------------------------------------------
say "== refusals at start"
startAndBox() { # folder caption; sets msg (the box's text) and boxExit
  local dir=$1 caption=$2 pid
  (cd "$dir" && exec wine "$dir/Kantiq.exe") &
  pid=$!
  msg=$(drv box "$caption" 15000 | tr -d '\r')
  wait $pid
  boxExit=$?
}
none=$(newFolder none)
startAndBox "$none" Fehler
checkTrue "no configuration: box text" grep -q "Kann Konfigurationsdatei von 'Brevalo' für 'Brevalo Kantiq' nicht finden" <<<"$msg"
check "no configuration: exit code (start refused)" "$boxExit" "3"
checkTrue "no configuration: no window left" drv gone "$mainWin" 2000

bad=$(newFolder bad)
# The format number is looked at once the field after it is complete.
wine "$encode" "101#25#" "$(winpath "$bad/SMSConfig1.dat")"
: >"$bad/SMSConfig2.dat"
startAndBox "$bad" "Unbekanntes Format"
checkTrue "bad format: box text" grep -q "weiterentwickelten 'Brevalo Kantiq'-Version" <<<"$msg"
check "bad format: exit code (start refused)" "$boxExit" "3"

say "== no sound card"
silent=$(newFolder silent "$toml")
(cd "$silent" && PULSE_SERVER=unix:/nonexistent WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winealsa.drv,wineoss.drv=" \
  exec wine "$silent/Kantiq.exe") &
pid=$!
checkTrue "no sound card: the window opens" drv wait "$mainWin" 20000
check "no sound card: no English box" "$(drv box Exception 3000 2>/dev/null | tr -d '\r')" ""
checkTrue "no sound card: the result box says so" grep -q "Kein Aufnahmegerät gefunden" <<<"$(text 1015)"
notGreen() { ! isGreen; }
checkTrue "no sound card: not green" notGreen
checkTrue "its buttons work" bash -c "wine '$driver' enabled '$mainWin' 1021 && wine '$driver' enabled '$mainWin' 1003"
drv close "$mainWin"
wait $pid
check "no sound card: exit code after closing" "$?" "0"

if ((failed)); then
  say "SOME CHECKS FAILED (folders and screenshot in $out)"
  exit 1
fi
say "all checks passed (screenshot: $out/window.png)"
