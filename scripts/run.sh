#!/usr/bin/env bash
# Sets up, builds and runs the server with the example configuration and mods.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target server
exec build/app/server --config examples/server.toml "$@"
