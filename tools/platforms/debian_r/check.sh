#!/usr/bin/env bash
# Checks the package under the R of a Debian release, in a root of that release
# (root.sh): R CMD build, then R CMD check --as-cran, offline, which must end with
# "Status: OK"; then installs the tarball in the root and runs the test suite again
# with /proc unmounted, as on a unix without procfs. Every step runs on a copy of the
# sources in the root's /tmp, with no network. Ends with "N passed, N failed" from the
# test runner; the check's log is kept in CACHE/check.
# Usage: check.sh SUITE CACHE (run from the package's root folder, as root on Debian
# 12), SUITE unstable for the newest R, bullseye for the oldest the package claims
set -euo pipefail
here=$(dirname "$0")
# shellcheck source=SCRIPTDIR/mounts.sh
source "$here/mounts.sh"
# shellcheck source=SCRIPTDIR/../../lib.sh
source "$here/../../lib.sh"
[ $# -eq 2 ] || { echo "usage: $(basename "$0") SUITE CACHE" >&2; exit 2; }
enter_mount_namespace "$@"
suite=$1
cache=$(realpath -m "$2")
root=$cache/root

# Keeps the check's log and the output of its test scripts in CACHE/check: the root's
# /tmp goes when it is unmounted.
keep_check_logs() {
  local rcheck=$root/tmp/client/client.Rcheck
  rm -rf "$cache/check"
  mkdir -p "$cache/check"
  cp "$rcheck/00check.log" "$rcheck"/tests/*.Rout* "$cache/check/" 2>/dev/null || true
}

# Runs a step of steps.sh in the root, from the copy of the sources, in a network
# namespace of its own: whatever tries to go online fails at once.
step() {
  in_root "$root" unshare --net \
    sh -c "cd /tmp/client && exec bash tools/platforms/debian_r/steps.sh $1"
}

bash "$here/root.sh" "$suite" "$cache"
# The steps mount and unmount in the shared root: one run at a time.
exec 9>"$cache/.lock"
flock 9
mount_root "$root"
copy_sources "$root/tmp/client"
status=0
step versions
step build
step check || status=1
keep_check_logs
step install
# Stands in for a unix without procfs: what still reads /proc fails there.
umount "$root/proc"
step suite || status=1
exit "$status"
