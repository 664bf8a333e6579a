#!/usr/bin/env bash
# Prepares a foreign R (armhf: 32-bit ARM, arm64, s390x: big-endian) next to the native
# one, as root on Debian 12: installs the cross compiler and qemu-user, then fetches
# r-base-core of that architecture and its dependency closure from Debian into
# CACHE/debs and unpacks it into CACHE/sysroot, which is kept between runs: a finished
# sysroot is not fetched again.
# Usage: sysroot.sh armhf|arm64|s390x CACHE
set -euo pipefail
# shellcheck source=SCRIPTDIR/arch.sh
source "$(dirname "$0")/arch.sh"
# shellcheck source=SCRIPTDIR/../../apt.sh
source "$(dirname "$0")/../../apt.sh"
cache=$(realpath -m "$2")
sysroot=$cache/sysroot
host_packages=(qemu-user "g++-$triplet")
if [ "$compiler" = clang ]; then host_packages+=(clang libc++-dev libc++abi-dev); fi

# Adds the architecture and installs the host tools.
install_host_tools() {
  if ! grep -qx "$arch" <<<"$(dpkg --print-foreign-architectures)"; then
    dpkg --add-architecture "$arch"
    apt_update
  fi
  apt_install "${host_packages[@]}"
}

# Prints the packages of the architecture that its r-base-core (and the target packages
# of the compiler) need at run time, one a line: the first choice of every dependency,
# a virtual package resolved to its first provider of that architecture.
# Architecture-independent packages (data, scripts) are left out. Walks the graph a
# level at a time, one apt-cache call per level.
dependency_closure() {
  local root pkg
  local -A seen=()
  local level=() next
  for root in r-base-core "${target_packages[@]}"; do
    root=$root:$arch
    seen[$root]=1
    level+=("$root")
    echo "$root"
  done
  while [ "${#level[@]}" -gt 0 ]; do
    next=()
    while read -r pkg; do
      [ -n "${seen[$pkg]:-}" ] && continue
      seen[$pkg]=1
      next+=("$pkg")
      echo "$pkg"
    done < <(first_choices "${level[@]}" | sort -u)
    level=("${next[@]}")
  done
}

# Prints the first choice of each Depends/PreDepends group of the given packages, of the
# architecture only.
first_choices() {
  apt-cache depends --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances "$@" | awk -v own=":$arch$" '
    /^[^ ]/ { in_group = 0; virtual = 0; next }
    /^ *\|?(Pre)?Depends:/ {
      pick = !in_group; in_group = ($1 ~ /^\|/); virtual = 0
      if (pick) { name = $2; if (name ~ /^</) virtual = 1; else if (name ~ own) print name }
      next
    }
    /^    / { if (virtual && $1 ~ own) { print $1; virtual = 0 } }'
}

# Makes the unpacked packages usable from the host: what their maintainer scripts would
# have set up, paths that lead into the sysroot, and the two ARM programs of R replaced
# by scripts that start them under qemu, so that any host process (make, sh, a test's
# system2) can start the foreign R by its usual path.
prepare_sysroot() {
  local link target lib
  cp "$sysroot/usr/lib/R/etc/Renviron.ucf" "$sysroot/etc/R/Renviron"
  # Absolute links would lead to the host's own files (the headers, Makeconf).
  while IFS= read -r link; do
    target=$(readlink "$link")
    [ -e "$sysroot$target" ] || continue
    ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$sysroot$target")" "$link"
  done < <(find "$sysroot" -type l -lname '/*')
  lib=$sysroot/usr/lib/$triplet
  ln -sfn blas/libblas.so.3 "$lib/libblas.so.3"
  ln -sfn lapack/liblapack.so.3 "$lib/liblapack.so.3"
  # The script would pick the host's /usr/lib/R again when it sees that very path.
  sed -i -e "s|^R_HOME_DIR=/usr/lib/R|R_HOME_DIR=$sysroot/usr/lib/R|" \
    -e "s|^\(R_[A-Z]*_DIR\)=/usr/share/R|\1=$sysroot/usr/share/R|" "$sysroot/usr/lib/R/bin/R"
  wrap_foreign_program "$sysroot/usr/lib/R/bin/exec/R"
  wrap_foreign_program "$sysroot/usr/lib/R/bin/Rscript"
}

# Moves the foreign program at $1 into the sysroot's foreign/ folder (R takes every file in
# bin/exec for an architecture of its own) and puts a script in its place that runs it
# under qemu, with the sysroot as the root of its libraries. RHOME tells Rscript
# which R to start (it would start the host's /usr/lib/R otherwise).
wrap_foreign_program() {
  local program
  program=$sysroot/foreign/$(basename "$1")
  mkdir -p "$sysroot/foreign"
  mv "$1" "$program"
  cat >"$1" <<WRAPPER
#!/bin/sh
RHOME=$sysroot/usr/lib/R exec $qemu -L $sysroot $program "\$@"
WRAPPER
  chmod +x "$1"
}

fetch_sysroot() {
  # The wrappers name the sysroot by its full path: a moved cache is prepared again, and
  # so is one made for other packages.
  local contents="$sysroot r-base-core ${target_packages[*]}"
  [ "$(cat "$sysroot/.complete" 2>/dev/null)" = "$contents" ] && return 0
  echo "fetching $arch R into $cache"
  # Only this fetch's packages are unpacked: no older version may overwrite a newer one.
  rm -rf "$cache/debs"
  mkdir -p "$cache/debs"
  # The index may be missing (architecture added earlier, lists cleaned since).
  apt-cache show "r-base-core:$arch" >/dev/null 2>&1 || apt_update
  local packages
  mapfile -t packages < <(dependency_closure)
  (cd "$cache/debs" && apt-get download -qq -o APT::Sandbox::User=root "${packages[@]}")
  rm -rf "$sysroot"
  mkdir -p "$sysroot"
  local deb
  for deb in "$cache"/debs/*_"$arch".deb; do dpkg -x "$deb" "$sysroot"; done
  prepare_sysroot
  echo "$contents" >"$sysroot/.complete"
}

install_host_tools
mkdir -p "$cache"
# Runs from other working trees may share the cache: one prepares it at a time.
exec 9>"$cache/.lock"
flock 9
fetch_sysroot
