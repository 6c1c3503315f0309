#!/usr/bin/env bash
# Builds everything and runs every test: formatting, the unit and
# integration tests (plain, under AddressSanitizer and
# UndefinedBehaviorSanitizer, and under ThreadSanitizer), the Windows
# executables, and the end-to-end runs (the packages' checks among them) under
# a virtual display and a private sound server, which the e2e scripts start
# and stop themselves.
#
# Installs what it needs first (scripts/deps.sh). Everything runs in one
# private folder (scripts/private_root.sh) that is removed at the end, and
# the last step checks that nothing of ours was left in the home folder or
# /tmp (in CI: nothing at all).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)
step() { echo; echo "== $*"; }

if [ -z "${LARKSPAN_PRIVATE_ROOT:-}" ]; then
  groups=(build run demo test wine package)
  # 32-bit Wine needs the i386 architecture; deps.sh adds it only in CI
  # (CI=true) or when asked (LARKSPAN_ADD_I386=1), and says so otherwise.
  groups+=(wine32)
  bash scripts/deps.sh "${groups[@]}"
  mkdir -p build
  bash scripts/leftovers.sh snapshot build/leftovers-before.txt
  status=0
  bash scripts/private_root.sh bash "$0" "$@" || status=1
  # After a failure the private folder stays on purpose, for a look.
  [ $status -eq 0 ] || export LARKSPAN_LEFTOVERS_IGNORE="${LARKSPAN_LEFTOVERS_IGNORE:-} ${TMPDIR:-/tmp}/larkspan-private.*"
  step "Nothing left behind in the home folder or /tmp"
  bash scripts/leftovers.sh compare build/leftovers-before.txt || status=1
  echo
  if [ $status -eq 0 ]; then echo "ALL TESTS PASSED"; else echo "SOME TESTS FAILED"; fi
  exit $status
fi

status=0

step "Formatting"
# Every C and C++ source as clang-format writes it (.clang-format).
if git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format --dry-run -Werror; then
  echo "formatted"
else
  status=1
fi

step "Linux build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure --no-tests=error -j"$jobs") || status=1

step "Linux tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DLARKSPAN_SANITIZE=ON -DBUILD_TESTING=ON >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure --no-tests=error -j"$jobs") || status=1

step "Linux tests under ThreadSanitizer"
# The same tests with the layer's threads (the sound server's mainloop beside
# the dialog's) watched for data races. tests/tsan.supp holds the reports from
# inside Qt, which is not built for ThreadSanitizer; a report from inside
# libpulse or Qt that reaches none of our code is listed there with its reason.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLARKSPAN_TSAN=ON -DBUILD_TESTING=ON >/dev/null
cmake --build build-tsan -j"$jobs"
(cd build-tsan && TSAN_OPTIONS="suppressions=$root/tests/tsan.supp second_deadlock_stack=1" \
  ctest --output-on-failure --no-tests=error -j"$jobs") || status=1

step "Windows builds (x86-64 and x86)"
for toolchain in build-win:mingw-w64 build-win32:mingw-w64-i686; do
  dir=${toolchain%%:*}
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/${toolchain#*:}.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
  cmake --build "$dir" -j"$jobs"
  test -f "$dir/larkspan.exe" && echo "built $dir/larkspan.exe ($(stat -c %s "$dir/larkspan.exe") bytes)"
done

for t in e2e/*_test.sh; do
  [ -e "$t" ] || continue
  step "End to end: $t"
  bash "$t" || status=1
done

exit $status
