#!/usr/bin/env bash
# The whole alarm path under Wine: Kantiq.exe hears a ZVEI1 call played into
# the sound server, starts the real S.exe beside it, and S.exe delivers the
# alarm text to a fake GSM modem on a pseudo-terminal (linked as COM6 in the
# prefix) for the recipients S.toml chooses for that text. Then "Alarmierung
# testen" with a typed number delivers the sender's own test text to exactly
# that number and says so in a box; with a PIN the SIM refuses, a box says it
# did not go out and why; and closing the main window while a test is being
# sent ends the program normally. Runs inside scripts/wine-env.sh (with audio):
#   kantiq_sender_e2e_test.sh Kantiq.exe kantiq-config.exe S.exe window_driver.exe example.toml OUTDIR
# OUTDIR keeps the program's folder (logs, what the modem received).
set -uo pipefail

kantiq=$1 config=$2 sender=$3 driver=$4 example=$5 out=$6
here=$(cd "$(dirname "$0")" && pwd)
for v in WINEPREFIX PULSE_SERVER; do
  [[ -n ${!v:-} ]] || { echo "FAIL: \$$v is not set: run this under scripts/wine-env.sh run -- ..."; exit 1; }
done
[[ ${KANTIQ_WINE_AUDIO:-} == 1 ]] || { echo "FAIL: the environment was started with --no-audio"; exit 1; }
# Small record fragments, or the capture device hands over its first
# samples only after about two seconds.
export PULSE_LATENCY_MSEC=${PULSE_LATENCY_MSEC:-20}

rm -rf "$out"
mkdir -p "$out/app"
app=$out/app
failed=0
modemPid='' kantiqPid=''
mainWin='Brevalo Kantiq|1020='
comLink=$WINEPREFIX/dosdevices/com6

cleanup() {
  [[ -n $modemPid ]] && kill "$modemPid" 2>/dev/null && wait "$modemPid" 2>/dev/null
  [[ -n $kantiqPid ]] && kill "$kantiqPid" 2>/dev/null
}
trap cleanup EXIT

source "$(dirname "$0")/../lib/checks.sh"
source "$(dirname "$0")/../lib/status_colour.sh"
drv() { wine "$driver" "$@"; }
sendLog() { iconv -c -f CP1252 -t UTF-8 "$app/SendeLog.txt" 2>/dev/null | tr -d '\r'; }
logHas() { sendLog | grep -qF -- "$1"; }
received() { cat "$app/modem.sms" 2>/dev/null; }
# Waits up to 30 s until the send log has N lines starting "Ende:".
waitForSenderEnds() {
  local i
  for ((i = 0; i < 150; i++)); do
    (($(sendLog | grep -c 'Ende:') >= $1)) && return 0
    sleep 0.2
  done
  return 1
}

# ---------------------------------------------------------------------------
say "== a folder with Kantiq.exe, S.exe, the configuration and S.toml"
cp "$kantiq" "$app/Kantiq.exe"
cp "$sender" "$app/S.exe"
# The outbox is tried again 30 s after a run that left messages waiting.
sed -E 's/^retry_interval_s = .*/retry_interval_s = 30/' "$example" >"$out/kantiq.toml"
grep -q '^retry_interval_s = 30$' "$out/kantiq.toml" || { say "FAIL the example sets no retry_interval_s"; exit 1; }
wine "$config" write "$(winepath -w "$out/kantiq.toml")" "$(winepath -w "$app")" >/dev/null ||
  { say "FAIL writing the configuration"; exit 1; }
# No test_text: the test message is the sender's own text.
cat >"$app/S.toml" <<'TOML'
kanal = "modem"
[modem]
anschluss = "COM6"
antwortzeit_s = 2
[wiederholung]
versuche = 2
erste_wartezeit_s = 1
[[gruppe]]
name = "Wehrführung"
alle_alarme = true
nummern = ["+49 170 1234567"]
[[gruppe]]
name = "Einsatzleitung"
stichworte = ["einsatz"]
nummern = ["0172 111 22 23", "+491701234567"]
[[gruppe]]
name = "Atemschutz"
stichworte = ["Atemschutz"]
nummern = ["+49 160 9998887"]
TOML
bash "$here/../../scripts/zvei-call.sh" 23345 "$out/call-23345.wav"
bash "$here/../../scripts/zvei-call.sh" 23346 "$out/call-23346.wav"

python3 "$here/../sender/fake_modem.py" --link "$comLink" --record "$app/modem" &
modemPid=$!
for _ in $(seq 1 100); do [[ -e $app/modem.ready ]] && break; sleep 0.05; done
[[ -e $app/modem.ready ]] || { say "FAIL the fake modem did not start"; exit 1; }

(cd "$app" && exec wine "$app/Kantiq.exe" 2>"$out/kantiq.stderr") &
kantiqPid=$!
drv wait "$mainWin" 20000 || { say "FAIL the main window did not appear"; exit 1; }
sleep 1

say "== a five-tone call starts the sender, the modem gets the alarm"
paplay "$out/call-23345.wav"
checkTrue "the sender finished the alarm" waitForSenderEnds 1
alarmText='Feuerwehr Musterstadt: Einsatz für alle Kräfte'
modemText='Feuerwehr Musterstadt: Einsatz fuer alle Kraefte'
check "the modem received the alarm for the chosen recipients" "$(received)" \
  "$(printf '+491701234567\t%s\n01721112223\t%s' "$modemText" "$modemText")"
checkTrue "the alarm is in the program's log" \
  grep -qF "ALARMIERUNG: $alarmText" <(iconv -f CP1252 -t UTF-8 "$app/KantiqLog.txt" 2>/dev/null)
checkTrue "send log: the alarm and its groups" \
  logHas "Alarmierung \"$alarmText\" an 2 Empfänger (\"Wehrführung\", \"Einsatzleitung\") über Modem an COM6"
checkTrue "send log: both sent" logHas 'Ende: alle 2 Nachrichten wurden gesendet.'
resultBox() { drv text "$mainWin" 1015 | tr -d '\r'; }
checkTrue "the window says the SMS went out" \
  grep -qF "SMS zu \"$alarmText\": SMS an 2 von 2 Empfängern gesendet." <<<"$(resultBox)"
kantiqLog() { iconv -f CP1252 -t UTF-8 "$app/KantiqLog.txt" 2>/dev/null | tr -d '\r'; }
checkTrue "and so does the alarm log" grep -qF "SMS GESENDET: $alarmText (SMS an 2 von 2" <<<"$(kantiqLog)"

waitFor() { # seconds command...: true once the command holds
  local until=$((SECONDS + $1))
  shift
  while ((SECONDS <= until)); do "$@" && return 0; sleep 0.5; done
  return 1
}
isColour() { [[ $(statusColour) == "$1" ]]; }
boxHas() { grep -qF "$1" <<<"$(resultBox)"; }

say "== the modem is gone: the window says the SMS did not go out, the sender tries again by itself"
kill "$modemPid" 2>/dev/null && wait "$modemPid" 2>/dev/null
modemPid=''
textB='Feuerwehr Musterstadt: Atemschutz'
paplay "$out/call-23346.wav"
checkTrue "the sender finished the alarm" waitForSenderEnds 2
checkTrue "the window says at once that it did not go out" \
  waitFor 10 boxHas "STÖRUNG: SMS zu \"$textB\": SMS NICHT gesendet, 2 warten im Postausgang"
checkTrue "the status turns amber" waitFor 5 isColour amber
checkTrue "the alarm log says the SMS waits" grep -qF "SMS WARTEN: $textB" <<<"$(kantiqLog)"
python3 "$here/../sender/fake_modem.py" --link "$comLink" --record "$app/modem" &
modemPid=$!
for _ in $(seq 1 100); do [[ -e $app/modem.ready ]] && break; sleep 0.05; done
checkTrue "the modem mended: the message goes out without a new alarm" \
  waitFor 60 boxHas "SMS nachgesendet: Nachgesendet: 2 von 2 SMS gesendet."
checkTrue "the status turns green" waitFor 5 isColour green
checkTrue "the modem received it" grep -qF "$(printf '+491609998887\tNachgesendet')" "$app/modem.sms"
checkTrue "the alarm log says it went out" grep -qF "SMS GESENDET: Postausgang (Nachgesendet: 2 von 2" <<<"$(kantiqLog)"
check "one sender run for the outbox" "$(sendLog | grep -c 'Ende:')" "3"
# The later checks look at what the modem receives from here on.
mv "$app/modem.sms" "$out/modem-before-tests.sms"

# The fake modem again, now taking a moment per message, so the dialog can
# be seen while it sends.
restartModem() { # fake modem options...
  kill "$modemPid" 2>/dev/null && wait "$modemPid" 2>/dev/null
  rm -f "$app/modem.ready"
  python3 "$here/../sender/fake_modem.py" --link "$comLink" --record "$app/modem" "$@" &
  modemPid=$!
  for _ in $(seq 1 100); do [[ -e $app/modem.ready ]] && break; sleep 0.05; done
}
# Types a number into "Alarmierung testen" and presses OK.
startTest() { # number
  drv click "$mainWin" 1021
  drv wait "Mobilfunknummer" || return 1
  drv settext "Mobilfunknummer" 1019 "$1"
  drv click "Mobilfunknummer" 1
}

testLogFrom=$(($(sendLog | wc -l) + 1))  # the test's own lines start here
say "== \"Alarmierung testen\" with a typed number: the success box"
restartModem --send-delay 2
startTest " 0171 2345678 "
sleep 0.5
check "the dialog says it is sending" "$(drv statictext "Mobilfunknummer" | head -n 1 | tr -d '\r')" \
  "Die Test-SMS wird gesendet ..."
checkTrue "the OK button is off while it sends" bash -c "! wine '$driver' enabled Mobilfunknummer 1"
box=$(drv box "Test-SMS" 30000 | tr -d '\r')
checkTrue "a box says the test went out" grep -qF "Die Test-SMS wurde gesendet." <<<"$box"
checkTrue "in the sender's words" grep -qF "Test-SMS an 01712345678 gesendet." <<<"$box"
checkTrue "dialog closes after the box" drv gone "Mobilfunknummer" 10000
checkTrue "the sender finished the test" waitForSenderEnds 4
check "the modem received the test text for that number only" "$(received)" \
  "$(printf '01712345678\tKantiq Test-SMS: Die Alarmierung per SMS funktioniert.')"
checkTrue "send log: the test message" logHas 'Test-SMS an 01712345678 über Modem an COM6'
check "send log: the test message went out" "$(sendLog | grep 'Ende:' | tail -n 1 | sed 's/.*Ende: //')" \
  "die Nachricht wurde gesendet."
checkTrue "send log: no failed attempt" bash -c "! grep -qE 'fehlgeschlagen|FEHLGESCHLAGEN' <<<\"\$1\"" _ \
  "$(sendLog | tail -n +"$testLogFrom")"

say "== a test with a PIN the SIM refuses: the failure box"
restartModem --pin 9999
sed -i 's/^antwortzeit_s = 2$/antwortzeit_s = 2\npin = "1234"/' "$app/S.toml"
startTest "0171 2345678"
box=$(drv box "Fehler" 30000 | tr -d '\r')
checkTrue "a box says the test did not go out" grep -qF "Die Test-SMS wurde nicht gesendet." <<<"$box"
checkTrue "and why, in the sender's words" \
  grep -qF 'Test-SMS an 01712345678 nicht gesendet: Die SIM-Karte hat die PIN abgelehnt' <<<"$box"
checkTrue "dialog closes after the box" drv gone "Mobilfunknummer" 10000
check "the wrong PIN was entered once" "$(grep -o 'AT+CPIN="' "$app/modem.raw" | wc -l)" "1"
check "nothing more reached the modem" "$(received | wc -l)" "1"
sed -i '/^pin = "1234"$/d' "$app/S.toml"

say "== the main window closed while a test message is being sent"
restartModem --send-delay 4
startTest "0171 7654321"
sleep 1
check "the dialog is sending" "$(drv statictext "Mobilfunknummer" | head -n 1 | tr -d '\r')" \
  "Die Test-SMS wird gesendet ..."
drv close "$mainWin"
wait "$kantiqPid"
check "exit code after closing during a test" "$?" "0"
kantiqPid=''
checkTrue "no crash was reported" bash -c "! grep -qiE 'unhandled exception|page fault|Assertion' '$out/kantiq.stderr'"
# The sender goes on by itself and delivers.
for _ in $(seq 1 100); do (($(received | wc -l) >= 2)) && break; sleep 0.1; done
check "the sender still delivered the test" "$(received | tail -n 1)" \
  "$(printf '01717654321\tKantiq Test-SMS: Die Alarmierung per SMS funktioniert.')"

if ((failed)); then
  say "SOME CHECKS FAILED (send log: $app/SendeLog.txt)"
  sendLog | sed 's/^/    log: /'
  exit 1
fi
say "all checks passed"
