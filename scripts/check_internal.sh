#!/usr/bin/env bash
# Internal headers say "Not for use outside <folder>." in their opening comment; only files
# under that folder may include them (tests included: they use the public headers). Prints
# every include from elsewhere and fails on one that is not a known exception below.
set -euo pipefail
cd "$(dirname "$0")/.."

# Includes older than the rule; each goes once what it uses has a public home.
known=(
  "server/tests/transport/quic_test.cpp transport/quic/core.hpp"
)

status=0
while IFS= read -r header; do
  folder=$(head -n 8 "$header" | sed -n 's|.*Not for use outside \([A-Za-z0-9_/]*\)\..*|\1|p' | head -n 1)
  [ -n "$folder" ] || continue
  include=${header#*/src/}
  while IFS= read -r user; do
    case "$user" in "$folder"/*) continue ;; esac
    if printf '%s\n' "${known[@]}" | grep -qxF "$user $include"; then continue; fi
    echo "check_internal: $user includes $include, which is not for use outside $folder/" >&2
    status=1
  done < <(grep -rlF --include='*.cpp' --include='*.hpp' "#include \"$include\"" \
             core server app bench fuzz || true)
done < <(grep -rlF --include='*.hpp' "Not for use outside" core/src server/src || true)
exit $status
