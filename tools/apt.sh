#!/usr/bin/env bash
# Installs Debian packages for the build and test scripts, as root. Run with package
# names, it installs those that are missing (without recommends) and updates the index
# only then; sourced, it defines apt_get, apt_update and apt_install.
# Usage: apt.sh PACKAGE...

# Runs apt-get, waiting while another process holds the dpkg lock.
apt_get() {
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@"
}

# Updates the index. A mirror in the middle of a sync serves index files of the wrong
# size for a few minutes, and apt-get then fails though most files arrived: try again a
# little later, and in the end go on with what arrived, since the install or download
# that follows says plainly whether a package it needs is missing.
apt_update() {
  local try
  for try in 1 2 3 4; do
    apt_get update -qq && return 0
    [ "$try" -lt 4 ] && sleep $((30 * try))
  done
  echo "apt.sh: the package index is not complete; going on with what arrived" >&2
}

# Prints the packages among "$@" that are not installed, one a line.
missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || echo "$p"
  done
}

# Installs the packages among "$@" that are missing.
apt_install() {
  local missing
  mapfile -t missing < <(missing_packages "$@")
  [ "${#missing[@]}" -gt 0 ] || return 0
  echo "installing ${missing[*]}"
  apt_update
  apt_get install -y -qq --no-install-recommends "${missing[@]}"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  apt_install "$@"
fi
