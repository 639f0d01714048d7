# The two commands a newcomer needs: `make run` and `make test`.
# Both install missing Debian packages first, then configure and build.
.PHONY: all deps configure build run test check-asan screenshots bench format clean

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

test: build
	ctest --preset dev

check-asan: deps
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

screenshots: build
	cmake --build --preset dev --target screenshots

bench: build
	cmake --build --preset dev --target run-benchmarks

format:
	git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format -i

clean:
	rm -rf build build-asan
