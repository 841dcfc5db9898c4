#!/usr/bin/env bash
# Kantiq's start-up checks under Wine: the probe constructs the detector the
# way the application does, from a copy in a scratch folder, with and without
# the configuration files, with files it must refuse, and as a second
# instance. Each refusal must show its box (read and closed with winctl) and
# end the process with its own status: 3 for the configuration, 4 for a
# second instance (a watchdog restarts neither).
# Usage (inside scripts/wine-env.sh): config_gate_test.sh PROBE.exe WINCTL.exe KANTIQ-CONFIG.exe EXAMPLE.toml
set -u
probe=$1
winctl=$2
tool=$3
example=$4
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
source "$(dirname "$0")/../lib/checks.sh"

missing="'Brevalo Kantiq' ist noch nicht korrekt für den Betrieb konfiguriert."$'\n\n'"Grund: Kann Konfigurationsdatei von 'Brevalo' für 'Brevalo Kantiq' nicht finden."$'\n'"Bitte starten Sie 'Brevalo' und konfigurieren Sie 'Brevalo Kantiq' in den Optionseinstellungen."
formatError="'Brevalo Kantiq' hat einen Fehler in der Konfigurationsdatei festgestellt."$'\n'"Bitte starten Sie 'Brevalo' und konfigurieren Sie 'Brevalo Kantiq erneut."
newer="Es wurde eine Konfigurationsdatei von einer weiterentwickelten 'Brevalo Kantiq'-Version gefunden."$'\n'"Diese 'Brevalo Kantiq'-Version ist nicht in der Lage, die Datei zu öffnen."$'\n'"Laden Sie sich die aktuelle 'Brevalo Kantiq'-Version von unserer Homepage 'https://kantiq.example.org'"$'\n'"herunter, installieren Sie diese und versuchen Sie den Vorgang erneut. "
running="'Brevalo Kantiq' ist bereits gestartet"

# folder NAME [FILES...]: a scratch folder with a copy of the probe and the given files.
folder() {
  local dir=$scratch/$1
  shift
  mkdir -p "$dir"
  cp "$probe" "$dir/probe.exe"
  for f in "$@"; do cp "$f" "$dir/"; done
  echo "$dir"
}

# A good configuration, a folder for the current directory that holds it.
wine "$tool" write "$example" "$scratch/good-files" >/dev/null || fail "kantiq-config write failed"
good1=$scratch/good-files/SMSConfig1.dat
good2=$scratch/good-files/SMSConfig2.dat
elsewhere=$scratch/good-files

# encode NAME TEXT: a stored file of that raw text, in $scratch/NAME/SMSConfig1.dat.
encode() {
  mkdir -p "$scratch/$1"
  printf '%s' "$2" > "$scratch/$1.txt"
  wine "$tool" encode "$scratch/$1.txt" "$scratch/$1/SMSConfig1.dat" || fail "encode $1"
  echo "$scratch/$1/SMSConfig1.dat"
}

# refused DIR CAPTION TEXT WHAT [STATUS]: runs the probe, expects the box,
# closes it, expects the exit status (3: the configuration refused).
refused() {
  local dir=$1 caption=$2 want=$3 what=$4 status=${5:-3}
  (cd "$elsewhere" && exec wine "$dir/probe.exe") >"$scratch/out" 2>&1 &
  local pid=$!
  local text
  if ! text=$(wine "$winctl" msgbox-text "$caption" 30000); then
    fail "$what: no box \"$caption\"; probe said: $(cat "$scratch/out")"
    wine "$winctl" list >&2
    kill "$pid" 2>/dev/null
    wait "$pid"
    return
  fi
  [[ $text == "$want" ]] || fail "$what: box text
$text
expected
$want"
  wine "$winctl" msgbox-ok "$caption" 10000 || fail "$what: box did not close"
  wait "$pid"
  local rc=$?
  [[ $rc == "$status" ]] || fail "$what: exit status $rc, expected $status"
  grep -q loaded "$scratch/out" && fail "$what: the probe went on after the box"
}

# loads DIR WHAT PATTERN: the probe loads without a box and says PATTERN.
loads() {
  local dir=$1 what=$2 pattern=$3
  local out rc
  out=$(cd "$elsewhere" && timeout 60 wine "$dir/probe.exe" 2>&1)
  rc=$?
  [[ $rc == 0 ]] || fail "$what: exit status $rc: $out"
  grep -q -- "$pattern" <<<"$out" || fail "$what: expected '$pattern' in: $out"
}

# Missing files; the current directory holds good ones and must not count.
refused "$(folder none)" Fehler "$missing" "no files"
refused "$(folder only1 "$good1")" Fehler "$missing" "no SMSConfig2.dat"
refused "$(folder only2 "$good2")" Fehler "$missing" "no SMSConfig1.dat"

# Good and empty configurations start without a box.
loads "$(folder good "$good1" "$good2")" "good files" "loaded 3 alarms, requiredHits 2, restartInterval 3600000, counters reset"
loads "$(folder good "$good1" "$good2")" "good files" "first alarm: Feuerwehr Musterstadt"
: > "$scratch/empty.dat"
mkdir -p "$scratch/emptycfg" && cp "$scratch/empty.dat" "$scratch/emptycfg/SMSConfig1.dat"
loads "$(folder emptycfg "$good2")" "empty SMSConfig1.dat" "loaded 0 alarms"

# Format numbers and a file the program must not run with.
f=$(encode zero "0#1#")
refused "$(folder zero "$good2")" Fehler "$formatError" "format number 0"
f=$(encode nodigits "abc#25#")
refused "$(folder nodigits "$good2")" Fehler "$formatError" "format field without digits"
f=$(encode newer "99#25#")
refused "$(folder newer "$good2")" "Unbekanntes Format" "$newer" "newer format"
f=$(encode nosteps "100#25#300#2#1000#4#40#60000#90#30#3600000#Probealarm#0#")
refused "$(folder nosteps "$good2")" Fehler "'Brevalo Kantiq' hat einen Fehler in der Konfigurationsdatei festgestellt."$'\n\n'"Grund: Die Alarmierung Nr. 1 'Probealarm' hat keine Töne."$'\n'"Bitte starten Sie 'Brevalo' und konfigurieren Sie 'Brevalo Kantiq' erneut." "alarm without tones"

# A second instance, started from a folder without files while the first
# holds the guard, shows the instance message and never gets to the files.
first=$(folder holder "$good1" "$good2")
(cd "$elsewhere" && exec wine "$first/probe.exe" hold) >"$scratch/first.out" 2>&1 &
firstPid=$!
if wine "$winctl" wait-window Kantiq-Probe 30000; then
  refused "$(folder second)" Fehler "$running" "second instance" 4
  wine "$winctl" msgbox-ok Kantiq-Probe 10000 || fail "first instance: box did not close"
  wait "$firstPid" || fail "first instance: exit status $?"
  grep -q "loaded 3 alarms" "$scratch/first.out" || fail "first instance did not load: $(cat "$scratch/first.out")"
  # Once the first has ended the guard is free again.
  refused "$scratch/second" Fehler "$missing" "start after the first instance ended"
else
  fail "first instance: no box Kantiq-Probe: $(cat "$scratch/first.out")"
  kill "$firstPid" 2>/dev/null
fi

endChecks "start-up checks under Wine: all passed"
