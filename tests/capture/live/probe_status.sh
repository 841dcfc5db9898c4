# Sourced by the live capture tests.

# Wine's PulseAudio capture now and then dies of SIGSEGV in its own threads
# while a process ends (status 139; a fault in the probe's code would be a
# Windows exception, reported as "Unhandled"). Once the probe has said it
# finished, such an end is not the probe's failure; it is shown, not hidden.
probe_status() { # probe_status RC OUTPUT_FILE: prints the status to judge by
    if (($1 == 139)) && grep -q '^finished: rc=0' "$2" && ! grep -q 'Unhandled' "$2"; then
        printf '  note: wine died of SIGSEGV after the probe had finished\n' >&2
        echo 0
    else
        echo "$1"
    fi
}
