# Shared by the scripts that build viewer.exe's third-party C code from
# Debian's source packages (sourced, not run). Each result goes to a fixed
# folder outside the source tree with a SOURCE stamp naming the source
# package and version it was made from, so that it is made again only when
# Debian's version moves, and is swapped in whole.
# shellcheck shell=bash

SUDO=""
[[ $(id -u) -ne 0 ]] && SUDO="sudo"

fail() { echo "${0##*/}: $*" >&2; exit 1; }

# The source version of an installed binary package.
source_version() {
  dpkg-query -W -f='${source:Version}' "$1" 2>/dev/null ||
    fail "$1 is not installed, so there is no version to match: run scripts/install-deps"
}

# Whether DEST already holds what STAMP names, with every FILE present.
up_to_date() {
  local dest=$1 stamp=$2 file
  shift 2
  for file in "$@"; do
    [[ -f $dest/$file ]] || return 1
  done
  [[ $(cat "$dest/SOURCE" 2>/dev/null) == "$stamp" ]]
}

# Unpacks Debian's source package NAME=VERSION (patches applied) into a
# temporary folder removed on exit; sets $work and $src.
fetch_source() {
  local name=$1 version=$2 upstream
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  # apt downloads as _apt where it may, and says so on stderr where it may not.
  [[ $(id -u) -eq 0 ]] && id _apt >/dev/null 2>&1 && chown _apt "$work"
  (cd "$work" && apt-get source -qq "$name=$version" >/dev/null 2>&1) ||
    fail "apt-get source $name=$version failed: is there a deb-src entry for this release? (scripts/install-deps adds one)"
  upstream=${version%-*}
  upstream=${upstream#*:}
  src=$work/$name-$upstream
  [[ -f $src/configure ]] || fail "the source package did not unpack to $src"
}

# Puts the folder STAGE in place as DEST with STAMP, so a build never sees
# half a folder.
install_folder() {
  local stage=$1 dest=$2 stamp=$3
  echo "$stamp" >"$stage/SOURCE"
  $SUDO mkdir -p "$(dirname "$dest")"
  $SUDO rm -rf "$dest.new"
  $SUDO cp -R "$stage" "$dest.new"
  $SUDO chmod -R u=rwX,go=rX "$dest.new"
  $SUDO rm -rf "$dest"
  $SUDO mv "$dest.new" "$dest"
}
