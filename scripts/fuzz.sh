#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UBSan) and runs each for a bounded
# time over its checked-in seed corpus. Usage: scripts/fuzz.sh [seconds per target, default 20]
# Longer runs: scripts/fuzz.sh 600. A crash stops the run with a non-zero exit code and leaves the
# reproducer in build/fuzz/findings/; keep it as a regression case under fuzz/corpus/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2
mkdir -p build/fuzz/findings
for corpus in fuzz/corpus/*/; do
  target="$(basename "$corpus")"
  binary="build/fuzz/bin/fuzz_${target}"
  if [ ! -x "$binary" ]; then
    echo "fuzz target ${target}: no binary ${binary}" >&2
    exit 1
  fi
  work="build/fuzz/work/${target}"
  mkdir -p "$work"
  echo "== fuzzing ${target} for ${seconds}s"
  "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="build/fuzz/findings/${target}-" "$work" "$corpus" 2>&1 | tail -n 2
done
