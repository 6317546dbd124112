#!/usr/bin/env bash
# Builds the project and solves a puzzle headless; without arguments the built-in puzzle.
# Arguments go to quaderix-cli (try ./run.sh --help); ./run.sh --gui opens the window.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh
ensure_packages
configure_and_build build -DQUADERIX_WERROR=ON >&2
if [ "${1:-}" = "--gui" ]; then
  shift
  exec build/src/app/quaderix "$@"
fi
exec build/src/cli/quaderix-cli "$@"
