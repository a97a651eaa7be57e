# The two commands of the README: `make run` and `make test`.
.PHONY: all deps build run test format clean

all: build

deps:
	tools/install-deps.sh

build: deps
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $$(nproc)

run: build
	tools/run-demo.sh

test: deps
	tools/run-tests.sh

format:
	git ls-files '*.cpp' '*.h' '*.c' '*.hpp' | xargs -r clang-format -i --style=file

clean:
	rm -rf build build-release build-asan build-fuzz
