# The checks the Wine test scripts report with, sourced by each of them: one
# line per check, "ok   <what>" or "FAIL <what>: ...". A failure sets
# failed=1; the script decides its exit status from that.

say() { printf '%s\n' "$*"; }

# Scripts that count their failures read $failures; the others $failed.
failures=${failures:-0}

check() { # what, actual, expected
  if [[ $2 == "$3" ]]; then
    say "ok   $1"
  else
    say "FAIL $1: got [$2], expected [$3]"
    failed=1
    failures=$((failures + 1))
  fi
}

# fail WHAT...: a check that failed; the script goes on. On standard error,
# with the case the script is in when it set $checkContext.
fail() {
  printf 'FAIL %s%s\n' "${checkContext:+[$checkContext] }" "$*" >&2
  failed=1
  failures=$((failures + 1))
}

# die WHAT...: a failure after which the script cannot go on.
die() {
  printf 'FAIL %s\n' "$*" >&2
  exit 1
}

# endChecks [LINE]: the script's end: status 1 and the count when a check
# failed, else LINE (if given) and status 0.
endChecks() {
  if ((failures > 0)); then
    echo "$failures failure(s)" >&2
    exit 1
  fi
  if (($# > 0)); then echo "$1"; fi
  exit 0
}

checkTrue() { # what, command...
  local what=$1
  shift
  if "$@"; then say "ok   $what"; else say "FAIL $what"; failed=1; failures=$((failures + 1)); fi
}
