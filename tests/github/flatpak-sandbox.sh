#!/usr/bin/env bash
# A stand-in for a Flatpak sandbox, for tests of the helper inside one: a private session bus with
# GNOME Keyring (secrets only), xdg-permission-store and xdg-desktop-portal (as on GNOME, whose
# portal backend for secrets is GNOME Keyring's), and xdg-dbus-proxy in front of it that lets
# through only the portals, run inside bwrap with a fake /.flatpak-info naming the app (the portal
# takes the app id from the proxy's /.flatpak-info, as it does for a real Flatpak's proxy). The
# program under test runs unchanged in a second bwrap that sees the proxy as its only bus, the
# system's /usr and /etc, its own home and nothing else of DIR.
#
#   flatpak-sandbox.sh available            exit 0 when the programs are here and bwrap can make
#                                           namespaces; otherwise the reason on standard output
#   flatpak-sandbox.sh start DIR [no-secret-backend]
#                                           the stack; DIR/env holds DBUS_SESSION_BUS_ADDRESS
#                                           (the host side) and the processes' ids. With
#                                           no-secret-backend the portal finds no backend for
#                                           secrets (as on Debian 12's KDE)
#   flatpak-sandbox.sh restart-portal DIR   ends xdg-desktop-portal and starts it again
#   flatpak-sandbox.sh lock|unlock DIR      locks or unlocks the login keyring
#   flatpak-sandbox.sh stop DIR             ends everything started
#   flatpak-sandbox.sh run DIR [-b PATH]... CMD...
#                                           runs CMD in the app's sandbox: HOME is DIR/sandbox-home,
#                                           XDG_DATA_HOME its .var/app/<app id>/data (as Flatpak
#                                           sets them), the bus the proxy; -b PATH binds a host path
#                                           read-only at the same place (the program, its modules,
#                                           a CA file). The caller's other variables pass through.
set -euo pipefail

APP_ID=com.pemberhollo.Pellow
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

available() {
  local program
  for program in bwrap xdg-dbus-proxy dbus-daemon gnome-keyring-daemon gdbus \
    /usr/libexec/xdg-desktop-portal /usr/libexec/xdg-permission-store; do
    command -v "$program" >/dev/null 2>&1 || { echo "$program is not installed (scripts/install-deps.sh)"; exit 1; }
  done
  if ! bwrap --ro-bind / / --unshare-all --dev /dev --proc /proc true >/dev/null 2>&1; then
    echo "bwrap cannot create namespaces here (unprivileged user namespaces are off or blocked)"
    exit 1
  fi
}

# The read-only system of a sandbox: /usr, /etc and the merged-/usr links.
system_binds() {
  printf '%s\n' --ro-bind /usr /usr --ro-bind /etc /etc --proc /proc --dev /dev --tmpfs /tmp
  local link
  for link in bin sbin lib lib64 lib32; do
    if [ -L "/$link" ]; then printf '%s\n' --symlink "$(readlink "/$link")" "/$link"; fi
  done
}

wait_name() {
  gdbus wait --session --timeout 10 "$1"
}

start_portal() {
  local dir=$1
  local portals=()
  if [ -f "$dir/no-secret-backend" ]; then portals=(XDG_DESKTOP_PORTAL_DIR="$dir/no-portals"); fi
  env "${portals[@]}" XDG_CURRENT_DESKTOP=GNOME /usr/libexec/xdg-desktop-portal --replace \
    >>"$dir/portal.log" 2>&1 &
  sed -i '/^PELLOW_TEST_PORTAL_PID=/d' "$dir/env"
  echo "PELLOW_TEST_PORTAL_PID=$!" >>"$dir/env"
  wait_name org.freedesktop.portal.Desktop
}

environment() {
  local dir=$1
  # As keyring-session.sh sets them, whose lock and unlock this script uses: the keyring's files
  # are in DIR/data/keyrings.
  export HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" XDG_DATA_HOME="$dir/data"
  unset DISPLAY WAYLAND_DISPLAY
  local address
  address=$(sed -n 's/^DBUS_SESSION_BUS_ADDRESS=//p' "$dir/env" 2>/dev/null || true)
  if [ -n "$address" ]; then export DBUS_SESSION_BUS_ADDRESS="$address"; fi
}

start() {
  local dir=$1 out
  mkdir -p "$dir/home" "$dir/data" "$dir/run" "$dir/proxy" "$dir/no-portals" "$dir/sandbox-home"
  chmod 700 "$dir/run" "$dir/sandbox-home"
  rm -f "$dir/env" "$dir/no-secret-backend"
  [ "${2:-}" = no-secret-backend ] && : >"$dir/no-secret-backend"
  echo "PELLOW_TEST_PROVIDER=gnome-keyring" >"$dir/env"
  printf '[Application]\nname=%s\nruntime=runtime/org.freedesktop.Platform/x86_64/23.08\n' \
    "$APP_ID" >"$dir/flatpak-info"
  # The host's bus listens on a path in DIR, which the app's sandbox does not see; an abstract
  # socket would be reachable from any sandbox that shares the network.
  environment "$dir"
  out=$(dbus-daemon --config-file="$HERE/../support/keyring/private-bus.conf" \
    --address="unix:path=$dir/bus" --fork --print-address=1 --print-pid=1)
  export DBUS_SESSION_BUS_ADDRESS=${out%%$'\n'*}
  printf 'DBUS_SESSION_BUS_ADDRESS=%s\nPELLOW_TEST_BUS_PID=%s\n' \
    "$DBUS_SESSION_BUS_ADDRESS" "${out##*$'\n'}" >>"$dir/env"
  printf '%s' pellow-test-keyring |
    gnome-keyring-daemon --unlock --components=secrets >/dev/null 2>&1
  wait_name org.freedesktop.secrets
  echo "PELLOW_TEST_KEYRING_PID=$(gdbus call --session --dest org.freedesktop.DBus \
    --object-path /org/freedesktop/DBus --method org.freedesktop.DBus.GetConnectionUnixProcessID \
    org.freedesktop.secrets | sed 's/.*uint32 \([0-9]*\).*/\1/')" >>"$dir/env"
  /usr/libexec/xdg-permission-store --replace >"$dir/permission-store.log" 2>&1 &
  echo "PELLOW_TEST_PERMISSION_STORE_PID=$!" >>"$dir/env"
  wait_name org.freedesktop.impl.portal.PermissionStore
  start_portal "$dir"
  # bwrap forks the proxy into its own process namespace and does not pass signals on: both
  # processes are recorded (the child's id from bwrap's --info-fd) and ended by stop.
  # shellcheck disable=SC2046
  bwrap $(system_binds) --bind "$dir/proxy" "$dir/proxy" --ro-bind "$dir/bus" "$dir/bus" \
    --ro-bind "$dir/flatpak-info" /.flatpak-info --unshare-all --share-net --info-fd 3 -- \
    xdg-dbus-proxy "$DBUS_SESSION_BUS_ADDRESS" "$dir/proxy/bus" --filter \
    --talk='org.freedesktop.portal.*' >"$dir/proxy.log" 2>&1 </dev/null 3>"$dir/proxy.info" &
  echo "PELLOW_TEST_PROXY_SANDBOX_PID=$!" >>"$dir/env"
  local i child
  for i in $(seq 100); do
    child=$(sed -n 's/.*"child-pid": *\([0-9]*\).*/\1/p' "$dir/proxy.info" 2>/dev/null || true)
    if [ -n "$child" ] && [ -S "$dir/proxy/bus" ]; then
      echo "PELLOW_TEST_PROXY_PID=$child" >>"$dir/env"
      return 0
    fi
    sleep 0.05
  done
  echo "xdg-dbus-proxy did not start" >&2
  exit 1
}

run() {
  local dir=$1 binds=()
  shift
  while [ "${1:-}" = -b ]; do
    binds+=(--ro-bind "$2" "$2")
    shift 2
  done
  local home="$dir/sandbox-home"
  # shellcheck disable=SC2046
  exec bwrap $(system_binds) --bind "$home" "$home" "${binds[@]}" \
    --ro-bind "$dir/proxy/bus" /run/flatpak/bus --ro-bind "$dir/flatpak-info" /.flatpak-info \
    --unshare-all --share-net --die-with-parent \
    --setenv HOME "$home" --setenv XDG_DATA_HOME "$home/.var/app/$APP_ID/data" \
    --setenv DBUS_SESSION_BUS_ADDRESS unix:path=/run/flatpak/bus --unsetenv XDG_RUNTIME_DIR \
    --unsetenv DISPLAY --unsetenv WAYLAND_DISPLAY -- "$@"
}

stop() {
  local dir=$1 name pid
  [ -f "$dir/env" ] || return 0
  # The proxy's sandbox first: its process namespace's first process (bwrap's own init) ignores
  # SIGTERM, and SIGKILL ends the whole namespace with it, the proxy included.
  pid=$(sed -n "s/^PELLOW_TEST_PROXY_PID=//p" "$dir/env")
  if [ -n "$pid" ]; then kill -KILL "$pid" 2>/dev/null || true; fi
  for name in PROXY_SANDBOX PORTAL PERMISSION_STORE KEYRING BUS; do
    pid=$(sed -n "s/^PELLOW_TEST_${name}_PID=//p" "$dir/env")
    if [ -n "$pid" ]; then
      kill -CONT "$pid" 2>/dev/null || true
      kill "$pid" 2>/dev/null || true
    fi
  done
  rm -f "$dir/env"
}

command=${1:-}
case "$command" in
  available) available ;;
  start) start "$2" "${3:-}" ;;
  restart-portal)
    environment "$2"
    kill "$(sed -n 's/^PELLOW_TEST_PORTAL_PID=//p' "$2/env")"
    start_portal "$2"
    ;;
  lock | unlock) "$HERE/../support/keyring/keyring-session.sh" "$command" "$2" ;;
  stop) stop "$2" ;;
  run) shift; run "$@" ;;
  *)
    echo "usage: $0 available | start DIR [no-secret-backend] | restart-portal|lock|unlock|stop DIR | run DIR [-b PATH]... CMD..." >&2
    exit 2
    ;;
esac
