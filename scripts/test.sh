#!/usr/bin/env bash
# Builds and runs the tests: formatting, the unit and integration tests
# (plain, and under AddressSanitizer and UndefinedBehaviorSanitizer; the
# program has no threads of its own for ThreadSanitizer to watch), the
# Windows executables, and the end-to-end runs (the packages' checks among
# them) under a virtual display and a private sound server, which the e2e
# scripts start and stop themselves.
#
#   scripts/test.sh                everything (CI runs this)
#   scripts/test.sh quick          formatting, the plain build and its tests on
#                                  the simulated platform: no display, no sound server
#   scripts/test.sh PART...        some of it: format, unit, asan, windows,
#                                  wine, e2e (all of e2e/), or e2e NAME... (e2e/NAME_test.sh)
#
# Installs what it needs first (scripts/deps.sh). Everything runs in one
# private folder (scripts/private_root.sh) that is removed at the end, and
# the last step checks that nothing of ours was left in the home folder or
# /tmp (in CI: nothing at all). Every step prints its time, and the run ends
# with a table of the steps.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)
steps_file=$root/build/test-steps.txt

if [ -z "${LARKSPAN_PRIVATE_ROOT:-}" ]; then
  groups=(build run demo test wine package)
  # 32-bit Wine needs the i386 architecture; deps.sh adds it only in CI
  # (CI=true) or when asked (LARKSPAN_ADD_I386=1), and only where the kernel
  # runs 32-bit programs, and says so otherwise.
  groups+=(wine32)
  [ "${1:-}" = quick ] && groups=(build run test)
  bash scripts/deps.sh "${groups[@]}"
  mkdir -p build
  : >"$steps_file"
  bash scripts/leftovers.sh snapshot build/leftovers-before.txt
  status=0
  bash scripts/private_root.sh bash "$0" "$@" || status=1
  # After a failure the private folder stays on purpose, for a look.
  [ $status -eq 0 ] || export LARKSPAN_LEFTOVERS_IGNORE="${LARKSPAN_LEFTOVERS_IGNORE:-} ${TMPDIR:-/tmp}/larkspan-private.*"
  echo
  echo "== Nothing left behind in the home folder or /tmp"
  if bash scripts/leftovers.sh compare build/leftovers-before.txt; then
    echo "leftovers passed 0" >>"$steps_file"
  else
    echo "leftovers failed 0" >>"$steps_file"
    status=1
  fi
  echo
  printf '%-32s %-8s %6s\n' step result seconds
  total=0
  while read -r name result seconds why; do
    printf '%-32s %-8s %6s%s\n' "$name" "$result" "$seconds" "${why:+  ($why)}"
    total=$((total + seconds))
  done <"$steps_file"
  printf '%-32s %-8s %6s\n' "sum (some run side by side)" "" "$total"
  printf '%-32s %-8s %6s\n' "wall clock, with set-up" "" "$SECONDS"
  echo
  if [ $status -eq 0 ]; then echo "ALL TESTS PASSED"; else echo "SOME TESTS FAILED"; fi
  exit $status
fi

status=0

# Runs one step: prints its name and time, and adds its row to the table.
# A step whose last line says "NAME: skipped, WHY" counts as skipped.
step() {  # name command...
  local name=$1 start result why out
  shift
  echo
  echo "== $name"
  start=$SECONDS
  out=$root/build/step-${name//\//-}.log
  # Through tee by process substitution, so the step runs in this shell
  # and the trees it builds are remembered.
  if "$@" > >(tee "$out") 2>&1; then result=passed; else result=failed status=1; fi
  wait $!
  why=$(tail -n 1 "$out" | sed -n 's/^[^:]*: skipped, //p')
  [ $result = passed ] && [ -n "$why" ] && result=skipped
  echo "-- $name: $result in $((SECONDS - start)) s"
  echo "$name $result $((SECONDS - start)) $why" >>"$steps_file"
}

formatting() {  # Every C and C++ source as clang-format writes it (.clang-format).
  git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format --dry-run -Werror && echo "formatted"
}

# A build tree, made once per run.
built=" "
tree() {  # dir cmake-option...
  local dir=$1
  shift
  [[ $built == *" $dir "* ]] && return 0
  cmake -S . -B "$dir" "$@" >/dev/null && cmake --build "$dir" -j"$jobs" && built+="$dir "
}
plain() { tree build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON; }
windows() {
  local toolchain dir
  for toolchain in build-win:mingw-w64 build-win32:mingw-w64-i686; do
    dir=${toolchain%%:*}
    tree "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/${toolchain#*:}.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel || return 1
    test -f "$dir/larkspan.exe" && echo "built $dir/larkspan.exe ($(stat -c %s "$dir/larkspan.exe") bytes)"
  done
}
ctest_in() { (cd "$1" && shift && ctest --output-on-failure --no-tests=error -j"$jobs" "$@"); }

unit() { plain && ctest_in build "$@"; }
asan() {
  tree build-asan -DCMAKE_BUILD_TYPE=Debug -DLARKSPAN_SANITIZE=ON -DBUILD_TESTING=ON &&
    ASAN_OPTIONS=detect_leaks=1 ctest_in build-asan "$@"
}

# An end-to-end script, with the trees it runs.
e2e() {  # name
  local script=e2e/$1_test.sh vars=()
  [ -f "$script" ] || { echo "no end-to-end test $script" && return 1; }
  case $1 in
  asan) tree build-asan -DCMAKE_BUILD_TYPE=Debug -DLARKSPAN_SANITIZE=ON -DBUILD_TESTING=ON ;;
  wine*) windows ;;
  conformance) plain && windows ;;
  # Trees of their own, or none: in a full run they run beside the builds.
  mutation | package | setup) ;;
  # The benchmarks take the plain tree's and the Windows build's programs.
  bench_smoke) plain && windows && vars=(LARKSPAN_BENCH_BUILD="$root/build" LARKSPAN_EXE="$root/build-win/larkspan.exe") ;;
  *) plain ;;
  esac >"$root/build/e2e-build.log" 2>&1 || { cat "$root/build/e2e-build.log" && return 1; }
  env "${vars[@]}" bash "$script"
}
all_e2e() { for t in e2e/*_test.sh; do t=${t#e2e/} && echo "${t%_test.sh}"; done; }

# Runs end-to-end steps one after another in the background, at the lowest
# priority, their output kept in a log for later.
lane() {  # log name...
  local log=$1
  shift
  (
    renice -n 19 -p $BASHPID >/dev/null || echo "lane at normal priority: renice failed"
    for t in "$@"; do step "e2e/$t" e2e "$t"; done
    exit $status
  ) >"$log" 2>&1 &
}

# Everything. The steps that judge no timing run in two lanes beside the
# rest, at the lowest priority, so that they take the processors only while
# the steps in front leave them idle. They start once the builds in front
# are done: beside a cold sanitizers' build, Wine at the lowest priority
# heard no click in 2 of 3 runs of the benchmarks' smoke test, and the
# conformance probe's capture came late; the mutation test (a tree of its
# own) would only keep waiting. The sound server tests and the end-to-end
# runs that pass sound run in front, one at a time; the sound server's
# faults last, alone: under the lanes' load the sound came back at another
# delay after a stalled server, once, on the PulseAudio daemon. The sound
# server tests run once, in the sanitizers' tree: the plain tree's program
# passes sound in the end-to-end runs.
everything() {
  local first=(mutation setup package) second=(bench_smoke conformance scaling accessibility) last=(faults)
  local lanes=() t
  step format formatting
  step windows windows
  step unit-simulated unit -LE pulse
  step asan-ubsan-simulated asan -LE pulse
  lane "$root/build/beside-1.log" "${first[@]}"
  lanes+=($!)
  lane "$root/build/beside-2.log" "${second[@]}"
  lanes+=($!)
  step asan-ubsan-sound-server asan -L pulse
  for t in $(all_e2e); do
    [[ " ${first[*]} ${second[*]} ${last[*]} " == *" $t "* ]] || step "e2e/$t" e2e "$t"
  done
  for t in "${lanes[@]}"; do wait "$t" || status=1; done
  echo
  cat "$root/build/beside-1.log" "$root/build/beside-2.log"
  for t in "${last[@]}"; do step "e2e/$t" e2e "$t"; done
}

parts=("$@")
[ ${#parts[@]} -gt 0 ] || parts=(everything)
for ((i = 0; i < ${#parts[@]}; i++)); do
  case ${parts[i]} in
  quick)
    step format formatting
    step unit-simulated unit -LE pulse
    ;;
  everything) everything ;;
  format) step format formatting ;;
  unit) step unit unit ;;
  asan) step asan-ubsan asan ;;
  windows) step windows windows ;;
  wine) for t in wine wine_x86 conformance; do step "e2e/$t" e2e "$t"; done ;;
  e2e)
    names=()
    while [ $((i + 1)) -lt ${#parts[@]} ] && [ -f "e2e/${parts[i + 1]}_test.sh" ]; do names+=("${parts[++i]}"); done
    [ ${#names[@]} -gt 0 ] || mapfile -t names < <(all_e2e)
    for t in "${names[@]}"; do step "e2e/$t" e2e "$t"; done
    ;;
  *)
    echo "unknown part '${parts[i]}' (quick, format, unit, asan, windows, wine, e2e [NAME...])" >&2
    exit 2
    ;;
  esac
done
exit $status
