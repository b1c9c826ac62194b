#!/usr/bin/env bash
# The helpers' speed and memory beside the tools people use today, measured in one run.
#
#   bench/run.sh [BUILD_DIR] [keyrings]   (make bench; needs hyperfine, gh, gnome-keyring,
#                                  keepassxc, xvfb, xdotool, libsecret-tools, curl, time, python3)
#   "keyrings": only git credential mode, with the file store and the keyrings.
#   BENCH_PARTS=suite bench/run.sh BUILD_DIR     only the suite rows (`verified`, --available);
#   BENCH_PARTS=github ...                       only the GitHub helper's rows
#
# Every figure is a ratio of hyperfine medians (RUNS runs each, default 30, at least 30) of a
# helper command and its anchor, timed side by side in the same hyperfine call. Peak resident
# memory comes from /usr/bin/time. Writes BUILD_DIR/bench/results.md (the Markdown table and the
# machine) and keeps hyperfine's JSON files beside it. The large signed bundles are made once in
# BUILD_DIR/bench/bundles and reused by later runs.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
bin=$build/bin
out=$build/bench
runs=${RUNS:-30}
# part NAME: whether the part NAME ("github" or "suite") is to be measured in this run.
part() { [ -z "${BENCH_PARTS:-}" ] || [[ " $BENCH_PARTS " == *" $1 "* ]]; }
if [ "${2:-}" = keyrings ]; then BENCH_PARTS=github; fi
[ "$runs" -ge 30 ] || { echo "RUNS must be at least 30" >&2; exit 2; }
for tool in hyperfine gh secret-tool curl openssl python3 /usr/bin/time dbus-monitor keepassxc Xvfb \
  xdotool; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh --bench)" >&2; exit 1; }
done
programs=()
if part github; then programs+=(github-helper with-input); fi
if part suite; then programs+=(suite-setup-helper veltra-codesign veltra-verify-bench veltra-test-app); fi
for program in "${programs[@]}"; do
  [ -x "$bin/$program" ] || { echo "build $program first" >&2; exit 1; }
done

mkdir -p "$out"
rm -f "$out"/*.json "$out/rows.tsv" "$out/rss.tsv"
work=$(mktemp -d)
session=$root/tests/support/keyring/keyring-session.sh
fake_pid=
sessions=()
cleanup() {
  for dir in "${sessions[@]}"; do "$session" stop "$dir" || true; done
  if [ -n "$fake_pid" ]; then kill "$fake_pid" 2>/dev/null || true; wait "$fake_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
unset DISPLAY WAYLAND_DISPLAY

# Every command runs without a shell (hyperfine -N), in the environment of the array E that each
# section sets; with-input gives a command its standard input at the cost of one small exec, paid
# by the helper and its anchor alike.
E=()
# bench NAME [hyperfine options and commands...]
bench() {
  local name=$1
  shift
  echo "== $name" >&2
  env "${E[@]}" hyperfine -N --style basic --warmup 3 --runs "$runs" \
    --export-json "$out/$name.json" "$@" >&2
}
# bench_rounds NAME [hyperfine options and commands...]: as bench, but in rounds of 10 runs whose
# times are pooled into NAME.json: on a machine whose load drifts, each command then sees the
# same stretches of it, instead of one command the quiet minute and its anchor the busy one.
bench_rounds() {
  local name=$1 round rounds=$(((runs + 9) / 10))
  shift
  echo "== $name ($rounds rounds of 10 runs)" >&2
  for round in $(seq "$rounds"); do
    env "${E[@]}" hyperfine -N --style none --warmup 1 --runs 10 \
      --export-json "$work/$name-$round.json" "$@" >/dev/null
  done
  python3 - "$out/$name.json" "$work/$name"-*.json <<'PY'
import json, statistics, sys
pooled = None
for path in sys.argv[2:]:
    with open(path) as f:
        results = json.load(f)["results"]
    if pooled is None:
        pooled = results
    else:
        for into, result in zip(pooled, results):
            into["times"] += result["times"]
for result in pooled:
    result["median"] = statistics.median(result["times"])
    result["mean"] = statistics.mean(result["times"])
    result["min"], result["max"] = min(result["times"]), max(result["times"])
with open(sys.argv[1], "w") as f:
    json.dump({"results": pooled}, f)
for result in pooled:
    print("%s: median %.2f ms over %d runs" % (result["command"], result["median"] * 1000,
                                              len(result["times"])), file=sys.stderr)
PY
}
# check COMMAND: runs COMMAND once (words split as hyperfine splits them) and prints its output.
check() { env "${E[@]}" sh -c "exec $1"; }
# row LABEL JSON SUBJECT ANCHOR FACTOR MODE TARGET RSS_KEY: one line of the results table.
# MODE "time": ratio = subject / (FACTOR x anchor), target an upper bound; "throughput": ratio =
# FACTOR x anchor / subject, target a lower bound.
row() { printf 'row\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$@" >>"$out/rows.tsv"; }
# rss KEY COMMAND [PREPARE]: the largest peak resident set (KiB) of three runs of COMMAND, each
# after PREPARE.
rss() {
  local key=$1 command=$2 prepare=${3:-} best=0 kib i
  for i in 1 2 3; do
    if [ -n "$prepare" ]; then check "$prepare" >/dev/null; fi
    env "${E[@]}" /usr/bin/time -f %M -o "$work/rss" sh -c "exec $command" >/dev/null 2>&1 || true
    kib=$(tail -n1 "$work/rss")
    [ "$kib" -gt "$best" ] && best=$kib
  done
  printf '%s\t%s\n' "$key" "$best" >>"$out/rss.tsv"
}

# table: writes the results (report.py) and the machine to results.md and shows them.
table() {
  {
    echo "Machine: $(nproc) CPUs, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)," \
      "load average $(cut -d' ' -f1-3 /proc/loadavg) (before the table was written)," \
      "$(uname -sr), $(date -u '+%Y-%m-%d %H:%M UTC'); $runs runs per command; the whole run took" \
      "$SECONDS s."
    echo
    python3 "$root/bench/report.py" "$out"
  } >"$out/results.md"
  cat "$out/results.md"
}

web_host=$(sed -n 's|^PELLOW_GITHUB_WEB_URL:STRING=https://||p' "$build/CMakeCache.txt")
api_host=$(sed -n 's|^PELLOW_GITHUB_API_URL:STRING=https://||p' "$build/CMakeCache.txt")
web_host=${web_host:-github.com}
api_host=${api_host:-api.github.com}
helper=$bin/github-helper
request=$work/request
printf 'protocol=https\nhost=%s\npath=octo/notes.git\n' "$web_host" >"$request"

if part github; then
# ---- git credential mode, file store ----------------------------------------------------------
mkdir -p "$work/home" "$work/data" "$work/norun" "$work/gh"
export HOME=$work/home XDG_DATA_HOME=$work/data
with="$bin/with-input"
E=(-u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR="$work/norun" GH_CONFIG_DIR="$work/gh"
  GH_NO_UPDATE_NOTIFIER=1)
printf '%s' '{"operation":"save","credential":{"accessToken":"ghu_bench","accountID":7,"login":"octo"}}' \
  >"$work/save.json"
check "$with $work/save.json $helper" | grep '"ok"' >/dev/null
printf 'https://x-access-token:ghu_bench@%s/octo/notes.git\n' "$web_host" >"$work/git-credentials"
printf '%s:\n    oauth_token: ghu_bench\n    user: octo\n    git_protocol: https\n' "$web_host" \
  >"$work/gh/hosts.yml"
get="$with $request $helper credential 7 get"
store_get="$with $request git credential-store --file $work/git-credentials get"
gh_get="$with $request gh auth git-credential get"
check "$get" | grep password=ghu_bench >/dev/null
check "$store_get" | grep password=ghu_bench >/dev/null
check "$gh_get" | grep password=ghu_bench >/dev/null
bench credential-file -n helper "$get" -n store "$store_get" -n gh "$gh_get"
rss credential-file "$get"
row "\`credential 7 get\`, file store" credential-file helper store 1 time 1.5 credential-file
row "\`credential 7 get\`, file store" credential-file helper gh 1 time - credential-file

# ---- git credential mode, Secret Service, each provider -----------------------------------------
# The same item read by the helper and by secret-tool, on a private bus with GNOME Keyring, then
# with KeePassXC (on its own Xvfb display). Beside the times, dbus.tsv gets the D-Bus messages of
# one run of each side: every message on the bus while it runs (calls, returns, errors, signals,
# the provider's own calls to the bus included), the monitor's own left out.
service=com.pemberhollo.pellow.github.v1
lookup="$with /dev/null secret-tool lookup service $service account github-app"
: >"$out/dbus.tsv"
# dbus_messages LABEL COMMAND: one line of dbus.tsv.
dbus_messages() {
  local label=$1 command=$2 monitor
  env "${E[@]}" dbus-monitor --session >"$work/monitor.log" 2>/dev/null &
  monitor=$!
  sleep 0.5
  check "$command" >/dev/null
  sleep 0.5
  kill "$monitor"
  wait "$monitor" 2>/dev/null || true
  printf '%s\t%s\n' "$label" "$(grep -E '^(method call|method return|error|signal) ' "$work/monitor.log" |
    grep -cvE 'member=(NameAcquired|NameLost)$')" >>"$out/dbus.tsv"
}
for provider in gnome-keyring keepassxc; do
  case $provider in
    gnome-keyring) title="GNOME Keyring" ;;
    keepassxc) title="KeePassXC" ;;
  esac
  dir=$work/keyring-$provider
  PELLOW_TEST_PROVIDER=$provider "$session" start "$dir" >/dev/null
  sessions+=("$dir")
  E=(-u DISPLAY DBUS_SESSION_BUS_ADDRESS="$(sed -n 's/^DBUS_SESSION_BUS_ADDRESS=//p' "$dir/env")"
    XDG_RUNTIME_DIR="$dir/run")
  check "$with $work/save.json $helper" | grep '"ok"' >/dev/null
  check "$get" | grep password=ghu_bench >/dev/null
  check "$lookup" | grep ghu_bench >/dev/null
  bench_rounds "credential-$provider" -n helper "$get" -n secret-tool "$lookup"
  rss "credential-$provider" "$get"
  row "\`credential 7 get\`, Secret Service, $title" "credential-$provider" helper secret-tool 1 \
    time 1.2 "credential-$provider"
  dbus_messages "\`credential 7 get\`, $title" "$get"
  dbus_messages "secret-tool lookup, $title" "$lookup"
  "$session" stop "$dir"
done

if [ "${2:-}" = keyrings ]; then
  table
  exit 0
fi

# ---- "status" with nothing stored ---------------------------------------------------------------
mkdir -p "$work/empty/data"
printf '{"operation":"status"}' >"$work/status.json"
E=(-u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR="$work/norun" HOME="$work/empty"
  XDG_DATA_HOME="$work/empty/data")
status="$with $work/status.json $helper"
check "$status" | grep '"signedIn":false' >/dev/null
bench status -n helper "$status" -n store "$store_get"
rss status "$status"
row '"status", nothing stored' status helper store 1 time - status

# ---- a renewal against the fake service -------------------------------------------------------
# The fake runs as a coprocess: one JSON command per line in, one answer per line out.
coproc FAKE { exec python3 "$root/tests/fake_github/fake_github.py" --hosts "$web_host,$api_host" \
  --fixtures "$root/tests/fixtures/github"; }
fake_pid=$FAKE_PID
fake_in=${FAKE[1]}
fake_out=${FAKE[0]}
read -r -t 30 ready <&"$fake_out"
port=$(python3 -c 'import json, sys; print(json.loads(sys.argv[1])["port"])' "$ready")
ca=$(python3 -c 'import json, sys; print(json.loads(sys.argv[1])["ca"])' "$ready")
echo '{"op":"route","route":{"method":"POST","path":"/login/oauth/access_token","body_file":"token-expiring.json"}}' >&"$fake_in"
read -r -t 10 answer <&"$fake_out"
[[ $answer == *ok* ]] || { echo "fake service: $answer" >&2; exit 1; }
E=(-u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR="$work/norun"
  PELLOW_TEST_CONNECT_TO="$web_host:443:127.0.0.1:$port,$api_host:443:127.0.0.1:$port"
  PELLOW_TEST_CAINFO="$ca")
# Expired access token, refresh token good for months (dates count from 2001-01-01).
refresh_expires=$(($(date +%s) - 978307200 + 15000000))
printf '%s' "{\"operation\":\"save\",\"credential\":{\"accessToken\":\"ghu_old\",\
\"accountID\":7,\"login\":\"octo\",\"expiresAt\":1.0,\"refreshToken\":\"ghr_bench\",\
\"refreshExpiresAt\":$refresh_expires,\"clientID\":\"Iv1.bench\"}}" >"$work/expiring.json"
prepare="$with $work/expiring.json $helper"
curl_post="$with /dev/null curl -sS --fail --cacert $ca --connect-to $web_host:443:127.0.0.1:$port \
-H 'Accept: application/json' -d 'client_id=Iv1.bench&grant_type=refresh_token&refresh_token=ghr_bench' \
-o /dev/null https://$web_host/login/oauth/access_token"
check "$prepare" >/dev/null
check "$get" | grep password=ghu_16C7 >/dev/null
check "$curl_post"
bench renewal --prepare "$prepare" -n helper "$get" -n curl "$curl_post" -n store "$store_get"
rss renewal "$get" "$prepare"
row 'renewal: `credential 7 get`, expired token' renewal helper curl 1 time - renewal
row 'renewal: `credential 7 get`, expired token' renewal helper store 1 time - renewal

fi

if part suite; then
# ---- verified on large bundles --------------------------------------------------------------------
pki=$out/pki
anchor=$build/veltra-dev-anchor
if [ ! -f "$pki/signing.pem" ] || ! openssl verify -CAfile "$anchor/anchor.pem" "$pki/signing.pem" >/dev/null 2>&1; then
  mkdir -p "$pki"
  openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
    -keyout "$pki/signing.key" -subj "/O=Pemberhollo/OU=K4TQ7WMX2P/CN=Veltra Bench Signing" \
    -out "$pki/signing.csr" 2>/dev/null
  printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
    >"$pki/signing.ext"
  openssl x509 -req -in "$pki/signing.csr" -CA "$anchor/anchor.pem" -CAkey "$anchor/anchor.key" \
    -set_serial "$(date +%s%N)" -days 3650 -sha256 -extfile "$pki/signing.ext" \
    -out "$pki/signing.pem" 2>/dev/null
fi
bundle_id=com.pemberhollo.sorel
# make_bundle DIR SHAPE MIB: a signed Sorel bundle with MIB MiB of random content, as 16 KiB
# files ("small") or one file ("large"); kept when it still verifies.
make_bundle() {
  local dir=$1 shape=$2 mib=$3
  if [ -d "$dir" ] && "$bin/veltra-verify-bench" "$dir" "$bundle_id" 2>/dev/null; then return; fi
  echo "== making $dir" >&2
  rm -rf "$dir"
  mkdir -p "$dir/Contents/MacOS" "$dir/Contents/Resources"
  printf '{"CFBundleIdentifier":"%s","CFBundleExecutable":"Sorel"}' "$bundle_id" >"$dir/Contents/Info.json"
  printf '#!/bin/sh\n' >"$dir/Contents/MacOS/Sorel"
  python3 - "$dir/Contents/Resources" "$shape" "$mib" <<'PY'
import os, sys
folder, shape, mib = sys.argv[1], sys.argv[2], int(sys.argv[3])
total = mib << 20
if shape == "large":
    with open(os.path.join(folder, "data.bin"), "wb") as f:
        for _ in range(total >> 20):
            f.write(os.urandom(1 << 20))
else:
    size = 16 << 10
    for i in range(total // size):
        sub = os.path.join(folder, "d%03d" % (i // 256))
        if i % 256 == 0:
            os.makedirs(sub, exist_ok=True)
        with open(os.path.join(sub, "f%05d.bin" % i), "wb") as f:
            f.write(os.urandom(size))
PY
  "$bin/veltra-codesign" --key "$pki/signing.key" --cert "$pki/signing.pem" "$dir"
  # Only the owner may change a genuine bundle or the folder that holds it.
  chmod -R go-w "$dir" "$(dirname "$dir")"
}
# file_list DIR...: the NUL-separated list of the sealed files, for openssl dgst.
file_list() { find "$@" -type f ! -path '*/_CodeSignature/*' -print0; }
dgst_of() { echo "xargs -0 -s 1900000 -a $1 openssl dgst -sha256"; }

for mib in 1 64 512; do
  for shape in small large; do
    name=verify-$mib-$shape
    dir=$out/bundles/$name/Sorel.app
    make_bundle "$dir" "$shape" "$mib"
    file_list "$dir" >"$work/$name.list"
    # Both sides read from the page cache.
    xargs -0 -a "$work/$name.list" cat >/dev/null
    E=()
    if [ "$shape" = small ]; then shape_label="$((mib * 64)) files of 16 KiB"; else shape_label="one file"; fi
    bench "$name" -n verified "$bin/veltra-verify-bench $dir $bundle_id" \
      -n openssl "$(dgst_of "$work/$name.list")"
    rss "$name" "$bin/veltra-verify-bench $dir $bundle_id"
    row "\`verified\`, $mib MiB, $shape_label" "$name" verified openssl 1 throughput 0.95 "$name"
  done
done

# ---- suite-setup-helper --available, six apps, shared mode --------------------------------------
suite=$work/suite
"$root/tools/veltra-demo-bundles.sh" "$build" "$suite" >/dev/null
mkdir -p -m 700 "$suite/home"  # above the bundles: writable by nobody else, whatever the umask
mv "$suite/apps" "$suite/home/Applications"
registry=$suite/home/Library/VeltraIntegration/registry/v1
mkdir -p -m 700 "$suite/home/Library" "$suite/home/Library/VeltraIntegration" \
  "$suite/home/Library/VeltraIntegration/registry" "$registry"
E=(HOME="$suite/home")
available="$bin/suite-setup-helper --app $suite/home/Applications/Pellow.app --registry $registry \
--available"
[ "$(check "$available" | grep -o '"bundleId"' | wc -l)" -eq 5 ] ||
  { echo "suite-setup-helper --available did not list the five other apps" >&2; exit 1; }
file_list "$suite/home/Applications" >"$work/six.list"
bench available -n helper "$available" -n openssl "$(dgst_of "$work/six.list")"
rss available "$available"
row '`suite-setup-helper --available`, six apps, shared' available helper openssl 2 time 1.0 available

fi

# ---- the table ---------------------------------------------------------------------------------
table
