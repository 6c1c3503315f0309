#!/usr/bin/env bash
# Mutation testing of the program: plants each fault of rules.txt in a copy
# of the sources, one at a time, rebuilds the simulated-platform test binary
# (only the file the fault is in is compiled again) and runs it. Prints a
# table: killed and by which test, equivalent (with the rule's reason), or
# survived. Fails when a fault not marked equivalent survives, when one
# marked equivalent is killed, or when a rule no longer fits the code.
#
#   tests/mutation/run.sh [NAME...]      all mutants, or the named ones
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

# The test binary on the simulated platform only: no Qt, no sound server.
# Unoptimised, which compiles fastest; tests are listed by CTest when it
# runs them, not after every build.
nice -n 10 cmake -S "$work/src" -B "$work/build" -DCMAKE_BUILD_TYPE=None -DLARKSPAN_BUILD_APP=OFF \
    -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST >/dev/null
nice -n 10 cmake --build "$work/build" --target larkspan_tests -j2 >/dev/null

python3 "$here/mutate.py" "$work/src" "$work/build" "$here/rules.txt" "$@"
