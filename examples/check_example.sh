#!/bin/bash
# The test of one example: runs it with silog and compares what silog prints of its log with
# the lines the example must produce (no more, no fewer, in order).
#   check_example.sh NAME EXAMPLE SILOG EXAMPLES_DIR
set -euo pipefail
name=$1 example=$2 silog=$3 dir=$4
work=$(mktemp -d)
listener=
cleanup() {
    if [ -n "$listener" ]; then kill "$listener" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
pattern='%session%|%logentrytype%|%title%'

case $name in
log_to_file)
    "$example" "$work/log.sil"
    "$silog" dump --pattern "$pattern" "$work/log.sil" >"$work/out"
    expected='Main|Message|Hello from log_to_file
Main|Warning|1 of 3 disks are full
Database|Error|Connection lost'
    ;;
config_sessions)
    "$example" "$dir/config_sessions.sic" "$work/log.sil"
    "$silog" dump --pattern "$pattern" "$work/log.sil" >"$work/out"
    expected='Main|Error|Main: error
Network|Debug|Network: debug
Network|Message|Network: message
Network|Error|Network: error
Database|Error|Database: error
Ui|Message|Ui: message
Ui|Error|Ui: error'
    ;;
tcp_viewer)
    # Port 0: the system picks a free port, which silog reports on standard error.
    "$silog" listen --tcp 0 --once --pattern "$pattern" >"$work/out" 2>"$work/err" &
    listener=$!
    port=
    for _ in $(seq 100); do
        port=$(sed -n 's/^silog: listening on TCP port \([0-9]*\)$/\1/p' "$work/err")
        [ -n "$port" ] && break
        sleep 0.1
    done
    if [ -z "$port" ]; then
        echo "silog listen did not report its port:"; cat "$work/err"; exit 1
    fi
    "$example" "$port"
    # --once: the listener ends when the example has disconnected.
    for _ in $(seq 100); do
        kill -0 "$listener" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$listener" 2>/dev/null; then
        echo "silog listen did not end after the client left:"; cat "$work/err"; exit 1
    fi
    wait "$listener"
    listener=
    expected='Main|Message|Hello from tcp_viewer
Main|Verbose|Step 1 of 3
Main|Verbose|Step 2 of 3
Main|Verbose|Step 3 of 3
Main|Warning|Done'
    ;;
*)
    echo "unknown example $name"; exit 2
    ;;
esac

# Log headers and other packets that are not log entries are not what the example logged.
actual=$(grep '|' "$work/out" || true)
if [ "$actual" != "$expected" ]; then
    echo "$name: silog printed"; cat "$work/out"
    echo "--- expected the log entries"; echo "$expected"
    exit 1
fi
echo "$name: ok"
