#!/usr/bin/env bash
# Makes a development signing identity of a team: what an app developer signs bundles with
# before the vendor signs a release, under a build's development trust anchor.
#
#   tools/veltra-dev-identity.sh ANCHOR_DIR TEAM OUT_DIR [COMMON_NAME]
#   make dev-identity TEAM=K4TQ7WMX2P [OUT=dev-identity]
#
# ANCHOR_DIR holds anchor.pem and anchor.key (a development build's <build>/veltra-dev-anchor).
# Writes into OUT_DIR (made 0700):
#   team.key   the private key (EC P-256, 0600)
#   team.pem   the code-signing leaf: subject OU = TEAM, extended key usage codeSigning, issued by
#              the anchor, valid 30 days (the suite does not check validity times)
#   chain.pem  the certificates from the leaf up to the anchor (here the anchor itself)
#   root.pem   the anchor, to check a signature against (veltra-codesign --anchor)
# so that `veltra-codesign --key team.key --cert team.pem --chain chain.pem --anchor root.pem
# Name.app` signs a bundle that a suite-setup-helper of that build takes for genuine. An identity
# already in OUT_DIR is kept. Exit status 0 on success, 1 on failure, 2 for a wrong command line.
set -euo pipefail

if [ $# -lt 3 ] || [ $# -gt 4 ]; then
  echo "usage: tools/veltra-dev-identity.sh ANCHOR_DIR TEAM OUT_DIR [COMMON_NAME]" >&2
  exit 2
fi
anchor=$1 team=$2 out=$3
name=${4:-Veltra Development Signing}
# The team becomes a subject attribute: letters and digits only, so no "/" or "=" can forge one.
if ! [[ $team =~ ^[A-Za-z0-9]+$ ]]; then
  echo "veltra-dev-identity: the team must be letters and digits: $team" >&2
  exit 2
fi
if [ ! -f "$anchor/anchor.key" ] || [ ! -f "$anchor/anchor.pem" ]; then
  echo "veltra-dev-identity: no development trust anchor in $anchor (built with a release anchor?)" >&2
  exit 1
fi

mkdir -p -m 700 "$out"
if [ ! -f "$out/team.pem" ]; then
  (umask 077 && openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
    -keyout "$out/team.key" -subj "/O=Pemberhollo/OU=$team/CN=$name" \
    -out "$out/team.csr" 2>/dev/null)
  printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
    > "$out/team.ext"
  openssl x509 -req -in "$out/team.csr" -CA "$anchor/anchor.pem" -CAkey "$anchor/anchor.key" \
    -set_serial "$(date +%s%N)" -days 30 -sha256 -extfile "$out/team.ext" \
    -out "$out/team.pem" 2>/dev/null
  rm -f "$out/team.csr" "$out/team.ext"
fi
cp "$anchor/anchor.pem" "$out/chain.pem"
cp "$anchor/anchor.pem" "$out/root.pem"
echo "$out: team.key, team.pem (team $team), chain.pem, root.pem"
