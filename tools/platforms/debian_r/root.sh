#!/usr/bin/env bash
# Prepares a root of the Debian release SUITE with its R, as root on Debian 12:
# installs debootstrap, builds a minimal system of that release into CACHE/root and
# installs R, tinytest, python3, pandoc, knitr and markdown in it. unstable has the newest R that
# Debian ships; bullseye (Debian 11) R 4.0.4, the oldest the package claims. The root is
# kept between runs: one marked finished is not built again, and an unfinished one (from
# an interrupted run) is removed and built anew.
# Usage: root.sh SUITE CACHE
set -euo pipefail
# shellcheck source=SCRIPTDIR/mounts.sh
source "$(dirname "$0")/mounts.sh"
# shellcheck source=SCRIPTDIR/../../apt.sh
source "$(dirname "$0")/../../apt.sh"
# shellcheck source=SCRIPTDIR/../../lib.sh
source "$(dirname "$0")/../../lib.sh"
[ $# -eq 2 ] || { echo "usage: $(basename "$0") SUITE CACHE" >&2; exit 2; }
enter_mount_namespace "$@"
suite=$1
cache=$(realpath -m "$2")
root=$cache/root
mirror=http://deb.debian.org/debian
# python3 plays the parent process in test_parent.R; pandoc lets R CMD check --as-cran
# check that NEWS.md converts, and qpdf that PDFs are compact, which --as-cran asks
# for; knitr and markdown build the vignette, and the suite knits documents with that
# release's knitr and evaluate.
packages=(r-base-dev r-cran-tinytest python3 pandoc qpdf r-cran-knitr r-cran-markdown)
# What a finished root holds; a root built for other packages is built again.
contents="$suite ${packages[*]}"

build_root() {
  [ "$(cat "$root/.complete" 2>/dev/null)" = "$contents" ] && return 0
  echo "building a Debian $suite root with ${packages[*]} in $root"
  # Never descend into a mount (the host's /dev) left by a run that died.
  unmount_below "$root"
  rm -rf --one-file-system "$root"
  # debootstrap checks the signature of the Release file, not its Valid-Until date, so
  # an expired snapshot passes.
  logged "$cache/debootstrap.log" \
    debootstrap --variant=minbase "$suite" "$root" "$mirror"
  # apt does check the date: without this it refuses a snapshot's index as expired.
  cat >"$root/etc/apt/apt.conf.d/50snapshot" <<'CONF'
// The registry may serve a dated snapshot whose Release file has expired.
Acquire::Check-Valid-Until "false";
CONF
  mount_root "$root"
  retried logged "$cache/apt.log" in_root "$root" apt-get update
  logged "$cache/apt.log" in_root "$root" apt-get install -y --no-install-recommends \
    "${packages[@]}"
  in_root "$root" apt-get clean
  unmount_below "$root"
  trap - EXIT
  echo "$contents" >"$root/.complete"
}

apt_install debootstrap
mkdir -p "$cache"
# Runs from other working trees may share the cache: one works on the root at a time.
exec 9>"$cache/.lock"
flock 9
build_root
