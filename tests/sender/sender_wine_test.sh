#!/usr/bin/env bash
# S.exe under Wine against a fake GSM modem on a pseudo-terminal (linked as
# COM5 in the prefix) and a fake SMS gateway on 127.0.0.1. Each case starts
# the sender the way Kantiq does (sender_launch builds the command line with
# the program's own code) and checks what the modem or the gateway received,
# the send log and the exit code.
#
#   sender_wine_test.sh <S.exe> <sender_launch.exe> <alarm_chain.exe>
# Runs inside scripts/wine-env.sh (WINEPREFIX exported); starts it if not.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
if [[ -z ${WINEPREFIX:-} ]]; then
    exec "$here/../../scripts/wine-env.sh" run --no-audio -- bash "$0" "$@"
fi
sender_exe=$1
launcher=$2
alarm_chain=$3
. "$here/sender_wine_lib.sh"

# ---- modem ----------------------------------------------------------------

new_case pin_and_groups
modem_config 'pin = "4711"'
start_modem --pin 4711
send alarm "Brand Süd: Müllerstraße 5, 3 € Schaden"
stop_modem
expect_code 0
expect_sms $'+491701111111\tBrand Sued: Muellerstrasse 5, 3 EUR Schaden' \
           $'01712222222\tBrand Sued: Muellerstrasse 5, 3 EUR Schaden'
expect_log 'Alarmierung "Brand Süd: Müllerstraße 5, 3 € Schaden" an 2 Empfänger ("Führung", "Löschzug Süd") über Modem an COM5'
expect_log 'gesendet an 01712222222 (Versuch 1): Referenz 2'
expect_log 'Ende: alle 2 Nachrichten wurden gesendet.'
[[ $(grep -c 'AT+CPIN="4711"' "$dir/modem.raw") == 1 ]] || fail "PIN not entered exactly once"
[[ -s $dir/stdout && $(wc -l <"$dir/stdout") -le 1 ]] || fail "stdout should be one short line"

# Two alarms raised through the program's dispatch jobs, one after the other.
new_case alarm_chain
modem_config ''
cp "$alarm_chain" "$dir/alarm_chain.exe"
start_modem
wine "$dir/alarm_chain.exe" "$(hex "Alarm eins Süd")" "$(hex "Alarm zwei")" >"$dir/stdout" 2>&1
code=$?
stop_modem
expect_code 0
expect_sms $'+491701111111\tAlarm eins Sued' $'01712222222\tAlarm eins Sued' $'+491701111111\tAlarm zwei'
iconv -f CP1252 -t UTF-8 "$dir/KantiqLog.txt" | grep -q 'ALARMIERUNG: Alarm zwei' || fail "alarm log"
expect_log 'Ende: alle 2 Nachrichten wurden gesendet.'
expect_log 'Ende: die Nachricht wurde gesendet.'

# A test message while an alarm's sender holds the modem: it waits its turn.
new_case alarm_and_test_together
modem_config ''
start_modem --send-delay 3
wine "$launcher" "$winfolder" alarm "$(hex "Probealarm")" >"$dir/stdout.alarm" 2>&1 &
alarm_pid=$!
for ((i = 0; i < 200; i++)); do grep -q 'AT+CMGS' "$dir/modem.raw" 2>/dev/null && break; sleep 0.05; done
send test "0170 1234567"
wait "$alarm_pid"
alarm_code=$?
stop_modem
expect_code 0
[[ $alarm_code == 0 ]] || fail "alarm sender exit code $alarm_code"
expect_sms $'+491701111111\tProbealarm' $'01701234567\tKantiq Test: SMS-Versand funktioniert.'
expect_log 'Ein anderer Sendevorgang benutzt das Modem; warte, bis er fertig ist.'

new_case test_message
modem_config ''
start_modem
send test " 0170 555 66 77"
stop_modem
expect_code 0
expect_sms $'01705556677\tKantiq Test: SMS-Versand funktioniert.'
expect_log 'Test-SMS an 01705556677 über Modem an COM5'

new_case test_bad_number
modem_config ''
start_modem
send test "Hallo"
stop_modem
expect_code 3
expect_sms ''
expect_log 'Test-SMS nicht gesendet: "Hallo" ist keine gültige Mobilfunknummer.'

new_case cms_error_then_sent
modem_config ''
start_modem --cms-errors 1
send alarm "Probealarm"
stop_modem
expect_code 0
expect_sms $'+491701111111\tProbealarm'
expect_log 'Versuch 1 an +491701111111 fehlgeschlagen: Das Modem meldet "+CMS ERROR: 500" (unbekannter Fehler) auf den Nachrichtentext.'
expect_log 'gesendet an +491701111111 (Versuch 2): Referenz 1'

new_case error_on_text_mode
modem_config ''
start_modem --error-on AT+CMGF=1
send alarm "Probealarm"
stop_modem
expect_code 1
expect_sms ''
expect_log 'FEHLGESCHLAGEN an +491701111111 nach 2 Versuchen: Das Modem meldet "ERROR" auf AT+CMGF=1.'
expect_log 'Ende: 0 von 1 Nachrichten gesendet, 1 fehlgeschlagen.'

new_case silent_modem
modem_config ''
start_modem --silent
send alarm "Probealarm"
stop_modem
expect_code 1
expect_log 'FEHLGESCHLAGEN an +491701111111 nach 2 Versuchen: Das Modem antwortet nicht auf AT.'
[[ $(grep -o 'AT' "$dir/modem.raw" | wc -l) -ge 4 ]] || fail "expected AT twice per attempt"

new_case wrong_pin
modem_config 'pin = "1234"'
start_modem --pin 9999
send alarm "Probealarm"
stop_modem
expect_code 8
expect_log 'Die SIM-Karte hat die PIN abgelehnt: "+CME ERROR: 16" (falsche PIN).'
expect_log 'nicht noch einmal eingegeben'
[[ $(grep -o 'AT+CPIN="' "$dir/modem.raw" | wc -l) == 1 ]] || fail "the wrong PIN was offered more than once"

new_case long_alarm
modem_config ''
start_modem
long="Einsatz $(printf 'Wort%02d ' $(seq 1 30))Ende"
send alarm "$long"
stop_modem
expect_code 0
[[ $(wc -l <"$dir/modem.sms") == 2 ]] || fail "long text not in two parts"
grep -q $'^+491701111111\t(1/2) Einsatz Wort01' "$dir/modem.sms" || fail "first part"
grep -q $'^+491701111111\t(2/2) .*Ende$' "$dir/modem.sms" || fail "second part"
expect_log 'gesendet an +491701111111 (Teil 2/2) (Versuch 1)'

new_case empty_alarm_text
modem_config ''
start_modem
send raw ""
stop_modem
expect_code 0
expect_sms $'+491701111111\tAlarmierung (ohne Text)'

new_case garbled_command_line
modem_config ''
start_modem
# Every byte value but zero, as it might arrive from a damaged caller.
wine "$launcher" "$winfolder" raw "$(seq 1 255 | xargs printf '%02x')" >"$dir/stdout" 2>&1
code=$?
stop_modem
expect_code 0
[[ $(wc -l <"$dir/modem.sms") -ge 1 ]] || fail "nothing reached the modem"
LC_ALL=C grep -q $'[^\tA-Za-z0-9 !"#%&\'()*+,./:;<=>?-]' "$dir/modem.sms" && fail "unsafe bytes reached the modem"
expect_log 'Ende: die Nachricht wurde gesendet.'

new_case no_such_port
modem_config ''
sed -i 's/COM5/COM77/' "$dir/S.toml"
send alarm "Probealarm"
expect_code 1
expect_log 'Der Anschluss COM77 lässt sich nicht öffnen'

new_case config_broken
printf 'kanal = "modem"\n[modem]\nanschluss = "COM5"\nbaudrate = "schnell"\n' >"$dir/S.toml"
send alarm "Probealarm"
expect_code 2
expect_log 'Konfigurationsfehler in S.toml: Zeile 4: "baudrate" muss eine ganze Zahl sein. Die Alarmierung "Probealarm" wurde nicht gesendet.'

new_case config_missing
send alarm "Probealarm"
expect_code 2
expect_log 'S.toml fehlt. Die Alarmierung "Probealarm" wurde nicht gesendet.'

new_case config_garbage
head -c 4000 /dev/urandom >"$dir/S.toml"
send alarm "Probealarm"
expect_code 2
expect_log 'Konfigurationsfehler in S.toml'


new_case http_sent
start_gateway 200
http_config 5
send alarm "Brand Süd & Co"
stop_gateway
expect_code 0
[[ $(wc -l <"$dir/gw.requests") == 1 ]] || fail "expected one request"
[[ $(request_field 0 method) == POST ]] || fail "method"
[[ $(request_field 0 path) == "/api/send?key=abc" ]] || fail "path $(request_field 0 path)"
[[ $(request_field 0 body) == "to=%2B491701111111&msg=Brand%20S%C3%BCd%20%26%20Co" ]] || fail "body $(request_field 0 body)"
[[ $(request_field 0 x-api-key) == geheim ]] || fail "api key header"
expect_log 'gesendet an +491701111111 (Versuch 1): HTTP 200'

new_case http_500_then_200
start_gateway 500,200
http_config 5
send alarm "Probealarm"
stop_gateway
expect_code 0
[[ $(wc -l <"$dir/gw.requests") == 2 ]] || fail "expected two requests"
expect_log 'Versuch 1 an +491701111111 fehlgeschlagen: HTTP 500 (Interner Fehler)'
expect_log 'gesendet an +491701111111 (Versuch 2): HTTP 200'

new_case http_always_500
start_gateway 500
http_config 5
send alarm "Probealarm"
stop_gateway
expect_code 1
expect_log 'FEHLGESCHLAGEN an +491701111111 nach 3 Versuchen: HTTP 500 (Interner Fehler)'

new_case http_hang
start_gateway hang
http_config 2
started=$SECONDS
send alarm "Probealarm"
stop_gateway
expect_code 8
[[ $(wc -l <"$dir/gw.requests") == 2 ]] || fail "a request that may have arrived went out $(wc -l <"$dir/gw.requests") times"
expect_log 'VIELLEICHT GESENDET an +491701111111 nach 2 Versuchen: Keine Antwort (Zeitüberschreitung) von 127.0.0.1'
((SECONDS - started < 60)) || fail "a hanging gateway held the sender for $((SECONDS - started)) s"

new_case http_refused
port=9  # nothing listens there
http_config 2
send alarm "Probealarm"
expect_code 1
expect_log 'FEHLGESCHLAGEN an +491701111111 nach 3 Versuchen: Keine Verbindung zu 127.0.0.1:9'

if ((failures)); then
    echo "sender under Wine: $failures check(s) failed" >&2
    exit 1
fi
echo "sender under Wine: all cases passed"
