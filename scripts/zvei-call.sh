#!/usr/bin/env bash
# Writes a ZVEI1 five-tone call as a WAV file (44100 Hz, 16-bit mono):
#   zvei-call.sh CODE OUT.wav
# Each digit is a 70 ms tone (1=1060 2=1160 3=1270 4=1400 5=1530 6=1670
# 7=1830 8=2000 9=2200 0=2400 Hz); a digit whose tone equals the tone just
# sent goes out as the repeat tone 2600 Hz instead, so 33333 is 3 R 3 R 3.
# 0.6 s of silence follow the call.
set -euo pipefail
code=${1:?usage: zvei-call.sh CODE OUT.wav}
out=${2:?usage: zvei-call.sh CODE OUT.wav}
[[ $code =~ ^[0-9]+$ ]] || { echo "zvei-call: digits only: $code" >&2; exit 2; }
zvei=(2400 1060 1160 1270 1400 1530 1670 1830 2000 2200)
args=()
prev=''
for ((i = 0; i < ${#code}; i++)); do
  d=${code:i:1}
  if [[ ${zvei[d]} == "$prev" ]]; then f=2600; else f=${zvei[d]}; fi
  prev=$f
  ((${#args[@]})) && args+=(:)
  args+=(synth 0.07 sine "$f" vol 0.5)
done
sox -n -r 44100 -c 1 -b 16 "$out" "${args[@]}" : synth 0.6 sine 0 vol 0
