# Shared by the Wine tests of S.exe: a scratch folder per case with S.exe in
# it, the fake modem (a pseudo-terminal linked as COM5 in the prefix) and the
# fake gateway on 127.0.0.1, and checks on what they and the send log got.
# The sourcing script sets sender_exe, launcher and alarm_chain first.

work=$(mktemp -d /tmp/sender-wine.XXXXXX)
failures=0
helpers=()

cleanup() {
    local pid
    for pid in "${helpers[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    rm -rf -- "$work"
}
trap cleanup EXIT

source "$(dirname "${BASH_SOURCE[0]}")/../lib/checks.sh"
# -c: the five codes Windows-1252 leaves unassigned may appear in a garbled text.
log_text() { iconv -c -f CP1252 -t UTF-8 "$dir/SendeLog.txt" 2>/dev/null; }
# grep without -q reads to the end: an early exit would fail the pipe.
expect_log() {  # a fixed text the send log must contain
    log_text | grep -F -- "$1" >/dev/null || { fail "send log lacks: $1"; log_text | sed 's/^/    log: /' >&2; }
}
expect_code() { [[ $code == "$1" ]] || fail "exit code $code, expected $1"; }
expect_sms() {  # the exact messages the modem accepted, one "number<TAB>text" per line
    local want got
    want=$(printf '%s\n' "$@")
    got=$(cat "$dir/modem.sms" 2>/dev/null)
    [[ $got == "$want" ]] || { fail "modem received:"; printf '    got:  %s\n' "$got" >&2; printf '    want: %s\n' "$want" >&2; }
}

# new_case NAME: a fresh folder with S.exe; the caller writes S.toml.
new_case() {
    checkContext=$1
    echo "case $1" >&2
    dir=$work/$1
    mkdir -p "$dir"
    cp "$sender_exe" "$dir/S.exe"
    winfolder="Z:${dir//\//\\}"
}

start_modem() {  # fake modem options...
    rm -f "$dir"/modem.*
    python3 "$here/fake_modem.py" --link "$WINEPREFIX/dosdevices/com5" --record "$dir/modem" "$@" &
    modem_pid=$!
    helpers+=("$modem_pid")
    local i
    for ((i = 0; i < 100; i++)); do [[ -e $dir/modem.ready ]] && return; sleep 0.05; done
    fail "fake modem did not start"
}
stop_modem() { kill "$modem_pid" 2>/dev/null; wait "$modem_pid" 2>/dev/null; }

start_gateway() {  # answers [more fake gateway options]
    rm -f "$dir"/gw.*
    python3 "$here/fake_gateway.py" --record "$dir/gw" --answers "$@" &
    gateway_pid=$!
    helpers+=("$gateway_pid")
    local i
    for ((i = 0; i < 100; i++)); do [[ -e $dir/gw.port ]] && break; sleep 0.05; done
    port=$(cat "$dir/gw.port")
}
stop_gateway() { kill "$gateway_pid" 2>/dev/null; wait "$gateway_pid" 2>/dev/null; }

hex() { printf '%s' "$1" | iconv -f UTF-8 -t CP1252 | od -An -tx1 | tr -d ' \n'; }
send() {  # alarm|test|raw TEXT (UTF-8 here, Windows-1252 on the command line)
    wine "$launcher" "$winfolder" "$1" "$(hex "$2")" >"$dir/stdout" 2>&1
    code=$?
}

modem_config() {  # extra lines for [modem], then the rest
    cat >"$dir/S.toml" <<TOML
kanal = "modem"
test_text = "Kantiq Test: SMS-Versand funktioniert."
[modem]
anschluss = "COM5"
antwortzeit_s = 1
$1
[wiederholung]
versuche = 2
erste_wartezeit_s = 1
[[gruppe]]
name = "Führung"
alle_alarme = true
nummern = ["+49 170 1111111"]
[[gruppe]]
name = "Löschzug Süd"
stichworte = ["Süd"]
nummern = ["0171/2222222", "+491701111111"]
TOML
}

http_config() {  # timeout seconds
    cat >"$dir/S.toml" <<TOML
kanal = "http"
[http]
url = "http://127.0.0.1:$port/api/send?key=abc"
format = "form"
inhalt = "to={nummer}&msg={text}"
kopfzeilen = { X-Api-Key = "geheim" }
erfolg_text = "queued"
zeitlimit_s = $1
[wiederholung]
versuche = 3
erste_wartezeit_s = 1
[[gruppe]]
alle_alarme = true
nummern = ["+491701111111"]
TOML
}
request_field() {  # n field
    python3 -c 'import json,sys; r=[json.loads(l) for l in open(sys.argv[1])][int(sys.argv[2])]; f=sys.argv[3]; print(r["headers"].get(f, "") if f.islower() and "-" in f else r[f])' \
        "$dir/gw.requests" "$1" "$2"
}

# ---- for the fault matrix
raw_count() { grep -o -- "$1" "$dir/modem.raw" 2>/dev/null | wc -l; }
sms_count() { grep -c -- "$1" "$dir/modem.sms" 2>/dev/null; }
stdout_has() { iconv -c -f CP1252 -t UTF-8 "$dir/${2:-stdout}" | grep -F -- "$1" >/dev/null || { fail "stdout lacks: $1"; iconv -c -f CP1252 -t UTF-8 "$dir/${2:-stdout}" | sed 's/^/    out: /' >&2; }; }
# The process id S.exe put into the names of its outbox files.
sender_pid() { ls "$dir/Postausgang" 2>/dev/null | sed -n 's/^[0-9]*-\([0-9]*\)-[0-9]*\.sms$/\1/p' | head -n 1; }
wait_for() {  # seconds, command...: polls every 50 ms
    local limit=$1 i
    shift
    for ((i = 0; i < limit * 20; i++)); do "$@" && return 0; sleep 0.05; done
    return 1
}
sms_lines_at_least() { [[ -e $dir/modem.sms && $(wc -l <"$dir/modem.sms") -ge $1 ]]; }
now_ms() { date +%s%3N; }

