#!/usr/bin/env bash
# make demo: runs VexServer with the simulated machine and watches its positions and
# probe hits for a while, the way the driver sees them.
#
# The server runs in a temporary working folder made from examples/ (VEX.XML with the
# simulator, VEXENC7480.XML), on a free TCP port, with its window shown when there is a
# display and hidden otherwise. tactus-tool watch connects to it; afterwards the server
# is ended with the "EXI" request, and killed only if it does not end by itself.
#
# Environment: DEMO_SECONDS (default 20) sets how long to watch; VEX_BIN_DIR the folder
# with the programs (default build/bin); VEXSIM_SCRIPT another motion script
# (docs/simulator.md).
set -euo pipefail
# The server runs in another folder: a script named relative to here must still be found.
if [[ -n ${VEXSIM_SCRIPT:-} ]]; then
    [[ -r $VEXSIM_SCRIPT ]] || { echo "demo: cannot read VEXSIM_SCRIPT=$VEXSIM_SCRIPT" >&2; exit 1; }
    VEXSIM_SCRIPT=$(realpath "$VEXSIM_SCRIPT")
    export VEXSIM_SCRIPT
fi
cd "$(dirname "$0")/.."
ROOT=$PWD
BIN=${VEX_BIN_DIR:-$ROOT/build/bin}
SECONDS_TO_WATCH=${DEMO_SECONDS:-20}

say() { printf '%s\n' "$*"; }
fail() {
    printf 'demo: %s\n' "$*" >&2
    exit 1
}

for file in VexServer libVexSimulator.so tactus-tool; do
    [[ -e $BIN/$file ]] || fail "$BIN/$file is missing; build first (make build)."
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vexserver-demo.XXXXXX")
SERVER_PID=""
PORT=""

# True when something accepts connections on the port.
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

server_running() { [[ -n $SERVER_PID ]] && kill -0 "$SERVER_PID" 2>/dev/null; }

# Ends the server: "EXI" first, as a client would; a signal only as a last resort.
stop_server() {
    [[ -n $SERVER_PID ]] || return 0
    if server_running && [[ -n $PORT ]] && exec 3<>"/dev/tcp/127.0.0.1/$PORT"; then
        printf 'EXI' >&3
        exec 3>&-
    fi 2>/dev/null
    for _ in $(seq 100); do
        server_running || break
        sleep 0.1
    done
    if server_running; then
        say "VexServer did not end on \"EXI\"; stopping it with a signal."
        kill -TERM "$SERVER_PID" 2>/dev/null || true
        sleep 1
        kill -KILL "$SERVER_PID" 2>/dev/null || true
    fi
    wait "$SERVER_PID" 2>/dev/null && status=0 || status=$?
    SERVER_PID=""
    return "$status"
}

cleanup() {
    stop_server >/dev/null 2>&1 || true
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'say ""; say "Interrupted."; exit 130' INT TERM

if [[ -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} ]]; then
    WINDOW=SHOW
    WINDOW_NOTE="its window \"Vexline\" opens on your display"
else
    WINDOW=HIDE
    WINDOW_NOTE="no display, so its window stays hidden"
fi

cp "$ROOT/examples/VEX.XML" "$ROOT/examples/VEXENC7480.XML" "$WORK/"

say "VexServer demo"
say "=============="
say "Working folder: $WORK (VEX.XML and VEXENC7480.XML copied from examples/)"
if [[ -n ${VEXSIM_SCRIPT:-} ]]; then
    say "Simulated machine: motion script $VEXSIM_SCRIPT"
else
    say "Simulated machine: the probe touches a 25 mm sphere from six directions, again and again"
fi

# Starts the server on a free port; a port taken in the meantime means another try.
for attempt in 1 2 3 4 5; do
    PORT=$((20000 + RANDOM % 40000))
    port_open "$PORT" && continue
    sed -e "s|<TCPPortNumber>[^<]*</TCPPortNumber>|<TCPPortNumber>$PORT</TCPPortNumber>|" \
        -e "s|<WINDOW_HIDE_SHOW>[^<]*</WINDOW_HIDE_SHOW>|<WINDOW_HIDE_SHOW>$WINDOW</WINDOW_HIDE_SHOW>|" \
        "$ROOT/examples/VEX.XML" >"$WORK/VEX.XML"
    (cd "$WORK" && exec "$BIN/VexServer") >"$WORK/server.log" 2>&1 &
    SERVER_PID=$!
    for _ in $(seq 200); do
        port_open "$PORT" && break
        server_running || break
        grep -q "Cannot listen" "$WORK/server.log" && break
        sleep 0.1
    done
    if server_running && port_open "$PORT" && ! grep -q "Cannot listen" "$WORK/server.log"; then
        break
    fi
    if ! server_running && ! grep -q "Cannot listen" "$WORK/server.log"; then
        cat "$WORK/server.log" >&2
        SERVER_PID=""
        fail "VexServer did not start (its messages are above)."
    fi
    stop_server >/dev/null 2>&1 || true
    PORT=""
done
[[ -n $PORT ]] || fail "no free TCP port found for VexServer."

say "Started VexServer (process $SERVER_PID) on TCP port $PORT; $WINDOW_NOTE."
# Warnings it gave while starting (it goes on after them).
if grep -qE '^(VexServer|VexSim): ' "$WORK/server.log"; then
    say "It warned:"
    grep -E '^(VexServer|VexSim): ' "$WORK/server.log" | sed 's/^/  /'
fi
say ""
say "Watching for $SECONDS_TO_WATCH s: tactus-tool watch 127.0.0.1:$PORT --duration $SECONDS_TO_WATCH"
say "(positions are x y z in mm and w in degrees; every fifth one is shown)"
say ""

positions=0
hits=0
shown=0
while IFS= read -r line; do
    case $line in
    position:*)
        positions=$((positions + 1))
        if ((positions % 5 == 1)); then
            say "  $line"
        fi
        ;;
    "hit notice")
        say "  >>> the probe touched: the server announces a hit"
        ;;
    hit:*)
        hits=$((hits + 1))
        say "  >>> $line"
        ;;
    *)
        say "  $line"
        ;;
    esac
    shown=1
done < <("$BIN/tactus-tool" watch "127.0.0.1:$PORT" --duration "$SECONDS_TO_WATCH" 2>&1 || true)
((shown)) || say "  (tactus-tool printed nothing)"

say ""
plural() { (($1 == 1)) && printf '%s %s' "$1" "$2" || printf '%s %ss' "$1" "$2"; }
say "Seen: $(plural "$positions" position) and $(plural "$hits" hit)."
printf 'Stopping VexServer with the "EXI" request... '
if stop_server; then
    say "it ended with exit status 0."
else
    status=$?
    say "it ended with exit status $status; its messages:"
    cat "$WORK/server.log"
    exit 1
fi
say "Done. Next: docs/vexserver.md explains how to run VexServer yourself."
