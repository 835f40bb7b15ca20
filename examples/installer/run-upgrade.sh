#!/usr/bin/env bash
# The sample suite upgraded the way its installer does it, under Wine: builds lumvar.exe and the two
# installers of suite.nsi, installs the old version silently, runs the upgrade silently with its
# run report (LUMVAR_LOG), and shows the installers' exit codes, the report, and whether the new
# CommonConfig.xml files match examples/merged.
# Everything it writes lands in scratch/installer/ at the top of the repository, its Wine prefix
# included.
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$repo"

scripts/install-deps.sh
echo "== Building lumvar.exe (build/mingw/bin/)"
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j2 --target lumvar >/dev/null

work="$repo/scratch/installer"
mkdir -p "$work"
echo "== Building the installers (scratch/installer/old.exe, upgrade.exe)"
examples/installer/build.sh build/mingw/bin/lumvar.exe "$work"

export WINEPREFIX="$work/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/.ready" ]; then
  echo "== Creating the Wine prefix (once)"
  rm -rf "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  touch "$WINEPREFIX/.ready"
fi
suite="$WINEPREFIX/drive_c/Lumen Suite"
rm -rf "$suite" "$WINEPREFIX/drive_c/ProgramData/Lumvar"
report="$work/lumvar-report.log"
rm -f "$report"

code=0
wine "$work/old.exe" /S 2>/dev/null || code=$?
echo "== old.exe /S: exit code $code; C:\\Lumen Suite holds $(ls "$suite" | paste -sd ' ')"
code=0
wine "$work/upgrade.exe" /S "/LOG=Z:${report//\//\\}" 2>/dev/null || code=$?
echo "== upgrade.exe /S: exit code $code; C:\\Lumen Suite holds $(ls "$suite" | paste -sd ' ')"
for folder in config common; do
  if cmp -s "$suite/$folder/CommonConfig.xml" "examples/merged/$folder/CommonConfig.xml"; then
    echo "   $folder/CommonConfig.xml matches examples/merged/$folder/"
  else
    echo "   $folder/CommonConfig.xml DIFFERS from examples/merged/$folder/"
  fi
done
echo "== The run report (scratch/installer/lumvar-report.log):"
sed 's/^/   /' "$report"
