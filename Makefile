# Thin wrapper over the CMake presets. `make test` and `make demo` do all the set-up themselves.
JOBS ?= $(shell nproc)

.PHONY: all deps build test asan-build asan-test demo clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake --preset default >/dev/null
	@cmake --build --preset default -j $(JOBS)

test: build
	@ctest --preset default -j $(JOBS)

asan-build: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan -j $(JOBS)

asan-test: asan-build
	@ctest --preset asan -j $(JOBS)

demo: build
	@scripts/demo build/default

clean:
	rm -rf build
