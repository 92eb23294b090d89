#!/usr/bin/env bash
# A private sound server for the PulseAudio backend's tests: no sound card, a null sink for speakers.
#
#   pulse-test-server.sh start DIR   starts it (socket DIR/native), waits until it answers
#   pulse-test-server.sh stop DIR    stops exactly that server and removes its socket
#
# Everything it owns lives in DIR. The server runs in an empty environment so that it neither finds the
# user's own server, configuration or cookie, nor registers itself on the user's session bus. When it
# cannot run here, start says why on its error output and in DIR/unavailable, and fails; with
# SONALTO_TEST_NO_SOUND_SERVER=1 (a machine without a sound server, on purpose) it succeeds instead, and
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

# Under $XDG_RUNTIME_DIR the server keeps its pid file in pulse/pid.
pid_file=$dir/pulse/pid
socket=$dir/native
reason_file=$dir/unavailable
log_file=$dir/server.log

server_pid() {
    local pid
    [ -r "$pid_file" ] || return 1
    pid=$(tr -dc '0-9' <"$pid_file")
    [ -n "$pid" ] || return 1
    # A stale pid file may name another process by now: only the server listening on DIR's socket counts.
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = pulseaudio ] || return 1
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF "socket=$socket " || return 1
    echo "$pid"
}

# Runs a command with nothing from the caller's environment but PATH, pointed at DIR.
in_private_env() {
    env -i PATH="$PATH" LANG=C HOME="$dir" XDG_RUNTIME_DIR="$dir" XDG_CONFIG_HOME="$dir/config" \
        XDG_STATE_HOME="$dir/state" XDG_CACHE_HOME="$dir/cache" PULSE_SERVER="unix:$socket" \
        DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/no-bus" "$@"
}

answers() {
    in_private_env timeout 3 pactl info >/dev/null 2>&1
}

sink_latency_usec() {
    in_private_env timeout 3 pactl list sinks 2>/dev/null |
        awk '$1 == "Name:" { ours = ($2 == "sonalto_null") } ours && $1 == "Latency:" { print $2; exit }'
}

unavailable() {
    echo "pulse-test-server: $1" >&2
    echo "$1" >"$reason_file"
    [ "${SONALTO_TEST_NO_SOUND_SERVER:-}" = 1 ] && exit 0
    exit 1
}

stop_server() {
    local pid i
    if pid=$(server_pid); then
        kill -TERM "$pid" 2>/dev/null
        for i in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        if kill -0 "$pid" 2>/dev/null; then
            echo "pulse-test-server: le serveur $pid ne s'arrête pas, arrêt forcé" >&2
            kill -KILL "$pid" 2>/dev/null
        fi
    fi
    rm -f "$socket" "$pid_file"
}

case $action in
start)
    mkdir -p "$dir" || exit 1
    chmod 700 "$dir"
    # A server left over from an interrupted run would hold the socket.
    stop_server
    rm -f "$reason_file" "$log_file"
    mkdir -p "$dir/config" "$dir/state" "$dir/cache"

    # A unix socket's path is limited to 107 bytes.
    if [ ${#socket} -gt 100 ]; then
        unavailable "chemin trop long pour une socket: $socket"
    fi
    if ! command -v pulseaudio >/dev/null 2>&1; then
        unavailable "pulseaudio n'est pas installé"
    fi
    if ! command -v pactl >/dev/null 2>&1; then
        unavailable "pactl n'est pas installé (paquet pulseaudio-utils)"
    fi

    # -n: no default script, so no sound card, bus or desktop modules; the modules below are all it has.
    # Running as root without --system only earns a warning. The server gets no real-time priority: a
    # test must not starve the machine it runs on.
    #
    # An idle null sink renders two seconds ahead and a new stream waits for that block to end, where a
    # sound card's sink would start it at once. A low-latency loopback from its monitor into a second
    # null sink keeps it rendering in short blocks, so streams start as promptly as on real hardware.
    if ! in_private_env timeout 10 pulseaudio -n --daemonize=yes --use-pid-file=yes --system=no \
        --exit-idle-time=-1 --disallow-exit=yes --realtime=no --high-priority=no \
        --log-target="file:$log_file" --log-level=notice \
        -L "module-native-protocol-unix socket=$socket auth-anonymous=1" \
        -L "module-null-sink sink_name=sonalto_null sink_properties=device.description=Sonalto-test" \
        -L "module-null-sink sink_name=sonalto_discard sink_properties=device.description=Sonalto-rebut" \
        -L "module-loopback source=sonalto_null.monitor sink=sonalto_discard latency_msec=20 source_dont_move=true sink_dont_move=true"; then
        why=$(tail -n 3 "$log_file" 2>/dev/null | tr '\n' ' ')
        stop_server
        unavailable "pulseaudio n'a pas démarré: $why"
    fi

    for i in $(seq 100); do
        if answers; then
            in_private_env pactl set-default-sink sonalto_null >/dev/null 2>&1
            # The block rendered before the loopback came up still has to run out (see above).
            for j in $(seq 30); do
                latency=$(sink_latency_usec)
                [ -n "$latency" ] && [ "$latency" -lt 30000 ] && break
                sleep 0.1
            done
            exit 0
        fi
        sleep 0.1
    done
    stop_server
    unavailable "pulseaudio ne répond pas sur $socket après 10 s"
    ;;
stop)
    stop_server
    exit 0
    ;;
*)
    usage
    ;;
esac
