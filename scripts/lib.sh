# Shared by the scripts: installs the Debian packages the project needs when
# they are missing. Each subsystem names its packages in scripts/packages.d/.
# shellcheck shell=bash

qb_root() { cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd; }

# qb_ensure_packages PKG...: installs the named packages that are not installed yet.
qb_ensure_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# The packages every build needs plus those each subsystem lists, one per line
# ("#" starts a comment), in scripts/packages.d/*.txt.
qb_ensure_build_packages() {
  local root pkgs=()
  root=$(qb_root)
  local f line
  for f in "$root"/scripts/packages.d/*.txt; do
    [ -e "$f" ] || continue
    while IFS= read -r line || [ -n "$line" ]; do
      line=${line%%#*}
      line=$(echo "$line" | xargs)
      [ -n "$line" ] && pkgs+=("$line")
    done <"$f"
  done
  qb_ensure_packages "${pkgs[@]}"
}

# qb_build DIR [cmake options...]: configures (once) and builds into DIR.
qb_build() {
  local dir=$1
  shift
  cmake -S "$(qb_root)" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir"
}
