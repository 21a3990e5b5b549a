# Thin wrapper over the CMake presets; `make test` is what CI runs.
PRESET ?= release
JOBS ?= $(shell nproc)
# Seconds each fuzz target runs under `make fuzz`.
FUZZ_SECONDS ?= 60

.PHONY: all deps configure build test test-asan test-tsan demo install bench fuzz clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET) -j $(JOBS)

test: build
	ctest --preset $(PRESET)

test-asan:
	$(MAKE) test PRESET=asan

test-tsan:
	$(MAKE) test PRESET=tsan

demo: build
	@bash scripts/demo.sh build/$(PRESET)

install: build
	cmake --install build/$(PRESET) --prefix $(or $(PREFIX),/usr/local)

bench: deps
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS)
	bash scripts/bench.sh build/bench

# Builds the libFuzzer targets with clang (preset fuzz) and runs each for
# FUZZ_SECONDS; fails on any crash, leak or sanitizer report.
fuzz: deps
	@bash scripts/fuzz.sh build/fuzz $(FUZZ_SECONDS) $(JOBS)

clean:
	rm -rf build
