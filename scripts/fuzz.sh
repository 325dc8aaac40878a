#!/usr/bin/env bash
# Builds every libFuzzer target with clang (ASan+UBSan) and runs each for a bounded time.
# Usage: scripts/fuzz.sh [seconds-per-target] [corpus-folder]
# Each target's corpus grows in <corpus-folder>/<target>/ (default fuzz-corpus/), seeded from
# the committed seeds; findings (crash-*, leak-*, timeout-*, oom-*) go to
# <corpus-folder>/artifacts/ and make the script exit non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-30}
corpus_root=$(realpath -m "${2:-fuzz-corpus}")

bash scripts/install-deps.sh
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAB_FUZZ=ON \
  -DAB_SANITIZE=ON -DAB_TESTS=OFF -DAB_BENCH=OFF -DAB_GUI=OFF >/dev/null
targets=$(cut -d'|' -f1 build-fuzz/fuzzers.txt | tr '\n' ' ')
# shellcheck disable=SC2086
cmake --build build-fuzz -j "$(nproc)" --target $targets

mkdir -p "$corpus_root/artifacts"
status=0
while IFS='|' read -r name seeds; do
  [[ -n "$name" ]] || continue
  bin=$(find build-fuzz/fuzz -type f -name "$name" -perm -u+x | head -n 1)
  [[ -n "$bin" ]] || { echo "fuzz: $name not built"; status=1; continue; }
  mkdir -p "$corpus_root/$name"
  dirs=("$corpus_root/$name")
  [[ -d "$seeds" ]] && dirs+=("$seeds")
  echo "== $name for ${secs}s"
  if ! "$bin" -max_total_time="$secs" -print_final_stats=1 \
      -artifact_prefix="$corpus_root/artifacts/$name-" "${dirs[@]}" 2>"$corpus_root/$name.log"; then
    echo "fuzz: $name found a problem; see $corpus_root/$name.log"
    status=1
  fi
  grep -E 'stat::number_of_executed_units|stat::new_units_added' "$corpus_root/$name.log" || true
done < build-fuzz/fuzzers.txt
exit $status
