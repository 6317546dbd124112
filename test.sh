#!/usr/bin/env bash
# Builds and runs every test: a warnings-as-errors build, the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the thread tests under
# ThreadSanitizer. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh
ensure_packages

export QT_QPA_PLATFORM=offscreen

echo "== build (-Wall -Wextra -Werror)"
configure_and_build build -DQUADERIX_WERROR=ON
(cd build && ctest --output-on-failure -j "$(nproc)")

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
configure_and_build build-asan -DQUADERIX_WERROR=ON -DQUADERIX_SANITIZE=address,undefined \
  -DQUADERIX_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j "$(nproc)")

echo "== ThreadSanitizer (thread tests)"
configure_and_build build-tsan -DQUADERIX_WERROR=ON -DQUADERIX_SANITIZE=thread \
  -DQUADERIX_BUILD_BENCH=OFF -DQUADERIX_BUILD_GUI=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j "$(nproc)" -L threads)
