#!/usr/bin/env bash
# The dispatch jobs under Wine: each scenario runs the driver in a fresh
# folder with the test sender copied next to it as S.exe.
#   dispatch_wine_test.sh <dispatch_wine_driver.exe> <kantiq-test-sender.exe>
set -uo pipefail
driver=$1
sender=$2
base=$(mktemp -d "${TMPDIR:-/tmp}/kantiq-dispatch.XXXXXX")
trap 'rm -rf "$base"' EXIT
failed=0

# prepare <folder> <with sender: yes|no> [control lines...]
prepare() {
  local dir=$1 withSender=$2
  shift 2
  mkdir -p "$dir"
  cp "$driver" "$dir/driver.exe"
  [[ $withSender == yes ]] && cp "$sender" "$dir/S.exe"
  printf '%s\n' "$@" >"$dir/sender-control.txt"
}

run() {
  local name=$1 dir=$2
  echo "== $name"
  if ! (cd "$base" && wine "$dir/driver.exe" "$name"); then
    echo "scenario $name FAILED"
    failed=1
  fi
}

# Waits until every sender started in a folder has recorded its end, so
# nothing still runs when the folder goes.
waitForSenders() {
  local record=$1/sender-record.bin
  for _ in $(seq 1 100); do
    [[ ! -f $record ]] && return
    (($(grep -ac '^START ' "$record") == $(grep -ac '^END ' "$record"))) && return
    sleep 0.2
  done
  echo "senders in $1 still running"
  failed=1
}

prepare "$base/single" yes
run single "$base/single"

prepare "$base/three" yes "sleep 1000" "exit 7"
run three "$base/three"

prepare "$base/hang" yes "sleep 8000"
run hang "$base/hang"

prepare "$base/missing" no
run missing "$base/missing"

# A folder with a blank in its name, and beside it the program that an
# unquoted command line would start instead of the sender.
prepare "$base/Kantiq Test" yes
cp "$sender" "$base/Kantiq.exe"
run blank "$base/Kantiq Test"
if [[ -e $base/sender-record.bin ]]; then
  echo "the decoy $base/Kantiq.exe ran"
  failed=1
fi

prepare "$base/closing" yes "sleep 3000"
run closing "$base/closing"

prepare "$base/retry" yes "exit 1"
run retry "$base/retry"

prepare "$base/flood" yes "write 1048576"
run flood "$base/flood"

prepare "$base/long" yes
run long "$base/long"

# A folder whose path is longer than 260 characters.
deep=$base/deep
for i in 1 2 3 4 5 6 7; do deep+="/verzeichnis-mit-langem-namen-$i-abcdefghij"; done
prepare "$deep" yes
run deep "$deep"

for dir in "$base"/*/ "$deep"; do waitForSenders "${dir%/}"; done
exit $failed
