# The two commands of the README, `make run` and `make test`, and `make deb`.
.PHONY: all deps build run test deb format clean

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

# The Debian package: build-release/package/norv-view_<version>_<arch>.deb
deb: deps
	cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr
	cmake --build build-release -j $$(nproc) --target deb

format:
	git ls-files '*.cpp' '*.h' '*.c' '*.hpp' | xargs -r clang-format -i --style=file

clean:
	rm -rf build build-release build-asan build-fuzz
