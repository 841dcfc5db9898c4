#!/usr/bin/env bash
# Sets up the machine (as root) and runs every test: the native build with
# AddressSanitizer and UBSan, then the Windows build under Wine with a
# virtual display and a private PulseAudio sound card. Where the kernel cannot
# run 32-bit programs, the Windows tests run on a 64-bit build of the same
# sources under 64-bit Wine; the 32-bit product is still built.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc 2>/dev/null || echo 2)

"$root/scripts/setup.sh" || exit 1

status=0
windows_tested="none (the Windows build failed)"
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

# Optimisation brings warnings of its own (GCC's flow analysis runs at -O2
# only); the native Release build must be as free of them as the others.
step "native Release build (warnings as errors, not run)"
if ! cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null ||
   ! cmake --build build/release -j"$jobs"; then
  echo "native Release build failed" >&2
  status=1
fi

step "Windows build (i686-w64-mingw32)"
if cmake -S . -B build/win32 -G Ninja --toolchain cmake/mingw32.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null &&
   cmake --build build/win32 -j"$jobs"; then
  # Wine runs 32-bit programs through its 32-bit Linux loader. A kernel
  # without 32-bit support (IA-32 emulation switched off) cannot start it;
  # there the same sources are built for 64-bit Windows and those tests run
  # under Wine's 64-bit loader instead (docs/testing.md).
  if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    step "Windows tests under Wine: 32-bit build (build/win32), the product itself"
    "$root/scripts/wine-env.sh" run -- ctest --test-dir build/win32 --output-on-failure || status=1
    windows_tested="the 32-bit product build (build/win32)"
  else
    step "Windows tests under Wine: 64-bit test build (build/win64) instead of the 32-bit product"
    echo "This machine's kernel cannot run 32-bit Linux programs (no IA-32 emulation)," >&2
    echo "so Wine cannot start the 32-bit build. The product (build/win32) was built;" >&2
    echo "its tests run on the same sources built for 64-bit Windows, under 64-bit Wine." >&2
    step "Windows test build (x86_64-w64-mingw32)"
    if cmake -S . -B build/win64 -G Ninja --toolchain cmake/mingw64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null &&
       cmake --build build/win64 -j"$jobs"; then
      step "Windows tests under 64-bit Wine (build/win64)"
      KANTIQ_WINE_ARCH=win64 "$root/scripts/wine-env.sh" run -- \
        ctest --test-dir build/win64 --output-on-failure || status=1
      windows_tested="the 64-bit test build (build/win64), not the 32-bit product: this kernel cannot run 32-bit programs"
    else
      echo "64-bit Windows test build failed" >&2
      windows_tested="none (the 64-bit test build failed; this kernel cannot run 32-bit programs)"
      status=1
    fi
  fi
else
  echo "Windows build failed" >&2
  status=1
fi

echo
echo "==== Windows tests ran on: $windows_tested"
if ((status == 0)); then
  echo "==== all tests passed"
else
  echo "==== some tests FAILED" >&2
fi
exit $status
