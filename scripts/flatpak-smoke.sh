#!/usr/bin/env bash
# make flatpak-smoke: the helpers as a real Flatpak, by hand rather than in CI (it needs flatpak,
# ostree and gpg, and takes a minute). Everything lives in a temporary folder: a runtime made
# from this machine's own files (the libraries the helpers load, nothing else), the app with the
# helpers and their modules, a local repository signed with a key made for the run, a --user
# installation, and a private session bus with GNOME Keyring and xdg-desktop-portal
# (tests/github/flatpak-sandbox.sh). Then `flatpak run`: sign-in, status, git get, sign-out, the
# sealed file with no token in clear, and the suite helper's refusal.
#
#   scripts/flatpak-smoke.sh BUILD_DIR
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
app_id=com.pemberhollo.Pellow
runtime_id=com.pemberhollo.Platform
token=ghu_flatpakSmoke0123456789
for program in flatpak ostree gpg; do
  command -v "$program" >/dev/null || { echo "flatpak-smoke: $program is missing (apt-get install flatpak ostree gnupg)" >&2; exit 2; }
done
if ! "$here/tests/github/flatpak-sandbox.sh" available >/dev/null; then
  echo "flatpak-smoke: $("$here/tests/github/flatpak-sandbox.sh" available)" >&2
  exit 2
fi

dir=$(mktemp -d)
trap '"$here/tests/github/flatpak-sandbox.sh" stop "$dir/stack"; rm -rf "$dir"' EXIT
step() { printf 'flatpak-smoke: %s\n' "$*"; }
fail() { printf 'flatpak-smoke: FAILED: %s\n' "$*" >&2; exit 1; }

# The runtime: the dynamic closure of the helpers, their modules and /bin/sh, at their /usr paths.
step "runtime from this machine's files"
runtime=$dir/runtime
mkdir -p "$runtime/files" "$runtime/files/etc"
copy_usr() {  # copies /usr/... (or /lib... through merged /usr) into the runtime's files/
  local real target
  real=$(readlink -f "$1")
  case "$real" in /usr/*) ;; *) real=/usr$real ;; esac
  target=$runtime/files/${real#/usr/}
  [ -e "$target" ] || { mkdir -p "$(dirname "$target")" && cp -L "$real" "$target"; }
  # The name the loader asks for, when it differs from the file (sonames, ld.so in lib64).
  local name=$1
  case "$name" in /usr/*) ;; *) name=/usr$name ;; esac
  local link=$runtime/files/${name#/usr/}
  [ -e "$link" ] || { mkdir -p "$(dirname "$link")" && ln -sr "$target" "$link"; }
}
for binary in "$build/bin/github-helper" "$build/bin/suite-setup-helper" "$build/bin/pellow-secret.so" \
  "$build/bin/pellow-net.so" /bin/sh; do
  ldd "$binary" | sed -n 's/.*=> \(\/[^ ]*\).*/\1/p; s/^\s*\(\/[^ ]*\) (.*/\1/p' | while read -r library; do
    copy_usr "$library"
  done
done
copy_usr /bin/sh
cat >"$runtime/metadata" <<EOF
[Runtime]
name=$runtime_id
runtime=$runtime_id/x86_64/1
sdk=$runtime_id/x86_64/1
EOF

step "app"
app=$dir/app
mkdir -p "$app/files/bin"
cp "$build/bin/github-helper" "$build/bin/suite-setup-helper" "$build/bin/pellow-secret.so" \
  "$build/bin/pellow-net.so" "$app/files/bin/"
cat >"$app/metadata" <<EOF
[Application]
name=$app_id
runtime=$runtime_id/x86_64/1
sdk=$runtime_id/x86_64/1
EOF
flatpak build-finish "$app" --command=github-helper --share=network >/dev/null

step "signed local repository"
export GNUPGHOME=$dir/gnupg
mkdir -m 700 "$GNUPGHOME"
gpg --batch --quiet --no-tty --passphrase '' --quick-gen-key "Pellow smoke <smoke@invalid>" ed25519 sign never
key=$(gpg --batch --list-keys --with-colons | sed -n 's/^fpr:::::::::\([0-9A-F]*\):$/\1/p' | head -n1)
gpg --batch --export "$key" >"$dir/key.gpg"
flatpak build-export --runtime --files=files --gpg-sign="$key" --gpg-homedir="$GNUPGHOME" "$dir/repo" "$runtime" 1 >/dev/null
flatpak build-export --gpg-sign="$key" --gpg-homedir="$GNUPGHOME" "$dir/repo" "$app" 1 >/dev/null

step "session: private bus, GNOME Keyring, xdg-desktop-portal"
"$here/tests/github/flatpak-sandbox.sh" start "$dir/stack"
export HOME=$dir/home XDG_DATA_HOME=$dir/home/.local/share XDG_RUNTIME_DIR=$dir/stack/run
export DBUS_SESSION_BUS_ADDRESS
DBUS_SESSION_BUS_ADDRESS=$(sed -n 's/^DBUS_SESSION_BUS_ADDRESS=//p' "$dir/stack/env")
mkdir -p "$HOME"
unset DISPLAY WAYLAND_DISPLAY

step "flatpak --user install"
flatpak --user remote-add --gpg-import="$dir/key.gpg" pellow-smoke "file://$dir/repo"
flatpak --user install -y --noninteractive pellow-smoke "$app_id" >/dev/null
# The installed commit re-checked offline against the remote's key.
ostree show --repo="$XDG_DATA_HOME/flatpak/repo" --gpg-verify-remote=pellow-smoke \
  "pellow-smoke:app/$app_id/x86_64/1" >/dev/null || fail "the installed commit does not verify"

run() { flatpak run --command="$1" "$app_id" "${@:2}"; }
step "flatpak run github-helper"
save='{"operation":"save","credential":{"accessToken":"'$token'","accountID":4242,"login":"octocat"}}'
answer=$(printf '%s' "$save" | run github-helper)
[ "$answer" = '{"ok":{"id":4242,"login":"octocat","signedIn":true}}' ] || fail "save answered $answer"
answer=$(printf '{"operation":"status"}' | run github-helper)
[ "$answer" = '{"ok":{"id":4242,"login":"octocat","signedIn":true}}' ] || fail "status answered $answer"
answer=$(printf 'protocol=https\nhost=github.com\npath=octocat/notes.git\n' | run github-helper credential 4242 get)
[ "$answer" = "$(printf 'username=x-access-token\npassword=%s' "$token")" ] || fail "git get answered $answer"
sealed=$HOME/.var/app/$app_id/data/PellowGitHub/Keychain/com.pemberhollo.pellow.github.v1+github-app.sealed
[ -f "$sealed" ] || fail "no sealed item at $sealed"
if grep -rl "$token" "$HOME/.var" >/dev/null 2>&1; then fail "the token is in clear under ~/.var"; fi
answer=$(printf '{"operation":"disconnect"}' | run github-helper)
[ "$answer" = '{"ok":{"signedIn":false}}' ] || fail "disconnect answered $answer"
[ ! -e "$sealed" ] || fail "the sealed item is still there after disconnect"

step "flatpak run suite-setup-helper"
mkdir -p -m 700 "$HOME/registry"
if run suite-setup-helper --app /app/Pellow.app --registry "$HOME/registry" --available >"$dir/suite.out"; then
  fail "suite-setup-helper succeeded inside the sandbox"
fi
[ ! -s "$dir/suite.out" ] || fail "suite-setup-helper printed $(cat "$dir/suite.out")"
step "passed"
