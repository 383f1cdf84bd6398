# Thin wrapper over the CMake presets. `make test` and `make demo` do all the set-up.
PRESET ?= dev
WERROR ?= OFF
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# Build only this target (e.g. klr_threads_tests); empty builds everything.
TARGET ?=
FUZZ_SECONDS ?= 60

.PHONY: all deps configure build test demo package fuzz soak asan tsan release format clean

all: build

deps:
	@scripts/install-deps

configure: deps
	cmake --preset $(PRESET) -DKLR_WERROR=$(WERROR) $(CMAKE_FLAGS)

build: configure
	cmake --build --preset $(PRESET) -j $(JOBS) $(if $(TARGET),--target $(TARGET))

test: build
	ctest --preset $(PRESET)

# The panel against the built-in simulated instrument (the family dialog comes first).
demo: build
	build/bin/klremote --simulate

# The Debian package from the release preset, checked by lintian.
package: deps
	cmake --preset release -DKLR_WERROR=$(WERROR) $(CMAKE_FLAGS)
	cmake --build --preset release -j $(JOBS)
	cd build-release && cpack -G DEB
	lintian --fail-on error,warning build-release/klremote_*.deb

# Each fuzz_<name> runs FUZZ_SECONDS on its own working corpus, seeded from fuzz/corpus/<name>,
# with the libFuzzer options in fuzz/<name>.flags when there is one; FUZZ_JOBS harnesses run
# side by side.
FUZZ_JOBS ?= 1
fuzz:
	cmake --preset fuzz $(CMAKE_FLAGS)
	cmake --build --preset fuzz -j $(JOBS) --target fuzzers
	@for bin in build-fuzz/bin/fuzz_*; do \
	  [ -x "$$bin" ] || continue; \
	  name=$${bin##*/fuzz_}; \
	  mkdir -p build-fuzz/corpus/$$name; \
	  if [ -d fuzz/corpus/$$name ]; then cp -n fuzz/corpus/$$name/* build-fuzz/corpus/$$name/; fi; \
	  echo "$$name"; \
	done | xargs -P $(FUZZ_JOBS) -I{} sh -c \
	  'build-fuzz/bin/fuzz_{} $$(cat fuzz/{}.flags 2>/dev/null) -max_total_time=$(FUZZ_SECONDS) \
     -print_final_stats=1 build-fuzz/corpus/{} \
	     > build-fuzz/fuzz_{}.log 2>&1; rc=$$?; echo "== fuzz_{}: exit $$rc"; \
	     grep -E "^stat::number_of_executed_units|^stat::average_exec_per_sec|ERROR|SUMMARY" build-fuzz/fuzz_{}.log; \
	     exit $$rc'

# The long soak: the KKC panel against the simulator for SOAK_CYCLES screens (faults mixed in,
# keys sent throughout); prints its figures. The short version runs with the tests.
SOAK_CYCLES ?= 10000
soak: build
	KLR_SOAK_CYCLES=$(SOAK_CYCLES) QT_QPA_PLATFORM=offscreen \
	  $(if $(filter dev,$(PRESET)),build,build-$(PRESET))/bin/test_soak

asan:
	$(MAKE) test PRESET=asan

# Only the threaded tests run under ThreadSanitizer, so only they are built.
tsan:
	$(MAKE) test PRESET=tsan TARGET=klr_threads_tests

release:
	$(MAKE) build PRESET=release

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-*

.PHONY: test-windows
test-windows:
	@scripts/install-deps --windows
	scripts/run-windows-tests
