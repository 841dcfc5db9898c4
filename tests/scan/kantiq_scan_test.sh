#!/usr/bin/env bash
# kantiq-scan from the command line: output lines, JSON, exit codes, and a
# recording at another rate that has to be resampled.
#   kantiq_scan_test.sh KANTIQ_SCAN WRITE_CALL KANTIQ_CONFIG
set -u
scan=$1
write_call=$2
kantiq_config=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0
source "$(dirname "$0")/../lib/checks.sh"

printf '100#40#300#2#1000#4#8#10000#80#20#3600000#Wache S\xfcd#5#1060#0#0#1160#0#0#1270#0#0#1400#0#0#1530#0#0#' >"$dir/config.txt"
"$write_call" "$dir/a.wav" 12345 44100 8
"$write_call" "$dir/b.wav" 12345 22050 16
"$write_call" "$dir/c.wav" 54321 44100 16

out=$("$scan" --text "$dir/config.txt" --quiet "$dir/a.wav" "$dir/b.wav")
check "exit status with alarms" $? 0
check "two lines" "$(printf '%s\n' "$out" | wc -l)" 2
check "line of the 8-bit file" "$(printf '%s\n' "$out" | head -1)" "$dir/a.wav	1.301	Wache Süd"
check "resampled file raises too" "$(printf '%s\n' "$out" | sed -n 2p | cut -f3)" "Wache Süd"

"$kantiq_config" encode "$dir/config.txt" "$dir/SMSConfig1.dat" >/dev/null
check "the scrambled file" "$("$scan" --config "$dir/SMSConfig1.dat" --quiet "$dir/a.wav" | cut -f3)" "Wache Süd"
"$scan" --text "$dir/SMSConfig1.dat" --quiet "$dir/a.wav" >/dev/null 2>&1
check "a scrambled file is no text" $? 2

"$scan" --text "$dir/config.txt" --quiet "$dir/c.wav" >/dev/null
check "exit status without alarms" $? 1

json=$("$scan" --text "$dir/config.txt" --json --quiet "$dir/a.wav")
check "json" "$(printf '%s' "$json" | grep -o '{"seconds[^}]*}')" '{"seconds": 1.301, "text": "Wache Süd"}'

"$scan" --text "$dir/config.txt" --quiet "$dir/missing.wav" "$dir/a.wav" >/dev/null 2>&1
check "exit status with an unreadable file" $? 3

printf '100#40#300#2#1000#4#8#10000#80#20#3600000#Leer#0#' >"$dir/empty.txt"
"$scan" --text "$dir/empty.txt" --quiet "$dir/a.wav" >/dev/null 2>&1
check "a stepless alarm is refused" $? 2

"$scan" --text "$dir/config.txt" --points 512 --samples-per-buffer 1024 "$dir/a.wav" >/dev/null 2>&1
check "more samples per buffer than points is refused" $? 2

stderr=$("$scan" --text "$dir/config.txt" "$dir/a.wav" 2>&1 >/dev/null)
check "throughput line" "$(printf '%s' "$stderr" | grep -c 'times real time')" "1"

endChecks
