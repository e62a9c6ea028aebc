# The two commands a newcomer needs: `make demo` and `make test`.
JOBS ?= 2

.PHONY: all deps native windows asan test test-native test-windows test-asan demo bench fuzz package clean

all: native

deps:
	@scripts/install-deps.sh

native: deps
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(JOBS)

windows: deps
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS)

asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)

test-native: native
	ctest --preset native

test-windows: windows
	scripts/with-wine.sh ctest --preset windows

test-asan: asan
	ctest --preset asan

test: test-native test-windows test-asan
	@if [ -x fuzz/run.sh ]; then FUZZ_SECONDS=$${FUZZ_SECONDS:-60} fuzz/run.sh; fi

demo: native
	scripts/demo.sh

bench: deps
	bench/run.sh

fuzz: deps
	fuzz/run.sh

package: native windows
	cd build/native && cpack
	cd build/windows && cpack

clean:
	rm -rf build
