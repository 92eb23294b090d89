#!/usr/bin/env bash
# A private PipeWire server for the sound server backends' tests: PipeWire, its session manager and its
# PulseAudio-protocol server on a D-Bus session bus of their own; no sound card, a null sink for speakers.
#
#   pipewire-test-server.sh start DIR   starts it (PulseAudio-protocol socket DIR/native), waits until it answers
#   pipewire-test-server.sh stop DIR    stops exactly those processes and removes the socket
#
# Everything it owns lives in DIR, which is also their XDG_RUNTIME_DIR. The processes run in an empty
# environment so that they find neither the user's own server, configuration nor session bus. When the
# server cannot run here, start says why on its error output and in DIR/unavailable and fails; with
# SONALTO_TEST_NO_SOUND_SERVER=1 (a machine without the packages, on purpose) it succeeds instead, and
# the tests read the reason and skip.
set -u

usage() {
    echo "usage : $0 start|stop DIR" >&2
    exit 2
}

[ $# -eq 2 ] || usage
action=$1
dir=$2
case $dir in
/*) ;;
*) dir=$PWD/$dir ;;
esac

script=$(readlink -f "$0")
socket=$dir/native
# One line per process: its name, then its pid.
pids_file=$dir/pids
reason_file=$dir/unavailable
log_file=$dir/server.log
config=$dir/config

# Nothing from the caller's environment but PATH, pointed at DIR.
private_env=(env -i PATH="$PATH" LANG=C HOME="$dir" XDG_RUNTIME_DIR="$dir" XDG_CONFIG_HOME="$config"
    XDG_STATE_HOME="$dir/state" XDG_CACHE_HOME="$dir/cache" XDG_DATA_HOME="$dir/data"
    PULSE_SERVER="unix:$socket")

private_pactl() {
    "${private_env[@]}" timeout 3 pactl "$@"
}

answers() {
    private_pactl info >/dev/null 2>&1
}

unavailable() {
    echo "pipewire-test-server: $1" >&2
    echo "$1" >"$reason_file"
    [ "${SONALTO_TEST_NO_SOUND_SERVER:-}" = 1 ] && exit 0
    exit 1
}

# Whether that pid is still the process of that name started for DIR: a stale pid file may name another
# process by now, and only ours carry DIR as their runtime folder.
ours() {
    local name=$1 pid=$2
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = "${name:0:15}" ] || return 1
    { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "XDG_RUNTIME_DIR=$dir"
}

# Sends TERM to the process and waits for it to go; KILL after five seconds.
stop_process() {
    local name=$1 pid=$2 i
    ours "$name" "$pid" || return 0
    kill -TERM "$pid" 2>/dev/null
    for i in $(seq 50); do
        ours "$name" "$pid" || return 0
        sleep 0.1
    done
    echo "pipewire-test-server: $name ($pid) ne s'arrête pas, arrêt forcé" >&2
    kill -KILL "$pid" 2>/dev/null
}

stop_server() {
    local name n pid i alive
    if [ -r "$pids_file" ]; then
        # The clients of PipeWire first, then PipeWire. The rest go by themselves once those have: the
        # session's shell ends, then dbus-run-session ends the bus. Stopped here only if they stay.
        for name in pipewire-pulse wireplumber pipewire; do
            while read -r n pid; do
                [ "$n" = "$name" ] && stop_process "$name" "$pid"
            done <"$pids_file"
        done
        for i in $(seq 20); do
            alive=no
            while read -r n pid; do
                ours "$n" "$pid" && alive=yes
            done <"$pids_file"
            [ $alive = no ] && break
            sleep 0.1
        done
        while read -r n pid; do
            stop_process "$n" "$pid"
        done <"$pids_file"
    fi
    rm -f "$pids_file" "$socket" "$dir/pipewire-0" "$dir/pipewire-0.lock" "$dir/pipewire-0-manager" \
        "$dir/pipewire-0-manager.lock"
}

# What dbus-run-session runs (the script itself, as "session DIR"): the three processes, each once the
# one it talks to is up, their pids written down; it ends when they have all gone.
session() {
    local bus i
    echo "bash $$" >>"$pids_file"
    echo "dbus-run-session $PPID" >>"$pids_file"
    # The bus is the other child of dbus-run-session.
    for bus in $(cat "/proc/$PPID/task/$PPID/children" 2>/dev/null); do
        [ "$bus" != $$ ] && echo "dbus-daemon $bus" >>"$pids_file"
    done
    pipewire &
    echo "pipewire $!" >>"$pids_file"
    for i in $(seq 100); do
        [ -S "$dir/pipewire-0" ] && break
        sleep 0.05
    done
    wireplumber &
    echo "wireplumber $!" >>"$pids_file"
    pipewire-pulse &
    echo "pipewire-pulse $!" >>"$pids_file"
    wait
}

case $action in
start)
    mkdir -p "$dir" || exit 1
    chmod 700 "$dir"
    # Processes left over from an interrupted run would hold the sockets.
    stop_server
    rm -rf "$reason_file" "$log_file" "$dir/state"
    mkdir -p "$config/pipewire/pipewire-pulse.conf.d" "$config/wireplumber/main.lua.d" "$dir/state" \
        "$dir/cache" "$dir/data"

    # A unix socket's path is limited to 107 bytes.
    if [ ${#socket} -gt 100 ]; then
        unavailable "chemin trop long pour une socket: $socket"
    fi
    for command in pipewire wireplumber pipewire-pulse dbus-run-session pactl; do
        command -v "$command" >/dev/null 2>&1 || unavailable "$command n'est pas installé"
    done

    # The PulseAudio-protocol socket where the tests look for it, instead of DIR/pulse/native.
    cat >"$config/pipewire/pipewire-pulse.conf.d/sonalto-test.conf" <<EOF
pulse.properties = {
    server.address = [ "unix:$socket" ]
}
EOF
    # Like the PulseAudio server of the tests, no memory of streams: a desktop gives a new stream the
    # volume and the device that the last one of its role had, so one test's volume would carry over into
    # the next test's streams. Nothing is kept from one run to the next either.
    cat >"$config/wireplumber/main.lua.d/41-sonalto-test.lua" <<EOF
stream_defaults.properties["restore-props"] = false
stream_defaults.properties["restore-target"] = false
EOF

    # Detached from the caller's session and output: ctest waits for the output of a test to close.
    "${private_env[@]}" setsid dbus-run-session -- bash "$script" session "$dir" </dev/null >>"$log_file" 2>&1 &

    for i in $(seq 100); do
        if answers; then
            # Speakers: a null sink, the default one; a second one whose monitor is another source.
            if ! private_pactl load-module module-null-sink sink_name=sonalto_null \
                sink_properties=device.description=Sonalto-test >/dev/null ||
                ! private_pactl load-module module-null-sink sink_name=sonalto_discard \
                    sink_properties=device.description=Sonalto-rebut >/dev/null; then
                stop_server
                unavailable "pipewire-pulse refuse module-null-sink: $(tail -n 3 "$log_file" | tr '\n' ' ')"
            fi
            # The session manager makes the choice the default; it takes a moment.
            for j in $(seq 50); do
                private_pactl set-default-sink sonalto_null >/dev/null 2>&1
                [ "$(private_pactl get-default-sink 2>/dev/null)" = sonalto_null ] && exit 0
                sleep 0.1
            done
            stop_server
            unavailable "le puits sonalto_null ne devient pas le puits par défaut"
        fi
        sleep 0.1
    done
    why=$(tail -n 3 "$log_file" 2>/dev/null | tr '\n' ' ')
    stop_server
    unavailable "pipewire-pulse ne répond pas sur $socket après 10 s: $why"
    ;;
stop)
    stop_server
    exit 0
    ;;
session)
    session
    ;;
*)
    usage
    ;;
esac
