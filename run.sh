#!/usr/bin/env bash
# Builds the project and solves a puzzle headless; without arguments the built-in puzzle.
# Arguments go to quaderix-cli (try ./run.sh --help); ./run.sh --gui opens the window.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh
ensure_packages
cmake -S . -B build -G Ninja -DQUADERIX_WERROR=ON >/dev/null
# Only the program that is about to run is built; ./test.sh builds the rest.
if [ "${1:-}" = "--gui" ]; then
  shift
  cmake --build build -j "$(nproc)" --target quaderix >&2
  exec build/src/app/quaderix "$@"
fi
cmake --build build -j "$(nproc)" --target quaderix-cli >&2
exec build/src/cli/quaderix-cli "$@"
