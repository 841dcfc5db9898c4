#!/usr/bin/env bash
# kantiq-config write replaces SMSConfig1.dat in one step: when writing fails
# for real (a read-only folder, a target that is a folder, a file-size limit,
# a full file system), the old file is as it was and no temporary file is
# left behind. Run with the native tool and with the Windows one under Wine.
# Usage: kantiq_config_write_safety_test.sh EXAMPLE.toml COMMAND...
set -u
example=$1
shift
tool=("$@")
scratch=$(mktemp -d)
mounted=''
immutable=''
cleanup() {
  [[ -n $immutable ]] && chattr -i "$immutable" 2>/dev/null
  [[ -n $mounted ]] && umount "$mounted" 2>/dev/null
  chmod -R u+w "$scratch" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
failures=0

source "$(dirname "$0")/../lib/checks.sh"

# A configuration whose stored form is about 20 KB: long alarm texts.
big="$scratch/big.toml"
{
  echo '[detector]'
  for ((i = 0; i < 100; i++)); do
    printf '[[alarm]]\ntext = "Alarm %03d %s"\ncode = "%05d"\n' "$i" "$(printf 'x%.0s' {1..180})" "$i"
  done
} >"$big"

# prepare FOLDER: the example written there, kept as FOLDER.before.
prepare() {
  mkdir -p "$1"
  "${tool[@]}" write "$example" "$1" >/dev/null 2>&1 || fail "$1: writing the example failed"
  cp "$1/SMSConfig1.dat" "$1.before"
}

# unchanged WHAT FOLDER OUTPUT: the old file is there, unchanged, alone.
unchanged() {
  local what=$1 folder=$2 out=$3
  cmp -s "$folder.before" "$folder/SMSConfig1.dat" || fail "$what: the old file was changed"
  local left
  left=$(find "$folder" -name '*.tmp' | wc -l)
  [[ $left == 0 ]] || fail "$what: $left temporary file(s) left: $(ls "$folder")"
  grep -q 'Die alte Datei ist unverändert' <<<"$out" || fail "$what: no German reason: $out"
}

# expectFailure WHAT STEP-TEXT FOLDER -- COMMAND...: exit 3, the step named.
expectFailure() {
  local what=$1 step=$2 folder=$3
  shift 4
  out=$("$@" 2>&1)
  local got=$?
  [[ $got == 3 ]] || fail "$what: exit $got, expected 3: $out"
  grep -q "$step" <<<"$out" || fail "$what: expected '$step' in: $out"
  unchanged "$what" "$folder" "$out"
}

# 1. Success: the old file is replaced, nothing else is left.
prepare "$scratch/ok"
out=$("${tool[@]}" write "$big" "$scratch/ok" 2>&1) || fail "write over an existing file: $out"
cmp -s "$scratch/ok.before" "$scratch/ok/SMSConfig1.dat" && fail "write over an existing file changed nothing"
[[ $(ls "$scratch/ok") == $'Kantiq.ini\nSMSConfig1.dat\nSMSConfig2.dat' ]] || fail "write left: $(ls "$scratch/ok")"

# 2. A read-only folder. Root writes into any folder the mode forbids, so as
# root the folder is made immutable instead.
prepare "$scratch/ro"
if [[ $(id -u) == 0 ]]; then
  chattr +i "$scratch/ro" 2>/dev/null && immutable="$scratch/ro"
else
  chmod a-w "$scratch/ro"
fi
if [[ $(id -u) != 0 || -n $immutable ]]; then
  expectFailure "read-only folder" "kann neben der alten nicht angelegt werden" "$scratch/ro" \
    -- "${tool[@]}" write "$big" "$scratch/ro"
  [[ -n $immutable ]] && chattr -i "$immutable" && immutable=''
  chmod u+w "$scratch/ro"
else
  fail "read-only folder: chattr +i does not work here"
fi

# 3. The target is a folder: the rename over it fails.
mkdir -p "$scratch/dir/SMSConfig1.dat"
echo keep >"$scratch/dir/SMSConfig1.dat/inside"
out=$("${tool[@]}" write "$big" "$scratch/dir" 2>&1)
got=$?
[[ $got == 3 ]] || fail "target is a folder: exit $got, expected 3: $out"
grep -q 'Die alte Datei kann nicht ersetzt werden' <<<"$out" || fail "target is a folder: $out"
[[ $(cat "$scratch/dir/SMSConfig1.dat/inside" 2>/dev/null) == keep ]] || fail "target is a folder: its content changed"
[[ $(find "$scratch/dir" -name '*.tmp' | wc -l) == 0 ]] || fail "target is a folder: temporary file left: $(ls "$scratch/dir")"

# 4. A file-size limit of 8 KB: writing the 20 KB file fails part-way, as on a
# full disk. SIGXFSZ is ignored, so the write call reports the failure.
prepare "$scratch/limit"
expectFailure "file-size limit" "kann nicht geschrieben werden" "$scratch/limit" \
  -- bash -c 'trap "" XFSZ; ulimit -f 8; exec "$@"' limit "${tool[@]}" write "$big" "$scratch/limit"

# 5. A file system that is really full: a 64 KB tmpfs, filled up. Needs the
# right to mount (root); the case is reported as skipped otherwise.
mkdir -p "$scratch/full"
if mount -t tmpfs -o size=64k tmpfs "$scratch/full" 2>/dev/null; then
  mounted="$scratch/full"
  prepare "$scratch/full"
  dd if=/dev/zero of="$scratch/full/filler" bs=4k 2>/dev/null
  expectFailure "full file system" "kann nicht" "$scratch/full" -- "${tool[@]}" write "$big" "$scratch/full"
  umount "$scratch/full" && mounted=''
else
  echo "skipped: full file system (no right to mount a tmpfs)"
fi

endChecks "kantiq-config write safety: all checks passed"
