#!/usr/bin/env bash
# Installs Debian packages for the build and test scripts, as root. Run with package
# names, it installs those that are missing (without recommends) and updates the index
# only then; sourced, it defines retried, apt_get, apt_update and apt_install.
# Usage: apt.sh PACKAGE...

# Runs apt-get, waiting while another process holds the dpkg lock.
apt_get() {
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@"
}

# Runs "$@" up to three times, 10 and 20 s apart, until it succeeds. A mirror in the
# middle of a sync serves index files of the wrong size for a while, and an index
# update fails meanwhile though most files arrived. Some mirrors keep one such file for
# days, so the waits are short.
retried() {
  local try
  for try in 1 2 3; do
    "$@" && return 0
    [ "$try" -lt 3 ] && sleep $((10 * try))
  done
  return 1
}

# Updates the index, and in the end goes on with what arrived: the install or download
# that follows says plainly whether a package it needs is missing.
apt_update() {
  retried apt_get update -qq ||
    echo "apt.sh: the package index is not complete; going on with what arrived" >&2
}

# Prints the packages among "$@" that are not installed, one a line.
missing_packages() {
  local p
  for p in "$@"; do
    [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" = 'install ok installed' ] || echo "$p"
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
