#!/usr/bin/env bash
# winctl.exe against a real message box (the start-up probe's "Kantiq-Probe"
# box, shown after a good start with the argument "hold"): every command once,
# and the failures scripts rely on.
# Usage (inside scripts/wine-env.sh): winctl_test.sh PROBE.exe WINCTL.exe KANTIQ-CONFIG.exe EXAMPLE.toml
set -u
probe=$1
winctl=$2
tool=$3
example=$4
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
source "$(dirname "$0")/../lib/checks.sh"
ctl() { wine "$winctl" "$@"; }

wine "$tool" write "$example" "$scratch" >/dev/null || fail "kantiq-config write failed"
cp "$probe" "$scratch/probe.exe"

# show_box: starts the probe, waits for its box; sets $pid.
show_box() {
  wine "$scratch/probe.exe" hold >/dev/null 2>&1 &
  pid=$!
  ctl wait-window Kantiq-Probe 30000 || fail "no box Kantiq-Probe"
}

# closed_by WHAT: the box goes away and the probe ends with status 0.
closed_by() {
  ctl wait-gone Kantiq-Probe 10000 || fail "$1 did not close the box"
  wait "$pid" || fail "$1: probe exit status $?"
}

show_box
[[ $(ctl get-text Kantiq-Probe 65535) == geladen ]] || fail "get-text of the box text"
[[ $(ctl msgbox-text Kantiq-Probe) == geladen ]] || fail "msgbox-text"
rect=$(ctl window-rect Kantiq-Probe)
[[ $rect =~ ^-?[0-9]+\ -?[0-9]+\ ([1-9][0-9]*)\ ([1-9][0-9]*)$ ]] || fail "window-rect: got '$rect'"
ctl set-text Kantiq-Probe 65535 "Grüße €" || fail "set-text"
# Read back a few times: one read right after the set came back different
# once on a loaded machine; the bytes in the message say what it was.
for try in 1 2 3 4 5; do
  got=$(ctl get-text Kantiq-Probe 65535)
  [[ $got == "Grüße €" ]] && break
  sleep 0.2
done
[[ $got == "Grüße €" ]] ||
  fail "set-text/get-text lost the Unicode text: got '$got' ($(printf '%s' "$got" | od -An -tx1 | tr -d '\n'))"
ctl list | grep -q $'\tvisible\tKantiq-Probe$' || fail "list does not show the box"
ctl children Kantiq-Probe | grep -q $'^1\tButton\t' || fail "children does not show the OK button"
ctl click Kantiq-Probe 1 || fail "click"
closed_by click

show_box
ctl send-key Kantiq-Probe 13 || fail "send-key"
closed_by "send-key RETURN"

show_box
ctl close Kantiq-Probe || fail "close"
closed_by close

show_box
ctl msgbox-ok Kantiq-Probe || fail "msgbox-ok"
ctl wait-window Kantiq-Probe 0 2>/dev/null && fail "msgbox-ok returned before the box was gone"
wait "$pid" || fail "msgbox-ok: probe exit status $?"

# Failures scripts test for.
ctl msgbox-text "No such box" 200 2>/dev/null
[[ $? == 1 ]] || fail "a missing window is not exit status 1"
ctl click "No such window" 1 100 2>/dev/null
[[ $? == 1 ]] || fail "click on a missing window is not exit status 1"
ctl frobnicate x 2>/dev/null
[[ $? == 2 ]] || fail "an unknown command is not exit status 2"

endChecks "winctl: all commands work"
