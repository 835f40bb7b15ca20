#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UBSan) and runs each for a bounded
# time over its checked-in seed corpus. Usage: scripts/fuzz.sh [seconds per target, default 20]
#
# CI runs 20 s per target; a long run before a release: scripts/fuzz.sh 600.
# Every folder fuzz/corpus/<name>/ has its target build/fuzz/bin/fuzz_<name>. Each target runs, even
# after another has failed; the script fails when any target crashes, leaks, times out, runs out of
# memory or is missing. The reproducer lands in build/fuzz/findings/<name>-crash-..., the whole log
# in build/fuzz/logs/<name>.log. Keep every finding as a regression case: copy the reproducer into
# fuzz/corpus/<name>/ under a name that says what it holds, and add a unit test where it matters.
# Rerun one case: build/fuzz/bin/fuzz_<name> <file>.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
case "$seconds" in
  '' | *[!0-9]*)
    echo "usage: scripts/fuzz.sh [seconds per target]" >&2
    exit 2
    ;;
esac

cmake --preset fuzz >/dev/null || exit 1
cmake --build --preset fuzz -j2 || exit 1
mkdir -p build/fuzz/findings build/fuzz/logs

failed=()
for corpus in fuzz/corpus/*/; do
  target="$(basename "$corpus")"
  binary="build/fuzz/bin/fuzz_${target}"
  if [ ! -x "$binary" ]; then
    echo "fuzz target ${target}: no binary ${binary}" >&2
    failed+=("${target} (no binary)")
    continue
  fi
  # New inputs that libFuzzer finds go to the work folder, never into the checked-in corpus.
  work="build/fuzz/work/${target}"
  log="build/fuzz/logs/${target}.log"
  mkdir -p "$work"
  echo "== fuzzing ${target} for ${seconds}s"
  "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="build/fuzz/findings/${target}-" "$work" "$corpus" >"$log" 2>&1
  status=$?
  if [ "$status" -ne 0 ]; then
    tail -n 40 "$log" >&2
    echo "fuzz target ${target}: FAILED with exit code ${status}; log ${log}" >&2
    failed+=("$target")
    continue
  fi
  grep -E '^(stat::number_of_executed_units|Done [0-9]+ runs)' "$log" | tail -n 2
done

if [ "${#failed[@]}" -ne 0 ]; then
  echo "fuzzing failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzzing passed: every target ran ${seconds}s without a finding"
