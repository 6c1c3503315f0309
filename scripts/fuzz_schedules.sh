#!/usr/bin/env bash
# Runs many more random schedules than CI does, split over the cores.
#   scripts/fuzz_schedules.sh [count] [first seed]
# LARKSPAN_FUZZ_BUILD=asan|plain (default plain) picks the build, in
# build-fuzz-<kind>; JOBS sets how many processes run side by side.
# Prints the seeds run and the failures; a failing seed replays alone with
#   LARKSPAN_SEED=<n> <build>/tests/larkspan_tests --gtest_filter='Shard/*'

# It runs in a private HOME, XDG folders, WINEPREFIX and TMPDIR.
source "$(dirname "$0")/../e2e/lib.sh"
cd "$(dirname "$0")/.."

count=${1:-100000}
first=${2:-1}
kind=${LARKSPAN_FUZZ_BUILD:-plain}
jobs=${JOBS:-$(nproc)}
build=build-fuzz-$kind

case $kind in
  plain) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  asan) flags=(-DCMAKE_BUILD_TYPE=Debug -DLARKSPAN_SANITIZE=ON) ;;
  *) echo "LARKSPAN_FUZZ_BUILD must be plain or asan" >&2; exit 2 ;;
esac
cmake -S . -B "$build" -DLARKSPAN_BUILD_APP=OFF "${flags[@]}" >/dev/null || exit 1
cmake --build "$build" -j"$jobs" --target larkspan_tests >/dev/null || exit 1

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
per=$(((count + jobs - 1) / jobs))
start=$(date +%s)
pids=()
for ((j = 0; j < jobs; j++)); do
  from=$((first + j * per))
  n=$((count - j * per < per ? count - j * per : per))
  ((n > 0)) || break
  LARKSPAN_FIRST_SEED=$from LARKSPAN_SEEDS=$n "$build/tests/larkspan_tests" --gtest_filter='Shard/*' \
    >"$logs/$j.log" 2>&1 &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done

ran=$(grep -ho 'shard [0-9]*: [0-9]* seeds run' "$logs"/*.log | awk '{s += $3} END {print s + 0}')
failed=$(grep -ho 'seeds run from [0-9]*, [0-9]* failed' "$logs"/*.log | awk '{s += $5} END {print s + 0}')
echo "seeds run: $ran (from $first, $kind build, $jobs processes, $(($(date +%s) - start)) s)"
echo "failures: $failed"
if ((failed > 0)) || ((status != 0)); then
  grep -h -A30 '^seed \|Failure\|ERROR' "$logs"/*.log | head -200
  exit 1
fi
