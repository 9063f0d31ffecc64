#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: in the
# normal build and in a build with AddressSanitizer and
# UndefinedBehaviorSanitizer (the tests' own code with AddressSanitizer
# alone).  The normal build's Debian package is
# installed, run as an unprivileged user and removed.  The tests of threads,
# sockets, locks, the log, the settings store and the script engine's
# threads run a third time under ThreadSanitizer.  Then each fuzz target
# runs for a fixed time.  Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
qf_install_missing tests

status=0
passed=0
failed=0
run_config() {
    local dir=$1
    shift
    echo "=== $dir: build (at ${SECONDS} s)"
    scripts/build.sh "$dir" "$@"
    echo "=== $dir: tests (at ${SECONDS} s)"
    local log
    log=$(mktemp)
    (cd "$dir" && ctest --output-on-failure -j"$(nproc)" --timeout 300 ${QF_CTEST_ARGS:-}) 2>&1 \
        | tee "$log" || status=1
    # "100% tests passed, 0 tests failed out of 175"
    local summary
    summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [ -z "$summary" ]; then
        echo "no test summary from ctest in $dir"
        status=1
    else
        local bad total
        bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$summary")
        total=$(sed -E 's/.*failed out of ([0-9]+).*/\1/' <<<"$summary")
        failed=$((failed + bad))
        passed=$((passed + total - bad))
        [ "$bad" -eq 0 ] || status=1
    fi
    rm -f "$log"
}

# Configured for /usr, the same build also makes the package checked below.
run_config build -DCMAKE_INSTALL_PREFIX=/usr

# The package installed, run by an unprivileged user and removed again.
echo "=== package (at ${SECONDS} s)"
deb=$(scripts/package.sh build | tail -n 1)
log=$(mktemp)
# Installing and removing a package takes root.
as_root=""
[ "$(id -u)" -eq 0 ] || as_root="sudo"
$as_root python3 tests/package/check_package.py "$deb" 2>&1 | tee "$log" || status=1
summary=$(grep -E '^package: [0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1)
if [ -z "$summary" ]; then
    echo "no summary from the package check"
    status=1
    failed=$((failed + 1))
else
    passed=$((passed + $(sed -E 's/package: ([0-9]+) passed.*/\1/' <<<"$summary")))
    failed=$((failed + $(sed -E 's/.*passed, ([0-9]+) failed/\1/' <<<"$summary")))
fi
rm -f "$log"
# libclamav keeps allocations of its own for the life of the process.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp \
    run_config build-asan -DQF_SANITIZE=ON -DQF_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=Debug

# Only the test programs that hold these tests are built (program_tests
# brings quillfnc, session_tests its security package).
rm -f build-tsan/tsan-report.*
TSAN_OPTIONS="halt_on_error=1 log_path=$PWD/build-tsan/tsan-report" QF_CTEST_ARGS="-R WorkerThread|Socket|CVMutex|EventLog|Registry|SessionDialogue|SessionCollection|ListStoreLoad|ProgramLifecycle|ProgramRules|ProgramAccounts|HostileClient|DroppedUpstream|ScriptThreads" \
QF_BUILD_TARGETS="commonkit_tests registry_tests scriptkit_tests filter_tests session_tests program_tests" \
    run_config build-tsan -DQF_TSAN=ON -DQF_GUI=OFF -DQF_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=Debug

# Reports of programs the tests started (their output is not shown).
for report in build-tsan/tsan-report.*; do
    [ -e "$report" ] || continue
    echo "=== ThreadSanitizer report $report"
    cat "$report"
    status=1
done

echo "=== build-fuzz: build (at ${SECONDS} s)"
QF_BUILD_TARGETS=fuzzers scripts/build.sh build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQF_FUZZ=ON \
    -DQF_BUILD_TESTS=OFF -DQF_BUILD_BENCHMARKS=OFF -DQF_GUI=OFF
fuzz_seconds=${QF_FUZZ_SECONDS:-10}
for target in build-fuzz/fuzz/fuzz_*; do
    name=$(basename "$target")
    echo "=== fuzz: $name for ${fuzz_seconds}s"
    found=$(mktemp -d)
    if ! "$target" -max_total_time="$fuzz_seconds" -timeout=10 -print_final_stats=1 \
            "$found" "fuzz/corpus/${name#fuzz_}" >"$found.log" 2>&1; then
        tail -n 40 "$found.log"
        echo "FUZZ FAILURE: $name"
        status=1
    else
        grep -E 'stat::number_of_executed_units' "$found.log" || true
    fi
    rm -rf "$found" "$found.log"
done

echo
echo "tests: $passed passed, $failed failed"
if [ $status -ne 0 ]; then
    echo "SOME TESTS OR FUZZ RUNS FAILED"
fi
exit $status
