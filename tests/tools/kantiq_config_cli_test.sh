#!/usr/bin/env bash
# The kantiq-config command line as a script would use it: exit codes, files
# written or left alone, write/show round trip.
# Usage: kantiq_config_cli_test.sh EXAMPLE.toml COMMAND...   (COMMAND: the tool, or wine tool.exe)
set -u
example=$1
shift
tool=("$@")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

source "$(dirname "$0")/../lib/checks.sh"

# expect CODE DESCRIPTION -- ARGS...: runs the tool, keeps its output in $out.
expect() {
  local want=$1 what=$2
  shift 3
  out=$("${tool[@]}" "$@" 2>&1)
  local got=$?
  [[ $got == "$want" ]] || fail "$what: exit $got, expected $want; output:
$out"
}

# Writing the example, showing it, and writing what show printed gives the same bytes.
expect 0 "write example" -- write "$example" "$scratch/a"
[[ -f $scratch/a/SMSConfig1.dat && -f $scratch/a/SMSConfig2.dat ]] || fail "write made no files"
[[ -s $scratch/a/SMSConfig2.dat ]] && fail "SMSConfig2.dat is not empty"
expect 0 "show" -- show "$scratch/a/SMSConfig1.dat"
printf '%s\n' "$out" > "$scratch/shown.toml"
grep -q 'code = "23345"' "$scratch/shown.toml" || fail "show lost the five-tone code"
grep -q 'Kräfte' "$scratch/shown.toml" || fail "show lost the umlaut"
expect 0 "write shown" -- write "$scratch/shown.toml" "$scratch/b"
cmp -s "$scratch/a/SMSConfig1.dat" "$scratch/b/SMSConfig1.dat" || fail "write/show/write changed the file"
expect 0 "check" -- check "$scratch/a/SMSConfig1.dat"
grep -q 'würde diese Datei laden' <<<"$out" || fail "check did not say it loads: $out"
warnings=$(grep -c 'Warnung' <<<"$out")

# The sender gets an alarm's whole text, however long: a 600-byte text adds
# no warning.
long=$(printf 'Einsatz %.0s' {1..75})
sed "0,/^text = .*/s//text = \"$long\"/" "$example" > "$scratch/long-text.toml"
expect 0 "write long text" -- write "$scratch/long-text.toml" "$scratch/long-text"
expect 0 "check long text" -- check "$scratch/long-text/SMSConfig1.dat"
grep -q "$long" <<<"$out" || fail "check did not list the long text: $out"
[[ $(grep -c 'Warnung' <<<"$out") == "$warnings" ]] || fail "a long text changed the warnings: $out"

# Names outside Windows-1252 (the ANSI code page) open and print as they are.
cp "$example" "$scratch/Einrichtung für Jürgen.toml"
expect 0 "names outside the code page" -- write "$scratch/Einrichtung für Jürgen.toml" "$scratch/Kräfte ✓"
cmp -s "$scratch/a/SMSConfig1.dat" "$scratch/Kräfte ✓/SMSConfig1.dat" || fail "no file in 'Kräfte ✓'"
grep -q 'Kräfte ✓' <<<"$out" || fail "the folder's name did not print: $out"

# A broken source writes nothing: no folder made, an existing file untouched.
printf '[detector]\nrequired_hits = 9\n[[alarm]]\ntext = "x#y"\ncode = "12"\n' > "$scratch/broken.toml"
expect 1 "broken source" -- write "$scratch/broken.toml" "$scratch/c"
[[ -e $scratch/c ]] && fail "broken source made the folder"
grep -q 'broken.toml:2:.*required_hits' <<<"$out" || fail "no line for required_hits: $out"
grep -q 'broken.toml:4:.*#' <<<"$out" || fail "no line for the '#': $out"
cp "$scratch/a/SMSConfig1.dat" "$scratch/before"
expect 1 "broken source over existing" -- write "$scratch/broken.toml" "$scratch/a"
cmp -s "$scratch/before" "$scratch/a/SMSConfig1.dat" || fail "broken source changed the file"

# Kantiq.ini is written every time, with the defaults for what the source
# leaves out. An input Kantiq remembered survives a source that names none;
# a source that names one replaces it. An unreadable one stops the write.
grep -q $'^silence_limit_s = 120\r$' "$scratch/a/Kantiq.ini" || fail "no Kantiq.ini with the defaults"
printf 'input_name = "Line 1 (USB)"\r\ninput_position = 2\r\nsilence_limit_s = 0\r\n' > "$scratch/a/Kantiq.ini"
expect 0 "write keeps the remembered input" -- write "$example" "$scratch/a"
grep -q 'gemerkt und beibehalten' <<<"$out" || fail "write did not say it kept the input: $out"
grep -q $'^input_name = "Line 1 (USB)"\r$' "$scratch/a/Kantiq.ini" || fail "remembered input name lost"
grep -q $'^input_position = 2\r$' "$scratch/a/Kantiq.ini" || fail "remembered input position lost"
expect 0 "check shows the settings" -- check "$scratch/a/SMSConfig1.dat"
grep -q 'Kantiq.ini: Eingang "Line 1 (USB)" (der 2. dieses Namens), Stille-Prüfung nach 120 s' <<<"$out" ||
  fail "check did not show the settings: $out"
printf '[input]\nname = "Mikrofon (Hü)"\nsilence_limit_s = 0\n[[alarm]]\ntext = "A"\ncode = "12"\n' > "$scratch/input.toml"
expect 0 "write a named input" -- write "$scratch/input.toml" "$scratch/a"
grep -qa $'^input_name = "Mikrofon (H\xfc)"\r$' "$scratch/a/Kantiq.ini" || fail "named input not written"
grep -q $'^input_position = 1\r$' "$scratch/a/Kantiq.ini" || fail "named input kept the old position"
grep -q $'^silence_limit_s = 0\r$' "$scratch/a/Kantiq.ini" || fail "silence limit not written"
mkdir -p "$scratch/d/Kantiq.ini"
expect 3 "unreadable Kantiq.ini" -- write "$example" "$scratch/d"
[[ -e $scratch/d/SMSConfig1.dat ]] && fail "unreadable Kantiq.ini: SMSConfig1.dat written anyway"
expect 0 "write the example again" -- write "$example" "$scratch/a"

# Files the program would refuse.
head -c 200 "$scratch/a/SMSConfig1.dat" > "$scratch/cut.dat"
expect 1 "check cut file" -- check "$scratch/cut.dat"
grep -q 'unvollständig' <<<"$out" || fail "cut file not reported as incomplete: $out"
expect 1 "show cut file" -- show "$scratch/cut.dat"
head -c 140000 /dev/zero | tr '\0' 'A' > "$scratch/long.dat"
expect 1 "check long file" -- check "$scratch/long.dat"
grep -q 'zu groß' <<<"$out" || fail "long file not reported: $out"
: > "$scratch/empty.dat"
expect 0 "check empty file" -- check "$scratch/empty.dat"
grep -q 'keine Alarme' <<<"$out" || fail "empty file: no warning about alarms: $out"

# A .toml file dropped onto the program: written into the program's own folder
# (a copy of the tool in a folder of its own), then it waits for a key. The
# key comes through a FIFO, so the test sees the wait.
app="$scratch/app"
mkdir -p "$app"
cp "${tool[-1]}" "$app/"
drop=("${tool[@]:0:${#tool[@]}-1}" "$app/$(basename "${tool[-1]}")")
cp "$example" "$scratch/Einrichtung.toml"
mkfifo "$scratch/key"
exec 7<>"$scratch/key"
"${drop[@]}" "$scratch/Einrichtung.toml" <"$scratch/key" >"$scratch/drop.out" 2>&1 &
pid=$!
for ((i = 0; i < 300; i++)); do
  grep -q 'Taste' "$scratch/drop.out" 2>/dev/null && break
  sleep 0.1
done
sleep 0.5
if kill -0 "$pid" 2>/dev/null; then
  printf 'x' >&7
  wait "$pid"
  got=$?
  [[ $got == 0 ]] || fail "drop: exit $got, expected 0: $(cat "$scratch/drop.out")"
else
  wait "$pid"
  fail "drop: did not wait for a key: $(cat "$scratch/drop.out")"
fi
exec 7>&-
cmp -s "$scratch/a/SMSConfig1.dat" "$app/SMSConfig1.dat" || fail "drop did not write the program's folder"
[[ -f $app/SMSConfig2.dat ]] || fail "drop wrote no SMSConfig2.dat"
grep -q 'Einrichtung übernehmen' "$scratch/drop.out" || fail "drop: no German heading: $(cat "$scratch/drop.out")"
grep -q 'Fertig' "$scratch/drop.out" || fail "drop: no success line: $(cat "$scratch/drop.out")"
# A broken source: nothing written, the same wait (here: the end of input).
cp "$scratch/broken.toml" "$scratch/Kaputt.TOML"
cp "$app/SMSConfig1.dat" "$scratch/before-drop"
out=$("${drop[@]}" "$scratch/Kaputt.TOML" </dev/null 2>&1)
got=$?
[[ $got == 1 ]] || fail "broken drop: exit $got, expected 1: $out"
grep -q 'nicht übernommen' <<<"$out" || fail "broken drop: no failure line: $out"
cmp -s "$scratch/before-drop" "$app/SMSConfig1.dat" || fail "broken drop changed the file"

# Command line.
for sub in "" write show check; do
  expect 0 "help $sub" -- $sub --help
done
expect 2 "unknown option" -- check --frob x
expect 2 "missing argument" -- write "$example"
expect 3 "missing file" -- check "$scratch/none.dat"

endChecks "kantiq-config command line: all checks passed"
