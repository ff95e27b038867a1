# shellcheck shell=bash disable=SC2154 # root, out and logs are scripts/check's
# The builds of every flavour and their test suites, the fuzzing run, the
# linters, the man pages and the Windows cross build. Sourced by scripts/check.

# Each flavour's environment, test selection and counts are its presets'
# (CMakePresets.json), so a check typed by hand is the same as here.

# preset_build PRESET: configures and builds one flavour.
preset_build() {
    cmake --preset "$1" >/dev/null && cmake --build --preset "$1"
}

# ctest -V puts the test's number in front of each line it prints; without it
# the figures a run prints start their lines, as the step summaries want.
without_test_numbers() {
    sed -E 's/^[0-9]+: //'
}

# step_setup: installs what the CI of a change needs
step_setup() {
    "$root/scripts/setup" ci
}

# step_build-default: the plain build with its tests (build/)
step_build-default() {
    "$root/scripts/setup" test && preset_build default
}

# step_build-asan: the build under AddressSanitizer and UndefinedBehaviorSanitizer
step_build-asan() {
    preset_build asan
}

# step_build-tsan: the build under ThreadSanitizer
step_build-tsan() {
    preset_build tsan
}

# step_build-arm64: the 64-bit ARM cross build
step_build-arm64() {
    "$root/scripts/setup" arm64 && preset_build arm64
}

# step_build-armhf: the 32-bit ARM cross build
step_build-armhf() {
    "$root/scripts/setup" armhf && preset_build armhf
}

# step_test: the whole test suite on the plain build: the README's test command
step_test() {
    "$root/scripts/test"
}

# step_asan: the suite under AddressSanitizer and UndefinedBehaviorSanitizer
step_asan() {
    cmake --workflow --preset asan
}

# step_tsan: the suite under ThreadSanitizer
step_tsan() {
    cmake --workflow --preset tsan
}

# step_test-arm64: the suite on the arm64 build, under qemu-user
step_test-arm64() {
    "$root/scripts/test" --arch arm64
}

# step_test-armhf: the suite on the armhf build, under qemu-user
step_test-armhf() {
    "$root/scripts/test" --arch armhf
}

# step_memcheck: the end-to-end modules that run camwatch, under valgrind memcheck
step_memcheck() {
    cmake --workflow --preset memcheck
}

# step_stress: the long stress runs (ctest -L stress)
step_stress() {
    cmake --workflow --preset stress | without_test_numbers
}

# step_console: the racy console cases at their full counts: double Ctrl+C,
# the failed-open path under an event burst, Ctrl+Z/fg while frames flow, a
# key as fast frames end
step_console() {
    cmake --workflow --preset console | without_test_numbers
}

# step_fuzz: a bounded libFuzzer run of the per-frame line
step_fuzz() {
    preset_build fuzz || return 1
    local dir="$root/build-fuzz" corpus="$root/build-fuzz/corpus"
    # New inputs go to a scratch corpus; the seeds in the tree stay as they are.
    mkdir -p "$corpus"
    "$dir/tests/fuzz/middle_pixel_line_fuzzer" -max_total_time="${CHECK_FUZZ_SECONDS:-60}" \
        -print_final_stats=1 -artifact_prefix="$dir/" "$corpus" "$root/tests/fuzz/corpus" || return 1
    echo "figure: fuzz corpus $(find "$corpus" -type f | wc -l) inputs beside $(find "$root/tests/fuzz/corpus" -type f | wc -l) seeds"
}

# step_man: the man pages render without a warning
step_man() {
    local page warnings
    for page in "$root"/man/*.1; do
        warnings="$(groff -man -ww -z "$page" 2>&1)" || return 1
        [ -z "$warnings" ] || { echo "$page: $warnings"; return 1; }
        warnings="$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)"
        [ -z "$warnings" ] || { echo "$page: $warnings"; return 1; }
    done
}

# step_windows: the 64-bit Windows cross build, compiled and linked, not run
step_windows() {
    preset_build mingw
}

# step_lint: clang-format, clang-tidy, cppcheck, flake8 and shellcheck over every file; no finding
step_lint() {
    cd "$root" || return 1
    local cxx_sources cxx_files python_files shell_files=() file failed=0
    mapfile -t cxx_sources < <(git ls-files --cached --others --exclude-standard '*.cpp')
    mapfile -t cxx_files < <(git ls-files --cached --others --exclude-standard '*.cpp' '*.h')
    mapfile -t python_files < <(git ls-files --cached --others --exclude-standard '*.py')
    # Shell scripts are told by their first line or their extension.
    while read -r file; do
        [ -f "$file" ] || continue
        if [[ $file == *.bash ]] ||
            head -n 1 "$file" | grep -qE '^#!(/usr/bin/env (ba)?sh|/bin/(ba)?sh)( |$)'; then
            shell_files+=("$file")
        fi
    done < <(git ls-files --cached --others --exclude-standard)
    local build="$root/build" openni2_includes
    openni2_includes="$(pkg-config --variable=includedir libopenni2)"
    run() {
        echo "+ $*"
        "$@" || failed=1
    }
    [ -f "$build/compile_commands.json" ] || cmake --preset default >/dev/null
    # Sources the build does not compile (the clang-only fuzzer) get the flags
    # every target shares.
    local in_build=() outside_build=() source
    for source in "${cxx_sources[@]}"; do
        if grep -q "\"file\": \"$root/$source\"" "$build/compile_commands.json"; then
            in_build+=("$source")
        else
            outside_build+=("$source")
        fi
    done
    run clang-format --dry-run --Werror "${cxx_files[@]}"
    # One file per clang-tidy process: clang-analyzer's va_list check carries
    # state from one file to the next and then reports a va_start it did see
    # as missing.
    run xargs -P2 -n1 clang-tidy -p "$build" --quiet --warnings-as-errors='*' < <(
        printf '%s\n' "${in_build[@]}")
    for source in "${outside_build[@]}"; do
        run clang-tidy --quiet --warnings-as-errors='*' "$source" -- \
            -std=c++17 -I"$root/src" -isystem "$openni2_includes"
    done
    run cppcheck --quiet --error-exitcode=1 --language=c++ --std=c++17 --library=googletest \
        --inline-suppr --enable=warning,style,performance,portability --suppress=missingIncludeSystem \
        -I src -I tools/vcam -I tools/tracer "${cxx_sources[@]}"
    run flake8 --max-line-length 100 "${python_files[@]}"
    run shellcheck -x "${shell_files[@]}"
    [ "$failed" -eq 0 ] && echo "lint: clean"
}

# step_flake-count: timing bounds under load: stress-ng --cpu 4 beside 1000
# repeats of each unit test binary and 20 rounds of the e2e and signal suites
# (CHECK_UNIT_REPEATS, CHECK_SUITE_ROUNDS); long, and in no group
step_flake-count() {
    local build="$root/build" unit_repeats="${CHECK_UNIT_REPEATS:-1000}"
    local suite_rounds="${CHECK_SUITE_ROUNDS:-20}" binary name failed label round
    "$root/scripts/setup" ci && preset_build default || return 1
    stress-ng --cpu 4 --quiet &
    local load=$!
    trap 'kill "$load" 2>/dev/null' RETURN
    echo "figure: load stress-ng --cpu 4 on $(nproc) CPUs"
    for binary in tests/unit/camwatch_unit_tests tests/vcam/vcam_unit_tests \
        tools/tracer/camwatch_trace_tests; do
        name="$(basename "$binary")"
        "$build/$binary" --gtest_repeat="$unit_repeats" --gtest_brief=1 >"$logs/flake-$name.log" 2>&1
        # googletest prints this line once for each repetition that had a failure.
        failed=$(grep -c 'listed below:' "$logs/flake-$name.log")
        echo "figure: $name: $failed of $unit_repeats repetitions failed"
    done
    for label in e2e signals; do
        failed=0
        for round in $(seq "$suite_rounds"); do
            ctest --test-dir "$build" -L "$label" -j2 --output-on-failure \
                >"$logs/flake-$label-$round.log" 2>&1 || failed=$((failed + 1))
        done
        echo "figure: ctest -L $label: $failed of $suite_rounds rounds failed"
    done
}
