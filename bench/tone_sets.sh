#!/usr/bin/env bash
# How Kantiq's detector hears each tone set at tone lengths the systems use:
# random codes, each written with kantiq-config into a configuration of its
# own together with the nine codes that differ from it in the last digit,
# played by the test signal kit (clean, half scale) and scanned by kantiq-scan
# as Kantiq's capture would. Prints calls raised and wrong codes raised.
#
#   bench/tone_sets.sh [--calls N] [BUILD_DIR]     (default 40 calls, build/native)
#
# The detector is tuned per set as in tests/scan/tone_set_round_trip_test.cpp.
set -euo pipefail
calls=40
if [[ ${1:-} == --calls ]]; then
  calls=$2
  shift 2
fi
build=${1:-build/native}
write_call=$build/tests/scan/write_call
config=$build/tools/kantiq-config/kantiq-config
scan=$build/tools/kantiq-scan/kantiq-scan
for t in "$write_call" "$config" "$scan"; do
  [[ -x $t ]] || { echo "tone_sets.sh: $t is missing; build $build first" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# set, tolerance (Hz), minimum frequency (Hz), tone lengths (ms) to try
rows=(
  "ZVEI1 50 1000 70"
  "ZVEI2 47 870 70"
  "DZVEI 47 870 70"
  "ZVEI3 47 870 70"
  "PZVEI 50 1000 70 100"
  "CCIR 30 1000 100 70"
  "CCITT 30 300 100 70"
  "EEA 30 1000 40 70"
  "EIA 50 359 33 70"
)
RANDOM=20261209
codes=()
for ((i = 0; i < calls; i++)); do
  printf -v code '%05d' $(((RANDOM * 32768 + RANDOM) % 100000))  # not in $(...): a subshell reseeds RANDOM
  codes+=("$code")
done

printf '%-6s %6s %9s %8s %7s\n' set tone_ms tolerance raised wrong
for row in "${rows[@]}"; do
  read -r set tolerance minimum lengths <<<"$row"
  for ms in $lengths; do
    raised=0 wrong=0
    for code in "${codes[@]}"; do
      {
        printf '[detector]\nfrequency_tolerance_hz = %s\nminimum_frequency_hz = %s\n' "$tolerance" "$minimum"
        printf '[[alarm]]\ntext = "Ruf"\ncode = "%s"\ntone_set = "%s"\n' "$code" "$set"
        for d in 0 1 2 3 4 5 6 7 8 9; do
          other=${code:0:4}$d
          [[ $other == "$code" ]] || printf '[[alarm]]\ntext = "Falsch"\ncode = "%s"\ntone_set = "%s"\n' "$other" "$set"
        done
      } >"$work/c.toml"
      "$config" write "$work/c.toml" "$work/k" >/dev/null 2>&1
      "$write_call" "$work/c.wav" "$code" 44100 16 "$set" "$ms"
      out=$("$scan" --quiet --config "$work/k/SMSConfig1.dat" "$work/c.wav" | cut -f3 || true)
      grep -qx Ruf <<<"$out" && raised=$((raised + 1))
      grep -qx Falsch <<<"$out" && wrong=$((wrong + 1))
    done
    printf '%-6s %6s %9s %5s/%-3s %5s\n' "$set" "$ms" "$tolerance" "$raised" "$calls" "$wrong"
  done
done
