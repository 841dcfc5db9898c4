#!/usr/bin/env bash
# Kantiq.exe listening for a long while under Wine, with calls of several
# codes played into its sound card at a steady pace over steady noise, and
# optionally its sound server killed and started again now and then:
#
#   bench/live_soak.sh [--minutes N | --seconds N] [--server-restarts [EVERY_S]]
#                      [--down S] [--pace S] [--build DIR] [--out DIR]
#
#   --minutes N          how long to listen (default 10)
#   --server-restarts    kill the sound server every EVERY_S seconds (default
#                        180) and start it again --down S seconds later
#                        (default 20)
#   --pace S             seconds from one call's start to the next (default 6)
#   --build DIR          the Windows build (default build/win32)
#   --out DIR            keeps the run's folder, log and samples (default a
#                        temporary folder)
#
# Prints calls played, alarms raised, wrong codes, the longest time the
# status was not green, how soon listening was back after each return of
# the server, and the CPU time Kantiq.exe used. Exit status 0 when every
# call outside an outage was raised and listening came back within 10 s of
# every return; 1 otherwise. Wrong codes (raised while another code played)
# are counted and printed, not judged: they are the detector's business.
set -uo pipefail

root=$(cd -- "$(dirname -- "$0")/.." && pwd)
if [[ -z ${KANTIQ_WINE_HOME:-} ]]; then
  exec "$root/scripts/wine-env.sh" run -- "$0" "$@"
fi
export PULSE_LATENCY_MSEC=${PULSE_LATENCY_MSEC:-20}

seconds=600 restartEvery=0 down=20 pace=6 build=$root/build/win32 out=''
while (($#)); do
  case $1 in
    --minutes) seconds=$(($2 * 60)); shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --server-restarts)
      if [[ ${2:-} =~ ^[0-9]+$ ]]; then restartEvery=$2; shift 2; else restartEvery=180; shift; fi ;;
    --down) down=$2; shift 2 ;;
    --pace) pace=$2; shift 2 ;;
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) echo "live_soak: unknown option $1 (see the head of $0)" >&2; exit 2 ;;
  esac
done
for f in src/ui/Kantiq.exe tools/kantiq-config/kantiq-config.exe tools/test-sender/kantiq-test-sender.exe \
  tests/e2e/window_driver.exe; do
  [[ -f $build/$f ]] || { echo "live_soak: $build/$f missing: build the Windows flavour first" >&2; exit 2; }
done
# Whatever runs in the background ends with this script.
children=()
cleanup() {
  ((${#children[@]})) && kill "${children[@]}" 2>/dev/null
  [[ -n ${tempOut:-} ]] && rm -rf -- "$tempOut"
}
trap cleanup EXIT
if [[ -z $out ]]; then
  out=$(mktemp -d "${TMPDIR:-/tmp}/live_soak.XXXXXX")
  tempOut=$out
fi
mkdir -p "$out"
driver=$build/tests/e2e/window_driver.exe
mainWin='Brevalo Kantiq|1020='
drv() { wine "$driver" "$@"; }
winpath() { winepath -w "$1" 2>/dev/null; }
nowMs() { date +%s%3N; }

# --- the program's folder and its configuration ------------------------------
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
} >"$out/soak.toml"
wine "$build/tools/kantiq-config/kantiq-config.exe" write "$(winpath "$out/soak.toml")" "$(winpath "$app")" \
  >"$out/config.txt" 2>&1 || { cat "$out/config.txt"; exit 2; }

# --- the audio: one file per code, and noise for the whole run ------------------
for c in "${codes[@]}"; do bash "$root/scripts/zvei-call.sh" "$c" "$out/call-$c.wav"; done
sox -q -n -r 44100 -c 1 -b 16 "$out/noise.wav" synth "$((seconds + 60))" whitenoise vol 0.03

# --- the status picture, sampled -------------------------------------------------
statusColour() {
  local x y w h r g b
  read -r x y w h < <(drv rect "$mainWin" 1020 2>/dev/null | tr -d '\r') || { echo gone; return; }
  read -r r g b < <(import -window root -crop "$((w / 2))x$((h / 2))+$((x + w / 2))+$((y + h / 4))" +repage \
    -resize 1x1\! -depth 8 txt:- 2>/dev/null | sed -n 2p | sed -E 's/.*\(([0-9]+),([0-9]+),([0-9]+).*/\1 \2 \3/')
  if [[ -z ${g:-} ]]; then echo gone; elif ((g > r)); then echo green; elif ((g > 90)); then echo amber; else echo red; fi
}

(cd "$app" && exec wine "$app/Kantiq.exe") &
kantiqPid=$!
drv wait "$mainWin" 30000 >/dev/null || { echo "live_soak: the window did not appear" >&2; exit 1; }
for _ in $(seq 1 50); do [[ $(statusColour) == green ]] && break; sleep 0.2; done

# The Windows process, for its CPU time.
winPid=''
for p in /proc/[0-9]*; do
  [[ $(cat "$p/comm" 2>/dev/null) == Kantiq.exe ]] || continue
  tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && winPid=${p#/proc/}
done

: >"$out/status.txt"
(while :; do printf '%s %s\n' "$(nowMs)" "$(statusColour)" >>"$out/status.txt"; sleep 0.5; done) &
sampler=$!
children+=("$sampler")
paplay "$out/noise.wav" 2>/dev/null &
noise=$!
children+=("$noise")

# --- calls, and the server's outages -------------------------------------------------
: >"$out/calls.txt"
: >"$out/outages.txt"
start=$(nowMs)
end=$((start + seconds * 1000))
nextRestart=$((restartEvery > 0 ? start + restartEvery * 1000 : end + 1))
serverDownAt=0
i=0
while (($(nowMs) < end)); do
  t=$(nowMs)
  # No outage begins in the last minute: its return must still be seen.
  if ((serverDownAt == 0 && t >= nextRestart && t < end - 60000)); then
    "$root/scripts/wine-env.sh" sound-server stop && serverDownAt=$(nowMs)
    kill "$noise" 2>/dev/null
  elif ((serverDownAt > 0 && t >= serverDownAt + down * 1000)); then
    "$root/scripts/wine-env.sh" sound-server start
    printf '%s %s\n' "$serverDownAt" "$(nowMs)" >>"$out/outages.txt"
    serverDownAt=0
    nextRestart=$(($(nowMs) + restartEvery * 1000))
    paplay "$out/noise.wav" 2>/dev/null &
    noise=$!
    children+=("$noise")
  fi
  code=${codes[i % ${#codes[@]}]}
  callStart=$(nowMs)
  paplay "$out/call-$code.wav" 2>/dev/null
  printf '%s %s %s\n' "$callStart" "$(nowMs)" "$code" >>"$out/calls.txt"
  i=$((i + 1))
  sleep "$(awk -v p="$pace" -v s="$callStart" -v n="$(nowMs)" 'BEGIN { d = p - (n - s) / 1000; print (d > 0 ? d : 0) }')"
done
if ((serverDownAt > 0)); then
  "$root/scripts/wine-env.sh" sound-server start
  printf '%s %s\n' "$serverDownAt" "$(nowMs)" >>"$out/outages.txt"
  sleep 12  # its return
fi
sleep 3  # the last call's alarm
kill "$noise" "$sampler" 2>/dev/null
wait "$sampler" 2>/dev/null

cpuTicks=''
[[ -n $winPid && -r /proc/$winPid/stat ]] &&
  cpuTicks=$(awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$winPid/stat")
drv close "$mainWin" >/dev/null
wait "$kantiqPid"
exitCode=$?
elapsed=$((($(nowMs) - start) / 1000))

# --- the figures ------------------------------------------------------------------------
iconv -f CP1252 -t UTF-8 "$app/KantiqLog.txt" 2>/dev/null | tr -d '\r' |
  sed -nE 's/^([0-9]{2})\.([0-9]{2})\.([0-9]{4}) ([0-9:]{8}): ALARMIERUNG: Schleife ([0-9]+)$/\3-\2-\1 \4 \5/p' |
  while read -r d tm c; do printf '%s %s\n' "$(date -d "$d $tm" +%s)" "$c"; done >"$out/alarms.txt"

python3 - "$out" "$seconds" "$restartEvery" "$down" "${cpuTicks:-}" "$(getconf CLK_TCK)" "$elapsed" "$exitCode" <<'PY'
import sys, time
out, seconds, every, down, ticks, hz, elapsed, code = sys.argv[1:9]
calls = [l.split() for l in open(f"{out}/calls.txt") if l.strip()]
alarms = [l.split() for l in open(f"{out}/alarms.txt") if l.strip()]
outages = [tuple(map(int, l.split())) for l in open(f"{out}/outages.txt") if l.strip()]
status = [l.split() for l in open(f"{out}/status.txt") if l.strip()]

def in_outage(a, b):
    # A call that overlaps an outage or the first seconds after it may be lost.
    return any(a < up + 10000 and b > downAt for downAt, up in outages)

used = set()
raised = raised_in = played_in = 0
for a, b, c in calls:
    a, b = int(a), int(b)
    hit = None
    for k, (t, ac) in enumerate(alarms):
        if k not in used and ac == c and a // 1000 - 1 <= int(t) <= b // 1000 + 3:
            hit = k
            break
    if in_outage(a, b):
        played_in += 1
        if hit is not None:
            raised_in += 1
            used.add(hit)
    elif hit is not None:
        raised += 1
        used.add(hit)
outside = len(calls) - played_in
wrong = len(alarms) - len(used)

longest = 0
run_start = None
for t, colour in status:
    t = int(t)
    if colour != "green":
        run_start = t if run_start is None else run_start
        longest = max(longest, t - run_start)
    else:
        run_start = None
backs = []
for downAt, up in outages:
    later = [int(t) for t, colour in status if int(t) >= up and colour == "green"]
    backs.append((later[0] - up) / 1000 if later else None)

print(f"live soak: {elapsed} s of listening" + (f", sound server killed every {every} s for {down} s" if int(every) else ""))
print(f"calls played:            {len(calls)} ({played_in} during or just after an outage)")
print(f"alarms raised:           {raised} of {outside} outside outages, {raised_in} of {played_in} around them")
print(f"wrong codes:             {wrong}" + ("".join(f"\n  {time.strftime('%H:%M:%S', time.localtime(int(t)))} raised {c}" for k, (t, c) in enumerate(alarms) if k not in used)))
print(f"longest not green:       {longest / 1000:.1f} s")
if outages:
    shown = ", ".join("never" if b is None else f"{b:.1f} s" for b in backs)
    print(f"listening back after:    {shown}")
if ticks:
    cpu = int(ticks) / int(hz)
    print(f"CPU time of Kantiq.exe:  {cpu:.1f} s ({100 * cpu / max(1, int(elapsed)):.1f} % of one core)")
print(f"exit code of Kantiq.exe: {code}")
ok = raised == outside and all(b is not None and b <= 10 for b in backs) and code == "0"
print("targets met" if ok else "TARGETS MISSED")
sys.exit(0 if ok else 1)
PY
