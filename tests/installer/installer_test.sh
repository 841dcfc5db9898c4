#!/usr/bin/env bash
# The setup program in a fresh Wine prefix, as a user would meet it: a silent
# install into a folder with a space in its name, the Start-menu entries and
# the autostart entry used (it starts the watchdog, which starts Kantiq),
# an upgrade over a running watchdog and Kantiq with changed files, the
# uninstaller, and the setup's pages by hand. Run inside scripts/wine-env.sh
# (display and sound):
#   installer_test.sh SETUP.exe VERSION setup_probe.exe winctl.exe \
#       Kantiq.exe kantiq-config.exe S.exe KantiqWache.exe OUTDIR \
#       Kantiq-Einrichtung.exe
# OUTDIR keeps the outputs and a screenshot of each page of the setup.
set -uo pipefail

setup=$1 version=$2 probe=$3 winctl=$4 kantiq=$5 config=$6 sender=$7 wache=$8 out=$9 setupWindow=${10}
rm -rf "$out"
mkdir -p "$out"
failed=0
# A key written to a window that has already gone must fail that check, not
# end the script.
trap '' PIPE

source "$(dirname "$0")/../lib/checks.sh"

ctl() { wine "$winctl" "$@"; }
winpath() { winepath -w "$1" 2>/dev/null; }
unixpath() { winepath -u "$1" 2>/dev/null; }
setupWin=$(winpath "$setup")

main='Brevalo Kantiq'
# The running main window's handle, empty when there is none.
mainHandle() { ctl list | tr -d '\r' | awk -F'\t' -v c="$main" '$2 == "#32770" && $3 == "visible" && $4 == c { print $1 }'; }
toggleText() { ctl get-text "$main" 1003 2>/dev/null; }
# The watchdog's hidden window, empty when none runs.
wacheHandle() { ctl list | tr -d '\r' | awk -F'\t' '$2 == "KantiqWache" { print $1 }'; }
wacheLog() { [[ -f $dir/KantiqWache.txt ]] && iconv -f CP1252 -t UTF-8 "$dir/KantiqWache.txt" | tr -d '\r' || true; }
wacheCount() { wacheLog | grep -c -- "$1" || true; }

appDataWin=$(wine cmd /c echo '%APPDATA%' | tr -d '\r')
menu=$(unixpath "$appDataWin\\Microsoft\\Windows\\Start Menu\\Programs\\Kantiq")
runKey='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
uninstallKey='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kantiq'
regValue() { # key value: the value's data, empty when missing
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -nE "s/^ +$2 +REG_[A-Z_]+ +//p"
}

programs=(Kantiq.exe kantiq-config.exe S.exe KantiqWache.exe Kantiq-Einrichtung.exe)
built=("$kantiq" "$config" "$sender" "$wache" "$setupWindow")
# The setup window first; the text files' entries one level down.
textEntries=("Einrichtung bearbeiten" "Einrichtung übernehmen")
entries=("Einrichtung" "Kantiq" "Textdateien/Einrichtung bearbeiten" "Textdateien/Einrichtung übernehmen"
         "Sendeprogramm prüfen" "Protokolle" "Kurzanleitung" "Kantiq deinstallieren")

# ---------------------------------------------------------------------------
say "== silent install into a folder of the user's choice"
dirWin='C:\Alarm PC\Kantiq'
dir=$(unixpath "$dirWin")
# A Windows command line as typed: /D= takes the rest of it, spaces and all.
wine "$probe" start "\"$setupWin\" /S /D=$dirWin"
check "setup exit code" "$?" "0"
for i in "${!programs[@]}"; do
  checkTrue "${programs[i]} installed as built" cmp -s "${built[i]}" "$dir/${programs[i]}"
done
for f in Kurzanleitung.txt kantiq.toml S.toml Beispiele/kantiq.toml Beispiele/S.toml; do
  checkTrue "$f installed" test -s "$dir/$f"
done
checkTrue "no configuration written by the setup" test ! -e "$dir/SMSConfig1.dat"
for e in "${entries[@]}"; do
  checkTrue "Start menu: $e" test -f "$menu/$e.lnk"
done
for e in "${textEntries[@]}"; do
  checkTrue "not at the top: $e" test ! -e "$menu/$e.lnk"
done
shortcut() { wine "$probe" shortcut "$(winpath "$menu/$1.lnk")" | tr -d '\r'; }
check "Einrichtung starts the setup window" "$(shortcut Einrichtung | head -n1)" "Target=$dirWin\\Kantiq-Einrichtung.exe"
check "Kantiq entry starts the watchdog" "$(shortcut Kantiq | head -n1)" "Target=$dirWin\\KantiqWache.exe"
checkTrue "Einrichtung bearbeiten opens kantiq.toml in Notepad" \
  grep -qiE "^Target=.*\\\\notepad\\.exe$" <<<"$(shortcut 'Textdateien/Einrichtung bearbeiten')"
check "Einrichtung bearbeiten's file" "$(shortcut 'Textdateien/Einrichtung bearbeiten' | sed -n 2p)" \
  "Arguments=\"$dirWin\\kantiq.toml\""
check "Protokolle opens the program folder" "$(shortcut Protokolle | head -n1)" "Target=$dirWin"
check "Kurzanleitung entry" "$(shortcut Kurzanleitung | head -n1)" "Target=$dirWin\\Kurzanleitung.txt"
checkTrue "Sendeprogramm prüfen runs the sender's check" \
  grep -qF "\"$dirWin\\S.exe\" --pruefen" <<<"$(shortcut 'Sendeprogramm prüfen')"
check "autostart entry starts the watchdog" "$(regValue "$runKey" Kantiq)" "\"$dirWin\\KantiqWache.exe\""
check "uninstall entry: version" "$(regValue "$uninstallKey" DisplayVersion)" "$version"

say "== Einrichtung übernehmen"
# The entry's own command, started the way the Start menu starts it; its
# window must wait for a key.
mkfifo "$out/keys"
wine "$probe" run "$(winpath "$menu/Textdateien/Einrichtung übernehmen.lnk")" <"$out/keys" >"$out/apply.txt" 2>&1 &
applyPid=$!
exec 7>"$out/keys"
for _ in $(seq 1 100); do [[ -s $dir/SMSConfig1.dat ]] && break; sleep 0.1; done
sleep 1
checkTrue "configuration written" test -s "$dir/SMSConfig1.dat" -a -e "$dir/SMSConfig2.dat"
checkTrue "the window waits for a key" kill -0 "$applyPid"
echo >&7
exec 7>&-
wait "$applyPid"
check "exit code after the key" "$?" "0"
checkTrue "what kantiq-config said is shown" grep -q "SMSConfig1.dat" "$out/apply.txt"

say "== Kantiq started by its autostart entry, through the watchdog"
wine "$probe" start "$(regValue "$runKey" Kantiq)" &
autoPid=$!
checkTrue "the window appears" ctl wait-window "$main" 20000
for _ in $(seq 1 50); do [[ $(toggleText) == "Kantiq jetzt deaktivieren" ]] && break; sleep 0.1; done
check "monitoring is on with the written configuration" "$(toggleText)" "Kantiq jetzt deaktivieren"
checkTrue "the watchdog runs" test -n "$(wacheHandle)"
check "the watchdog started Kantiq" "$(wacheCount 'Kantiq gestartet (Prozess ')" "1"
before=$(mainHandle)
# The program files as they are before the upgrade (their change time).
sleep 1.1
changed() { stat -c %Z "$dir/$1"; }
kantiqBefore=$(changed Kantiq.exe)
wacheBefore=$(changed KantiqWache.exe)

say "== upgrade over the running Kantiq"
printf '\n# geändert vor dem Upgrade\n' >>"$dir/S.toml"
printf '\n# geändert vor dem Upgrade\n' >>"$dir/kantiq.toml"
printf '01.02.2026 03:04:05: ALARMIERUNG: Probe\r\n' >>"$dir/KantiqLog.txt"
printf 'Probe\r\n' >>"$dir/SendeLog.txt"
printf 'veraltet\r\n' >"$dir/Beispiele/S.toml"
printf 'veraltet\r\n' >"$dir/Kurzanleitung.txt"
# An older version's entries for the text files, at the top of the folder.
for e in "${textEntries[@]}"; do cp "$menu/Textdateien/$e.lnk" "$menu/$e.lnk"; done
mkdir -p "$out/kept"
kept=(S.toml kantiq.toml KantiqLog.txt SendeLog.txt SMSConfig1.dat SMSConfig2.dat)
for f in "${kept[@]}"; do cp "$dir/$f" "$out/kept/$f"; done
# No /D: the setup finds the installed copy itself.
wine "$setup" /S
check "upgrade exit code" "$?" "0"
wait "$autoPid"
check "the watchdog was closed normally" "$?" "0"
check "the watchdog left Kantiq to the setup" "$(wacheCount 'Die Wache wurde beendet')" "1"
checkTrue "Kantiq.exe replaced" test "$(changed Kantiq.exe)" -gt "$kantiqBefore"
checkTrue "KantiqWache.exe replaced" test "$(changed KantiqWache.exe)" -gt "$wacheBefore"
# Kept as they were; the send log may have grown since (every start of
# Kantiq tells whoever looks after the PC through S.exe), but keeps all it had.
keeps() { # file
  if [[ $1 == SendeLog.txt ]]; then
    cmp -s -n "$(stat -c %s "$out/kept/$1")" "$out/kept/$1" "$dir/$1"
  else
    cmp -s "$out/kept/$1" "$dir/$1"
  fi
}
for f in "${kept[@]}"; do
  checkTrue "upgrade keeps $f" keeps "$f"
done
for e in "${textEntries[@]}"; do
  checkTrue "upgrade moves $e into Textdateien" test ! -e "$menu/$e.lnk" -a -f "$menu/Textdateien/$e.lnk"
done
checkTrue "upgrade renews the shipped example" grep -q '^\[modem\]' "$dir/Beispiele/S.toml"
checkTrue "upgrade renews the quick guide" grep -q 'Kurzanleitung' "$dir/Kurzanleitung.txt"
checkTrue "Kantiq runs again after the upgrade" ctl wait-window "$main" 20000
after=$(mainHandle)
checkTrue "in a new window" test -n "$after" -a "$after" != "$before"
checkTrue "under a new watchdog" test -n "$(wacheHandle)"
check "which started it" "$(wacheCount 'Wache gestartet') $(wacheCount 'Kantiq gestartet (Prozess ')" "2 2"
check "no crash seen" "$(wacheCount 'unerwartet')" "0"

say "== a folder under Program Files is refused"
wine "$probe" start "\"$setupWin\" /S /D=C:\\Program Files\\Kantiq"
check "setup exit code" "$?" "2"
checkTrue "nothing installed there" test ! -e "$(unixpath 'C:\Program Files\Kantiq')"

say "== uninstall (silent: the data stays)"
# The uninstaller runs from a copy of itself and returns at once.
wine "$dir/Deinstallation.exe" /S
for _ in $(seq 1 300); do [[ -e $dir/Deinstallation.exe ]] || break; sleep 0.1; done
checkTrue "the uninstaller is gone" test ! -e "$dir/Deinstallation.exe"
checkTrue "Kantiq was closed" ctl wait-gone "$main" 5000
check "and its watchdog" "$(wacheHandle)" ""
checkTrue "the watchdog's log stays" test -s "$dir/KantiqWache.txt"
for f in "${programs[@]}" Kurzanleitung.txt Beispiele; do
  checkTrue "$f removed" test ! -e "$dir/$f"
done
checkTrue "Start-menu folder removed" test ! -e "$menu"
check "autostart entry removed" "$(regValue "$runKey" Kantiq)" ""
checkTrue "uninstall entry removed" bash -c "! wine reg query '$uninstallKey' >/dev/null 2>&1"
for f in "${kept[@]}"; do
  checkTrue "uninstall keeps $f" keeps "$f"
done

say "== the setup by hand"
# The caption ends in the page's name.
wizard="Installation von Brevalo Kantiq $version*"
page() { # name: a screenshot of the page now shown
  sleep 0.5
  import -window root "$out/setup-$1.png"
}
wine "$setup" &
setupPid=$!
checkTrue "the setup's window opens" ctl wait-window "$wizard" 20000
page 1-welcome
check "welcome page's button" "$(ctl get-text "$wizard" 1)" "&Weiter >"
ctl click "$wizard" 1
page 2-components
ctl click "$wizard" 1
page 3-folder
check "default folder" "$(ctl get-text "$wizard" 1019)" 'C:\Kantiq'
check "install button with the default folder" "$(ctl control-state "$wizard" 1)" "enabled visible"
ctl set-text "$wizard" 1019 'C:\Program Files\Kantiq'
page 3-folder-refused
check "install button under Program Files" "$(ctl control-state "$wizard" 1)" "disabled visible"
ctl set-text "$wizard" 1019 'C:\Kantiq'
ctl click "$wizard" 1
for _ in $(seq 1 100); do [[ $(ctl get-text "$wizard" 1 2>/dev/null) == "&Fertigstellen" ]] && break; sleep 0.1; done
page 4-finished
check "finish page's button" "$(ctl get-text "$wizard" 1)" "&Fertigstellen"
# Not the quick guide now: Notepad would stay open.
ctl click "$wizard" 1203
ctl click "$wizard" 1
wait "$setupPid"
check "setup exit code" "$?" "0"
checkTrue "installed into C:\\Kantiq" test -f "$(unixpath 'C:\Kantiq')/Kantiq.exe"
check "autostart entry, on by default" "$(regValue "$runKey" Kantiq)" '"C:\Kantiq\KantiqWache.exe"'

if ((failed)); then
  say "SOME CHECKS FAILED (outputs and screenshots in $out)"
  exit 1
fi
say "all checks passed (screenshots of the setup's pages in $out)"
