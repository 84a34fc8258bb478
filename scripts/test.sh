#!/usr/bin/env bash
# The whole test suite from a fresh Debian 12 machine: installs what is missing,
# builds, and runs the tests in a release build, checks the Debian package made
# from it, builds the benchmarks, runs the row kernels' tests without instruction-set variants and
# with clang, runs each fuzz target briefly, and the tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)

cmake --preset release
cmake --build --preset release -j "$jobs"
ctest --preset release -j "$jobs"
scripts/package-check.sh build/release

# The benchmarks are built, not run (their figures are taken on a quiet
# machine), so that a change to what they call can't leave them broken.
cmake --preset bench
cmake --build --preset bench -j "$jobs"

# The row kernels' tests once more on the plain loops alone (what a processor
# without AVX2 runs), and once as clang builds them, variants and all.
for preset in plain clang; do
    cmake --preset "$preset"
    cmake --build --preset "$preset" -j "$jobs"
    "build/$preset/tests/ops/ops_tests" --gtest_brief=1
done

scripts/fuzz-smoke.sh "${FUZZ_SECONDS:-60}"

cmake --preset asan
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"
