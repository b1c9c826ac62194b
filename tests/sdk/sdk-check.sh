#!/usr/bin/env bash
# The SDK as an application developer gets it, in steps that ctest runs as separate tests:
#
#   tests/sdk/sdk-check.sh install         BUILD PREFIX       # cmake --install BUILD, afresh
#   tests/sdk/sdk-check.sh cmake-consumer  SOURCE PREFIX OUT  # tests/sdk/consumer via find_package
#   tests/sdk/sdk-check.sh pkg-config      SOURCE PREFIX OUT  # the same program via pkg-config
#   tests/sdk/sdk-check.sh example         SOURCE PREFIX OUT  # examples/sorel, built
#
# PREFIX must be the prefix BUILD was configured with (a test build's is BUILD/sdk): the GitHub
# library looks for its modules there. Each program is built outside the source tree, with
# nothing but the installed SDK, and lives outside PREFIX, so it finds the modules by the
# installed path and not beside itself.
set -euo pipefail

step=$1
fail() { echo "sdk-check $step: $*" >&2; exit 1; }

# Runs the consumer program OUT/$1 and checks what it saw.
run_consumer() {
  local program=$1 out=$2 prefix=$3 output
  rm -rf "$out/home" && mkdir -p -m 700 "$out/home"
  # A session bus address that leads nowhere: the keychain loads its keyring module, finds no
  # keyring and falls back to the private file store in the temporary home.
  output=$(env -i PATH=/usr/bin:/bin HOME="$out/home" XDG_DATA_HOME="$out/home/data" \
             DBUS_SESSION_BUS_ADDRESS="unix:path=$out/home/no-bus" "$program") ||
    fail "$program failed: $output"
  printf '%s\n' "$output"
  grep -qx 'suite 6 K4TQ7WMX2P bootstrap-running=0' <<<"$output" || fail "suite library: $output"
  grep -q '^github .*address' <<<"$output" || fail "network module: $output"
  for module in pellow-net.so pellow-secret.so; do
    grep -qx "module $prefix/libexec/pellow/$module" <<<"$output" ||
      fail "$module was not loaded from $prefix/libexec/pellow"
  done
}

case $step in
  install)
    build=$2 prefix=$3
    configured=$(sed -n 's|^CMAKE_INSTALL_PREFIX:PATH=||p' "$build/CMakeCache.txt")
    [ "$configured" = "$prefix" ] || fail "$build is configured for $configured, not $prefix"
    rm -rf "$prefix"
    cmake --install "$build" >/dev/null
    for file in include/PellowGitHub/GitHubAuthorization.h \
                include/VeltraSuiteSetup/VeltraSuiteBootstrap.h \
                libexec/pellow/suite-setup-helper libexec/pellow/pellow-net.so bin/veltra-codesign; do
      [ -e "$prefix/$file" ] || fail "$prefix/$file was not installed"
    done
    for internal in UniqueFd.h bundle linux; do
      [ ! -e "$prefix/include/VeltraSuiteSetup/$internal" ] || fail "internal $internal installed"
    done
    for internal in store api support net secret; do
      [ ! -e "$prefix/include/PellowGitHub/$internal" ] || fail "internal $internal installed"
    done
    ;;
  cmake-consumer)
    source=$2 prefix=$3 out=$4
    rm -rf "$out"
    cmake -S "$source/tests/sdk/consumer" -B "$out" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$out" -j 2
    run_consumer "$out/sdk-consumer" "$out" "$prefix"
    ;;
  pkg-config)
    source=$2 prefix=$3 out=$4
    rm -rf "$out" && mkdir -p "$out"
    pc=$(find "$prefix" -name pellow-github.pc -printf '%h')
    flags=$(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs pellow-github veltra-suite-setup)
    # The standard is the consumer's to choose (C++20 or newer): the files must not override it.
    case " $flags " in *" -std="*) fail "the pkg-config files set the C++ standard: $flags" ;; esac
    echo "c++ -std=c++20 main.cc $flags"
    # shellcheck disable=SC2086  # the flags are words
    c++ -std=c++20 -O1 -o "$out/pc-consumer" "$source/tests/sdk/consumer/main.cc" $flags
    run_consumer "$out/pc-consumer" "$out" "$prefix"
    ;;
  example)
    source=$2 prefix=$3 out=$4
    rm -rf "$out"
    cmake -S "$source/examples/sorel" -B "$out" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
    cmake --build "$out" -j 2
    [ -x "$out/Sorel.app/Contents/MacOS/Sorel" ] || fail "no Sorel.app in $out"
    ;;
  *)
    fail "unknown step"
    ;;
esac
