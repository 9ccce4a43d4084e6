# Shared by the scripts: installs the Debian packages the project needs when
# they are missing. Each subsystem names its packages in scripts/packages.d/.
# shellcheck shell=bash

qb_root() { cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd; }

# The suites whose package index the last update of qb_ensure_packages
# could not download (empty when it needed no update).
QB_UNFETCHED_SUITES=""

# qb_ensure_packages PKG...: installs the named packages that are not installed
# yet. Returns apt's status, so that a caller can go on without them.
qb_ensure_packages() {
  local missing=() pkg
  QB_UNFETCHED_SUITES=""
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  # A mirror in the middle of a sync fails the update now and then (an
  # index of an unexpected size): try again, and at the last go on with
  # the indexes that came.
  local try log rc
  log=$(mktemp)
  for try in 1 2 3; do
    rc=0
    $sudo apt-get update -qq 2>"$log" || rc=$?
    cat "$log" >&2
    if [ $rc -eq 0 ]; then
      : >"$log"
      break
    fi
    if [ "$try" -lt 3 ]; then sleep 15; fi
  done
  # The suites (dists/SUITE/) of which an index still did not come. (grep
  # finds nothing after a good update: that must not end a caller that runs
  # with errexit and pipefail.)
  QB_UNFETCHED_SUITES=$({ grep -o 'Failed to fetch [^ ]*/dists/[^/ ]*/' "$log" || true; } |
    sed 's|.*/dists/||; s|/$||' | sort -u | xargs)
  rm -f "$log"
  local install=(env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends)
  $sudo "${install[@]}" "${missing[@]}" && return 0
  [ -n "$QB_UNFETCHED_SUITES" ] || return 1
  # With one architecture's index of a suite missing, apt knows that suite's
  # newer versions for the other architectures only, and cannot pair a
  # foreign library with its native twin (they must be of one version).
  # Install once more with that suite set aside for this install alone:
  # every package then comes from the suites whose indexes all came. No
  # installed package is removed or downgraded for it.
  echo "Installing again without the packages of $QB_UNFETCHED_SUITES, an index of which did not download"
  local prefs suite
  prefs=$(mktemp)
  cat /etc/apt/preferences >"$prefs" 2>/dev/null || true
  for suite in $QB_UNFETCHED_SUITES; do
    printf '\nPackage: *\nPin: release n=%s\nPin-Priority: -1\n' "$suite" >>"$prefs"
    printf '\nPackage: *\nPin: release a=%s\nPin-Priority: -1\n' "$suite" >>"$prefs"
  done
  chmod 644 "$prefs"
  rc=0
  $sudo "${install[@]}" --no-remove -o Dir::Etc::Preferences="$prefs" "${missing[@]}" || rc=$?
  rm -f "$prefs"
  return $rc
}

# qb_listed_packages FILE...: the packages the files name, one per line ("#"
# starts a comment), printed one per line.
qb_listed_packages() {
  local f line
  for f in "$@"; do
    [ -e "$f" ] || continue
    while IFS= read -r line || [ -n "$line" ]; do
      line=${line%%#*}
      line=$(echo "$line" | xargs)
      if [ -n "$line" ]; then echo "$line"; fi
    done <"$f"
  done
}

# qb_ensure_listed_packages FILE...: installs the packages the files name.
qb_ensure_listed_packages() {
  local pkgs=()
  mapfile -t pkgs < <(qb_listed_packages "$@")
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

# qb_readme_build [TARGET...]: configures build/ the one way both README
# commands do (scripts/demo, scripts/test), so that neither compiles again
# what the other compiled, and builds the targets named (all without any).
# A warning does not stop this build: it is kept (QB_KEEP_WARNINGS), and
# scripts/test fails on it through qb_kept_warnings.
qb_readme_build() {
  local root
  root=$(qb_root)
  cmake -S "$root" -B "$root/build" -G Ninja -DQB_WERROR=OFF -DQB_KEEP_WARNINGS=ON >/dev/null
  if [ $# -gt 0 ]; then
    cmake --build "$root/build" --target "$@"
  else
    cmake --build "$root/build"
  fi
}

# qb_kept_warnings DIR: fails, printing them, when compiles of DIR's current
# objects left warnings (scripts/keep-warnings); an object no longer built
# is removed first, with its warnings.
qb_kept_warnings() {
  local dir=$1 log object found=0
  ninja -C "$dir" -t cleandead >/dev/null
  for log in "$dir"/compiler-warnings/*.log; do
    [ -e "$log" ] || continue
    object=$(head -n1 "$log")
    if [ ! -e "$dir/$object" ]; then
      rm -f "$log"
      continue
    fi
    tail -n +2 "$log" >&2
    found=$((found + 1))
  done
  [ $found -eq 0 ] || {
    echo "$found compiled files had warnings (above); warnings are errors for the tests" >&2
    return 1
  }
}

# qb_objects DIR: every object file, library and program scripts/demo
# builds (the scanner, make-demo) of DIR's build (not the demo's copies),
# with its time of change, one a line, sorted; what a later build compiled
# or linked again shows a different line.
qb_objects() {
  (cd "$1" && find . -path ./demo -prune -o -type f \( -name '*.o' -o -name '*.so' -o -name '*.a' \
    -o -name Gleanwick -o -name make-demo \) -printf '%P %T@\n') | sort
}

# Wine's loaders, named explicitly. Once wine32 is installed, /usr/bin/wine
# is the 32-bit loader, which starts Wine's built-in programs (reg, regsvr32,
# cscript, msiexec) in their 32-bit form even in a 64-bit prefix; so every
# script starts a program through the loader of its architecture. The
# 64-bit loader is in wine64, the 32-bit one in wine32:i386.
QB_WINE64_LOADER=${QB_WINE64_LOADER:-/usr/lib/wine/wine64}
QB_WINE32_LOADER=${QB_WINE32_LOADER:-/usr/lib/wine/wine}

# qb_wine_loader 64|32: the path of Wine's loader for that architecture.
qb_wine_loader() {
  if [ "$1" = 32 ]; then echo "$QB_WINE32_LOADER"; else echo "$QB_WINE64_LOADER"; fi
}

# qb_wine BITS SECONDS PROGRAM [ARGS...]: a Windows program, or one of Wine's
# built-in programs (reg, regsvr32, cscript, msiexec, wineboot), through the
# loader of that architecture (64 or 32), ended after SECONDS; standard
# input closed.
qb_wine() {
  local loader limit=$2
  loader=$(qb_wine_loader "$1")
  shift 2
  WINELOADER=$loader timeout -k 10 "$limit" "$loader" "$@" </dev/null
}

# qb_wine_prefix DIR BITS: a fresh Wine prefix in DIR, exported as
# WINEPREFIX: with BITS 64 a 64-bit prefix (64-bit Windows, 32-bit programs
# under WoW64), with 32 a 32-bit prefix that reports Windows XP, as most
# users' systems do, so that the programs take their XP paths. A server left
# running on an old prefix there (by a run by hand) is ended first. Fails
# with a message when Wine cannot make the prefix within its time limit.
qb_wine_prefix() {
  local dir=$1 bits=$2 version
  if [ -d "$dir" ]; then
    WINEPREFIX=$dir timeout 30 wineserver -k </dev/null >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
  mkdir -p "$(dirname "$dir")"
  export WINEPREFIX=$dir
  if [ "$bits" = 32 ]; then export WINEARCH=win32; else export WINEARCH=win64; fi
  echo "Creating the $bits-bit Wine prefix $dir"
  if ! qb_wine "$bits" 300 wineboot -i >/dev/null 2>&1; then
    echo "Wine could not make the $bits-bit prefix $dir (wineboot failed or ran past 300 s)" >&2
    return 1
  fi
  if [ "$bits" = 32 ]; then
    qb_wine 32 60 reg add 'HKCU\Software\Wine' /v Version /d winxp /f >/dev/null 2>&1 || true
    version=$(qb_wine 32 60 cmd /c ver 2>/dev/null | tr -d '\r' | grep -v '^$' || true)
    case $version in
      *" 5.1."*) echo "The prefix reports $version" ;;
      *)
        echo "the 32-bit prefix $dir does not report Windows XP (ver: ${version:-nothing})" >&2
        return 1
        ;;
    esac
  fi
  if ! timeout -k 10 120 wineserver -w </dev/null >/dev/null 2>&1; then
    echo "Wine's server of the prefix $dir did not end within 120 s" >&2
    return 1
  fi
}

# qb_ensure_i386_packages FILE...: the i386 architecture, then the packages
# the files list, in one install, so that apt pairs each i386 library with
# its native twin at one version. Only for a machine that runs 32-bit
# programs: where it does not, 32-bit Wine cannot start, and an installed
# wine32 makes /usr/bin/wine its loader.
qb_ensure_i386_packages() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "Adding the i386 architecture"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo dpkg --add-architecture i386
  fi
  qb_ensure_listed_packages "$@"
}

# qb_winpath PATH: the Windows form (Z:\...) of an absolute posix path.
qb_winpath() { local p=${1//\//\\}; echo "Z:$p"; }

# The process id of the Wine server qb_start_wineserver started, or nothing.
QB_WINESERVER_PID=""

# qb_start_wineserver BITS: the Wine server of $WINEPREFIX for a series of
# programs, and Wine's background programs (services, device drivers)
# started once, by a first program of that architecture, with every
# standard stream redirected: started later, by a test, they would inherit
# its output pipe and keep it open after it ends. Fails with a message when
# no program starts within 120 s.
qb_start_wineserver() {
  wineserver -p -f </dev/null >/dev/null 2>&1 &
  QB_WINESERVER_PID=$!
  qb_wine "$1" 120 cmd /c exit >/dev/null 2>&1 || {
    echo "Wine did not start a program in the prefix $WINEPREFIX within 120 s" >&2
    return 1
  }
}

# qb_stop_wineserver: ends that server and everything it runs (by its
# process id when it does not end by itself).
qb_stop_wineserver() {
  [ -n "$QB_WINESERVER_PID" ] || return 0
  timeout 30 wineserver -k </dev/null >/dev/null 2>&1 || true
  if kill -0 "$QB_WINESERVER_PID" 2>/dev/null; then
    kill "$QB_WINESERVER_PID" 2>/dev/null || true
    sleep 1
    kill -9 "$QB_WINESERVER_PID" 2>/dev/null || true
  fi
  wait "$QB_WINESERVER_PID" 2>/dev/null || true
  QB_WINESERVER_PID=""
}

# qb_demo DIR BITS: the demo program folder (configuration at trace level 8,
# lists, an Outlook Express store made by the .dbx writer, a Windows Live
# Mail store, the registry file) made in DIR by the native make-demo, built
# once into build-win64/native-tools, with the stores' roots named by their
# Windows paths; the registry file goes into Wine's registry (the product's
# key in the 32-bit view, where the scanner reads it) through the loader of
# BITS.
qb_demo() {
  local dir=$1 bits=$2 tools
  tools=$(qb_root)/build-win64/native-tools
  [ -f "$tools/CMakeCache.txt" ] ||
    cmake -S "$(qb_root)" -B "$tools" -G Ninja -DQB_TESTS=OFF >/dev/null
  cmake --build "$tools" --target make-demo >/dev/null
  "$tools/tools/demo/make-demo" --windows-root "$(qb_winpath "$dir")" "$dir" >/dev/null
  qb_wine "$bits" 60 reg import "$(qb_winpath "$dir/registry.reg")" /reg:32 >/dev/null 2>&1
}
