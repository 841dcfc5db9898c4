# The checks the Wine test scripts report with, sourced by each of them: one
# line per check, "ok   <what>" or "FAIL <what>: ...". A failure sets
# failed=1; the script decides its exit status from that.

say() { printf '%s\n' "$*"; }

check() { # what, actual, expected
  if [[ $2 == "$3" ]]; then
    say "ok   $1"
  else
    say "FAIL $1: got [$2], expected [$3]"
    failed=1
  fi
}

checkTrue() { # what, command...
  local what=$1
  shift
  if "$@"; then say "ok   $what"; else say "FAIL $what"; failed=1; fi
}
