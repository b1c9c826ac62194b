#!/usr/bin/env bash
# Makes the six suite apps as signed bundles for a demonstration of suite-setup-helper.
#
#   tools/veltra-demo-bundles.sh BUILD_DIR OUT_DIR
#
# Signs with a code-signing certificate of the suite team issued by the build's development
# trust anchor (BUILD_DIR/veltra-dev-anchor). Writes OUT_DIR/apps/<Name>.app for the six apps and
# an empty private registry folder OUT_DIR/registry. The executable of each bundle is a copy of
# BUILD_DIR/bin/veltra-test-app (a program that stays alive for two minutes), so that a launched
# app shows as running.
set -euo pipefail

build=$(cd "$1" && pwd)
out=$2
anchor=$build/veltra-dev-anchor
if [ ! -f "$anchor/anchor.key" ]; then
  echo "no development trust anchor in $anchor (built with a release anchor?)" >&2
  exit 1
fi
executable=$build/bin/veltra-test-app
[ -x "$executable" ] || { echo "build the veltra-test-app target first" >&2; exit 1; }

mkdir -p "$out/apps"
mkdir -p -m 700 "$out/registry"
out=$(cd "$out" && pwd)
# Every folder above a bundle must be unwritable by others too, whatever the umask made it.
chmod go-w "$out" "$out/apps"
pki=$out/pki
"$(dirname "$0")/veltra-dev-identity.sh" "$anchor" K4TQ7WMX2P "$pki" "Veltra Demo Signing" >/dev/null

for app in Pellow:com.pemberhollo.pellow Sorel:com.pemberhollo.sorel Kesta:com.pemberhollo.kesta \
           Mure:com.pemberhollo.mure Tollis:com.pemberhollo.tollis Dunmar:local.dunmar.native; do
  name=${app%%:*}
  id=${app#*:}
  bundle=$out/apps/$name.app
  rm -rf "$bundle"
  mkdir -p "$bundle/Contents/MacOS" "$bundle/Contents/Resources"
  printf '{"CFBundleIdentifier":"%s","CFBundleExecutable":"%s"}' "$id" "$name" > "$bundle/Contents/Info.json"
  cp "$executable" "$bundle/Contents/MacOS/$name"
  printf '%s demo bundle\n' "$name" > "$bundle/Contents/Resources/about.txt"
  # A bundle that group or others may change is not genuine, whatever the umask made it, and
  # veltra-codesign checks what it signed.
  chmod -R go-w "$bundle"
  "$build/bin/veltra-codesign" --key "$pki/team.key" --cert "$pki/team.pem" "$bundle"
done
echo "$out/apps: six signed suite apps; registry: $out/registry"
