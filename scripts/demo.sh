#!/usr/bin/env bash
# Shows Kantiq at work on a fresh Debian 12 machine (run as root): installs
# what is missing, builds the Windows programs, writes the bundled example
# configuration with kantiq-config, starts Kantiq.exe under Wine with a
# virtual display and sound card, plays a generated five-tone call into the
# sound input and shows what Kantiq made of it: the result box, the alarm
# log line, the call of the sender and a screenshot of the window.
#
# A test sender stands in for S.exe: it records how it was called.
# Everything lands in build/demo/ (screenshot: build/demo/kantiq-demo.png).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# Wine runs the 32-bit product through a 32-bit Linux loader; on a kernel
# that cannot run 32-bit programs the demo shows the 64-bit build of the same
# sources under 64-bit Wine instead.
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  flavour=win32 toolchain=cmake/mingw32.cmake
else
  flavour=win64 toolchain=cmake/mingw64.cmake
fi

if [[ ${1:-} != --inside ]]; then
  scripts/setup.sh
  echo "demo: building the Windows programs (a few minutes on a fresh machine)"
  if [[ $flavour == win64 ]]; then
    echo "demo: this kernel cannot run 32-bit programs: showing the 64-bit build (build/win64)"
  fi
  cmake -S . -B "build/$flavour" -G Ninja --toolchain "$toolchain" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "build/$flavour" -j2 --target Kantiq kantiq-config kantiq-test-sender window_driver sender_record_dump
  KANTIQ_WINE_ARCH=$flavour exec scripts/wine-env.sh run -- "$0" --inside
fi

# --- inside the Wine environment -------------------------------------------
B=$root/build/$flavour
demo=$root/build/demo
app=$demo/Kantiq
rm -rf "$demo"
mkdir -p "$app"
cp "$B/src/ui/Kantiq.exe" "$app/"
cp "$B/tools/test-sender/kantiq-test-sender.exe" "$app/S.exe"
drv() { wine "$B/tests/e2e/window_driver.exe" "$@"; }
main='Brevalo Kantiq|1020='

echo "demo: writing the example configuration (examples/kantiq.toml)"
wine "$B/tools/kantiq-config/kantiq-config.exe" write "$(winepath -w "$root/examples/kantiq.toml")" \
  "$(winepath -w "$app")"

echo "demo: generating the example call: ZVEI1 23345"
scripts/zvei-call.sh 23345 "$demo/call-23345.wav"

echo "demo: starting Kantiq.exe"
(cd "$app" && exec wine "$app/Kantiq.exe") &
pid=$!
drv wait "$main" 20000
sleep 1
echo "demo: toggle reads: $(drv text "$main" 1003 | tr -d '\r')"

echo "demo: playing the call into the sound input"
paplay "$demo/call-23345.wav" &
playPid=$!
for _ in $(seq 1 100); do
  [[ $(drv text "$main" 1015) == *ALARMIERUNG* ]] && break
  sleep 0.05
done
import -window root "$demo/kantiq-demo.png"
wait "$playPid"
echo "demo: the result box shows:"
drv text "$main" 1015 | tr -d '\r' | sed '/^$/d; s/^/    /'
echo "demo: the alarm log KantiqLog.txt:"
iconv -f CP1252 -t UTF-8 "$app/KantiqLog.txt" | tr -d '\r' | sed 's/^/    /'
echo "demo: waiting for the sender (it runs about 3 s after the alarm)"
# Two runs of it: the notice that Kantiq started (for whoever looks after
# the PC), then the alarm.
for _ in $(seq 1 50); do
  [[ -s $app/sender-record.bin ]] && (($(grep -ac '^END ' "$app/sender-record.bin") >= 2)) && break
  sleep 0.2
done
echo "demo: S.exe was called for (kind, start time, decoded text):"
wine "$B/tests/e2e/sender_record_dump.exe" "$(winepath -w "$app")" | tr -d '\r' | sed 's/^/    /'

drv close "$main"
wait "$pid" || true
echo "demo: screenshot of the window with the alarm: $demo/kantiq-demo.png"
