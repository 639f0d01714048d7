# The two commands a newcomer needs: `make run` and `make test`.
# Both install missing Debian packages first, then configure and build.
.PHONY: all deps configure build run test stress check-asan check-real-client screenshots bench fuzz package format clean

all: build

deps:
	@packaging/install-deps.sh

build/build.ninja: CMakeLists.txt CMakePresets.json | deps
	cmake --preset dev

configure: deps build/build.ninja

build: configure
	cmake --build --preset dev

run: build
	./build/bin/tolvo

# Long runs (the whole fuzz corpus) carry the CTest label `stress`.
test: build
	ctest --preset dev -LE stress

stress: build
	ctest --preset dev -L stress

check-asan: deps
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan -LE stress

# The real Claude Code, Codex and Gemini CLIs (fetched from npm once) against this build;
# prints timings.
check-real-client: build
	bench/realclient/check-real-client.sh build

screenshots: build
	cmake --build --preset dev --target screenshots

bench: build
	cmake --build --preset dev --target run-benchmarks

# Each libFuzzer target for FUZZ_SECONDS, starting from tests/fuzz/corpus/.
FUZZ_SECONDS ?= 60
fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz
	tests/fuzz/run-fuzzers.sh build-fuzz $(FUZZ_SECONDS)

# build/tolvo_<version>_<arch>.deb
package: build
	cmake --build --preset dev --target package

format:
	git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format -i

clean:
	rm -rf build build-asan build-fuzz
