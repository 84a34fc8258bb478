#!/usr/bin/env bash
# The whole test suite from a fresh Debian 12 machine: installs what is missing,
# builds, and runs the tests in a release build and under AddressSanitizer and
# UndefinedBehaviorSanitizer, then runs each fuzz target briefly.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)

cmake --preset release
cmake --build --preset release -j "$jobs"
ctest --preset release -j "$jobs"

cmake --preset asan
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

if [ -x scripts/fuzz-smoke.sh ]; then
    scripts/fuzz-smoke.sh "${FUZZ_SECONDS:-60}"
fi
