#!/usr/bin/env bash
# The threaded tests under ThreadSanitizer (run by hand before a threaded change lands).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DAB_TSAN=ON -DAB_BENCH=OFF -DAB_GUI=OFF >/dev/null
cmake --build build-tsan -j "$(nproc)"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan --output-on-failure -j "$(nproc)" --timeout 600 -LE nosan "$@"
