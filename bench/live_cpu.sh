#!/usr/bin/env bash
# What listening costs Kantiq.exe itself under Wine: a bare capture loop of
# the program's format (bench/bare_capture_win.cpp: 44100 Hz, 8-bit mono,
# eight buffers of 1472 samples, seven queued, recycled, nothing else) and
# Kantiq.exe listen to the same sound input at the same time, while calls of
# several codes are played at a steady pace over steady noise, and the CPU
# time of each Windows process over that time is compared. Measured side by
# side, both see the same load around them: on a shared virtual machine the
# host's load changes a bare loop's figure by half from one minute to the
# next.
#
#   bench/live_cpu.sh [--minutes N | --seconds N] [--pace S | --quiet]
#                     [--settle S] [--build DIR] [--out DIR]
#
#   --minutes N   how long both listen (default 13)
#   --seconds N   the same in seconds, for short runs
#   --pace S      seconds from one call's start to the next (default 6)
#   --quiet       noise only, no calls: how the program spends nearly all of
#                 its time (every alarm also restarts capture and starts the
#                 sender, which a call every few seconds makes look common)
#   --settle S    seconds after start-up before the clock runs (default 3)
#   --build DIR   the Windows build (default build/win32)
#   --out DIR     keeps the run's folder and outputs (default a temporary folder)
#
# The CPU time is user + system of the Windows process (from /proc/PID/stat)
# between the end of the settling time and the end of the audio, so start-up
# is left out. Prints both figures, the difference (the program's own share,
# in seconds and in % of one core), and what Wine's server, the X server and
# the sound server used meanwhile (outside the processes, in neither figure).
# Exit status 0 when both figures were measured and are plausible (the bare
# loop took buffers and used CPU, the program's time is not negative); 1
# otherwise; 2 for a bad command line or a build that is missing something.
# Speed is never judged: the figures are for reading.
set -uo pipefail

root=$(cd -- "$(dirname -- "$0")/.." && pwd)
if [[ -z ${KANTIQ_WINE_HOME:-} ]]; then
  exec "$root/scripts/wine-env.sh" run -- "$0" "$@"
fi
export PULSE_LATENCY_MSEC=${PULSE_LATENCY_MSEC:-20}

seconds=780 pace=6 quiet=0 settle=3 build=$root/build/win32 out=''
while (($#)); do
  case $1 in
    --minutes) seconds=$(($2 * 60)); shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --pace) pace=$2; shift 2 ;;
    --quiet) quiet=1; shift ;;
    --settle) settle=$2; shift 2 ;;
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) echo "live_cpu: unknown option $1 (see the head of $0)" >&2; exit 2 ;;
  esac
done
for f in src/ui/Kantiq.exe tools/kantiq-config/kantiq-config.exe tools/test-sender/kantiq-test-sender.exe \
  tests/e2e/window_driver.exe bench/bare_capture.exe; do
  [[ -f $build/$f ]] || { echo "live_cpu: $build/$f missing: build the Windows flavour first" >&2; exit 2; }
done
if [[ -z $out ]]; then
  out=$(mktemp -d "${TMPDIR:-/tmp}/live_cpu.XXXXXX")
  trap 'rm -rf -- "$out"' EXIT
fi
mkdir -p "$out"
driver=$build/tests/e2e/window_driver.exe
mainWin='Brevalo Kantiq|1020='
hz=$(getconf CLK_TCK)
drv() { wine "$driver" "$@"; }
winpath() { winepath -w "$1" 2>/dev/null; }
nowMs() { date +%s%3N; }
say() { printf 'live_cpu: %s\n' "$*" >&2; }

# --- the program's folder and its configuration (as bench/live_soak.sh) ------
app=$out/app
rm -rf "$app"
mkdir -p "$app"
cp "$build/src/ui/Kantiq.exe" "$app/Kantiq.exe"
cp "$build/tools/test-sender/kantiq-test-sender.exe" "$app/S.exe"
codes=(23345 23346 12345 67890 21314)
{
  sed -n '/^\[detector\]/,/^\[\[alarm\]\]/p' "$root/examples/kantiq.toml" | sed '$d' |
    sed -E 's/^retrigger_delay_ms = .*/retrigger_delay_ms = 3000/'
  for c in "${codes[@]}"; do printf '[[alarm]]\ntext = "Schleife %s"\ncode = "%s"\n\n' "$c" "$c"; done
} >"$out/cpu.toml"
wine "$build/tools/kantiq-config/kantiq-config.exe" write "$(winpath "$out/cpu.toml")" "$(winpath "$app")" \
  >"$out/config.txt" 2>&1 || { cat "$out/config.txt"; exit 2; }

# --- the audio: one file per code, and noise for a whole listen --------------
for c in "${codes[@]}"; do bash "$root/scripts/zvei-call.sh" "$c" "$out/call-$c.wav"; done
sox -q -n -r 44100 -c 1 -b 16 "$out/noise.wav" synth "$((seconds + settle + 60))" whitenoise vol 0.03

# --- processes and their CPU time ---------------------------------------------
# The Windows process of this environment whose name is $1 (as the kernel
# keeps it: at most 15 characters).
windowsPid() {
  local p name=${1:0:15}
  for p in /proc/[0-9]*; do
    [[ $(cat "$p/comm" 2>/dev/null) == "$name" ]] || continue
    tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && { echo "${p#/proc/}"; return 0; }
  done
  return 1
}
# User + system clock ticks of a process; empty when it is gone.
cpuTicks() {
  [[ -n ${1:-} && -r /proc/$1/stat ]] && awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"
}
# The helpers outside the Windows process: Wine's server for this prefix,
# and the X server and sound server the environment started.
outsidePids() {
  local p pid comm
  for p in /proc/[0-9]*; do
    [[ $(cat "$p/comm" 2>/dev/null) == wineserver* ]] || continue
    tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "wineserver ${p#/proc/}"
  done
  if [[ -f $KANTIQ_WINE_HOME/pids ]]; then
    while read -r pid comm; do echo "$comm $pid"; done <"$KANTIQ_WINE_HOME/pids"
  fi
  pid=$(cat "${PULSE_RUNTIME_PATH:-/nonexistent}/pid" 2>/dev/null) && [[ $pid =~ ^[0-9]+$ ]] && echo "pulseaudio $pid"
}
outsideTicks() { # prints "name ticks" for each helper
  local name pid
  outsidePids | sort -u -k1,1 | while read -r name pid; do echo "$name $(cpuTicks "$pid")"; done
}

# The status picture's colour on the screen (as bench/live_soak.sh).
statusColour() {
  local x y w h r g
  read -r x y w h < <(drv rect "$mainWin" 1020 2>/dev/null | tr -d '\r') || { echo gone; return; }
  read -r r g _ < <(import -window root -crop "$((w / 2))x$((h / 2))+$((x + w / 2))+$((y + h / 4))" +repage \
    -resize 1x1\! -depth 8 txt:- 2>/dev/null | sed -n 2p | sed -E 's/.*\(([0-9]+),([0-9]+),([0-9]+).*/\1 \2 \3/')
  if [[ -z ${g:-} ]]; then echo gone; elif ((g > r)); then echo green; elif ((g > 90)); then echo amber; else echo red; fi
}

# Calls at the pace, for $1 seconds; appends "start end code" to $2.
playCalls() {
  local until=$(($(nowMs) + $1 * 1000)) i=0 code callStart
  : >"$2"
  if ((quiet)); then
    sleep "$1"
    return
  fi
  while (($(nowMs) < until)); do
    code=${codes[i % ${#codes[@]}]}
    callStart=$(nowMs)
    paplay "$out/call-$code.wav" 2>/dev/null
    printf '%s %s %s\n' "$callStart" "$(nowMs)" "$code" >>"$2"
    i=$((i + 1))
    sleep "$(awk -v p="$pace" -v s="$callStart" -v n="$(nowMs)" -v u="$until" \
      'BEGIN { d = p - (n - s) / 1000; r = (u - n) / 1000; if (d > r) d = r; print (d > 0 ? d : 0) }')"
  done
}

# Both listen at once: the processes $1 (the bare loop) and $2 (Kantiq.exe)
# are started and ready; both are measured over the same calls, so the load
# of the machine around them (other guests of the host, say) is the same for
# both. Writes "cpuTicks wallMs" to bare.cpu and kantiq.cpu, and the
# helpers' ticks to outside0 and outside1.
measure() {
  local bare=$1 kantiq=$2 t0 t1 b0 b1 k0 k1
  sleep "$settle"
  outsideTicks >"$out/outside0"
  b0=$(cpuTicks "$bare")
  k0=$(cpuTicks "$kantiq")
  t0=$(nowMs)
  playCalls "$seconds" "$out/kantiq.calls"
  b1=$(cpuTicks "$bare")
  k1=$(cpuTicks "$kantiq")
  t1=$(nowMs)
  outsideTicks >"$out/outside1"
  : >"$out/bare.cpu"
  : >"$out/kantiq.cpu"
  [[ -n $b0 && -n $b1 ]] && echo "$((b1 - b0)) $((t1 - t0))" >"$out/bare.cpu"
  [[ -n $k0 && -n $k1 ]] && echo "$((k1 - k0)) $((t1 - t0))" >"$out/kantiq.cpu"
}

# --- both processes, listening to the same sound input at the same time -------
paplay "$out/noise.wav" 2>/dev/null &
noise=$!
mkfifo "$out/bare.in"
wine "$build/bench/bare_capture.exe" <"$out/bare.in" >"$out/bare.out" 2>&1 &
barePid=$!
exec 3>"$out/bare.in"
for _ in $(seq 1 100); do grep -q '^listening' "$out/bare.out" 2>/dev/null && break; sleep 0.1; done
bareWin=''
if grep -q '^listening' "$out/bare.out"; then
  bareWin=$(windowsPid bare_capture.exe)
else
  say "the bare capture loop did not start: $(tr -d '\r' <"$out/bare.out")"
fi
(cd "$app" && exec wine "$app/Kantiq.exe") &
kantiqPid=$!
kantiqWin=''
if drv wait "$mainWin" 30000 >/dev/null; then
  for _ in $(seq 1 50); do [[ $(statusColour) == green ]] && break; sleep 0.2; done
  kantiqWin=$(windowsPid Kantiq.exe)
else
  say "the window of Kantiq.exe did not appear"
fi
[[ -n $bareWin && -n $kantiqWin ]] && measure "$bareWin" "$kantiqWin"
sleep 2  # the last call's alarm
drv close "$mainWin" >/dev/null
wait "$kantiqPid"
kantiqExit=$?
exec 3>&-
# Its input has ended: it stops within a second or so.
for _ in $(seq 1 100); do kill -0 "$barePid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$barePid" 2>/dev/null; then
  say "the bare capture loop did not end; stopping it"
  kill "$barePid" 2>/dev/null
fi
wait "$barePid" 2>/dev/null
kill "$noise" 2>/dev/null
wait "$noise" 2>/dev/null
bareBuffers=$(tr -d '\r' <"$out/bare.out" | sed -n 's/^buffers //p')
alarms=0
[[ -f $app/KantiqLog.txt ]] && alarms=$(grep -c 'ALARMIERUNG' "$app/KantiqLog.txt")

# --- the figures ------------------------------------------------------------------
wineVersion=$(wine --version 2>/dev/null)
cpuModel=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
((quiet)) && pace=0
python3 - "$out" "$hz" "${bareBuffers:-}" "$alarms" "$kantiqExit" "$seconds" "$pace" "$wineVersion" \
  "$cpuModel" "$(nproc)" <<'PY'
import sys
out, hz, buffers, alarms, kexit, seconds, pace, wine, cpu, cores = sys.argv[1:11]
hz = int(hz)

def figure(tag):
    try:
        ticks, wall = open(f"{out}/{tag}.cpu").read().split()
        return int(ticks) / hz, int(wall) / 1000
    except (OSError, ValueError):
        return None

def calls(tag):
    try:
        return sum(1 for l in open(f"{out}/{tag}.calls") if l.strip())
    except OSError:
        return 0

def outside():
    def read(n):
        d = {}
        try:
            for l in open(f"{out}/outside{n}"):
                p = l.split()
                if len(p) == 2:
                    d[p[0]] = int(p[1])
        except OSError:
            pass
        return d
    a, b = read(0), read(1)
    return {k: (b[k] - a[k]) / hz for k in sorted(a) if k in b}

bare, kantiq = figure("bare"), figure("kantiq")
calls_heard = f"a call every {pace} s over noise" if pace != "0" else "noise only, no calls"
print(f"live cpu: {seconds} s of listening, side by side, {calls_heard}; {wine}, {cores} x {cpu}")
if bare:
    cpu_s, wall = bare
    print(f"bare capture loop:   {cpu_s:.2f} s CPU in {wall:.1f} s ({100 * cpu_s / wall:.2f} % of one core)"
          f", {buffers or '?'} buffers")
else:
    print("bare capture loop:   not measured")
if kantiq:
    cpu_s, wall = kantiq
    print(f"Kantiq.exe:          {cpu_s:.2f} s CPU in {wall:.1f} s ({100 * cpu_s / wall:.2f} % of one core)"
          f", {alarms} alarms for {calls('kantiq')} calls, exit code {kexit}")
else:
    print("Kantiq.exe:          not measured")
if bare and kantiq:
    # Rates, should the two intervals ever differ by a few milliseconds.
    share_pct = 100 * (kantiq[0] / kantiq[1] - bare[0] / bare[1])
    share_s = share_pct / 100 * kantiq[1]
    print(f"program's own share: {share_s:.2f} s ({share_pct:.2f} % of one core)")
o = outside()
if o:
    print("outside the two processes meanwhile: " + ", ".join(f"{k} {v:.2f} s" for k, v in o.items()))
# Plausible: the bare loop took buffers and used some CPU, and the program's
# figure is a time at all (a speed is never judged here).
plausible = bool(bare and kantiq) and bare[0] > 0 and int(buffers or 0) > 0 and kantiq[0] >= 0
if not plausible:
    print("FIGURES MISSING OR IMPLAUSIBLE")
sys.exit(0 if plausible else 1)
PY
