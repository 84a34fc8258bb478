#!/usr/bin/env bash
# The whole test suite from a fresh Debian 12 machine: installs what is missing,
# builds, and runs the tests in a release build, checks the Debian package made
# from it, runs each fuzz target briefly, and the tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)

cmake --preset release
cmake --build --preset release -j "$jobs"
ctest --preset release -j "$jobs"
scripts/package-check.sh build/release

scripts/fuzz-smoke.sh "${FUZZ_SECONDS:-60}"

cmake --preset asan
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"
