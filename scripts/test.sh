#!/usr/bin/env bash
# The whole test run: dependencies, a plain build with every test, then the tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, then a short run of every fuzzer. Exits
# non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
echo "== plain build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 300

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DAB_SANITIZE=ON -DAB_BENCH=OFF \
  -DAB_GUI=OFF >/dev/null
cmake --build build-asan -j "$jobs"
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 600 -LE nosan

echo "== fuzz smoke run (${AB_FUZZ_SECONDS:-15} s per target; corpora in fuzz-corpus/)"
bash scripts/fuzz.sh "${AB_FUZZ_SECONDS:-15}" fuzz-corpus
