#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine:
#   scripts/clarivo.sh run    installs what is needed, builds and starts Clarivo
#   scripts/clarivo.sh test   installs what is needed, builds and runs every test
#                             (plain, then under AddressSanitizer and UBSan), and
#                             the threaded areas' tests under ThreadSanitizer
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"
mode="${1:-run}"
jobs="$(nproc)"

install_packages() {
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    # shellcheck disable=SC2046
    $sudo apt-get install -y -qq --no-install-recommends $(grep -v '^#' scripts/packages.txt) >/dev/null
}

# configure_and_build DIR [cmake flags...] [-- targets...]
configure_and_build() {
    local dir="$1"; shift
    local flags=() targets=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do flags+=("$1"); shift; done
    [ $# -gt 0 ] && { shift; targets=(--target "$@"); }
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release "${flags[@]}" >/dev/null
    cmake --build "$dir" -j "$jobs" "${targets[@]}"
}

run_tests() {
    local dir="$1"
    # GUI pieces need a display even when nothing is shown. The end-to-end
    # tests (EndToEnd.Binary starts the program on a display of its own, serially;
    # EndToEndTest.* runs a whole session in process) run in both passes.
    xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

case "$mode" in
    run)
        install_packages
        configure_and_build build
        exec ./build/Clarivo
        ;;
    test)
        install_packages
        configure_and_build build
        run_tests build
        if [ "${CLARIVO_SKIP_SANITIZERS:-0}" != "1" ]; then
            configure_and_build build-asan -DCLARIVO_SANITIZE=address -DCLARIVO_BENCHMARKS=OFF
            # intercept_tls_get_addr=0: GCC 12's runtime can take a dynamic TLS
            # block of a library opened at run time (GTK, GLib under the user
            # guide) for an old glibc header and read a bogus range from it;
            # the leak checker's tracer then dies on the way out of a test
            # that passed.
            ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
                LSAN_OPTIONS="suppressions=$here/scripts/lsan.supp" run_tests build-asan
        fi
        if [ "${CLARIVO_SKIP_TSAN:-0}" != "1" ]; then
            # Every area where threads meet: the engine's, the media layer's
            # decode, export and tap threads, the second-launch listener, the
            # program launcher's waiters, the recorder and the application's
            # background work. The realtime tests replace the
            # allocator and the mutex, which the sanitizer needs for itself;
            # the user guide's web view is WebKit's own threads.
            configure_and_build build-tsan -DCLARIVO_SANITIZE=thread -DCLARIVO_BENCHMARKS=OFF \
                -- tests_signalbays tests_engine tests_media tests_launch tests_process tests_share tests_app
            for suite in signalbays engine media launch process share app; do
                TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$here/scripts/tsan.supp" \
                    xvfb-run -a -s "-screen 0 1280x1024x24" "build-tsan/tests/tests_$suite" --gtest_filter=-UserGuideTest.*
            done
        fi
        ;;
    *)
        echo "usage: $0 run|test" >&2
        exit 2
        ;;
esac
