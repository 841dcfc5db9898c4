#!/usr/bin/env bash
# capture_detect_test.sh PROBE_EXE TEST_SENDER_EXE
#
# The whole live chain: five-tone calls played with paplay into the null
# sink while the analysis thread runs the real detector, with the watchdogs
# started by the first frame.
#   1. One call raises exactly one alarm, with its text; it is logged and the
#      sender (the test sender as "S.exe") runs with the heap variable the
#      load watcher set.
#   2. A minute of calls with a capture restart every four seconds: every call
#      played is one alarm raised, except a call a restart cut into (the device
#      is closed and reopened, and what plays meanwhile is not heard).
#
# Runs inside scripts/wine-env.sh run (needs its WINEPREFIX, DISPLAY, PULSE_*).

set -uo pipefail
export LC_ALL=C
# PulseAudio hands a record stream its data in fragments of about two seconds
# unless the client asks for less; every reopened device would then stay
# silent that long. The program cannot choose this, the environment can.
export PULSE_LATENCY_MSEC=${PULSE_LATENCY_MSEC:-20}

failures=0
source "$(dirname "$0")/../../lib/checks.sh"

(($# == 2)) || die "usage: $0 PROBE_EXE TEST_SENDER_EXE"
[[ -f $1 ]] || die "probe not found: $1"
[[ -f $2 ]] || die "test sender not found: $2"
for v in KANTIQ_WINE_HOME WINEPREFIX PULSE_SERVER; do
    [[ -n ${!v:-} ]] || die "\$$v is not set: run this under scripts/wine-env.sh run -- ..."
done
[[ ${KANTIQ_WINE_AUDIO:-} == 1 ]] || die "the environment was started with --no-audio"

work=$(mktemp -d "${TMPDIR:-/tmp}/capture_detect.XXXXXX") || die "mktemp"
trap 'rm -rf -- "$work"' EXIT
# The program's folder: the probe, and the sender beside it.
mkdir "$work/app" || die "mkdir"
cp "$1" "$work/app/capture_probe.exe" && cp "$2" "$work/app/S.exe" || die "copy"
probe=$work/app/capture_probe.exe

# ZVEI1 tones of the digits 0 to 9; 70 ms each, half scale.
zvei=(2400 1060 1160 1270 1400 1530 1670 1830 2000 2200)
# call CODE GAP_SECONDS FILE: the code's five tones, then silence
call() {
    local parts=() digit i
    for ((i = 0; i < ${#1}; i++)); do
        digit=${1:i:1}
        sox -q -n -r 44100 -c 2 -b 16 "$work/t$i.wav" synth 0.07 sine "${zvei[digit]}" vol 0.5 ||
            die "sox failed"
        parts+=("$work/t$i.wav")
    done
    sox -q -n -r 44100 -c 2 -b 16 "$work/gap.wav" trim 0 "$2" || die "sox failed"
    sox -q "${parts[@]}" "$work/gap.wav" "$3" || die "sox failed"
}

source "$(dirname -- "$0")/probe_status.sh"

# run_probe FILE DELAY SCENARIO SECONDS RESTART_MS CODES...: plays FILE DELAY
# seconds after capture runs
run_probe() {
    local file=$1 delay=$2
    shift 2
    : >"$work/raw"
    wine "$probe" "$@" >"$work/raw" 2>&1 </dev/null &
    local pid=$! i
    for ((i = 0; i < 100; i++)); do
        grep -q '^recording' "$work/raw" && break
        sleep 0.1
    done
    grep -q '^recording' "$work/raw" || fail "capture did not start"
    sleep "$delay"
    paplay "$file" || fail "paplay failed"
    wait "$pid"
    local rc=$?
    tr -d '\r' <"$work/raw" >"$work/out"
    rc=$(probe_status "$rc" "$work/out")
    ((rc == 0)) || fail "probe exited with $rc"
}
summary() { sed -n "s/^summary:.* $1=\\([0-9]*\\).*/\\1/p" "$work/out"; }
alarms_of() { grep -c -F -x "$(printf 'alarm: L\xf6schzug %s' "$1")" <(sed 's/ | at_ms=.*//' "$work/out"); }
show() { sed "s/^/  $1: /" "$work/out" | iconv -f CP1252 -t UTF-8; }

# 1. One call among two configured alarms.
call 12345 0.3 "$work/one.wav"
run_probe "$work/one.wav" 1 detect-dispatch 6 600000 54321 12345
show "one call"
[[ $(summary alarms) == 1 ]] || fail "one call: $(summary alarms) alarms raised, expected 1"
[[ $(alarms_of 12345) == 1 ]] || fail "one call: the alarm 'Löschzug 12345' was not raised with its text"
[[ $(summary watchdogs) == 2 ]] || fail "one call: the first frame did not start both watchdogs"
[[ $(summary stop_thread) == 1 ]] || fail "one call: the worker did not end"
# The dispatch job asks for a restart, which the next frame carries out.
[[ $(summary restarts) == 1 ]] || fail "one call: $(summary restarts) restarts, expected the dispatch job's one"
grep -q "$(printf 'ALARMIERUNG: L\xf6schzug 12345')" "$work/app/KantiqLog.txt" 2>/dev/null ||
    fail "one call: the alarm log has no line for the alarm"
record=$work/app/sender-record.bin
[[ $(grep -ac '^START ' "$record" 2>/dev/null) == 1 ]] || fail "one call: the sender did not run once"
grep -aq '^START .* heap=__GLOBAL_HEAP_SELECTED,1 ' "$record" 2>/dev/null ||
    fail "one call: the sender did not see __MSVCRT_HEAP_SELECT=__GLOBAL_HEAP_SELECTED,1"
sed 's/^/  sender record: /' "$record" 2>/dev/null | iconv -f CP1252 -t UTF-8 -c

# 2. Calls every 2.5 s for a minute, restarts every 4 s.
call 12345 2.15 "$work/a.wav"
call 54321 2.15 "$work/b.wav"
call 67890 2.15 "$work/c.wav"
parts=()
for ((i = 0; i < 8; i++)); do parts+=("$work/a.wav" "$work/b.wav" "$work/c.wav"); done
sox -q "${parts[@]}" "$work/minute.wav" || die "sox failed"
run_probe "$work/minute.wav" 1 detect 63 4000 12345 54321 67890
show soak | grep -v ': restart: '
# Every call played is raised once, and nothing else is raised. A capture
# restart stops and reopens the device: the audio in between is not heard,
# so a call that a restart cuts into may be lost. Such a call is named, and
# excused only when a restart really fell inside it.
python3 - "$work/out" <<'PY' || fail "soak: calls lost or alarms raised that were not played"
import re, sys
codes = ["12345", "54321", "67890"]
period, calls = 2500, 24
alarms, restarts = [], []
for line in open(sys.argv[1], encoding="cp1252"):
    m = re.match(r"alarm: L.schzug (\d+) \| at_ms=(\d+)", line)
    if m:
        alarms.append((int(m.group(2)), codes.index(m.group(1))))
    m = re.match(r"restart: at_ms=(\d+)", line)
    if m:
        restarts.append(int(m.group(1)))
if not alarms:
    sys.exit("no alarms at all")
# Where call 0 completes: the offset that fits the alarms best to the pattern
# of the calls (one every 2.5 s, the codes in turn).
def misfit(o):
    return sum(min(abs(t - o - k * period) for k in range(j, calls, 3)) for t, j in alarms)
offset = min(range(0, 3 * period, 5), key=misfit)
ok = True
matched = set()
for k in range(calls):
    expected = offset + k * period
    hits = [i for i, (t, j) in enumerate(alarms) if j == k % 3 and abs(t - expected) <= 400]
    if len(hits) > 1:
        print(f"call {k} ({codes[k % 3]}) raised {len(hits)} times"); ok = False
    if hits:
        matched.update(hits)
        continue
    cut = [r for r in restarts if expected - 750 <= r <= expected + 150]
    if cut:
        print(f"call {k} ({codes[k % 3]}, due at {expected} ms) lost to the restart at {cut[0]} ms")
    else:
        print(f"call {k} ({codes[k % 3]}, due at {expected} ms) LOST without a restart"); ok = False
for i, (t, j) in enumerate(alarms):
    if i not in matched:
        print(f"alarm {codes[j]} at {t} ms belongs to no call played"); ok = False
lost = calls - len(matched)
print(f"{len(matched)} of {calls} calls raised, {lost} cut by restarts")
if lost > 3:
    print("more than three calls cut by restarts"); ok = False
sys.exit(0 if ok else 1)
PY
restarts=$(summary restarts)
((${restarts:-0} >= 12)) || fail "soak: only ${restarts:-no} capture restarts in a minute at one per 4 s"
[[ $(summary failed_restarts) == 0 ]] || fail "soak: $(summary failed_restarts) restarts failed"

((failures == 0)) || die "$failures check(s) failed"
echo "all live detection checks passed"
