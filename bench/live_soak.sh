#!/usr/bin/env bash
# Kantiq.exe listening for a long while under Wine, with calls of several
# codes played into its sound card at a steady pace over steady noise, and
# optionally its sound server killed and started again now and then:
#
#   bench/live_soak.sh [--minutes N | --seconds N] [--server-restarts [EVERY_S]]
#                      [--faults [EVERY_S]] [--down S] [--muted S] [--silence S]
#                      [--seed N] [--pace S] [--build DIR] [--out DIR]
#
#   --minutes N          how long to listen (default 10)
#   --server-restarts    kill the sound server every EVERY_S seconds (default
#                        180) and start it again --down S seconds later
#                        (default 20)
#   --faults             a fault about every EVERY_S seconds (default 90, at
#                        random from half to one and a half times that, drawn
#                        from --seed, default 1): the sound server killed for
#                        --down S and the recording source muted for --muted S
#                        (default 30) in turn, the first drawn; Kantiq's
#                        silence limit is --silence S (default 10). No fault
#                        begins in the last minute (third, when shorter).
#   --pace S             seconds from one call's start to the next (default 6)
#   --build DIR          the Windows build (default build/win32)
#   --out DIR            keeps the run's folder, log and samples (default a
#                        temporary folder)
#
# Prints calls played, alarms raised, wrong codes, the longest time the
# status was not green, how soon listening was back after each fault's end,
# how long the status was green while nothing could be heard (beyond the
# silence limit from the fault's start), and the CPU time Kantiq.exe used.
# Exit status 0 when every call outside a fault was raised, listening came
# back within 10 s of every fault's end and the status was never green
# while deaf beyond the silence limit; 1 otherwise. Wrong codes (raised while another code played)
# are counted and printed, not judged: they are the detector's business.
set -uo pipefail

root=$(cd -- "$(dirname -- "$0")/.." && pwd)
if [[ -z ${KANTIQ_WINE_HOME:-} ]]; then
  exec "$root/scripts/wine-env.sh" run -- "$0" "$@"
fi
export PULSE_LATENCY_MSEC=${PULSE_LATENCY_MSEC:-20}

seconds=600 restartEvery=0 down=20 pace=6 build=$root/build/win32 out=''
faultEvery=0 muted=30 silence=10 seed=1
while (($#)); do
  case $1 in
    --faults)
      if [[ ${2:-} =~ ^[0-9]+$ ]]; then faultEvery=$2; shift 2; else faultEvery=90; shift; fi ;;
    --muted) muted=$2; shift 2 ;;
    --silence) silence=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
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
  tests/e2e/window_driver.exe tests/e2e/sender_record_dump.exe; do
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
  # The example's [detector] and [input] sections; without faults the
  # silence check keeps its default.
  sed -n '/^\[detector\]/,/^\[\[alarm\]\]/p' "$root/examples/kantiq.toml" | sed '$d' |
    sed -E 's/^retrigger_delay_ms = .*/retrigger_delay_ms = 3000/' |
    # Faults are told to whoever looks after the PC after 15 s.
    sed -E 's/^delay_s = .*/delay_s = 15/' |
    if ((faultEvery > 0)); then sed -E "s/^silence_limit_s = .*/silence_limit_s = $silence/"; else cat; fi
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

# --- calls, and the faults ------------------------------------------------------------
# outages.txt: one line per fault, "start end kind" (kind server or muted).
: >"$out/calls.txt"
: >"$out/outages.txt"
RANDOM=$seed
start=$(nowMs)
end=$((start + seconds * 1000))
every=$((faultEvery > 0 ? faultEvery : restartEvery))
nextGap() { # ms to the next fault
  if ((faultEvery > 0)); then echo $(((every * 500) + RANDOM % (every * 1000 + 1))); else echo $((every * 1000)); fi
}
nextFault=$((every > 0 ? start + $(nextGap) : end + 1))
faultAt=0 faultKind='' faultLength=0
nextKind=$((RANDOM % 2))  # the kinds take turns, the first drawn
# No fault begins at the very end: its end must still be seen.
guardMs=$((seconds * 1000 / 3 < 60000 ? seconds * 1000 / 3 : 60000))
i=0
while (($(nowMs) < end)); do
  t=$(nowMs)
  if [[ -z $faultKind ]] && ((t >= nextFault && t < end - guardMs)); then
    nextKind=$((1 - nextKind))
    if ((faultEvery > 0 && nextKind)); then
      pactl set-source-mute @DEFAULT_SOURCE@ 1 && faultKind=muted faultAt=$(nowMs) faultLength=$muted
    else
      "$root/scripts/wine-env.sh" sound-server stop && faultKind=server faultAt=$(nowMs) faultLength=$down
      kill "$noise" 2>/dev/null
    fi
  elif [[ -n $faultKind ]] && ((t >= faultAt + faultLength * 1000)); then
    # The fault ends when it is undone, not when undoing it returns.
    faultEnd=$(nowMs)
    if [[ $faultKind == muted ]]; then
      pactl set-source-mute @DEFAULT_SOURCE@ 0
    else
      "$root/scripts/wine-env.sh" sound-server start
      paplay "$out/noise.wav" 2>/dev/null &
      noise=$!
      children+=("$noise")
    fi
    printf '%s %s %s\n' "$faultAt" "$faultEnd" "$faultKind" >>"$out/outages.txt"
    faultKind=''
    nextFault=$(($(nowMs) + $(nextGap)))
  fi
  code=${codes[i % ${#codes[@]}]}
  callStart=$(nowMs)
  paplay "$out/call-$code.wav" 2>/dev/null
  printf '%s %s %s\n' "$callStart" "$(nowMs)" "$code" >>"$out/calls.txt"
  i=$((i + 1))
  sleep "$(awk -v p="$pace" -v s="$callStart" -v n="$(nowMs)" 'BEGIN { d = p - (n - s) / 1000; print (d > 0 ? d : 0) }')"
done
if [[ -n $faultKind ]]; then
  faultEnd=$(nowMs)
  if [[ $faultKind == muted ]]; then
    pactl set-source-mute @DEFAULT_SOURCE@ 0
  else
    "$root/scripts/wine-env.sh" sound-server start
  fi
  printf '%s %s %s\n' "$faultAt" "$faultEnd" "$faultKind" >>"$out/outages.txt"
  sleep 12  # its end seen
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
# Every run of the (test) sender: "kind start-ms text", notices among them.
wine "$build/tests/e2e/sender_record_dump.exe" "$(winpath "$app")" 2>/dev/null | tr -d '\r' >"$out/sender-runs.txt"
iconv -f CP1252 -t UTF-8 "$app/KantiqLog.txt" 2>/dev/null | tr -d '\r' |
  sed -nE 's/^([0-9]{2})\.([0-9]{2})\.([0-9]{4}) ([0-9:]{8}): ALARMIERUNG: Schleife ([0-9]+)$/\3-\2-\1 \4 \5/p' |
  while read -r d tm c; do printf '%s %s\n' "$(date -d "$d $tm" +%s)" "$c"; done >"$out/alarms.txt"

python3 - "$out" "$seconds" "$restartEvery" "$down" "${cpuTicks:-}" "$(getconf CLK_TCK)" "$elapsed" "$exitCode" \
  "$faultEvery" "$muted" "$silence" "$seed" <<'PY'
import sys, time
out, seconds, every, down, ticks, hz, elapsed, code, faultEvery, muted, silence, seed = sys.argv[1:13]
calls = [l.split() for l in open(f"{out}/calls.txt") if l.strip()]
alarms = [l.split() for l in open(f"{out}/alarms.txt") if l.strip()]
faults = [(int(a), int(b), k) for a, b, k in (l.split() for l in open(f"{out}/outages.txt") if l.strip())]
outages = [(a, b) for a, b, _ in faults]
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

# Green while nothing could be heard: from the fault's start plus the time
# the program may take to notice (the silence limit; for a dead server the
# 5 s stall limit) to the fault's end. Three seconds more for the worker's
# poll (0.25 s), the window's timer (0.5 s), the sampling of the screen
# (every 0.5 s, each grab taking a moment) and a busy machine.
deaf_green = 0.0
limits = set()
for downAt, up, kind in faults:
    limit_ms = int(silence) * 1000 if int(faultEvery) and kind == "muted" else 5000
    limits.add(limit_ms // 1000)
    samples = [c for t, c in status if downAt + limit_ms + 3000 <= int(t) <= up]
    deaf_green += 0.5 * sum(1 for c in samples if c == "green")

if int(faultEvery):
    kinds = ", ".join(f"{sum(1 for f in faults if f[2] == k)} {k}" for k in ("server", "muted"))
    print(f"live soak: {elapsed} s of listening, faults about every {faultEvery} s (seed {seed}): {kinds};"
          f" server down {down} s, source muted {muted} s, silence limit {silence} s")
else:
    print(f"live soak: {elapsed} s of listening" + (f", sound server killed every {every} s for {down} s" if int(every) else ""))
print(f"calls played:            {len(calls)} ({played_in} during or just after a fault)")
print(f"alarms raised:           {raised} of {outside} outside faults, {raised_in} of {played_in} around them")
print(f"wrong codes:             {wrong}" + ("".join(f"\n  {time.strftime('%H:%M:%S', time.localtime(int(t)))} raised {c}" for k, (t, c) in enumerate(alarms) if k not in used)))
print(f"longest not green:       {longest / 1000:.1f} s")
if outages:
    shown = ", ".join("never" if b is None else f"{b:.1f} s" for b in backs)
    print(f"listening back after:    {shown}")
    print(f"longest back after:      {max((b for b in backs if b is not None), default=0):.1f} s")
    shownLimits = " or ".join(f"{l} s" for l in sorted(limits))
    print(f"green while deaf:        {deaf_green:.1f} s (beyond {shownLimits} from a fault's start)")
# Notices to whoever looks after the PC: SMS handed to the sender and the
# notices they carry (at most four SMS an hour, the fourth carrying the
# rest), the start's own not counted; and how soon each alarm reached the
# sender after the window raised it (the log's second), notices or not.
runs = [l.split(" ", 2) for l in open(f"{out}/sender-runs.txt") if l.strip()]
filetime_to_unix_ms = 11644473600000
notice_sms = [r[2] for r in runs if r[0] == "notice" and len(r) > 2]
told = [n for sms in notice_sms for n in sms.split(" / ") if not n.startswith("Kantiq gestartet")]
print(f"notices:                 {len(told)} in {len(notice_sms)} SMS (the start's included), "
      f"{len(told) / max(1, len(faults)):.1f} per fault")
alarm_starts = sorted((int(r[1]) - filetime_to_unix_ms) / 1000 for r in runs if r[0] == "alarm")
lags = [s - int(t) for (t, _), s in zip(alarms, alarm_starts)] if len(alarm_starts) == len(alarms) else []
if lags:
    print(f"alarm to the sender:     at most {max(lags):.1f} s after its second in the log ({len(lags)} alarms)")
if ticks:
    cpu = int(ticks) / int(hz)
    print(f"CPU time of Kantiq.exe:  {cpu:.1f} s ({100 * cpu / max(1, int(elapsed)):.1f} % of one core)")
print(f"exit code of Kantiq.exe: {code}")
ok = raised == outside and all(b is not None and b <= 10 for b in backs) and code == "0" and deaf_green == 0
print("targets met" if ok else "TARGETS MISSED")
sys.exit(0 if ok else 1)
PY
