#!/usr/bin/env bash
# Sets up the machine (as root) and runs every test: the native build with
# AddressSanitizer and UBSan, then the Windows build under Wine with a
# virtual display and a private PulseAudio sound card.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc 2>/dev/null || echo 2)

"$root/scripts/setup.sh" || exit 1

status=0
step() {
  echo
  echo "==== $*"
}

step "native build (AddressSanitizer, UBSan)"
if cmake -S . -B build/native -G Ninja -DKANTIQ_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null &&
   cmake --build build/native -j"$jobs"; then
  step "native tests"
  ctest --test-dir build/native --output-on-failure -j"$jobs" || status=1
else
  echo "native build failed" >&2
  status=1
fi

step "Windows build (i686-w64-mingw32)"
if cmake -S . -B build/win32 -G Ninja --toolchain cmake/mingw32.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null &&
   cmake --build build/win32 -j"$jobs"; then
  # Wine runs 32-bit programs through its 32-bit Linux loader. A kernel
  # without 32-bit support (IA-32 emulation switched off) cannot start it.
  if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    step "Windows tests under Wine"
    "$root/scripts/wine-env.sh" run -- ctest --test-dir build/win32 --output-on-failure || status=1
  else
    step "Windows tests under Wine: NOT RUN"
    echo "This machine's kernel cannot run 32-bit Linux programs (no IA-32 emulation)," >&2
    echo "so Wine cannot start the 32-bit Windows build. The Windows programs were built" >&2
    echo "but none of their tests ran." >&2
  fi
else
  echo "Windows build failed" >&2
  status=1
fi

echo
if ((status == 0)); then
  echo "==== all tests passed"
else
  echo "==== some tests FAILED" >&2
fi
exit $status
