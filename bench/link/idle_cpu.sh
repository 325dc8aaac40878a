#!/usr/bin/env bash
# Idle cost of a registered link (keep-alive every second, tables ready): CPU share of one core
# while it waits for work, next to the same build polling every 1 ms, both in one run.
# Usage: bench/link/idle_cpu.sh [build-folder] [seconds]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
AB_IDLE_SECONDS=${2:-30} "$build/bench/link/link_bench" --benchmark_filter=IdleCpu
