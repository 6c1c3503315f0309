#!/usr/bin/env bash
# Mutation testing of the program: generate.py makes the faults from the
# core's sources and the dialog template (plus the hand faults of
# faults.txt), all in one build of the simulated-platform test binary,
# each taken only when LARKSPAN_MUTANT names it; mutate.py runs the binary
# once per fault. Prints a table: killed and by which test, equivalent
# (with the reason faults.txt gives), or survived. Fails when a fault not
# listed as equivalent survives, when one listed is killed or no longer
# made, or when a hand fault no longer fits the code.
#
#   tests/mutation/run.sh [NUMBER...]      all faults, or the numbered ones
#
# Everything happens in a temporary folder; the working tree is not touched.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/larkspan-mutation.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The sources as they are now, committed or not.
mkdir "$work/src"
(cd "$root" && git ls-files -co --exclude-standard -z | tar -c --null -T - -f -) | tar -x -C "$work/src"
python3 "$here/generate.py" "$work/src" "$here/faults.txt" "$work/mutants.tsv"

# The test binary on the simulated platform only: no Qt, no sound server.
# Unoptimised, which compiles fastest, and without warnings, which the
# faults' branches raise by the dozen; tests are listed by CTest when it
# runs them, not after every build.
nice -n 10 cmake -S "$work/src" -B "$work/build" -DCMAKE_BUILD_TYPE=None -DLARKSPAN_BUILD_APP=OFF -DCMAKE_CXX_FLAGS=-w \
    -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST >/dev/null
nice -n 10 cmake --build "$work/build" --target larkspan_tests -j2 >/dev/null

python3 "$here/mutate.py" "$work/build/tests/larkspan_tests" "$work/mutants.tsv" "$here/faults.txt" "$@"
