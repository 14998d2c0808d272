#!/usr/bin/env bash
# Makes the packages with CPack, into build/packages/:
#   kelupdater_<version>_<arch>.deb   the Linux program (statically linked,
#                                     so it depends on no other package),
#                                     its manual page, the README and
#                                     doc/troubleshooting.md, doc/reference.md
#   kelupdater-<version>-windows-x64.zip
#                                     KelUpdater.exe, README.txt,
#                                     troubleshooting.txt, reference.txt (CR LF)
# Each comes from a Release build; the build's output is kept in
# build/<tree>.build.log (scripts/test.sh checks that it holds no warning).
#   bash scripts/package.sh [deb] [zip]     (both when none is named)
# By default each package has a build tree of its own with the program
# alone. KEL_PACKAGE_LINUX_BUILD and KEL_PACKAGE_WIN_BUILD name other
# trees to build in and pack from: scripts/test.sh passes the Release trees
# its tests run in, so nothing is built twice.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$KEL_ROOT"

kinds=("$@")
[ ${#kinds[@]} -eq 0 ] && kinds=(deb zip)
out="$KEL_BUILD_ROOT/packages"
mkdir -p "$out"

# package <tree given or ""> <own tree> <generator> <targets> <cmake options...>:
# builds the targets in the tree (the program alone in a tree of its own),
# then has CPack install and pack the program's files only.
package() {
  local given="$1" own="$2" generator="$3" targets="$4"
  shift 4
  local dir="${given:-$own}" options=("$@")
  [ -z "$given" ] && options+=(-DKEL_BUILD_TESTS=OFF)
  mkdir -p "$dir"
  local rc=0
  KEL_TARGETS="$targets" kel_build "$dir" -DCMAKE_BUILD_TYPE=Release "${options[@]}" \
    >"$dir.build.log" 2>&1 || rc=$?
  if [ $rc -ne 0 ]; then
    tail -40 "$dir.build.log"
    return 1
  fi
  (cd "$dir" && cpack -G "$generator" -B "$out" >"$dir.cpack.log" 2>&1) ||
    { cat "$dir.cpack.log"; return 1; }
  sed -nE 's/^CPack: - package: (.*) generated\.$/\1/p' "$dir.cpack.log"
}

for kind in "${kinds[@]}"; do
  case "$kind" in
    deb)
      kel_ensure_packages "${KEL_NATIVE_PACKAGES[@]}" "${KEL_PACKAGE_PACKAGES[@]}"
      package "${KEL_PACKAGE_LINUX_BUILD:-}" "$KEL_BUILD_ROOT/package-linux" DEB \
        "${KEL_PACKAGE_LINUX_TARGETS:-KelUpdater kel_man_page}" "${KEL_LINUX_RELEASE_OPTIONS[@]}"
      ;;
    zip)
      kel_ensure_packages "${KEL_WINDOWS_PACKAGES[@]}" "${KEL_PACKAGE_PACKAGES[@]}"
      package "${KEL_PACKAGE_WIN_BUILD:-}" "$KEL_BUILD_ROOT/package-win" ZIP \
        "${KEL_PACKAGE_WIN_TARGETS:-KelUpdater}" "${KEL_WINDOWS_RELEASE_OPTIONS[@]}"
      ;;
    *)
      echo "package.sh: unknown package kind $kind (deb or zip)" >&2
      exit 2
      ;;
  esac
done
