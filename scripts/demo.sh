#!/usr/bin/env bash
# The demo: both helpers doing their real work on embedded defaults, with local stand-ins.
# Usage: scripts/demo.sh BUILD_DIR
set -euo pipefail
build=${1:-build}
bin="$(cd "$build/bin" && pwd)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share"
mkdir -p "$HOME"
unset DBUS_SESSION_BUS_ADDRESS

say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
ask() {  # ask JSON-REQUEST: shows the request and the helper's exact answer
  printf '  request: %s\n' "$1"
  printf '  answer:  '
  printf '%s' "$1" | "$bin/github-helper"
  printf '   (exit %s)\n' "$?"
}

say "github-helper in JSON request mode, with nothing signed in"
ask '{"operation":"status"}'
say "An operation it does not know"
ask '{"operation":"Status"}'
say "Input that is not a request"
ask '[1,2,3]'
