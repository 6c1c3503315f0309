#!/usr/bin/env bash
# Builds everything and runs every test: the unit and integration tests
# (plain, under AddressSanitizer and UndefinedBehaviorSanitizer, and under
# ThreadSanitizer), the Windows executable, and the end-to-end runs under a
# virtual display and a private sound server, which the e2e scripts start
# and stop themselves.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

bash scripts/deps.sh

status=0
step() { echo; echo "== $*"; }

step "Formatting"
# Every C and C++ source as clang-format writes it (.clang-format).
if git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format --dry-run -Werror; then
  echo "formatted"
else
  status=1
fi

step "Linux build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs") || status=1

step "Linux tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DLARKSPAN_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j"$jobs") || status=1

step "Linux tests under ThreadSanitizer"
# The same tests with the layer's threads (the sound server's mainloop beside
# the dialog's) watched for data races. tests/tsan.supp holds the reports from
# inside Qt, which is not built for ThreadSanitizer; a report from inside
# libpulse or Qt that reaches none of our code is listed there with its reason.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLARKSPAN_TSAN=ON >/dev/null
cmake --build build-tsan -j"$jobs"
(cd build-tsan && TSAN_OPTIONS="suppressions=$root/tests/tsan.supp second_deadlock_stack=1" \
    ctest --output-on-failure -j"$jobs") || status=1

step "Windows build"
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build build-win -j"$jobs"
test -f build-win/larkspan.exe && echo "built build-win/larkspan.exe ($(stat -c %s build-win/larkspan.exe) bytes)"

for t in e2e/*_test.sh; do
  [ -e "$t" ] || continue
  step "End to end: $t"
  bash "$t" || status=1
done

echo
if [ $status -eq 0 ]; then echo "ALL TESTS PASSED"; else echo "SOME TESTS FAILED"; fi
exit $status
