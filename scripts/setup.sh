#!/usr/bin/env bash
# Installs everything the builds and tests need on Debian 12 (run as root).
# Quick when everything is present already.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev googletest
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine32:i386 wine64
  xvfb xauth x11-utils imagemagick fonts-dejavu-core
  pulseaudio pulseaudio-utils sox
  libsndfile1-dev libsamplerate0-dev libtomlplusplus-dev libcli11-dev
  multimon-ng espeak-ng socat python3 python3-numpy
  nsis
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  echo "setup: all packages present"
  exit 0
fi

if [[ $(id -u) -ne 0 ]]; then
  echo "setup: missing packages: ${missing[*]}" >&2
  echo "setup: run this script as root to install them" >&2
  exit 1
fi

echo "setup: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive

# A mirror in the middle of its own update serves index files that do not
# match its release file; apt then fails the whole update. Such a state
# passes within minutes to hours, so try a few times with a pause.
update_log=$(mktemp)
trap 'rm -f "$update_log"' EXIT
updated=no
for attempt in 1 2 3 4; do
  if apt-get update -q 2>&1 | tee "$update_log"; [[ ${PIPESTATUS[0]} -eq 0 ]]; then
    updated=yes
    break
  fi
  if ((attempt < 4)); then
    echo "setup: package index update failed (attempt $attempt of 4), trying again in 20 s" >&2
    sleep 20
  fi
done
if [[ $updated == no ]]; then
  echo "setup: these package indexes could not be updated:" >&2
  grep -E '^(Err|E):' "$update_log" | sed 's/^/setup:   /' >&2 || true
  echo "setup: the mirror may be in the middle of an update; a later run may pass." >&2
  echo "setup: trying the installation with the indexes that did arrive" >&2
fi

if ! apt-get install -y -q "${missing[@]}"; then
  echo "setup: installing ${missing[*]} failed" >&2
  if [[ $updated == no ]]; then
    echo "setup: likely because of the index that failed above; run scripts/setup.sh again later" >&2
  fi
  exit 1
fi
