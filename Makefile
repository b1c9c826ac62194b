# Front door of the build. `make test` and `make demo` set up everything they need.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc)
# Test builds are development builds: test seams, and the development trust anchor, which they
# may also install (into <build>/sdk, for the SDK and example tests).
CMAKE_TEST_FLAGS = -DPELLOW_TEST_SEAMS=ON -DPELLOW_WERROR=$(if $(CI),ON,OFF) \
  -DVELTRA_DEVELOPMENT_ANCHOR=ON
# `make install` and `make package`: a release build without test seams or tests. It needs the
# vendor's trust anchor (VELTRA_TRUST_ANCHOR=root.pem), or, for development only,
# VELTRA_DEVELOPMENT_ANCHOR=ON, which ships a build that trusts the anchor in its build folder.
RELEASE_BUILD ?= build-release
PREFIX     ?= /usr/local
CMAKE_RELEASE_FLAGS = -DCMAKE_BUILD_TYPE=Release -DPELLOW_TEST_SEAMS=OFF -DPELLOW_BUILD_TESTS=OFF \
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

.PHONY: all deps test test-sanitize demo bench install package format clean

all: deps
	cmake -S . -B $(BUILD) $(CMAKE_TEST_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

deps:
	@scripts/install-deps.sh

test: deps
	cmake -S . -B $(BUILD) $(CMAKE_TEST_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-sanitize: deps
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_TEST_FLAGS) -DPELLOW_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS) -LE 'no-sanitize|gtk'

# ThreadSanitizer over the tests where processes and threads meet: the credential lock and the
# renewal under it, the consent store under concurrent writers, and the suite bootstrap.
TSAN_FLAGS = -fsanitize=thread -fno-omit-frame-pointer
TSAN_TESTS = (^|/)(CredentialLockTest|CredentialAccessTest|ConsentConcurrency|Bootstrap|BootstrapRefusal|BootstrapApp)\.
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) $(CMAKE_TEST_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  "-DCMAKE_C_FLAGS=$(TSAN_FLAGS)" "-DCMAKE_CXX_FLAGS=$(TSAN_FLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread \
	  -DCMAKE_MODULE_LINKER_FLAGS=-fsanitize=thread
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target github_tests suite_tests
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS) -R '$(TSAN_TESTS)'

# libFuzzer targets (clang, ASan + UBSan), each run FUZZ_SECONDS on its seeds (fuzz/run.sh).
fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DPELLOW_FUZZ=ON -DPELLOW_BUILD_TESTS=OFF -DPELLOW_WERROR=$(if $(CI),ON,OFF)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz-targets
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

demo: deps
	cmake -S . -B $(BUILD) $(CMAKE_TEST_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	scripts/demo.sh $(BUILD)

bench: deps
	@scripts/install-deps.sh --bench
	cmake -S . -B $(BUILD) $(CMAKE_TEST_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	bench/run.sh $(BUILD)

# The GitHub library compiles in where the modules are installed, so the prefix is given when
# the build is configured.
install: deps
	$(require_anchor)
	cmake -S . -B $(RELEASE_BUILD) $(CMAKE_RELEASE_FLAGS) -DCMAKE_INSTALL_PREFIX=$(abspath $(PREFIX))
	cmake --build $(RELEASE_BUILD) -j $(JOBS)
	cmake --install $(RELEASE_BUILD)

# pellow-helpers and pellow-helpers-dev (prefix /usr) in $(RELEASE_BUILD)/, checked by lintian.
package: deps
	$(require_anchor)
	cmake -S . -B $(RELEASE_BUILD) $(CMAKE_RELEASE_FLAGS) -DCMAKE_INSTALL_PREFIX=/usr
	cmake --build $(RELEASE_BUILD) -j $(JOBS)
	rm -f $(RELEASE_BUILD)/*.deb
	cd $(RELEASE_BUILD) && cpack -G DEB
	lintian --fail-on error,warning $(RELEASE_BUILD)/*.deb

format:
	git ls-files '*.cc' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(RELEASE_BUILD)
