#!/usr/bin/env bash
# Installs the packages that building and testing need, when they are missing, on Debian 12 and 13
# and Ubuntu 22.04 and 24.04. Every name below exists on all four; what differs between releases
# (the package of the clang runtime with libFuzzer) is chosen from what apt offers; wine brings
# the 64-bit Wine of its release through its own dependencies.
# Runs apt-get only as root; otherwise it names what is missing and goes on.
set -euo pipefail

packages=(
  cmake g++ make googletest libgtest-dev libgmock-dev libbenchmark-dev
  mingw-w64 g++-mingw-w64-x86-64-posix wine
  clang
  libpugixml-dev libinih-dev gnuplot-nox time nsis
)

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# Reads the package lists once, as root, before the first look-up or install that needs them.
update_lists() {
  if [ -z "${lists_updated:-}" ] && [ "$(id -u)" -eq 0 ]; then
    apt-get update -qq
    lists_updated=1
  fi
}

# True when apt offers a package of that name that can be installed (not only a virtual name).
offered() {
  update_lists
  apt-cache policy "$1" 2>/dev/null | grep -q '^  Candidate: [^(]'
}

install_missing() {
  local missing=()
  for package in "$@"; do
    installed "$package" || missing+=("$package")
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages (install them as root): ${missing[*]}" >&2
    return 0
  fi
  echo "installing: ${missing[*]}"
  update_lists
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

install_missing "${packages[@]}"

# libFuzzer comes with the runtime of the installed clang: in libclang-rt-<major>-dev on releases
# that have that package, else in libclang-common-<major>-dev, which clang itself depends on.
if command -v clang >/dev/null; then
  clang_major="$(clang -dumpversion | cut -d. -f1)"
  runtime="libclang-rt-${clang_major}-dev"
  if ! installed "$runtime" && ! offered "$runtime"; then
    runtime="libclang-common-${clang_major}-dev"
  fi
  install_missing "$runtime"
fi
