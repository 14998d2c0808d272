# Shared helpers for the build and test scripts (sourced, not run).

# The repository root, whatever the caller's working folder.
KEL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# Where the scripts build; each build has its own folder below it.
KEL_BUILD_ROOT="${KEL_BUILD_ROOT:-$KEL_ROOT/build}"
KEL_JOBS="${KEL_JOBS:-2}"
# Tests that ctest runs at once (most wait rather than compute).
KEL_CTEST_JOBS="${KEL_CTEST_JOBS:-4}"

kel_log() { printf '== %s\n' "$*"; }

# True when the Debian package is installed.
kel_have_package() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# Installs whichever of the named Debian packages are missing. As root it
# runs apt-get update once and installs them without questions; otherwise
# it only says what is missing and goes on (the tools may be there anyway).
kel_ensure_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    kel_have_package "$pkg" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    kel_log "missing packages (not root, not installing): ${missing[*]}"
    return 0
  fi
  kel_log "installing: ${missing[*]}"
  if [ -z "${KEL_APT_UPDATED:-}" ]; then
    DEBIAN_FRONTEND=noninteractive apt-get update -qq
    KEL_APT_UPDATED=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# The packages a native build with tests needs.
KEL_NATIVE_PACKAGES=(cmake g++ make libgtest-dev python3)
# And those of the Windows cross-build and its run under wine.
KEL_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64 googletest wine wine64)

# And those of the packages (scripts/package.sh) and their checks: CPack's
# Debian package wants dpkg-dev, the zip zip; man-db renders the page.
KEL_PACKAGE_PACKAGES=(dpkg-dev zip unzip man-db groff-base)

# And those of the clang build of the libFuzzer targets (scripts/fuzz.sh):
# clang 14 is Debian 12's, and libFuzzer ships in its runtime package.
KEL_FUZZ_PACKAGES=(clang libclang-rt-14-dev)

# The options of the Release trees that the packages come from (and that
# scripts/test.sh runs the plain suite and the wine checks in): the Linux
# program linked statically; CPack installs only the program, without
# building every target first.
KEL_LINUX_RELEASE_OPTIONS=(-DKEL_STATIC=ON -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON)
KEL_WINDOWS_RELEASE_OPTIONS=(-DCMAKE_TOOLCHAIN_FILE="$KEL_ROOT/cmake/mingw-w64.cmake"
                             -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON)

# Configures and builds one tree: kel_build <folder> [cmake options...]
# With KEL_TARGETS set (space-separated), only those targets are built.
kel_build() {
  local dir="$1"
  shift
  cmake -S "$KEL_ROOT" -B "$dir" "$@" >"$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log"; return 1; }
  local targets=()
  local t
  for t in ${KEL_TARGETS:-}; do targets+=(--target "$t"); done
  cmake --build "$dir" -j"$KEL_JOBS" "${targets[@]}"
}
