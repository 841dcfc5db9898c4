#!/usr/bin/env bash
# audio_probe_test.sh PROBE_EXE
#
# Checks that the Wine test environment gives a recording program a working
# sound card: with nothing playing it records silence, and a tone played into
# the null sink with paplay arrives in its buffers. Finally, an environment
# started with --no-audio must show no wave-input device at all.
#
# Runs inside scripts/wine-env.sh run (needs its DISPLAY, WINEPREFIX, PULSE_*).

set -uo pipefail

source "$(dirname "$0")/../lib/checks.sh"

(($# == 1)) || die "usage: $0 PROBE_EXE"
probe=$1
[[ -f $probe ]] || die "probe not found: $probe"

for v in KANTIQ_WINE_HOME WINEPREFIX DISPLAY PULSE_SERVER; do
    [[ -n ${!v:-} ]] || die "\$$v is not set: run this under scripts/wine-env.sh run -- ..."
done
[[ ${KANTIQ_WINE_AUDIO:-} == 1 ]] || die "the environment was started with --no-audio"
pactl info >/dev/null 2>&1 || die "no PulseAudio server at $PULSE_SERVER"

wine_env=$(cd -- "$(dirname -- "$0")/../../scripts" && pwd)/wine-env.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/audio_probe_test.XXXXXX") || die "mktemp"
trap 'rm -rf -- "$work"' EXIT

# run_probe NAME SECONDS: starts the probe in the background; sets probe_pid.
run_probe() {
    wine "$probe" "$2" >"$work/$1.out" 2>&1 </dev/null &
    probe_pid=$!
}

# Waits until the probe has started recording (it says so on stdout).
wait_recording() {
    local i
    for ((i = 0; i < 100; i++)); do
        grep -q '^recording' "$work/$1.out" 2>/dev/null && return 0
        kill -0 "$probe_pid" 2>/dev/null || break
        sleep 0.1
    done
    cat "$work/$1.out" >&2
    die "$1: the probe did not start recording"
}

# expect_exit NAME WANTED: waits for the probe and checks its exit status.
expect_exit() {
    local rc
    wait "$probe_pid"
    rc=$?
    sed "s/^/  $1: /" "$work/$1.out"
    ((rc == $2)) || die "$1: probe exited with $rc, expected $2"
    echo "ok: $1"
}

# 1. Nothing playing: the null sink's monitor is silent.
run_probe silence 2
wait_recording silence
expect_exit silence 1

# 2. A 1 kHz tone at half scale played while the probe records.
sox -q -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 2 sine 1000 vol 0.5 ||
    die "sox could not generate the tone"
run_probe tone 3
wait_recording tone
paplay "$work/tone.wav" || die "paplay failed"
expect_exit tone 0
p2p=$(sed -n 's/.*peak-to-peak \([0-9]*\),.*/\1/p' "$work/tone.out")
((${p2p:-0} >= 64)) || die "tone: peak-to-peak ${p2p:-?} of a half-scale tone, expected at least 64"

# 3. A second environment without a sound server: no wave-input device.
# Its own scratch directory (not ours), but the same prefix template cache.
env -u KANTIQ_WINE_HOME "$wine_env" run --no-audio -- wine "$probe" 1 >"$work/no-audio.out" 2>&1
rc=$?
sed 's/^/  no-audio: /' "$work/no-audio.out"
((rc == 2)) || die "no-audio: probe exited with $rc, expected 2"
grep -q '^wave-input devices: 0' "$work/no-audio.out" || die "no-audio: a wave-input device was found"
echo "ok: no-audio"
