#!/usr/bin/env bash
# Builds and runs every test: a Release build of the whole tree (program, tests and
# benchmarks) with every unit and end-to-end test, the Debian package made from it
# (lintian, installed, run, removed), the unit tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, the fuzz targets for a few seconds each, the source format
# check and the layering of the includes. Warnings are errors in every build.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
started=$SECONDS
# A compiler cache, where the machine has one, makes the four builds of a second run cheap.
if command -v ccache >/dev/null; then
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
step() {
    echo "== $1 (at $((SECONDS - started)) s)"
}

step "format check"
tools/check-format.sh

step "layering check"
tools/check-layering.py

step "Release build"
# What a user's plain `cmake -DCMAKE_BUILD_TYPE=Release` builds (-O3 finds warnings the
# other builds do not), with the benchmarks; every test runs against it. Configured for
# /usr, as the Debian package is made from it.
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    >/dev/null
cmake --build build-release -j "$jobs"

step "tests"
ctest --test-dir build-release --output-on-failure -j "$jobs" --timeout 600

step "Debian package"
tools/test-package.sh build-release

step "sanitizer build (unit tests)"
# The end-to-end tests stay out: WebKit's web process (not instrumented) cannot load an
# instrumented bridge extension.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNORV_SANITIZE=ON \
    -DNORV_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs" -L unit --timeout 600

step "fuzz targets"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DNORV_FUZZ=ON -DNORV_DESKTOP=OFF -DNORV_TESTS=OFF -DNORV_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$jobs"
ctest --test-dir build-fuzz --output-on-failure -L fuzz --timeout 300
step "done"
