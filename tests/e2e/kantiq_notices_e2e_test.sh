#!/usr/bin/env bash
# Notices to whoever looks after the PC, with the real Kantiq.exe and S.exe
# under Wine, a fake GSM modem (COM7 in the prefix) and a fake SMS gateway
# as the fallback channel. Only the group marked "hinweise = true" in S.toml
# may get notices, never the alarm group:
#   1. no notice group: nothing is sent, the window says once that no one
#      would be told;
#   2. with one: the start is told; the sound server stopped for longer than
#      the (shortened) delay is told once, and once more when listening is
#      back; the weekly sign of life, set to the next minutes, comes once
#      and says what happened;
#   3. Kantiq killed: its next start says when it was last seen running;
#      the modem gone, a call is delivered through the gateway and one
#      notice says the modem failed.
# Runs inside scripts/wine-env.sh (with audio):
#   kantiq_notices_e2e_test.sh Kantiq.exe kantiq-config.exe S.exe window_driver.exe example.toml OUTDIR
set -uo pipefail

kantiq=$1 config=$2 sender=$3 driver=$4 example=$5 out=$6
here=$(cd "$(dirname "$0")" && pwd)
wine_env=$here/../../scripts/wine-env.sh
for v in WINEPREFIX PULSE_SERVER; do
  [[ -n ${!v:-} ]] || { echo "FAIL: \$$v is not set: run this under scripts/wine-env.sh run -- ..."; exit 1; }
done
export PULSE_LATENCY_MSEC=${PULSE_LATENCY_MSEC:-20}

rm -rf "$out"
mkdir -p "$out/app"
app=$out/app
failed=0
modemPid='' gatewayPid='' kantiqPid=''
mainWin='Brevalo Kantiq|1020='
comLink=$WINEPREFIX/dosdevices/com7

cleanup() {
  [[ -n $modemPid ]] && kill "$modemPid" 2>/dev/null && wait "$modemPid" 2>/dev/null
  [[ -n $gatewayPid ]] && kill "$gatewayPid" 2>/dev/null && wait "$gatewayPid" 2>/dev/null
  [[ -n $kantiqPid ]] && kill "$kantiqPid" 2>/dev/null
  "$wine_env" sound-server start >/dev/null 2>&1
}
trap cleanup EXIT

source "$here/../lib/checks.sh"
drv() { wine "$driver" "$@"; }
resultBox() { drv text "$mainWin" 1015 | tr -d '\r'; }
boxHas() { grep -qF -- "$1" <<<"$(resultBox)"; }
# What the modem received for the notice number and for the alarm number.
toCaretaker() { grep -a '^01605550001' "$app/modem.sms" 2>/dev/null | cut -f2-; }
toBrigade() { grep -a '^01715550002' "$app/modem.sms" 2>/dev/null | cut -f2-; }
noticesHaving() { toCaretaker | grep -cF -- "$1"; }
waitFor() { # seconds command...: true once the command holds
  local until=$((SECONDS + $1))
  shift
  while ((SECONDS <= until)); do "$@" && return 0; sleep 0.5; done
  return 1
}
atLeast() { (($($2 | grep -cF -- "$3") >= $1)); }  # n command text

startModem() {
  rm -f "$app/modem.ready"
  python3 "$here/../sender/fake_modem.py" --link "$comLink" --record "$app/modem" &
  modemPid=$!
  for _ in $(seq 1 100); do [[ -e $app/modem.ready ]] && break; sleep 0.05; done
  [[ -e $app/modem.ready ]] || { say "FAIL the fake modem did not start"; exit 1; }
}
startKantiq() {
  (cd "$app" && exec wine "$app/Kantiq.exe" 2>>"$out/kantiq.stderr") &
  kantiqPid=$!
  drv wait "$mainWin" 20000 || { say "FAIL the main window did not appear"; exit 1; }
}
closeKantiq() {
  drv close "$mainWin"
  wait "$kantiqPid"
  kantiqPid=''
}

# The sign of life three minutes on, on that day of the week: after the
# outage below has been told.
days=(Montag Dienstag Mittwoch Donnerstag Freitag Samstag Sonntag)
lifeAt=$(date -d '+3 min' '+%u %H:%M')
signOfLife="${days[$(( ${lifeAt%% *} - 1 ))]} ${lifeAt#* }"
# Nothing is played but the call: the silence check is off, or a silent
# input would be a fault of its own.
sed -E -e 's/^delay_s = .*/delay_s = 15/' -e "s/^sign_of_life = .*/sign_of_life = \"$signOfLife\"/" \
  -e 's/^silence_limit_s = .*/silence_limit_s = 0/' "$example" >"$out/kantiq.toml"
grep -q '^delay_s = 15$' "$out/kantiq.toml" || { say "FAIL the example has no [notices] delay_s"; exit 1; }
grep -q '^silence_limit_s = 0$' "$out/kantiq.toml" || { say "FAIL the example has no silence_limit_s"; exit 1; }
cp "$kantiq" "$app/Kantiq.exe"
cp "$sender" "$app/S.exe"
wine "$config" write "$(winepath -w "$out/kantiq.toml")" "$(winepath -w "$app")" >/dev/null ||
  { say "FAIL writing the configuration"; exit 1; }
python3 "$here/../sender/fake_gateway.py" --record "$out/gateway" --answers 200 &
gatewayPid=$!
for _ in $(seq 1 100); do [[ -s $out/gateway.port ]] && break; sleep 0.05; done
gatewayPort=$(cat "$out/gateway.port")
writeSenderConfig() { # with_notice_group(0|1)
  cat >"$app/S.toml" <<TOML
kanal = "modem"
ersatzkanal = "http"
[modem]
anschluss = "COM7"
antwortzeit_s = 2
[http]
url = "http://127.0.0.1:$gatewayPort/sms"
format = "form"
inhalt = "to={nummer}&msg={text}"
[wiederholung]
versuche = 1
[[gruppe]]
name = "Löschzug"
alle_alarme = true
nummern = ["0171 5550002"]
TOML
  if (($1)); then
    printf '[[gruppe]]\nname = "Gerätewart"\nhinweise = true\nnummern = ["0160 5550001"]\n' >>"$app/S.toml"
  fi
}
bash "$here/../../scripts/zvei-call.sh" 23345 "$out/call-23345.wav"
startModem

say "== 1. no group for notices: nothing sent, the window says so once"
writeSenderConfig 0
startKantiq
checkTrue "the window says no one would be told" waitFor 15 boxHas "HINWEIS: Niemand bekommt Hinweise"
check "nothing reached the modem" "$(cat "$app/modem.sms" 2>/dev/null | wc -l)" "0"
closeKantiq

say "== 2. a notice group: the start, an outage, its end, the sign of life"
writeSenderConfig 1
startKantiq
checkTrue "the start is told to the notice group" waitFor 20 atLeast 1 toCaretaker "Kantiq gestartet am"
checkTrue "the window says the notice went out" waitFor 5 boxHas "Hinweis gesendet: Kantiq gestartet am"
checkTrue "and not as a crash: the last run ended normally" bash -c "! grep -q 'nicht ordentlich' <<<\"\$1\"" _ "$(toCaretaker)"
"$wine_env" sound-server stop || say "FAIL stopping the sound server"
sleep 8
check "no notice before the delay" "$(noticesHaving 'nicht zu')" "0"
checkTrue "an interruption longer than the delay is told" waitFor 30 atLeast 1 toCaretaker "Kantiq hoert seit"
sleep 5
check "told once" "$(noticesHaving 'Kantiq hoert seit')" "1"
"$wine_env" sound-server start || say "FAIL starting the sound server"
checkTrue "its end is told once listening is back a while" waitFor 60 atLeast 1 toCaretaker "Kantiq hoert wieder zu"
checkTrue "the sign of life comes at its minute" waitFor 200 atLeast 1 toCaretaker "Kantiq laeuft."
sleep 3
check "once" "$(noticesHaving 'Kantiq laeuft.')" "1"
checkTrue "it names no alarm and the interruption" \
  grep -qF "Kantiq laeuft. Letzte Alarmierung keine bekannt, Stoerungen seit dem letzten Lebenszeichen: Zuhoeren 1-mal unterbrochen." \
  <<<"$(toCaretaker)"
check "the alarm group got none of it" "$(toBrigade | wc -l)" "0"

say "== 3. killed; the next start says so. The modem gone: the gateway delivers, the modem's failure is told"
sleep 2
kill -KILL "$kantiqPid" 2>/dev/null
wait "$kantiqPid" 2>/dev/null
kantiqPid=''
startKantiq
checkTrue "the start after the crash names the time last seen" \
  waitFor 20 atLeast 1 toCaretaker "und wurde nicht ordentlich beendet"
kill "$modemPid" 2>/dev/null && wait "$modemPid" 2>/dev/null
modemPid=''
sleep 2
paplay "$out/call-23345.wav"
# The texts the gateway got for a number, one per line.
gatewayTo() {
  python3 -c 'import json, sys, urllib.parse
for line in open(sys.argv[1]):
    r = json.loads(line)
    form = urllib.parse.parse_qs(r["body"], encoding="utf-8")
    if r["method"] == "POST" and form.get("to", [""])[0] == sys.argv[2]:
        print(form.get("msg", [""])[0])' "$out/gateway.requests" "$1" 2>/dev/null
}
checkTrue "the alarm went out through the gateway" waitFor 40 atLeast 1 "gatewayTo 01715550002" "Einsatz"
checkTrue "a notice about the modem reached the notice group by the gateway" \
  waitFor 40 atLeast 1 "gatewayTo 01605550001" "Modem an COM7 gestört"
check "one notice about the modem" "$(gatewayTo 01605550001 | grep -c 'Modem an COM7 gestört')" "1"
check "the alarm group got only the alarm" "$(gatewayTo 01715550002)" "Feuerwehr Musterstadt: Einsatz für alle Kräfte"
closeKantiq
checkTrue "no crash was reported" bash -c "! grep -qiE 'unhandled exception|page fault|Assertion' '$out/kantiq.stderr'"

if ((failed)); then
  say "SOME CHECKS FAILED"
  say "modem: $(cat "$app/modem.sms" 2>/dev/null)"
  iconv -c -f CP1252 -t UTF-8 "$app/SendeLog.txt" 2>/dev/null | tr -d '\r' | sed 's/^/    log: /'
  resultBox | sed 's/^/    box: /'
  exit 1
fi
say "all checks passed"
