#!/usr/bin/env bash
# A private D-Bus session bus with GNOME Keyring's Secret Service on it, for tests of the keyring
# backend. Nothing of the user's own session is touched: the bus, the keyring files, HOME and the
# runtime folder all live in DIR.
#
#   keyring-session.sh start DIR     private bus + keyring with an unlocked "login" collection;
#                                    writes DIR/env ("NAME=value" lines: DBUS_SESSION_BUS_ADDRESS,
#                                    PELLOW_TEST_BUS_PID, PELLOW_TEST_KEYRING_PID; with
#                                    PELLOW_TEST_XVFB=1 also an Xvfb display for the session:
#                                    DISPLAY, PELLOW_TEST_XVFB_PID)
#   keyring-session.sh start-bus DIR the private bus only (no Secret Service running on it)
#   keyring-session.sh lock DIR      locks the "login" collection (the Secret Service's Lock)
#   keyring-session.sh unlock DIR    unlocks it again
#   keyring-session.sh stop DIR      ends the keyring and the bus
#   keyring-session.sh run CMD...    runs CMD inside a fresh unlocked session, then ends it (for
#                                    running a whole test suite against the keyring backend)
#
# DISPLAY is passed on as it is, or set to the session's own Xvfb display (PELLOW_TEST_XVFB=1),
# where a prompt would show and wait; WAYLAND_DISPLAY is always removed.
set -euo pipefail

PASSWORD=pellow-test-keyring

environment() {
  local dir=$1
  mkdir -p "$dir/home" "$dir/run" "$dir/data"
  chmod 700 "$dir/run"
  export HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" XDG_DATA_HOME="$dir/data"
  unset WAYLAND_DISPLAY
  if [ -f "$dir/env" ]; then
    # shellcheck disable=SC2046
    export $(grep '^DBUS_SESSION_BUS_ADDRESS=' "$dir/env")
  fi
}

start_bus() {
  local dir=$1 out
  environment "$dir"
  out=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
  export DBUS_SESSION_BUS_ADDRESS=${out%%$'\n'*}
  printf 'DBUS_SESSION_BUS_ADDRESS=%s\nPELLOW_TEST_BUS_PID=%s\n' \
    "$DBUS_SESSION_BUS_ADDRESS" "${out##*$'\n'}" >"$dir/env"
  if [ -n "${DISPLAY:-}" ]; then dbus-update-activation-environment DISPLAY; fi
}

keyring_pid() {
  gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.GetConnectionUnixProcessID org.freedesktop.secrets |
    sed 's/.*uint32 \([0-9]*\).*/\1/'
}

unlock() {
  # --unlock creates the "login" collection (the default one) when it does not exist yet.
  printf '%s' "$PASSWORD" | gnome-keyring-daemon "$@" --unlock --components=secrets >/dev/null 2>&1
  # Without the wait the first client races the daemon, and D-Bus activation starts a second one.
  gdbus wait --session --timeout 10 org.freedesktop.secrets
}

# An Xvfb display for the session, so that a prompt could be shown (and would wait).
start_display() {
  local dir=$1 i
  : >"$dir/display"
  Xvfb -displayfd 5 -nolisten tcp 5>"$dir/display" </dev/null >/dev/null 2>&1 &
  echo "PELLOW_TEST_XVFB_PID=$!" >"$dir/xvfb"
  for i in $(seq 100); do
    if [ -s "$dir/display" ]; then break; fi
    sleep 0.05
  done
  [ -s "$dir/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$(head -n1 "$dir/display")"
}

start() {
  local dir=$1
  mkdir -p "$dir"
  if [ "${PELLOW_TEST_XVFB:-}" = 1 ]; then start_display "$dir"; fi
  start_bus "$dir"
  unlock
  echo "PELLOW_TEST_KEYRING_PID=$(keyring_pid)" >>"$dir/env"
  if [ -f "$dir/xvfb" ]; then
    cat "$dir/xvfb" >>"$dir/env"
    echo "DISPLAY=$DISPLAY" >>"$dir/env"
  fi
}

stop() {
  local dir=$1 name pid
  [ -f "$dir/env" ] || return 0
  for name in PELLOW_TEST_KEYRING_PID PELLOW_TEST_BUS_PID PELLOW_TEST_XVFB_PID; do
    pid=$(sed -n "s/^$name=//p" "$dir/env")
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
  done
  rm -f "$dir/env"
}

command=${1:-}
case "$command" in
  start | start-bus | lock | unlock | stop) [ $# -eq 2 ] || { echo "usage: $0 $command DIR" >&2; exit 2; } ;;
esac
case "$command" in
  start) start "$2" ;;
  start-bus) start_bus "$2" ;;
  lock)
    environment "$2"
    gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets \
      --method org.freedesktop.Secret.Service.Lock "['/org/freedesktop/secrets/collection/login']" \
      >/dev/null
    ;;
  unlock)
    environment "$2"
    unlock --replace
    sed -i '/^PELLOW_TEST_KEYRING_PID=/d' "$2/env"
    echo "PELLOW_TEST_KEYRING_PID=$(keyring_pid)" >>"$2/env"
    ;;
  stop) stop "$2" ;;
  run)
    shift
    dir=$(mktemp -d)
    trap 'stop "$dir"; rm -rf "$dir"' EXIT
    (start "$dir")
    set -a
    # shellcheck disable=SC1091
    . "$dir/env"
    set +a
    "$@"
    ;;
  *)
    echo "usage: $0 start|start-bus|lock|unlock|stop DIR, or $0 run COMMAND..." >&2
    exit 2
    ;;
esac
