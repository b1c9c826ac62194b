# Front door of the build. `make test` and `make demo` set up everything they need.
#
# The configurations are the presets of CMakePresets.json, which IDEs and `ctest --preset` use
# too: dev (test seams and the development trust anchor, in build/), asan (build-asan/), tsan
# (build-tsan/), fuzz (build-fuzz/) and release (build-release/). Each folder is its preset's.
BUILD      = build
ASAN_BUILD = build-asan
TSAN_BUILD = build-tsan
FUZZ_BUILD = build-fuzz
RELEASE_BUILD = build-release
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc)
# CI builds treat warnings as errors.
WERROR = -DPELLOW_WERROR=$(if $(CI),ON,OFF)
# `make install` and `make package`: a release build without test seams or tests. It needs the
# vendor's trust anchor (VELTRA_TRUST_ANCHOR=root.pem), or, for development only,
# VELTRA_DEVELOPMENT_ANCHOR=ON, which ships a build that trusts the anchor in its build folder.
PREFIX     ?= /usr/local
CMAKE_RELEASE_FLAGS = \
  -DVELTRA_TRUST_ANCHOR=$(if $(VELTRA_TRUST_ANCHOR),$(abspath $(VELTRA_TRUST_ANCHOR))) \
  -DVELTRA_DEVELOPMENT_ANCHOR=$(if $(filter ON,$(VELTRA_DEVELOPMENT_ANCHOR)),ON,OFF)
define require_anchor
	@if [ -z "$(VELTRA_TRUST_ANCHOR)" ] && [ "$(VELTRA_DEVELOPMENT_ANCHOR)" != ON ]; then \
	  echo "make $@: no trust anchor. Name the vendor's: make $@ VELTRA_TRUST_ANCHOR=root.pem" >&2; \
	  echo "  (for development only: make $@ VELTRA_DEVELOPMENT_ANCHOR=ON, which trusts the" >&2; \
	  echo "  development anchor and key made in $(RELEASE_BUILD)/veltra-dev-anchor)" >&2; \
	  exit 1; \
	fi
endef

.PHONY: all deps test test-sanitize test-tsan fuzz demo bench flatpak-smoke dev-identity install package format clean

# The development build (preset dev), which test, demo and bench share.
define build_dev
	cmake --preset dev $(WERROR)
	cmake --build --preset dev -j $(JOBS)
endef

all: deps
	$(build_dev)

deps:
	@scripts/install-deps.sh

# After the run, the reason of each skipped test (ctest's summary says only "(Skipped)").
test: deps
	$(build_dev)
	ctest --preset dev -j $(JOBS); status=$$?; scripts/test-skips.py $(BUILD); exit $$status

# AddressSanitizer and UndefinedBehaviorSanitizer over every test but those labelled
# no-sanitize or gtk (preset asan).
test-sanitize: deps
	cmake --preset asan $(WERROR)
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS); status=$$?; scripts/test-skips.py $(ASAN_BUILD); exit $$status

# ThreadSanitizer over the tests where processes and threads meet: the credential lock and the
# renewal under it, the consent store under concurrent writers, and the suite bootstrap (preset
# tsan names them).
test-tsan: deps
	cmake --preset tsan $(WERROR)
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS); status=$$?; scripts/test-skips.py $(TSAN_BUILD); exit $$status

# libFuzzer targets (clang, ASan + UBSan), each run FUZZ_SECONDS on its seeds (fuzz/run.sh).
fuzz: deps
	cmake --preset fuzz $(WERROR)
	cmake --build --preset fuzz -j $(JOBS)
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

demo: deps
	$(build_dev)
	scripts/demo.sh $(BUILD)

bench: deps
	@scripts/install-deps.sh --bench
	$(build_dev)
	bench/run.sh $(BUILD)

# The helpers as a real Flatpak (not in CI): a runtime made from this machine's files, a signed
# local repository, `flatpak --user install` into a temporary home and `flatpak run`
# (scripts/flatpak-smoke.sh; needs flatpak, ostree and gnupg: apt-get install flatpak ostree gnupg).
flatpak-smoke: deps
	$(build_dev)
	scripts/flatpak-smoke.sh $(BUILD)

# A development signing identity of team TEAM under the development anchor of build/ (which
# the dev preset makes when it configures): OUT/team.key, team.pem, chain.pem and root.pem, for
# signing app bundles that this build's suite-setup-helper accepts (tools/veltra-dev-identity.sh).
TEAM ?= K4TQ7WMX2P
OUT  ?= $(BUILD)/dev-identity
dev-identity: deps
	cmake --preset dev $(WERROR)
	tools/veltra-dev-identity.sh $(BUILD)/veltra-dev-anchor $(TEAM) $(OUT)

# The GitHub library compiles in where the modules are installed, so the prefix is given when
# the build is configured.
install: deps
	$(require_anchor)
	cmake --preset release $(CMAKE_RELEASE_FLAGS) -DCMAKE_INSTALL_PREFIX=$(abspath $(PREFIX))
	cmake --build --preset release -j $(JOBS)
	cmake --install $(RELEASE_BUILD)

# pellow-helpers and pellow-helpers-dev (prefix /usr) in $(RELEASE_BUILD)/, checked by lintian.
package: deps
	$(require_anchor)
	cmake --preset release $(CMAKE_RELEASE_FLAGS) -DCMAKE_INSTALL_PREFIX=/usr
	cmake --build --preset release -j $(JOBS)
	rm -f $(RELEASE_BUILD)/*.deb
	cd $(RELEASE_BUILD) && cpack -G DEB
	lintian --fail-on error,warning $(RELEASE_BUILD)/*.deb

format:
	git ls-files '*.cc' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(RELEASE_BUILD)
