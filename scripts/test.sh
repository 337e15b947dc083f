#!/usr/bin/env bash
# Builds and runs the whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer,
# then the concurrency tests (test suites named *Concurrency*) under ThreadSanitizer.
#   ./scripts/test.sh               everything
#   ./scripts/test.sh -R <regex>    only the tests whose names match (both builds)
#   KEXO_TSAN=0 ./scripts/test.sh   skip the ThreadSanitizer pass
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
filter=("$@")

build() {  # <dir> <sanitizer> [<build the app>] [<only test programs containing this text>]
  cmake -S . -B "$1" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="-O1 -g" -DCMAKE_C_FLAGS="-O1 -g" \
        -DKEXO_SANITIZE="$2" -DKEXO_BUILD_APP="${3:-ON}" -DKEXO_TEST_SOURCE_FILTER="${4:-}" >/dev/null
  cmake --build "$1" -j "$jobs"
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
export QT_QPA_PLATFORM=offscreen

build build/asan address
(cd build/asan && ctest --output-on-failure -j "$jobs" --timeout 300 "${filter[@]}")

if [ "${KEXO_TSAN:-1}" != "0" ]; then
  build build/tsan thread OFF Concurrency
  (cd build/tsan && ctest --output-on-failure -j "$jobs" --timeout 300 -R 'Concurrency' "${filter[@]}" \
     --no-tests=ignore)
fi
echo "test.sh: all tests passed"
