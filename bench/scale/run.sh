#!/usr/bin/env bash
# The whole tool at scale against what a user would run instead: builds the POSIX tool and the two
# helper programs of bench/scale/ (Release, in build/scale/), then times side by side
#   "/backup" and "/restore" of a 20,000-file, 1 GB installation against cp of the same files,
#   the XCOPY stand-in with /e /v against cp -r,
#   the copy step per matching file against posix_spawn of /bin/cp per file,
#   load and parse of a 20 MB settings file against pugixml, and the merge of a 20 MB live file,
# splits the copy times into verification, process start and copy, plots time against installation
# size (1k, 5k, 20k, 50k files), and runs the merge for every shape of settings file (a huge text
# value, millions of elements or attributes, deep nesting, long names) at 25, 100 and 200 MB against
# the settings-like file of the same size. The figures go to the screen, to docs/performance.md
# (between its figure markers; a work folder that is not tmpfs writes the disk figures) and to
# docs/performance-scale.png and docs/performance-shapes.png.
# Needs about 8 GB free in the work folder (default /dev/shm/lumvar-scale, removed at the end) and
# about ten minutes. Options are passed on to scale.py (bench/scale/scale.py --help), for example
#   bench/scale/run.sh --work /var/tmp/lumvar-scale   # measure on a disk instead of in memory
#   bench/scale/run.sh --runs 9                       # more runs on a noisy machine
#   bench/scale/run.sh --only shapes                  # the merge shapes alone (about 15 minutes)
#   bench/scale/run.sh --work /mnt/ext4/scale --only copies --sizes 20000 --drop-caches
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
build="${LUMVAR_SCALE_BUILD:-$repo/build/scale}"

for program in cmake python3 gnuplot /usr/bin/time strace; do
  if ! command -v "$program" >/dev/null; then
    echo "missing: $program (Debian packages: cmake python3 gnuplot-nox time strace libpugixml-dev)" >&2
    exit 1
  fi
done

echo "== Building the tool and the benchmark helpers (Release, $build)"
cmake -S "$repo/bench/scale" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target lumvar lumvar-cmd scale_copy_step scale_xml >/dev/null
exec python3 "$repo/bench/scale/scale.py" --bin "$build/lumvar/bin" --figures "$build/scale-figures.json" "$@"
