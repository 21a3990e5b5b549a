# Thin wrapper over the CMake presets; `make test` is what CI runs.
PRESET ?= release
JOBS ?= $(shell nproc)

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

clean:
	rm -rf build
