#!/usr/bin/env bash
# A private D-Bus session bus with one Secret Service provider on it, for tests and benchmarks of
# the keyring backend. Nothing of the user's own session is touched: the bus, the keyring files,
# HOME and the runtime folder all live in DIR.
#
#   keyring-session.sh start DIR     private bus + provider with an unlocked default collection;
#                                    writes DIR/env ("NAME=value" lines: DBUS_SESSION_BUS_ADDRESS,
#                                    PELLOW_TEST_BUS_PID, PELLOW_TEST_KEYRING_PID, and DISPLAY,
#                                    PELLOW_TEST_XVFB_PID when the session has a display)
#   keyring-session.sh start-bus DIR the private bus only (no Secret Service running on it)
#   keyring-session.sh lock DIR      locks the default collection (the Secret Service's Lock)
#   keyring-session.sh unlock DIR    unlocks it again (GNOME Keyring: through its control socket;
#                                    KeePassXC: its own "Unlock Database" window, typed into)
#   keyring-session.sh windows DIR   the visible windows on the session's display, "ID NAME" lines
#   keyring-session.sh stop DIR      ends the provider, the bus and the display
#   keyring-session.sh run CMD...    runs CMD inside a fresh unlocked session, then ends it
#
# The provider is PELLOW_TEST_PROVIDER at "start":
#   gnome-keyring (default)  GNOME Keyring on a bus with the standard service folders (so that the
#                            keyring would also be activatable), "login" collection.
#   keepassxc                KeePassXC on an Xvfb display and a bus without service folders (so
#                            that nothing else can be started on it), with a database whose group
#                            "Secret Service" is exposed; its settings [FdoSecrets] come from
#                            PELLOW_TEST_KEEPASSXC ("Name=value" words), over these defaults:
#                            Enabled=true ShowNotification=false ConfirmDeleteItem=false
#                            ConfirmAccessItem=false UnlockBeforeSearch=true.
# With PELLOW_TEST_XVFB=1 GNOME Keyring gets a display too, where a prompt would show and wait.
# Otherwise DISPLAY is removed; WAYLAND_DISPLAY is always removed.
set -euo pipefail

PASSWORD=pellow-test-keyring
# The exposed group of the KeePassXC test database: the UUID in KeePass XML (base64) and in the
# database's custom data item that KeePassXC reads (braced text).
KEEPASSXC_GROUP_BASE64=XSp6Po8bTB6aUw5vGyw9Tg==
KEEPASSXC_GROUP_UUID={5d2a7a3e-8f1b-4c1e-9a53-0e6f1b2c3d4e}

environment() {
  local dir=$1
  mkdir -p "$dir/home" "$dir/run" "$dir/data"
  chmod 700 "$dir/run"
  export HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" XDG_DATA_HOME="$dir/data"
  unset WAYLAND_DISPLAY
  if [ -f "$dir/env" ]; then
    # shellcheck disable=SC2046
    export $(grep -E '^(DBUS_SESSION_BUS_ADDRESS|DISPLAY)=' "$dir/env")
  fi
}

secret_call() {
  gdbus call --session --dest org.freedesktop.secrets "$@"
}

start_bus() {
  local dir=$1 out config=()
  environment "$dir"
  if [ "${2:-}" = private ]; then
    config=(--config-file="$(dirname "${BASH_SOURCE[0]}")/private-bus.conf")
  else
    config=(--session)
  fi
  out=$(dbus-daemon "${config[@]}" --fork --print-address=1 --print-pid=1)
  export DBUS_SESSION_BUS_ADDRESS=${out%%$'\n'*}
  printf 'DBUS_SESSION_BUS_ADDRESS=%s\nPELLOW_TEST_BUS_PID=%s\n' \
    "$DBUS_SESSION_BUS_ADDRESS" "${out##*$'\n'}" >>"$dir/env"
  if [ -n "${DISPLAY:-}" ] && [ "${2:-}" != private ]; then
    dbus-update-activation-environment DISPLAY
  fi
}

owner_pid() {
  gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.GetConnectionUnixProcessID org.freedesktop.secrets |
    sed 's/.*uint32 \([0-9]*\).*/\1/'
}

default_collection() {
  secret_call --object-path /org/freedesktop/secrets \
    --method org.freedesktop.Secret.Service.ReadAlias default | sed "s/.*'\(.*\)'.*/\1/"
}

collection_locked() {
  local answer
  answer=$(secret_call --object-path "$1" --method org.freedesktop.DBus.Properties.Get \
    org.freedesktop.Secret.Collection Locked)
  [[ $answer == *true* ]]
}

# prompt PATH: performs a prompt that the provider returned (KeePassXC answers Lock and Unlock
# with one).
prompt() {
  if [ "$1" != / ]; then
    secret_call --object-path "$1" --method org.freedesktop.Secret.Prompt.Prompt "" >/dev/null
  fi
}

prompt_of() { sed "s/.*objectpath '\([^']*\)'.*/\1/"; }

gnome_keyring_unlock() {
  # --unlock creates the "login" collection (the default one) when it does not exist yet.
  printf '%s' "$PASSWORD" | gnome-keyring-daemon "$@" --unlock --components=secrets >/dev/null 2>&1
  # Without the wait the first client races the daemon, and D-Bus activation starts a second one.
  gdbus wait --session --timeout 10 org.freedesktop.secrets
}

# An Xvfb display for the session.
start_display() {
  local dir=$1 i
  : >"$dir/display"
  Xvfb -displayfd 5 -nolisten tcp 5>"$dir/display" </dev/null >/dev/null 2>&1 &
  echo "PELLOW_TEST_XVFB_PID=$!" >>"$dir/env"
  for i in $(seq 100); do
    if [ -s "$dir/display" ]; then break; fi
    sleep 0.05
  done
  [ -s "$dir/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$(head -n1 "$dir/display")"
  echo "DISPLAY=$DISPLAY" >>"$dir/env"
}

keepassxc_database() {
  local dir=$1
  cat >"$dir/database.xml" <<EOF
<?xml version="1.0" encoding="utf-8" standalone="yes"?>
<KeePassFile>
  <Meta>
    <DatabaseName>Pellow test</DatabaseName>
    <RecycleBinEnabled>True</RecycleBinEnabled>
    <CustomData>
      <Item><Key>FDO_SECRETS_EXPOSED_GROUP</Key><Value>$KEEPASSXC_GROUP_UUID</Value></Item>
    </CustomData>
  </Meta>
  <Root>
    <Group>
      <UUID>AAECAwQFBgcICQoLDA0ODw==</UUID>
      <Name>Root</Name>
      <Group>
        <UUID>$KEEPASSXC_GROUP_BASE64</UUID>
        <Name>Secret Service</Name>
      </Group>
    </Group>
  </Root>
</KeePassFile>
EOF
  printf '%s\n%s\n' "$PASSWORD" "$PASSWORD" |
    keepassxc-cli import -q -p -t 100 "$dir/database.xml" "$dir/database.kdbx" >/dev/null 2>&1
}

keepassxc_config() {
  local dir=$1 setting
  declare -A settings=([Enabled]=true [ShowNotification]=false [ConfirmDeleteItem]=false
    [ConfirmAccessItem]=false [UnlockBeforeSearch]=true)
  for setting in ${PELLOW_TEST_KEEPASSXC:-}; do settings[${setting%%=*}]=${setting#*=}; done
  {
    printf '[General]\nConfigVersion=2\nSingleInstance=false\n'
    printf '[GUI]\nShowTrayIcon=false\nCheckForUpdates=false\nMinimizeOnStartup=false\n'
    printf '[FdoSecrets]\n'
    for setting in "${!settings[@]}"; do printf '%s=%s\n' "$setting" "${settings[$setting]}"; done
  } >"$dir/keepassxc.ini"
}

start_keepassxc() {
  local dir=$1 pid i
  keepassxc_database "$dir"
  keepassxc_config "$dir"
  # Its single-instance lock and socket go to the temporary folder: DIR's own, so that nothing is
  # left in /tmp for another user's KeePassXC to trip on.
  mkdir -p "$dir/tmp"
  printf '%s\n' "$PASSWORD" | TMPDIR="$dir/tmp" keepassxc --config "$dir/keepassxc.ini" \
    --localconfig "$dir/keepassxc-local.ini" --pw-stdin "$dir/database.kdbx" \
    >"$dir/keepassxc.log" 2>&1 &
  pid=$!
  gdbus wait --session --timeout 20 org.freedesktop.secrets
  # The name must belong to the KeePassXC started here, not to anything the bus started.
  [ "$(owner_pid)" = "$pid" ] || { echo "org.freedesktop.secrets is not our KeePassXC" >&2; exit 1; }
  # KeePassXC takes the name before it offers the database's collection.
  for i in $(seq 200); do
    [ "$(default_collection)" != / ] && break
    sleep 0.05
  done
  [ "$(default_collection)" != / ] || { echo "KeePassXC offers no collection" >&2; exit 1; }
  wait_locked "$(default_collection)" false
  echo "PELLOW_TEST_KEYRING_PID=$pid" >>"$dir/env"
}

provider() { sed -n 's/^PELLOW_TEST_PROVIDER=//p' "$1/env"; }

start() {
  local dir=$1 name=${PELLOW_TEST_PROVIDER:-gnome-keyring}
  mkdir -p "$dir"
  rm -f "$dir/env"
  echo "PELLOW_TEST_PROVIDER=$name" >"$dir/env"
  case "$name" in
    gnome-keyring)
      if [ "${PELLOW_TEST_XVFB:-}" = 1 ]; then start_display "$dir"; else unset DISPLAY; fi
      start_bus "$dir"
      gnome_keyring_unlock
      echo "PELLOW_TEST_KEYRING_PID=$(owner_pid)" >>"$dir/env"
      ;;
    keepassxc)
      start_display "$dir"
      start_bus "$dir" private
      start_keepassxc "$dir"
      ;;
    *) echo "unknown provider $name" >&2; exit 2 ;;
  esac
}

wait_locked() {
  local collection=$1 want=$2 i
  for i in $(seq 100); do
    if collection_locked "$collection"; then [ "$want" = true ] && return 0
    else [ "$want" = false ] && return 0; fi
    sleep 0.05
  done
  echo "the collection did not become locked=$want" >&2
  exit 1
}

lock() {
  local dir=$1 collection
  environment "$dir"
  collection=$(default_collection)
  secret_call --object-path /org/freedesktop/secrets \
    --method org.freedesktop.Secret.Service.Lock "['$collection']" | prompt_of | {
    read -r path
    prompt "$path"
  }
  wait_locked "$collection" true
}

unlock() {
  local dir=$1 collection window i
  environment "$dir"
  case "$(provider "$dir")" in
    gnome-keyring)
      gnome_keyring_unlock --replace
      sed -i '/^PELLOW_TEST_KEYRING_PID=/d' "$dir/env"
      echo "PELLOW_TEST_KEYRING_PID=$(owner_pid)" >>"$dir/env"
      ;;
    keepassxc)
      collection=$(default_collection)
      secret_call --object-path /org/freedesktop/secrets \
        --method org.freedesktop.Secret.Service.Unlock "['$collection']" | prompt_of | {
        read -r path
        prompt "$path"
      }
      window=
      for i in $(seq 100); do
        window=$(xdotool search --onlyvisible --name '^Unlock Database' 2>/dev/null | head -n1) || true
        [ -n "$window" ] && break
        sleep 0.05
      done
      [ -n "$window" ] || { echo "KeePassXC showed no unlock window" >&2; exit 1; }
      xdotool windowfocus --sync "$window"
      xdotool type --delay 5 "$PASSWORD"
      xdotool key Return
      wait_locked "$collection" false
      ;;
  esac
}

windows() {
  environment "$1"
  [ -n "${DISPLAY:-}" ] || return 0
  xdotool search --onlyvisible --name . 2>/dev/null | while read -r window; do
    printf '%s %s\n' "$window" "$(xdotool getwindowname "$window")"
  done | sort
}

# True while PID runs (a zombie that nobody has reaped yet counts as ended).
alive() {
  local state
  state=$(sed -n 's/^[0-9]* (.*) \([A-Za-z]\) .*/\1/p' "/proc/$1/stat" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ]
}

stop() {
  local dir=$1 name pid pids=() i
  [ -f "$dir/env" ] || return 0
  for name in PELLOW_TEST_KEYRING_PID PELLOW_TEST_BUS_PID PELLOW_TEST_XVFB_PID; do
    pid=$(sed -n "s/^$name=//p" "$dir/env")
    if [ -n "$pid" ]; then
      kill -CONT "$pid" 2>/dev/null || true
      kill "$pid" 2>/dev/null || true
      pids+=("$pid")
    fi
  done
  # A provider writes its settings into DIR as it ends: it must be gone before DIR is removed,
  # or it makes DIR again and leaves it behind.
  for pid in "${pids[@]}"; do
    for i in $(seq 100); do
      alive "$pid" || break
      sleep 0.05
    done
    kill -KILL "$pid" 2>/dev/null || true
  done
  rm -f "$dir/env"
}

command=${1:-}
case "$command" in
  start | start-bus | lock | unlock | windows | stop)
    [ $# -eq 2 ] || { echo "usage: $0 $command DIR" >&2; exit 2; } ;;
esac
case "$command" in
  start) start "$2" ;;
  start-bus)
    mkdir -p "$2"
    echo "PELLOW_TEST_PROVIDER=none" >"$2/env"
    unset DISPLAY
    start_bus "$2"
    ;;
  lock) lock "$2" ;;
  unlock) unlock "$2" ;;
  windows) windows "$2" ;;
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
    echo "usage: $0 start|start-bus|lock|unlock|windows|stop DIR, or $0 run COMMAND..." >&2
    exit 2
    ;;
esac
