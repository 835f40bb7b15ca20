#!/usr/bin/env bash
# Builds the POSIX and the Windows executables and runs every test: the unit tests of each
# subsystem, and the end-to-end scenarios natively and under Wine.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh

cmake --preset posix >/dev/null
cmake --build --preset posix -j2
# The Windows executable is built when its cross compiler and resource compiler are installed;
# without them the scenarios that need it report themselves as skipped.
if command -v x86_64-w64-mingw32-g++-posix >/dev/null && command -v x86_64-w64-mingw32-windres >/dev/null; then
  cmake --preset mingw >/dev/null
  cmake --build --preset mingw -j2
fi
ctest --preset posix
