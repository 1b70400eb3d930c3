#!/usr/bin/env bash
# Builds the plain parts natively with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs their tests, then runs each fuzz target
# for a few seconds from its seed corpus in fuzz/corpus. Any sanitizer report,
# failed test or fuzzer crash fails the script.
# VAULTMERE_NATIVE_BUILD_DIR picks the build folder (by default one named
# after VAULTMERE_BUILD_DIR, so that side-by-side builds stay apart);
# VAULTMERE_FUZZ_SECONDS how long each fuzz target runs (10).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${VAULTMERE_NATIVE_BUILD_DIR:-build/native-$(basename "${VAULTMERE_BUILD_DIR:-build/i686}")}"
fuzz_seconds="${VAULTMERE_FUZZ_SECONDS:-10}"
fuzzers=(registry_value item_lists guard_message keeper_locker)

scripts/deps.sh clang-14 libclang-rt-14-dev

sanitizers="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g"
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE= \
  -DCMAKE_C_FLAGS="-O1 $sanitizers" -DCMAKE_CXX_FLAGS="-O1 $sanitizers" \
  -DVAULTMERE_BUILD_BENCH=OFF -DVAULTMERE_FUZZ=ON > /dev/null
cmake --build "$build_dir" -j"$(nproc)"

# Any report ends the program with a failure, leaks included.
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
ctest --test-dir "$build_dir" --output-on-failure -j2 --timeout 120

# A fresh working corpus each run: the committed seeds stay as they are and
# runs are comparable. New inputs, crash inputs and the log go to the build
# folder; a crash input is worth adding to the seeds once fixed.
for name in "${fuzzers[@]}"; do
  work="$build_dir/fuzz/$name"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  echo "Fuzzing $name for ${fuzz_seconds}s"
  if ! "$build_dir/bin/${name}_fuzzer" -seed=1 -max_total_time="$fuzz_seconds" -timeout=10 -max_len=1024 \
      -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" "fuzz/corpus/$name" \
      > "$work/log" 2>&1; then
    tail -n 60 "$work/log"
    echo "$name: the fuzzer found a fault; the input is in $work/artifacts" >&2
    exit 1
  fi
  grep -E 'DONE|stat::number_of_executed_units|stat::average_exec_per_sec' "$work/log" || true
  echo "$name: $(find "$work/corpus" -type f | wc -l) new inputs beside $(find "fuzz/corpus/$name" -type f | wc -l) seeds"
done
