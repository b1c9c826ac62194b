#!/usr/bin/env bash
# A private D-Bus session bus with KDE's kwalletd5 on it, its wallet "kdewallet" opened the way a
# KDE login opens it: pam_kwallet derives the wallet key from the login password (PBKDF2-SHA512
# over kdewallet.salt, 50,000 rounds, 56 bytes) and starts `kwalletd5 --pam-login PIPE SOCKET`,
# writing the key into the pipe and the session's environment into the socket. No display: Qt
# draws off screen (QT_QPA_PLATFORM=offscreen), so a password dialog would wait unseen.
# Everything lives in DIR (HOME, the XDG folders, the bus).
#
#   kwallet-session.sh start DIR     bus + kwalletd with the wallet open; writes DIR/env
#                                    (DBUS_SESSION_BUS_ADDRESS, PELLOW_TEST_BUS_PID,
#                                    PELLOW_TEST_KEYRING_PID, PELLOW_TEST_WALLET_FILE)
#   kwallet-session.sh restart DIR   ends kwalletd (SIGTERM) and opens the wallet again as above
#   kwallet-session.sh kill DIR      ends kwalletd at once (SIGKILL), before it writes the file
#   kwallet-session.sh close DIR     closes the wallet (org.kde.KWallet.close, forced)
#   kwallet-session.sh unlock DIR    unlocks the wallet's Secret Service collection (open wallet)
#   kwallet-session.sh stop DIR      ends kwalletd and the bus
set -euo pipefail

PASSWORD=pellow-test-wallet
action=$1
dir=$2
mkdir -p "$dir/home" "$dir/run" "$dir/data/kwalletd" "$dir/config"
chmod 700 "$dir/run"
export HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" XDG_DATA_HOME="$dir/data"
export XDG_CONFIG_HOME="$dir/config" QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY
if [ -f "$dir/env" ]; then
  # shellcheck disable=SC2046
  export $(grep -E '^DBUS_SESSION_BUS_ADDRESS=' "$dir/env")
fi

value() { sed -n "s/^$1=//p" "$dir/env" | tail -n 1; }

start_bus() {
  # No service folders: nothing else (GNOME Keyring) can be activated in kwalletd's place.
  local out
  out=$(dbus-daemon --config-file="$(dirname "${BASH_SOURCE[0]}")/private-bus.conf" --fork \
    --print-address=1 --print-pid=1)
  export DBUS_SESSION_BUS_ADDRESS=${out%%$'\n'*}
  printf 'DBUS_SESSION_BUS_ADDRESS=%s\nPELLOW_TEST_BUS_PID=%s\nPELLOW_TEST_WALLET_FILE=%s\n' \
    "$DBUS_SESSION_BUS_ADDRESS" "${out##*$'\n'}" "$dir/data/kwalletd/kdewallet.kwl" >>"$dir/env"
}

# What pam_kwallet does at login; prints kwalletd's process id.
pam_open() {
  python3 - "$dir" "$PASSWORD" <<'PY'
import hashlib, os, socket, subprocess, sys
folder, password = sys.argv[1], sys.argv[2].encode()
salt_path = os.path.join(folder, "data", "kwalletd", "kdewallet.salt")
if not os.path.exists(salt_path):
    with open(salt_path, "wb") as out:
        out.write(os.urandom(56))
with open(salt_path, "rb") as salt:
    key = hashlib.pbkdf2_hmac("sha512", password, salt.read(), 50000, 56)
socket_path = os.path.join(folder, "run", "kwallet5.socket")
if os.path.exists(socket_path):
    os.unlink(socket_path)
listener = socket.socket(socket.AF_UNIX)
listener.bind(socket_path)
listener.listen(5)
reader, writer = os.pipe()
with open(os.path.join(folder, "kwalletd.log"), "ab") as log:
    daemon = subprocess.Popen(
        ["kwalletd5", "--pam-login", str(reader), str(listener.fileno())],
        pass_fds=(reader, listener.fileno()), stdin=subprocess.DEVNULL, stdout=log, stderr=log,
        env=dict(os.environ, PAM_KWALLET5_LOGIN=socket_path), start_new_session=True)
os.close(reader)
os.write(writer, key)
os.close(writer)
client = socket.socket(socket.AF_UNIX)
client.connect(socket_path)
client.sendall(("DBUS_SESSION_BUS_ADDRESS=%s\n" % os.environ["DBUS_SESSION_BUS_ADDRESS"]).encode())
client.close()
listener.close()
print(daemon.pid)
PY
}

start_kwallet() {
  local pid
  pid=$(pam_open)
  echo "PELLOW_TEST_KEYRING_PID=$pid" >>"$dir/env"
  gdbus wait --session --timeout 20 org.freedesktop.secrets
  gdbus wait --session --timeout 20 org.kde.kwalletd5
  local open
  for _ in $(seq 1 100); do
    open=$(gdbus call --session --dest org.kde.kwalletd5 --object-path /modules/kwalletd5 \
      --method org.kde.KWallet.isOpen kdewallet)
    [ "$open" = "(true,)" ] && return 0
    sleep 0.1
  done
  echo "kwalletd did not open the wallet" >&2
  return 1
}

end_kwallet() {
  local pid
  pid=$(value PELLOW_TEST_KEYRING_PID)
  [ -n "$pid" ] || return 0
  kill "-$1" "$pid" 2>/dev/null || true
  for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
}

case $action in
start)
  rm -f "$dir/env"
  start_bus
  start_kwallet
  ;;
restart)
  end_kwallet TERM
  start_kwallet
  # kwalletd answers isOpen before its Secret Service side has loaded the wallet's entries: a
  # request in that moment reads an entry's secret as empty or finds the collection locked.
  # Nothing on the bus says when loading ends; a second is ample on a loaded machine.
  sleep 1
  ;;
kill)
  end_kwallet KILL
  ;;
close)
  gdbus call --session --dest org.kde.kwalletd5 --object-path /modules/kwalletd5 \
    --method org.kde.KWallet.close kdewallet true >/dev/null
  ;;
unlock)
  collection=$(gdbus call --session --dest org.freedesktop.secrets \
    --object-path /org/freedesktop/secrets --method org.freedesktop.Secret.Service.ReadAlias \
    default | sed "s/.*'\(.*\)'.*/\1/")
  [ "$collection" = / ] && collection=/org/freedesktop/secrets/collection/kdewallet
  prompt=$(gdbus call --session --dest org.freedesktop.secrets \
    --object-path /org/freedesktop/secrets --method org.freedesktop.Secret.Service.Unlock \
    "['$collection']" | sed "s/.*objectpath '\([^']*\)'.*/\1/")
  if [ "$prompt" != / ]; then
    gdbus call --session --dest org.freedesktop.secrets --object-path "$prompt" \
      --method org.freedesktop.Secret.Prompt.Prompt "" >/dev/null
  fi
  ;;
stop)
  end_kwallet TERM
  bus=$(value PELLOW_TEST_BUS_PID)
  [ -n "$bus" ] && kill "$bus" 2>/dev/null || true
  ;;
*)
  echo "usage: $0 start|restart|kill|close|unlock|stop DIR" >&2
  exit 2
  ;;
esac
