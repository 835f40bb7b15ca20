#!/usr/bin/env bash
# The main job on the bundled sample: builds the POSIX tool, backs up the old installation of
# examples/sample/ into a scratch common application-data folder, removes the installation, installs
# the fresh defaults of examples/fresh/, restores with "/common", and reports what came back where
# and what the merge carried into the new CommonConfig.xml files.
# Everything it writes lands in scratch/ at the top of the repository.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
cd "$repo"

scripts/install-deps.sh
echo "== Building the POSIX tool (build/posix/bin/)"
cmake --preset posix >/dev/null
cmake --build --preset posix -j2 >/dev/null
tool="$repo/build/posix/bin/lumvar"

scratch="$repo/scratch"
install="$scratch/installation"
export ProgramData="$scratch/ProgramData"   # the POSIX build's common application-data folder
backup="$ProgramData/Lumvar"
rm -rf "$scratch"
mkdir -p "$install" "$ProgramData"

# Runs the tool and prints its exit code; the tool itself prints nothing.
run() {
  local code=0
  "$tool" "$@" || code=$?
  echo "   exit code $code"
}

cp -R examples/sample/. "$install/"
while IFS= read -r folder; do
  [ -n "$folder" ] && mkdir -p "$install/$folder"   # git keeps no empty folders
done < examples/sample-empty-folders.txt
echo "== Old installation in scratch/installation: suite/, modules/, data/"

echo "== lumvar /backup suite modules data"
run /backup "$install/suite" "$install/modules" "$install/data"
echo "   backup folder scratch/ProgramData/Lumvar/:"
( cd "$backup"
  echo "     ./: $(find . -maxdepth 1 -type f -printf '%f\n' | sort | paste -sd ',' | sed 's/,/, /g')"
  for folder in diesel gas Data/diesel Data/gas; do
    echo "     $folder/: $(find "$folder" -maxdepth 1 -type f -printf '%f\n' | sort | paste -sd ',' | sed 's/,/, /g')"
  done
  echo "     Data/: the whole data folder, $(find Data -type f | wc -l) files in $(find Data -mindepth 1 -type d | wc -l) folders" )

echo "== Old installation removed, fresh defaults of examples/fresh installed: config/, data/, common/"
rm -rf "$install"
mkdir -p "$install"
cp -R examples/fresh/. "$install/"

echo "== lumvar /restore config data common /common"
run /restore "$install/config" "$install/data" "$install/common" /common

# Where a file of the old installation comes back by the copy-back steps, as "destination|group";
# nothing when it does not come back.
destination() {
  local path="$1" name="${1##*/}" extension
  extension="$(echo "${1##*.}" | tr 'A-Z' 'a-z')"
  case "$path" in
    modules/fumi/*/*|modules/gas/*/*) ;;
    modules/fumi/*)
      case "$extension" in
        crk|ini|txt|xml) echo "config/diesel/$name|modules/fumi/*.crk,ini,txt,xml -> config/diesel/" ;;
        opa) echo "data/diesel/$name|modules/fumi/*.opa -> data/diesel/" ;;
      esac ;;
    modules/gas/*)
      case "$extension" in
        crk|ini|txt|xml) echo "config/gas/$name|modules/gas/*.crk,ini,txt,xml -> config/gas/" ;;
        gas) echo "data/gas/$name|modules/gas/*.gas -> data/gas/" ;;
      esac ;;
    modules/eobd/eobd.ini) echo "config/eobd/eobd.ini|modules/eobd/eobd.ini -> config/eobd/" ;;
    modules/oscillo/oscillo.ini) echo "config/oscillo.ini|modules/oscillo/oscillo.ini -> config/" ;;
    modules/wizard/ConfigurationWizard.xml)
      echo "config/ConfigurationWizard.xml|modules/wizard/ConfigurationWizard.xml -> config/" ;;
    "data/kormo/Exchange - In/"*)
      echo "data/kormo/In/${path#data/kormo/Exchange - In/}|data/kormo/Exchange - In/ -> data/kormo/In/" ;;
    "data/kormo/Exchange - Out/"*)
      echo "data/kormo/Out/${path#data/kormo/Exchange - Out/}|data/kormo/Exchange - Out/ -> data/kormo/Out/" ;;
    data/kormo/*/*) ;;
    data/kormo/*) echo "data/kormo/rec/$name|data/kormo/ (its own files) -> data/kormo/rec/" ;;
    data/clientmanager/*|data/diesel/*|data/gas/*|data/oscillo/*)
      local folder; folder="$(echo "$path" | cut -d/ -f1-2)"
      echo "$path|$folder/ -> $folder/" ;;
  esac
}

echo "   what came back where, each file compared byte for byte with the original:"
declare -A same=() differ=()
order=()
not_restored=()
while IFS= read -r -d '' file; do
  path="${file#examples/sample/}"
  found="$(destination "$path")"
  if [ -z "$found" ]; then
    not_restored+=("$path")
    continue
  fi
  target="${found%%|*}"
  group="${found#*|}"
  if [ -z "${same[$group]+x}" ]; then
    order+=("$group")
    same[$group]=0
    differ[$group]=""
  fi
  if cmp -s "$file" "$install/$target"; then
    same[$group]=$(( same[$group] + 1 ))
  elif [ -e "$install/$target" ]; then
    differ[$group]+=" $target (differs)"
  else
    differ[$group]+=" $target (missing)"
  fi
done < <(find examples/sample -type f -print0 | sort -z)
for group in "${order[@]}"; do
  printf '     %-58s %2d identical%s\n' "$group" "${same[$group]}" "${differ[$group]:+, not:${differ[$group]}}"
done
while IFS= read -r folder; do
  [ -z "$folder" ] && continue
  if [ -d "$install/$folder" ]; then state="is back"; else state="is MISSING"; fi
  echo "     $folder/ (an empty folder) $state"
done < examples/sample-empty-folders.txt
saved=()
unsaved=()
for path in "${not_restored[@]}"; do
  [ "$path" = suite/Common/CommonConfig.xml ] && continue   # merged, not copied: reported below
  if [ -f "$backup/${path##*/}" ]; then saved+=("$path"); else unsaved+=("$path"); fi
done
echo "   in the backup folder but not copied back: ${saved[*]}"
echo "   not saved (other extensions, subfolders of fumi and gas):"
printf '     %s\n' "${unsaved[@]}"

# The merge: the old installation's choices in the new CommonConfig.xml, whose other lines stay as
# installed. The merge changes lines in place, so the files compare line by line: the changed lines
# are shown, the elements of the others named.
merge_report() {
  local folder="$1" installed="examples/fresh/$1/CommonConfig.xml" merged="$install/$1/CommonConfig.xml"
  echo "== $folder/CommonConfig.xml: the new file with the old installation's choices merged in"
  if [ ! -f "$merged" ]; then
    echo "   MISSING"
    return
  fi
  # Lines of the merged file that differ (diff) or not (same) from the installed one's.
  lines() {
    awk -v want="$1" 'NR == FNR { installed[FNR] = $0; next }
      (($0 != installed[FNR]) == (want == "diff")) { sub(/^[ \t]+/, ""); print }' "$installed" "$merged"
  }
  # The element names of such lines, start tags only.
  names() { sed -nE 's/^<([^/?! >]+).*/\1/p' | paste -sd ',' | sed 's/,/, /g'; }
  echo "   changed by the merge ($(lines diff | wc -l) of $(wc -l < "$merged") lines):"
  lines diff | sed 's/^/     /'
  echo "   as installed: $(lines same | names)"
  if cmp -s "$merged" "examples/merged/$folder/CommonConfig.xml"; then
    echo "   byte for byte as examples/merged/$folder/CommonConfig.xml expects"
  else
    echo "   DIFFERS from examples/merged/$folder/CommonConfig.xml"
  fi
}
merge_report config
merge_report common
if cmp -s examples/sample/suite/Common/CommonConfig.xml "$backup/CommonConfig.xml"; then
  echo "   the saved CommonConfig.xml in the backup folder is unchanged"
else
  echo "   the saved CommonConfig.xml in the backup folder CHANGED"
fi
