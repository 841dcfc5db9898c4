#!/usr/bin/env bash
# capture_live_test.sh PROBE_EXE
#
# The capture chain on a real (PulseAudio) sound card: tones played with
# paplay into the null sink must arrive in the spectrum at every offered
# width and rate, with seven buffers queued and the ring taken in order;
# reconfiguration, a stall behind slow frames, stop thread and a machine
# without a sound card behave as the program needs.
#
# Runs inside scripts/wine-env.sh run (needs its WINEPREFIX, DISPLAY, PULSE_*).

set -uo pipefail
export LC_ALL=C
# PulseAudio hands a record stream its data in fragments of about two seconds
# unless the client asks for less; every reopened device would then stay
# silent that long. The program cannot choose this, the environment can.
export PULSE_LATENCY_MSEC=${PULSE_LATENCY_MSEC:-20}

source "$(dirname "$0")/../../lib/checks.sh"
failures=0

(($# == 1)) || die "usage: $0 PROBE_EXE"
probe=$1
[[ -f $probe ]] || die "probe not found: $probe"
for v in KANTIQ_WINE_HOME WINEPREFIX PULSE_SERVER; do
    [[ -n ${!v:-} ]] || die "\$$v is not set: run this under scripts/wine-env.sh run -- ..."
done
[[ ${KANTIQ_WINE_AUDIO:-} == 1 ]] || die "the environment was started with --no-audio"

wine_env=$(cd -- "$(dirname -- "$0")/../../../scripts" && pwd)/wine-env.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/capture_live.XXXXXX") || die "mktemp"
player=''
cleanup() {
    [[ -n $player ]] && kill "$player" 2>/dev/null
    rm -rf -- "$work"
}
trap cleanup EXIT

tone() { # tone FILE HZ SECONDS
    sox -q -n -r 44100 -c 2 -b 16 "$1" synth "$3" sine "$2" vol 0.5 || die "sox failed"
}

# field NAME KEY: the value of KEY= on the probe's line starting with NAME
field() {
    sed -n "s/^$1:.* $2=\\([-0-9.]*\\).*/\\1/p; s/^$1: $2=\\([-0-9.]*\\).*/\\1/p" "$work/out" | head -n 1
}
# value KEY: a line of its own, KEY=VALUE
value() { sed -n "s/^$1=\\([-0-9]*\\).*/\\1/p" "$work/out" | head -n 1; }

expect() { # expect WHAT GOT WANTED
    [[ $2 == "$3" ]] || fail "$1: got '${2:-nothing}', expected '$3'"
}
expect_near() { # expect_near WHAT GOT WANTED TOLERANCE
    [[ -n $2 ]] && awk -v g="$2" -v w="$3" -v t="$4" 'BEGIN { exit !(g - w <= t && w - g <= t) }' ||
        fail "$1: got '${2:-nothing}', expected $3 +- $4"
}
expect_at_least() { # expect_at_least WHAT GOT MINIMUM
    [[ -n $2 ]] && (($2 >= $3)) || fail "$1: got '${2:-nothing}', expected at least $3"
}

source "$(dirname -- "$0")/probe_status.sh"

# run_probe ARGS...: starts the probe; waits until it records; sets probe_pid.
run_probe() {
    # Raw output: a pipe would hold the probe's lines back until it ends.
    : >"$work/raw"
    wine "$probe" "$@" >"$work/raw" 2>&1 </dev/null &
    probe_pid=$!
    local i
    for ((i = 0; i < 100; i++)); do
        grep -q '^recording' "$work/raw" 2>/dev/null && return 0
        kill -0 "$probe_pid" 2>/dev/null || break
        sleep 0.1
    done
    cat "$work/raw" >&2
    fail "$*: capture did not start"
    return 1
}
finish_probe() { # finish_probe NAME
    wait "$probe_pid"
    local rc=$?
    tr -d '\r' <"$work/raw" >"$work/out"
    rc=$(probe_status "$rc" "$work/out")
    sed "s/^/  $1: /" "$work/out"
    ((rc == 0)) || fail "$1: probe exited with $rc"
}
play() { paplay "$1" & player=$!; }
played() { wait "$player" || fail "paplay failed"; player=''; }

tone "$work/1500.wav" 1500 2.5
tone "$work/1000.wav" 1000 14
tone "$work/1000short.wav" 1000 1.5
tone "$work/2000.wav" 2000 16

# 1. Every width and rate: the played tone is the spectrum's strongest, seven
#    buffers are queued at start and at every frame, the ring is taken in order.
for bits in 8 16; do
    for rate in 11025 22050 44100; do
        name="capture $bits bits $rate Hz"
        run_probe capture "$bits" "$rate" 3 || continue
        play "$work/1500.wav"
        played
        finish_probe "$name"
        expect "$name: opened rate" "$(sed -n 's/^opened: rate=\([0-9]*\).*/\1/p' "$work/out")" "$rate"
        expect "$name: opened bits" "$(field opened bits)" "$bits"
        expect "$name: queued after start" "$(field opened queued_after_start)" 7
        expect "$name: transform rate" "$(field capture rate)" "$rate"
        bin=$(field capture bin_hz)
        expect_near "$name: strongest tone" "$(field capture peak_hz)" 1500 "$(awk -v b="${bin:-0}" 'BEGIN { print 2 * b }')"
        expect_at_least "$name: frames with the tone" "$(field capture tone_frames)" 10
        expect "$name: fewest queued in a frame" "$(field capture queued_min)" 7
        expect "$name: most queued in a frame" "$(field capture queued_max)" 7
        expect "$name: ring order breaks" "$(field capture ring_breaks)" 0
        expect "$name: queued after stop" "$(field stopped queued)" 0
        expect "$name: stop thread" "$(value stop_thread)" 1
    done
done

# 2. Reconfiguration while a tone plays.
if run_probe reconfigure; then
    play "$work/1000.wav"
    finish_probe reconfigure
    played
    expect "same values: result" "$(value same_result)" 1
    expect "same values: devices opened" "$(field same opens_added)" 0
    expect "same values: recording" "$(field same recording)" 1
    expect_at_least "same values: frames carried on" "$(field same frames_added)" 5
    expect "same values: ring order breaks" "$(field same ring_breaks)" 0
    expect "new rate: result" "$(value rate_result)" 1
    expect "new rate: devices opened" "$(field rate opens_added)" 1
    expect "new rate: opened at" "$(field rate opened_rate)" 22050
    expect "new rate: opened bits" "$(field rate opened_bits)" 16
    expect "new rate: recording" "$(field rate recording)" 1
    expect "new rate: transform rate" "$(sed -n 's/^rate: frames.* rate=\([0-9]*\).*/\1/p' "$work/out")" 22050
    expect_near "new rate: strongest tone" "$(field rate peak_hz)" 1000 44
    expect "new rate: ring order breaks" "$(field rate ring_breaks)" 0
    expect "while stopped: result" "$(value stopped_result)" 1
    expect "while stopped: devices opened" "$(field stopped opens_added)" 0
    expect "while stopped: frames" "$(field stopped frames_added)" 0
    expect "while stopped: recording" "$(field stopped recording)" 0
    expect "while stopped: new rate kept" "$(field stopped rate)" 11025
    expect "reconfigure: stop thread" "$(value stop_thread)" 1
fi

# 3. Frames far slower than the buffers: after a restart requested at the end
#    of a frame, capture delivers the tone playing now.
if run_probe stall; then
    play "$work/1000short.wav"
    for ((i = 0; i < 100; i++)); do
        grep -q '^switch' "$work/raw" && break
        sleep 0.1
    done
    played
    play "$work/2000.wav"
    finish_probe stall
    kill "$player" 2>/dev/null
    wait "$player" 2>/dev/null
    player=''
    expect "stall: restart result" "$(sed -n 's/^restart_in_frame=1 restart_result=\([0-9]*\)$/\1/p' "$work/out")$(value restart_from_main)" 1
    expect "stall: second tone after the restart" "$(field after_restart second_tone)" 1
    expect_at_least "stall: frames in the second after the restart" "$(field after_restart frames_in_1s)" 5
    expect "stall: ring order breaks" "$(field after ring_breaks)" 0
    expect "stall: stop thread" "$(value stop_thread)" 1
fi

# 4. Wakes after stop take nothing; stop thread during a slow frame lets it
#    finish and ends the worker.
if run_probe stopthread; then
    play "$work/1000.wav"
    finish_probe stopthread
    kill "$player" 2>/dev/null
    wait "$player" 2>/dev/null
    player=''
    expect_at_least "stop thread: frames before stop" "$(field wake_after_stop frames_before)" 3
    expect "stop thread: frames from wakes after stop" "$(field wake_after_stop frames_added)" 0
    expect "stop thread: worker ended" "$(value stop_thread)" 1
    expect "stop thread: slow frame reached" "$(sed -n 's/.* slow_frame=\([0-9]*\).*/\1/p' "$work/out")" 1
    expect "stop thread: frames left unfinished" "$(sed -n 's/.* unfinished=\([0-9]*\).*/\1/p' "$work/out")" 0
    expect "stop thread: frames after the worker ended" "$(sed -n 's/.* frames_after=\([0-9]*\).*/\1/p' "$work/out")" 0
fi

# 5. Without a sound server: no device; monitoring is switched on all the
#    same and waits for one, says the input is missing and shows no box.
env -u KANTIQ_WINE_HOME "$wine_env" run --no-audio -- wine "$probe" nodevice 2>/dev/null </dev/null |
    tr -d '\r' >"$work/out"
sed 's/^/  no sound card: /' "$work/out"
expect "no sound card: devices" "$(value devices)" 0
expect "no sound card: start" "$(value start)" 1
expect "no sound card: the input is missing" "$(value missing)" 1
expect "no sound card: nothing delivered" "$(value delivering)" 0
grep -q '^box: ' "$work/out" && fail "no sound card: a box was shown: $(grep '^box: ' "$work/out")"

((failures == 0)) || die "$failures check(s) failed"
echo "all live capture checks passed"
