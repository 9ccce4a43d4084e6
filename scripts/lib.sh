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

# qb_ensure_listed_packages FILE...: installs the packages the files name, one
# per line ("#" starts a comment).
qb_ensure_listed_packages() {
  local pkgs=() f line
  for f in "$@"; do
    [ -e "$f" ] || continue
    while IFS= read -r line || [ -n "$line" ]; do
      line=${line%%#*}
      line=$(echo "$line" | xargs)
      [ -n "$line" ] && pkgs+=("$line")
    done <"$f"
  done
  qb_ensure_packages "${pkgs[@]}"
}

# The packages every build needs plus those each subsystem lists in
# scripts/packages.d/*.txt. (The Windows cross build's own list,
# scripts/packages.d/windows.list, is installed by scripts/windows-test only.)
qb_ensure_build_packages() {
  qb_ensure_listed_packages "$(qb_root)"/scripts/packages.d/*.txt
}

# qb_build DIR [cmake options...]: configures (once) and builds into DIR.
qb_build() {
  local dir=$1
  shift
  cmake -S "$(qb_root)" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir"
}
