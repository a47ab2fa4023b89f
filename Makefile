# Thin wrapper over the CMake presets. `make test` and `make demo` do all the set-up themselves.
JOBS ?= $(shell nproc)

# `make fuzz` runs every fuzz target FUZZ_SECONDS seconds, one after the other (FUZZ_TARGETS picks
# some by name, FUZZ_RUNS stops each one after that many executions).
FUZZ_SECONDS ?= 60
FUZZ_RUNS ?=
FUZZ_TARGETS ?=
# `make test AZM_WERROR=ON` (what .ci/run does) turns every compiler warning into an error.
AZM_WERROR ?= OFF

.PHONY: all deps build test asan-build asan-test fuzz demo clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake --preset default -DAZM_WERROR=$(AZM_WERROR) >/dev/null
	@cmake --build --preset default -j $(JOBS)

test: build
	@ctest --preset default -j $(JOBS)

asan-build: deps
	@cmake --preset asan -DAZM_WERROR=$(AZM_WERROR) >/dev/null
	@cmake --build --preset asan -j $(JOBS)

asan-test: asan-build
	@ctest --preset asan -j $(JOBS)

fuzz: deps
	@cmake --preset fuzz -DAZM_WERROR=$(AZM_WERROR) >/dev/null
	@cmake --build --preset fuzz -j $(JOBS)
	@FUZZ_RUNS=$(FUZZ_RUNS) scripts/run-fuzz build/fuzz $(FUZZ_SECONDS) $(FUZZ_TARGETS)

demo: build
	@scripts/demo build/default

clean:
	rm -rf build
