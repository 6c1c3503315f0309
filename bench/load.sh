# shellcheck shell=bash
# A load on the machine for the loaded measurements, beside whatever else
# runs: "busy" is two processes that spin, "build" a C++ build of this
# project with -j2 over and over, each in a build folder of its own. Both run
# at normal priority, as a user's build would. Source after lib.sh.
#   load_start busy|build|none    load_stop

LOAD_PIDS=()

load_start() {  # kind
    local root
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    case "$1" in
    none) ;;
    busy)
        local i
        for i in 1 2; do
            setsid bash -c 'while :; do :; done' </dev/null >/dev/null 2>&1 &
            LOAD_PIDS+=($!)
        done
        ;;
    build)
        mkdir -p "$E2E_DIR/load-build"
        setsid bash -c 'cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON >/dev/null 2>&1
            while :; do cmake --build "$2" --clean-first -j2 >/dev/null 2>&1; done' _ "$root" "$E2E_DIR/load-build" \
            </dev/null >/dev/null 2>&1 &
        LOAD_PIDS+=($!)
        ;;
    *)
        echo "load_start: busy, build or none" >&2
        return 2
        ;;
    esac
}

load_stop() {
    local p
    # Each load runs in a session of its own: the build's compilers go with it.
    for p in "${LOAD_PIDS[@]}"; do kill -- -"$p" 2>/dev/null || kill "$p" 2>/dev/null || true; done
    for p in "${LOAD_PIDS[@]}"; do wait "$p" 2>/dev/null || true; done
    LOAD_PIDS=()
}
