# The two commands a newcomer needs: `make demo` and `make test`.
JOBS ?= 2

PREFIX ?= /usr/local

.PHONY: all deps native windows windows64 asan test test-native test-windows test-asan demo release install deb bench fuzz package clean

all: native

deps:
	@scripts/install-deps.sh

native: deps
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(JOBS)

windows: deps
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS)

windows64: deps
	cmake --preset windows64 >/dev/null
	cmake --build --preset windows64 -j $(JOBS)

asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)

# Every build and its suites, side by side (scripts/test.sh); FUZZ_SECONDS sets the
# fuzz smoke's time (default 60). Each test-* target runs one part.
test: deps
	JOBS=$(JOBS) scripts/test.sh

test-native: deps
	JOBS=$(JOBS) scripts/test.sh native

# Both Windows programs, always; the 32-bit one's suites only where 32-bit programs run
# (VESKAR_SKIP_WIN32=1 skips them anywhere).
test-windows: deps
	JOBS=$(JOBS) scripts/test.sh windows64 windows

test-asan: deps
	JOBS=$(JOBS) scripts/test.sh asan

# Only what the demo runs: no tests, no Wine, no cross compilers.
demo:
	@scripts/install-deps.sh demo
	cmake --preset demo >/dev/null
	cmake --build --preset demo -j $(JOBS)
	scripts/demo.sh

# The POSIX program alone, with only a compiler and CMake (and Debian's packaging tools
# for the deb): what a server that runs veskar needs, and nothing for the tests.
release:
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS)

install:
	@scripts/install-deps.sh install
	@$(MAKE) --no-print-directory release
	cmake --install build/release --prefix $(PREFIX)

deb:
	@scripts/install-deps.sh deb
	@$(MAKE) --no-print-directory release
	cd build/release && cpack -G DEB

bench: deps
	bench/run.sh

fuzz: deps
	fuzz/run.sh

package: native windows windows64
	cd build/native && cpack && lintian --fail-on error,warning veskar_*.deb
	cd build/windows && cpack
	cd build/windows64 && cpack

clean:
	rm -rf build
