#!/usr/bin/env bash
# Installs the Debian packages the build, tests and demo need; skips apt-get when all are present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  zlib1g-dev libboost1.81-dev libssl-dev libinih-dev qt6-base-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  jq libxml2-utils curl python3 fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then
  sudo=sudo
else
  sudo=
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
