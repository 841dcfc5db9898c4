#!/usr/bin/env bash
# Private environment for running the Windows build under Wine: its own
# prefix, X display (Xvfb) and sound server (PulseAudio with a null sink whose
# monitor is the default recording source), torn down when the command ends.
#
#   scripts/wine-env.sh run [--no-audio] [--keep] -- COMMAND [ARGS...]
#
# The scratch directory is $KANTIQ_WINE_HOME if set (kept between runs, so the
# prefix is reused), otherwise a fresh mktemp -d under /tmp that is removed at
# the end (unless --keep). A fresh prefix is seeded from a cached template
# ($KANTIQ_WINE_CACHE, default ~/.cache/kantiq-wine), so only the very first run
# pays for wineboot.
#
# COMMAND sees the environment exported; $KANTIQ_WINE_HOME/env.sh holds the
# same variables for scripts that need to re-source them. Exit status is
# COMMAND's; 125 when the environment itself could not be set up.
#
#   --no-audio   no sound server and no Wine ALSA/OSS driver: Wine sees no
#                sound card
#   --keep       keep a mktemp scratch directory (for looking at logs)
#
# The prefix is 32-bit unless KANTIQ_WINE_ARCH=win64 (exported to COMMAND, so
# a run started from inside this one gets the same). A 64-bit run is for a
# machine whose kernel cannot start Wine's 32-bit loader: it puts the 64-bit
# loader first on PATH as wine64, wine and wine-stable (which Debian's
# wineboot, winepath, ... start), so everything runs 64-bit. 32-bit Windows
# programs do not run there.
#
#   scripts/wine-env.sh sound-server stop|start
#
# Inside a run with audio: stop kills the environment's PulseAudio at once
# (SIGKILL, as a crash or a driver reset would end it); start starts it
# again with the same configuration. Teardown ends whichever is running.

# teardown and on_signal run from traps only.
# shellcheck disable=SC2317
set -uo pipefail

readonly SETUP_FAILED=125
readonly FLAKE_MSG='ShellExecuteEx failed: File not found'
readonly WINE64_LOADER=/usr/lib/wine/wine64

prog=${0##*/}
say() { printf '%s: %s\n' "$prog" "$*" >&2; }

# Set by the steps below; teardown looks at them.
H='' EPHEMERAL=0 KEEP=0 AUDIO=1
XVFB_PID='' PA_PID='' WINE_UP=0 CMD_PID='' TORN_DOWN=0 STEP=''

die() {
    say "FAILED at step '${STEP:-?}': $*"
    exit "$SETUP_FAILED"
}

# Print the end of a log file after a failure.
show_log() {
    [[ -s $1 ]] || return 0
    say "---- last lines of $1 ----"
    tail -n 25 "$1" >&2
    say "----"
}

usage() {
    sed -n '2,/^$/s/^# \{0,1\}//p' "$0" >&2
    exit 2
}

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

# A pid we started is gone once it no longer exists or is a zombie (a
# daemonised process whose new parent does not reap it stays a zombie).
pid_alive() {
    local state
    state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) || return 1
    [[ -n $state && $state != Z && $state != X ]]
}

# Kill one recorded pid, but only if it still is the program we started.
kill_recorded() {
    local pid=$1 comm=$2 i
    [[ -n $pid ]] || return 0
    pid_alive "$pid" || return 0
    if [[ $(cat "/proc/$pid/comm" 2>/dev/null) != "$comm"* ]]; then
        say "warning: pid $pid is no longer $comm; not killing it"
        return 0
    fi
    kill -TERM "$pid" 2>/dev/null
    for ((i = 0; i < 50; i++)); do
        pid_alive "$pid" || return 0
        sleep 0.1
    done
    say "warning: $comm (pid $pid) ignored SIGTERM; sending SIGKILL"
    kill -KILL "$pid" 2>/dev/null
}

teardown() {
    local status=$?
    ((TORN_DOWN)) && return
    TORN_DOWN=1
    trap - EXIT INT TERM HUP
    if ((WINE_UP)); then
        wineserver -k >/dev/null 2>&1
        timeout 30 wineserver -w >/dev/null 2>&1 ||
            say "warning: wineserver did not exit within 30 s (prefix $WINEPREFIX)"
    fi
    kill_recorded "$PA_PID" pulseaudio
    # One started again by "sound-server start" has a pid of its own.
    local restarted
    restarted=$(cat "${PULSE_RUNTIME_PATH:-/nonexistent}/pid" 2>/dev/null)
    [[ $restarted =~ ^[0-9]+$ && $restarted != "$PA_PID" ]] && kill_recorded "$restarted" pulseaudio
    if [[ -n $XVFB_PID ]]; then
        kill_recorded "$XVFB_PID" Xvfb
        wait "$XVFB_PID" 2>/dev/null
    fi
    if [[ -n $H ]]; then
        if ((EPHEMERAL && !KEEP)); then
            rm -rf -- "$H"
        else
            rm -rf -- "$H/tmp" "$H/xdg" "$H/display" "$H/pids" "${H:?}/bin"
            ((EPHEMERAL)) && say "kept scratch directory $H"
        fi
    fi
    exit "$status"
}

on_signal() {
    local sig=$1 code=$2
    say "caught SIG$sig, tearing down"
    if [[ -n $CMD_PID ]]; then
        kill -TERM "$CMD_PID" 2>/dev/null
        wait "$CMD_PID" 2>/dev/null
    fi
    exit "$code"
}

# Run one Wine setup step, output to the setup log. A cold start sometimes
# fails once with FLAKE_MSG while a server on the prefix is shutting down;
# that exact failure is retried once after the server has gone.
wine_step() {
    local log=$H/log/wine-setup.log mark
    STEP=$1
    shift
    mark=$(wc -l <"$log")
    printf '== %s: %s\n' "$STEP" "$*" >>"$log"
    "$@" </dev/null >>"$log" 2>&1 9>&-
    local rc=$?
    if ((rc != 0)) && tail -n +"$((mark + 1))" "$log" | grep -qF "$FLAKE_MSG"; then
        say "'$STEP' hit '$FLAKE_MSG'; retrying once"
        timeout 30 wineserver -w >/dev/null 2>&1
        printf '== retry %s\n' "$STEP" >>"$log"
        "$@" </dev/null >>"$log" 2>&1 9>&-
        rc=$?
    fi
    if ((rc != 0)); then
        show_log "$log"
        die "'$*' exited with $rc (log: $log)"
    fi
}

# The template depends on the Wine build, the prefix architecture and the
# user the prefix belongs to. The architecture also names the template, so
# the 32-bit and the 64-bit one sit side by side in the cache.
prefix_key() {
    local inf=/usr/share/wine/wine.inf ver mtime
    ver=$(wine --version 2>/dev/null) || die "'wine --version' failed; is wine installed?"
    mtime=$(stat -c %Y "$inf" 2>/dev/null || echo none)
    printf '%s-' "$WINEARCH"
    printf '%s|%s|%s|%s' "$ver" "$mtime" "$WINEARCH" "$(id -un)" | md5sum | cut -c1-16
}

# Point the user folders (Desktop, Documents, ...) that Wine links to the
# home directory of the prefix's creator at this run's home.
relink_home() {
    local prefix=$1 old_home=$2 link target
    [[ $old_home == "$HOME" ]] && return 0
    while IFS= read -r -d '' link; do
        target=$(readlink "$link")
        case $target in
            "$old_home") ln -sfn -- "$HOME" "$link" ;;
            "$old_home"/*) ln -sfn -- "$HOME${target#"$old_home"}" "$link" ;;
        esac
    done < <(find "$prefix/drive_c/users" -type l -print0)
}

# Copy the template into $WINEPREFIX. An ephemeral prefix hard-links the
# large builtin binaries (nothing writes them in place unless Wine itself is
# upgraded mid-run) and copies everything else, the registry and .ini files
# above all, since those are rewritten by running programs. A kept prefix
# gets a full copy.
seed_prefix() {
    local tpl=$1
    if ((EPHEMERAL)) && cp -a --link -- "$tpl/prefix" "$WINEPREFIX" 2>/dev/null; then
        find "$WINEPREFIX" -type f \
            ! -iregex '.*\.\(dll\|exe\|drv\|sys\|ocx\|acm\|cpl\|tlb\|ax\|ds\|mui\|msstyles\|nls\|ttf\|fon\)' \
            -print0 |
            while IFS= read -r -d '' f; do
                cp -p --remove-destination -- "$tpl/prefix${f#"$WINEPREFIX"}" "$f" || exit 1
            done || die "could not unshare the writable files of $WINEPREFIX"
    else
        rm -rf -- "$WINEPREFIX"
        cp -a -- "$tpl/prefix" "$WINEPREFIX" || die "could not copy the template $tpl/prefix"
    fi
    relink_home "$WINEPREFIX" "$(cat "$tpl/home")"
}

# Save the freshly booted prefix (server stopped) as the template. Two cold
# runs racing here both succeed; the second one's copy is dropped.
save_template() {
    local cache=$1 key=$2 build
    mkdir -p -- "$cache" || { say "warning: cannot create $cache; no template saved"; return 0; }
    build=$(mktemp -d "$cache/.build.XXXXXX") || return 0
    if cp -a -- "$WINEPREFIX" "$build/prefix" && printf '%s\n' "$HOME" >"$build/home" &&
        mv -T -- "$build" "$cache/$key" 2>/dev/null; then
        say "saved prefix template $cache/$key"
    else
        rm -rf -- "$build"
    fi
}

start_xvfb() {
    local i disp
    STEP="start Xvfb"
    : >"$H/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
        3>"$H/display" </dev/null >"$H/log/xvfb.log" 2>&1 9>&- &
    XVFB_PID=$!
    for ((i = 0; i < 200; i++)); do
        [[ -s $H/display ]] && break
        if ! pid_alive "$XVFB_PID"; then
            show_log "$H/log/xvfb.log"
            die "Xvfb exited before reporting a display"
        fi
        sleep 0.05
    done
    disp=$(tr -dc 0-9 <"$H/display")
    [[ -n $disp ]] || { show_log "$H/log/xvfb.log"; die "Xvfb reported no display within 10 s"; }
    export DISPLAY=:$disp
}

# PulseAudio refuses nothing when run as root outside --system mode: it only
# warns. With its own XDG_RUNTIME_DIR, HOME (cookie) and -n (no default
# script) it is fully private. PULSE_SERVER names the socket explicitly so no
# client ever falls back to a system-wide server, and autospawn is off so a
# client never starts a stray daemon of its own.
# --daemonize returns only once the daemon has finished starting up.
launch_pulse() {
    if ! pulseaudio --daemonize=yes --exit-idle-time=-1 -n -F "$H/pa.pa" \
        --log-target=file:"$H/log/pulse.log" </dev/null >>"$H/log/pulse.log" 2>&1 9>&-; then
        show_log "$H/log/pulse.log"
        die "pulseaudio did not start"
    fi
}

start_pulse() {
    STEP="start PulseAudio"
    export PULSE_RUNTIME_PATH=$XDG_RUNTIME_DIR/pulse
    export PULSE_CLIENTCONFIG=$H/pulse-client.conf
    printf 'autospawn = no\n' >"$PULSE_CLIENTCONFIG"
    if ((!AUDIO)); then
        # A socket path nobody listens on: every client fails to connect.
        # Wine's ALSA and OSS drivers are switched off as well, so that a
        # sound card of the host never shows through.
        export PULSE_SERVER=unix:$H/no-sound-server
        WINEDLLOVERRIDES+=";winealsa.drv,wineoss.drv="
        return 0
    fi
    export PULSE_SERVER=unix:$PULSE_RUNTIME_PATH/native
    cat >"$H/pa.pa" <<'EOF'
load-module module-native-protocol-unix
load-module module-null-sink sink_name=nullout
set-default-sink nullout
set-default-source nullout.monitor
EOF
    launch_pulse
    PA_PID=$(cat "$PULSE_RUNTIME_PATH/pid" 2>/dev/null)
    if ! [[ $PA_PID =~ ^[0-9]+$ ]] || ! pid_alive "$PA_PID"; then
        die "pulseaudio started but left no live pid in $PULSE_RUNTIME_PATH/pid"
    fi
    STEP="check PulseAudio"
    local info
    info=$(pactl info 2>&1) || { say "$info"; show_log "$H/log/pulse.log"; die "pactl cannot reach the server"; }
    grep -q '^Default Source: nullout.monitor$' <<<"$info" ||
        { say "$info"; die "default source is not nullout.monitor"; }
}

setup_prefix() {
    local cache=$KANTIQ_WINE_CACHE key how
    export WINEPREFIX=$H/prefix
    STEP="check prefix"
    key=$(prefix_key) || exit "$SETUP_FAILED"
    if [[ -f $WINEPREFIX/.kantiq-key && $(cat "$WINEPREFIX/.kantiq-key") == "$key" ]]; then
        how=reused
    else
        if [[ -e $WINEPREFIX ]]; then
            say "prefix $WINEPREFIX is incomplete or from another Wine build; rebuilding it"
            rm -rf -- "$WINEPREFIX"
        fi
        if [[ -d $cache/$key/prefix && -f $cache/$key/home ]]; then
            STEP="copy prefix template"
            seed_prefix "$cache/$key"
            how=template
        else
            say "no prefix template yet; cold wineboot (about 20 s, once)"
            wine_step "wineboot -i" wineboot -i
            wine_step "registry: X11 Managed=N" \
                wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
            STEP="wineserver -w after wineboot"
            timeout 60 wineserver -w || die "wineserver did not exit after wineboot"
            save_template "$cache" "$key"
            how=cold
        fi
    fi
    # One persistent server for the whole run: programs start in a fraction
    # of a second and no server shuts down between two tests.
    STEP="wineserver -p"
    WINE_UP=1
    wineserver -p </dev/null >>"$H/log/wine-setup.log" 2>&1 9>&- ||
        { show_log "$H/log/wine-setup.log"; die "wineserver -p failed"; }
    # Start Wine's service processes now, with their output going to the log,
    # so that they are not born inside a test holding its output pipe open.
    wine_step "warm-up" wine cmd /c exit 0
    printf '%s\n' "$key" >"$WINEPREFIX/.kantiq-key"
    PREFIX_HOW=$how
}

write_env_file() {
    local v
    {
        printf '# Sourced by tests run inside %s; written %s.\n' "$prog" "$(date -Is)"
        for v in KANTIQ_WINE_HOME KANTIQ_WINE_AUDIO KANTIQ_WINE_CACHE KANTIQ_WINE_ARCH \
            WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES PATH TMPDIR XDG_RUNTIME_DIR HOME LC_ALL DISPLAY \
            PULSE_SERVER PULSE_RUNTIME_PATH PULSE_CLIENTCONFIG; do
            printf 'export %s=%q\n' "$v" "${!v}"
        done
    } >"$H/env.sh"
}

# A kept scratch directory may hold the remains of a run that was killed
# before it could tear down (SIGKILL, a crash): its Wine server (reachable
# only through that run's TMPDIR, which is about to be wiped) and the Xvfb
# and PulseAudio it recorded in $H/pids.
reap_leftovers() {
    local pid comm
    STEP="clean up after an earlier run"
    if [[ -d $H/tmp && -d $H/prefix ]] &&
        TMPDIR=$H/tmp WINEPREFIX=$H/prefix wineserver -k >/dev/null 2>&1; then
        say "stopped a Wine server left running by an earlier run in $H"
        TMPDIR=$H/tmp WINEPREFIX=$H/prefix timeout 30 wineserver -w >/dev/null 2>&1 ||
            die "the leftover Wine server in $H does not exit"
    fi
    if [[ -f $H/pids ]]; then
        while read -r pid comm; do
            if pid_alive "$pid"; then
                say "stopping $comm (pid $pid) left running by an earlier run in $H"
                kill_recorded "$pid" "$comm"
            fi
        done <"$H/pids"
        rm -f -- "$H/pids"
    fi
}

cmd_run() {
    while (($#)); do
        case $1 in
            --no-audio) AUDIO=0 ;;
            --keep) KEEP=1 ;;
            --) shift; break ;;
            *) say "unknown option '$1'"; usage ;;
        esac
        shift
    done
    (($#)) || { say "no command given"; usage; }

    local t0 tool
    t0=$(now)
    STEP="check architecture"
    case ${KANTIQ_WINE_ARCH:=win32} in
        win32 | win64) ;;
        *) die "KANTIQ_WINE_ARCH is '$KANTIQ_WINE_ARCH'; it must be win32 or win64" ;;
    esac
    STEP="check tools"
    if [[ $KANTIQ_WINE_ARCH == win64 ]]; then
        [[ -x $WINE64_LOADER ]] || die "$WINE64_LOADER not found (Debian package wine64)"
    fi
    for tool in wine wineboot wineserver Xvfb flock; do
        command -v "$tool" >/dev/null || die "'$tool' not found in PATH"
    done
    if ((AUDIO)); then
        for tool in pulseaudio pactl; do
            command -v "$tool" >/dev/null || die "'$tool' not found in PATH (or use --no-audio)"
        done
    fi

    trap teardown EXIT
    trap 'on_signal INT 130' INT
    trap 'on_signal TERM 143' TERM
    trap 'on_signal HUP 129' HUP

    STEP="scratch directory"
    if [[ -n ${KANTIQ_WINE_HOME:-} ]]; then
        H=$KANTIQ_WINE_HOME
        mkdir -p -- "$H" || die "cannot create $H"
        H=$(cd -- "$H" && pwd -P)
    else
        H=$(mktemp -d /tmp/kantiq-wine.XXXXXX) || die "mktemp failed"
        EPHEMERAL=1
    fi
    # One run per scratch directory; fd 9 is closed for everything started.
    exec 9>"$H/.lock"
    flock -n 9 || { H=; die "another run is using $KANTIQ_WINE_HOME"; }
    reap_leftovers
    rm -rf -- "$H/tmp" "$H/xdg" "$H/log" "${H:?}/bin"
    mkdir -p -- "$H/tmp" "$H/xdg" "$H/home" "$H/log" || die "cannot populate $H"
    chmod 700 "$H/xdg"
    : >"$H/log/wine-setup.log"

    # Resolved before HOME changes, and exported, so that a run started
    # from inside this one finds the same template.
    export KANTIQ_WINE_CACHE=${KANTIQ_WINE_CACHE:-${XDG_CACHE_HOME:-${HOME:?}/.cache}/kantiq-wine}
    export KANTIQ_WINE_HOME=$H KANTIQ_WINE_AUDIO=$AUDIO
    export KANTIQ_WINE_ARCH WINEARCH=$KANTIQ_WINE_ARCH WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    if [[ $KANTIQ_WINE_ARCH == win64 ]]; then
        STEP="64-bit loader on PATH"
        mkdir -p -- "$H/bin" || die "cannot create $H/bin"
        # The loader goes by the name it is started under and refuses to
        # start as "wine"; those names are scripts that start it as itself.
        for tool in wine wine-stable; do
            if ! printf '#!/bin/sh\nexec %s "$@"\n' "$WINE64_LOADER" >"$H/bin/$tool" ||
                ! chmod +x "$H/bin/$tool"; then
                die "cannot write $H/bin/$tool"
            fi
        done
        ln -s -- "$WINE64_LOADER" "$H/bin/wine64" || die "cannot link $H/bin/wine64"
        export PATH=$H/bin:$PATH
    fi
    export TMPDIR=$H/tmp XDG_RUNTIME_DIR=$H/xdg HOME=$H/home LC_ALL=C.UTF-8

    start_xvfb
    start_pulse
    printf '%s Xvfb\n%s pulseaudio\n' "$XVFB_PID" "$PA_PID" >"$H/pids"
    setup_prefix
    write_env_file
    say "ready in $(elapsed "$t0") s: prefix $PREFIX_HOW, display $DISPLAY," \
        "audio $( ((AUDIO)) && echo "on (pid $PA_PID)" || echo off), scratch $H"

    STEP=
    # In the background so that a signal reaches our trap at once; stdin is
    # passed on explicitly (a background job would otherwise get /dev/null).
    "$@" 0<&0 9>&- &
    CMD_PID=$!
    wait "$CMD_PID"
    local status=$?
    CMD_PID=
    return "$status"
}

cmd_sound_server() {
    [[ -n ${KANTIQ_WINE_HOME:-} && ${KANTIQ_WINE_AUDIO:-} == 1 && -n ${PULSE_RUNTIME_PATH:-} ]] ||
        { say "sound-server: only inside '$prog run' with audio"; exit 2; }
    H=$KANTIQ_WINE_HOME
    local pid i
    pid=$(cat "$PULSE_RUNTIME_PATH/pid" 2>/dev/null)
    local running=0
    [[ $pid =~ ^[0-9]+$ ]] && pid_alive "$pid" && [[ $(cat "/proc/$pid/comm" 2>/dev/null) == pulseaudio* ]] && running=1
    case ${1:-} in
        stop)
            ((running)) || { say "sound-server: no sound server is running"; exit 1; }
            kill -KILL "$pid"
            for ((i = 0; i < 100; i++)); do pid_alive "$pid" || exit 0; sleep 0.05; done
            say "sound-server: pid $pid did not end"; exit 1 ;;
        start)
            ((running)) && { say "sound-server: already running (pid $pid)"; exit 1; }
            STEP="start PulseAudio again"
            launch_pulse
            pactl info >/dev/null 2>&1 || die "pactl cannot reach the restarted server"
            exit 0 ;;
        *) say "usage: $prog sound-server stop|start"; exit 2 ;;
    esac
}

case ${1:-} in
    run) shift; cmd_run "$@"; exit $? ;;
    sound-server) shift; cmd_sound_server "$@" ;;
    -h | --help | help) usage ;;
    *) say "usage: $prog run [--no-audio] [--keep] -- COMMAND [ARGS...]"; exit 2 ;;
esac
