#!/usr/bin/env bash
# Installs every Debian package the project needs. Idempotent; silent when all are present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev clang-16 libclang-rt-16-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libfmt-dev libasio-dev libtomlplusplus-dev libcli11-dev
  liblua5.4-dev libsqlite3-dev libzstd-dev zstd
  libsodium-dev libgnutls28-dev gnutls-bin
  libngtcp2-dev libngtcp2-crypto-gnutls-dev
  b3sum openssl python3
  golang-go golang-github-lucas-clemente-quic-go-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}" >&2
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
