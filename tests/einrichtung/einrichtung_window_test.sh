#!/usr/bin/env bash
# Kantiq-Einrichtung.exe driven like a user under Wine (run inside
# scripts/wine-env.sh), on a scratch folder holding copies of the examples:
#   einrichtung_window_test.sh Kantiq-Einrichtung.exe winctl.exe kantiq-config.exe S.exe \
#       EXAMPLES_DIR einrichtung_ids.h OUTDIR
# Refused input (a code with a letter, a code another alarm has, a number
# with letters) writes nothing and says why in the report area; an alarm and
# a group added and applied are read back by kantiq-config and by S.exe, and
# the window's own "Prüfen" shows the new group; "Test-SMS" reaches a fake
# modem.
set -uo pipefail

exe=$1 winctl=$2 config=$3 sender=$4 examples=$5 ids=$6 out=$7
source "$(dirname "$0")/../lib/checks.sh"
failed=0
caption=Kantiq-Einrichtung
rm -rf "$out"
app=$out/app
mkdir -p "$app"
cp "$examples/kantiq.toml" "$examples/S.toml" "$app/"
cp "$sender" "$app/S.exe"

id() { sed -n "s/^#define $1 \([0-9]*\).*/\1/p" "$ids"; }
modemPid=''
trap '[[ -n $modemPid ]] && kill "$modemPid" 2>/dev/null' EXIT
ctl() { wine "$winctl" "$@"; }
winpath() { winepath -w "$1" 2>/dev/null; }
set_field() { ctl set-text "$caption" "$(id "$1")" "$2" || { say "FAIL set-text $1"; failed=1; }; }
press() { ctl click "$caption" "$(id "$1")" || { say "FAIL click $1"; failed=1; }; }
field() { ctl get-text "$caption" "$(id "$1")" | tr -d '\r'; }
nextTab() { ctl send-key "$caption" 0x27 "$(id IDC_TABS)"; }  # VK_RIGHT on the tab control
# Waits up to 20 s until the report area holds the text; prints the report.
reportWith() {
  local report
  for _ in $(seq 1 80); do
    report=$(field IDC_REPORT)
    [[ $report == *"$1"* ]] && break
    sleep 0.25
  done
  printf '%s' "$report"
}
unchanged() { # what: both files as copied, nothing made from them
  cmp -s "$app/kantiq.toml" "$examples/kantiq.toml" && cmp -s "$app/S.toml" "$examples/S.toml" &&
    [[ ! -e $app/SMSConfig1.dat ]]
}

# A kantiq.toml that is no TOML: its line and reason, and "Nein" closes
# without writing anything.
printf '[detector\n' >"$app/kantiq.toml"
wine "$exe" "$(winpath "$app")" >"$out/window.log" 2>&1 &
pid=$!
box=$(ctl msgbox-text "Einrichtung nicht lesbar" 30000 | tr -d '\r')
checkTrue "a broken file is named with its line: [$box]" grep -q "^kantiq.toml, Zeile 1: " <<<"$box"
ctl click "Einrichtung nicht lesbar" 7  # IDNO
ctl wait-gone "$caption" 10000 || { say "FAIL Nein did not close the window"; failed=1; kill "$pid"; }
wait "$pid"
check "Nein: exit status" "$?" 1
check "Nein: the broken file stays" "$(cat "$app/kantiq.toml")" "[detector"

# A hand-made S.toml: before it is replaced the user is asked; Abbrechen
# writes nothing.
cp "$examples/kantiq.toml" "$app/"
{ echo "# Unser eigener Kommentar"; cat "$examples/S.toml"; } >"$app/S.toml"
cp "$app/S.toml" "$out/S-hand-made.toml"
wine "$exe" "$(winpath "$app")" >>"$out/window.log" 2>&1 &
pid=$!
ctl wait-window "$caption" 30000 >/dev/null || say "FAIL the window did not open"
press IDC_APPLY
box=$(ctl msgbox-text "Von Hand geschriebene Einrichtung" 20000 | tr -d '\r')
checkTrue "a hand-made file is named before it is replaced: [$box]" grep -q "^S.toml wurde von Hand geschrieben" <<<"$box"
ctl click "Von Hand geschriebene Einrichtung" 2  # Abbrechen
reportWith "abgebrochen" >/dev/null
checkTrue "Abbrechen writes nothing" cmp -s "$app/S.toml" "$out/S-hand-made.toml"
checkTrue "Abbrechen makes nothing from kantiq.toml" test ! -e "$app/SMSConfig1.dat"
# Nothing changed in the form: Schließen closes at once.
ctl close "$caption"
ctl wait-gone "$caption" 10000 || { say "FAIL the window did not close"; failed=1; kill "$pid"; }
wait "$pid"
cp "$examples/S.toml" "$app/"

wine "$exe" "$(winpath "$app")" >>"$out/window.log" 2>&1 &
pid=$!
ctl wait-window "$caption" 30000 >/dev/null || say "FAIL the window did not open"
check "no notice of example values over the shipped files" "$(field IDC_NOTICE)" ""

# A code with a letter: named beside the field while typed; taken into the
# list, but "Übernehmen" refuses the form and writes nothing.
set_field IDC_ALARM_TEXT "Testalarm Süd"
set_field IDC_ALARM_CODE "2334A"
why=$(field IDC_ALARM_CODE_CHECK)
checkTrue "a code with a letter is named beside it: [$why]" test -n "$why" -a "$why" != "Code in Ordnung."
press IDC_ALARM_NEW
press IDC_APPLY
report=$(reportWith "Alarme, Alarm 4 (Code)")
checkTrue "Übernehmen names the alarm's code: [$report]" grep -q "^Alarme, Alarm 4 (Code): " <<<"$report"
checkTrue "a code with a letter writes nothing" unchanged
press IDC_ALARM_REMOVE
reportWith "entfernt" >/dev/null

# A code another alarm has is not taken.
set_field IDC_ALARM_CODE "23345"
check "a duplicate code is named beside it" "$(field IDC_ALARM_CODE_CHECK)" \
  "Schon vergeben: Alarm 1 „Feuerwehr Musterstadt: Einsatz für alle Kräfte“."
press IDC_ALARM_NEW
report=$(reportWith "Nicht angefügt")
checkTrue "a duplicate code is refused: [$report]" grep -q "^Nicht angefügt. Der Code 23345 ist schon vergeben" <<<"$report"

# A number with letters: the group is taken, "Übernehmen" refuses it.
nextTab
check "the second page shows" "$(ctl control-state "$caption" "$(id IDC_GROUP_NAME)")" "enabled visible"
set_field IDC_GROUP_NAME "Testgruppe"
set_field IDC_GROUP_NUMBERS "+49 160 55501X3"
ctl click "$caption" "$(id IDC_GROUP_ALL)"
press IDC_GROUP_NEW
# A multi-line field set by another program reports no change; the numbers
# are judged when they are taken.
reportWith "Testgruppe" >/dev/null
checkTrue "a number with letters is named beside it: [$(field IDC_GROUP_NUMBER_CHECK)]" \
  grep -q "^Nummer 1 „+49 160 55501X3“: " <<<"$(field IDC_GROUP_NUMBER_CHECK)"
press IDC_APPLY
report=$(reportWith "Empfänger, Gruppe 5 (Nummern)")
checkTrue "Übernehmen names the group's numbers: [$report]" grep -q "^Empfänger, Gruppe 5 (Nummern): " <<<"$report"
checkTrue "Übernehmen shows the refused group's page" test "$(ctl control-state "$caption" "$(id IDC_GROUP_NAME)")" \
  == "enabled visible"
checkTrue "a number with letters writes nothing" unchanged

# Corrected and applied, with a new alarm and the (fake) modem at COM7.
python3 "$(dirname "$0")/../sender/fake_modem.py" --link "$WINEPREFIX/dosdevices/com7" --record "$out/modem" &
modemPid=$!
for _ in $(seq 1 100); do [[ -e $out/modem.ready ]] && break; sleep 0.05; done
set_field IDC_MODEM_PORT "COM7"
set_field IDC_GROUP_NUMBERS "+49 160 5550123"
press IDC_GROUP_CHANGE
reportWith "geändert" >/dev/null
check "a good number is accepted beside it" "$(field IDC_GROUP_NUMBER_CHECK)" "Nummern in Ordnung."
set_field IDC_ALARM_TEXT "Testalarm Süd"
set_field IDC_ALARM_CODE "12345"
check "a free code is accepted beside it" "$(field IDC_ALARM_CODE_CHECK)" "Code in Ordnung."
press IDC_ALARM_NEW
press IDC_APPLY
for _ in $(seq 1 80); do [[ -s $app/SMSConfig1.dat ]] && break; sleep 0.25; done
report=$(field IDC_REPORT)
say "     report after Übernehmen: ${report//$'\n'/ | }"
checkTrue "Übernehmen wrote SMSConfig1.dat" test -s "$app/SMSConfig1.dat"
shown=$(wine "$config" show "$(winpath "$app/SMSConfig1.dat")" 2>&1 | tr -d '\r')
checkTrue "kantiq-config reads the new alarm's text" grep -q 'Testalarm Süd' <<<"$shown"
checkTrue "kantiq-config reads the new alarm's code" grep -q '12345' <<<"$shown"
# Neither the alarm with a letter (removed) nor the refused duplicate.
check "kantiq.toml has the new alarm besides the examples' three" "$(grep -c '^\[\[alarm\]\]' "$app/kantiq.toml")" 4
checkTrue "S.toml holds the new number" grep -q '"+49 160 5550123"' "$app/S.toml"
checked=$(wine "$app/S.exe" --pruefen 2>&1 | iconv -f CP1252 -t UTF-8 | tr -d '\r')
checkTrue "S.exe --pruefen lists the new group with its number" \
  grep -q '^  "Testgruppe": alle Alarmierungen; 1 Nummer$' <<<"$checked"
checkTrue "S.exe --pruefen counts five groups" grep -q '^Empfängergruppen: 5$' <<<"$checked"

# "Prüfen" in the window: S.exe's report in the report area.
press IDC_CHECK
report=$(reportWith "Rückgabewert")
checkTrue "Prüfen shows S.exe's groups: [$report]" grep -q '"Testgruppe": alle Alarmierungen; 1 Nummer' <<<"$report"

# "Test-SMS" asks for the number, refuses one with letters and sends to a
# good one.
press IDC_TEST_SMS
if ctl wait-window Test-SMS 10000 >/dev/null; then
  ctl set-text Test-SMS "$(id IDC_TEST_NUMBER)" "0170 12X"
  ctl click Test-SMS 1  # Senden
  sleep 1
  why=$(ctl get-text Test-SMS "$(id IDC_TEST_NUMBER_CHECK)")
  checkTrue "Test-SMS names what is wrong with the number: [$why]" grep -q "keine gültige Mobilfunknummer" <<<"$why"
  ctl set-text Test-SMS "$(id IDC_TEST_NUMBER)" "0170 5550124"
  ctl click Test-SMS 1
  ctl wait-gone Test-SMS 5000 || { say "FAIL Senden did not close the number dialog"; failed=1; }
  report=$(reportWith "Test-SMS an")
  checkTrue "the window says the test SMS went out: [${report//$'\n'/ | }]" \
    grep -q "^Test-SMS an 01705550124 gesendet." <<<"$report"
  checkTrue "and in a box" grep -q "^Test-SMS an 01705550124 gesendet." <<<"$(ctl msgbox-text Test-SMS 10000 | tr -d '\r')"
  ctl msgbox-ok Test-SMS
  check "the modem got the test text" "$(cut -f1,2 "$out/modem.sms" 2>/dev/null)" \
    "01705550124"$'\t'"$(sed -n 's/^test_text = "\(.*\)"$/\1/p' "$examples/S.toml")"
else
  say "FAIL Test-SMS did not ask for a number"
  failed=1
fi

# A change not applied: Schließen asks; Abbrechen keeps the window, Nein
# closes it without writing.
set_field IDC_MODEM_BAUD 9600
ctl click "$caption" 2  # Schließen (IDCANCEL)
check "Schließen with a change asks" "$(ctl msgbox-text "Kantiq-Einrichtung schließen" 10000)" "Änderungen übernehmen?"
ctl click "Kantiq-Einrichtung schließen" 2  # Abbrechen
ctl wait-gone "Kantiq-Einrichtung schließen" 5000
sleep 0.5
check "Abbrechen keeps the window" "$(ctl control-state "$caption" "$(id IDC_APPLY)" 2000)" "enabled visible"
ctl click "$caption" 2
ctl wait-window "Kantiq-Einrichtung schließen" 10000 >/dev/null && ctl click "Kantiq-Einrichtung schließen" 7  # Nein
ctl wait-gone "$caption" 10000 || { say "FAIL Nein did not close the window"; failed=1; kill "$pid"; }
wait "$pid"
check "exit status" "$?" 0
check "Nein writes nothing" "$(grep '^baudrate' "$app/S.toml")" "baudrate = 115200"

if ((failed)); then
  say "einrichtung_window: FAILED"
  exit 1
fi
say "einrichtung_window: all checks passed"
