# shellcheck shell=bash
# Sourced by the build and check scripts: the steps that several of them take.

# Runs $2... with its output in the file $1, which is printed if the command fails.
logged() {
  local log=$1
  shift
  "$@" >"$log" 2>&1 || { cat "$log"; return 1; }
}

# Copies the package sources of the working folder into the folder $1, leaving out the
# VCS folder and the host's build products, so that a build there sees none of them and
# leaves none here.
copy_sources() {
  mkdir -p "$1"
  tar -c --exclude-vcs --exclude=./.cache --exclude=./.lib --exclude=./client.Rcheck \
    --exclude=./tools/build --exclude='*.o' --exclude='*.so' \
    --exclude='./client_*.tar.gz' --exclude=./src/symbols.rds . | tar -x -C "$1"
}

# Installs the package $4 (a folder or a tarball) into the library $3 with "$1 CMD
# INSTALL" and the options $5..., its output in the file $2, printed if the install
# fails.
r_cmd_install() {
  local r=$1 log=$2 library=$3 package=$4
  shift 4
  logged "$log" "$r" CMD INSTALL "$@" --library="$library" "$package"
}
