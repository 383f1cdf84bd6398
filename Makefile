# Thin wrapper over the CMake presets. `make test` and `make demo` do all the set-up.
PRESET ?= dev
WERROR ?= OFF
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo fuzz asan tsan release format clean

all: build

deps:
	@scripts/install-deps

configure: deps
	cmake --preset $(PRESET) -DKLR_WERROR=$(WERROR) $(CMAKE_FLAGS)

build: configure
	cmake --build --preset $(PRESET) -j $(JOBS)

test: build
	ctest --preset $(PRESET)

demo: build
	build/bin/klremote --simulate

asan:
	$(MAKE) test PRESET=asan

tsan:
	$(MAKE) test PRESET=tsan

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
