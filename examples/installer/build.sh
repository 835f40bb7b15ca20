#!/usr/bin/env bash
# Builds the two installers of the sample suite from suite.nsi with Debian's makensis:
#   build.sh <lumvar.exe> <output folder>
# writes <output folder>/old.exe (installs examples/sample) and <output folder>/upgrade.exe
# (backs up with the given lumvar.exe, installs examples/fresh, restores with /common).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
examples="$(dirname "$here")"
if [ $# -ne 2 ]; then
  echo "usage: $0 <lumvar.exe> <output folder>" >&2
  exit 2
fi
tool="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
mkdir -p "$2"
out="$(cd "$2" && pwd)"
[ -f "$tool" ] || { echo "no lumvar.exe at $tool" >&2; exit 1; }
command -v makensis >/dev/null || { echo "makensis is missing (Debian package nsis)" >&2; exit 1; }

# The sample's file names hold non-ASCII letters: makensis reads them in a UTF-8 locale.
export LC_ALL=C.UTF-8
cd "$here"
makensis -V2 -DSAMPLE="$examples/sample" -DOUTFILE="$out/old.exe" suite.nsi
makensis -V2 -DUPGRADE -DFRESH="$examples/fresh" -DLUMVAR="$tool" -DOUTFILE="$out/upgrade.exe" suite.nsi
