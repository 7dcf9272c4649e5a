# Shared set-up steps for scripts/setup, scripts/test and scripts/dev-build.
# Sourced, not run.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="$ROOT/.venv"
# The package build tree: pip builds here incrementally, with the C++ tests.
PKG_BUILD="$ROOT/build/pkg"
APT_PACKAGES=(build-essential pkg-config libzip-dev zlib1g-dev libdeflate-dev libicu-dev libgtest-dev)

log() { printf '==> %s\n' "$*" >&2; }

# CI builds treat compiler warnings as errors; local builds only show them.
WERROR=OFF
[ -n "${CI:-}" ] && WERROR=ON

# Print the path of a CPython >= 3.13: $PYTHON first, then python3.N on PATH,
# then pyenv's versions, then Debian's /usr/bin/python3.N.
find_python() {
  local cands=() c
  [ -n "${PYTHON:-}" ] && cands+=("$PYTHON")
  for v in 3.16 3.15 3.14 3.13; do
    command -v "python$v" >/dev/null 2>&1 && cands+=("$(command -v "python$v")")
  done
  if command -v pyenv >/dev/null 2>&1; then
    for c in $(ls -d "$(pyenv root)"/versions/3.1[3-9]* 2>/dev/null | sort -rV); do
      cands+=("$c/bin/python")
    done
  fi
  for c in /usr/bin/python3.1[3-9] /usr/local/bin/python3.1[3-9]; do
    [ -x "$c" ] && cands+=("$c")
  done
  for c in "${cands[@]}"; do
    if "$c" -c 'import sys; sys.exit(0 if sys.version_info >= (3, 13) else 1)' >/dev/null 2>&1; then
      echo "$c"; return 0
    fi
  done
  if [ -n "${PYTHON:-}" ]; then
    echo "error: PYTHON=$PYTHON is not a CPython 3.13 or later" >&2
  fi
  echo "error: no CPython 3.13 or later found (set PYTHON=/path/to/python3.13, or install Debian's python3.13 or a pyenv 3.13)" >&2
  return 1
}

# Install the system packages that are missing (needs root or sudo).
ensure_apt() {
  local missing=() p py="$1"
  case "$py" in /usr/bin/python3.*) local v; v="$(basename "$py")"; APT_PACKAGES+=("$v-dev" "$v-venv");; esac
  for p in "${APT_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing system packages: ${missing[*]}"
  local sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

# Create the venv and install the Python build and test dependencies.
ensure_venv() {
  local py
  py="$(find_python)"
  ensure_apt "$py"
  if [ ! -x "$VENV/bin/python" ] || ! "$VENV/bin/python" -c 'import sys; sys.exit(0 if sys.version_info >= (3, 13) else 1)'; then
    log "creating $VENV with $py"
    rm -rf "$VENV"
    "$py" -m venv "$VENV"
  fi
  local stamp="$VENV/.deps-installed"
  if [ ! -f "$stamp" ] || [ "$ROOT/pyproject.toml" -nt "$stamp" ]; then
    log "installing Python dependencies"
    "$VENV/bin/python" -m pip install -q --upgrade pip
    "$VENV/bin/python" -m pip install -q "scikit-build-core>=0.10" "cmake>=3.24" ninja "pytest>=8" "pandas>=2.2" openpyxl XlsxWriter odfpy python-calamine mypy pandas-stubs
    touch "$stamp"
  fi
}

# Build and install the package into the venv (incremental build tree).
install_package() {
  log "building and installing morvane"
  "$VENV/bin/python" -m pip install -q --no-build-isolation \
    -C cmake.define.MORVANE_TESTS=ON -C cmake.define.MORVANE_WERROR="$WERROR" -C build-dir="$PKG_BUILD" "$ROOT"
}

# Configure (once) and build a CMake tree: $1 = build dir, rest = extra -D flags.
cmake_build() {
  local dir="$1"; shift
  if [ ! -f "$dir/build.ninja" ] || [ $# -gt 0 ]; then
    "$VENV/bin/cmake" -S "$ROOT" -B "$dir" -G Ninja \
      -DPython_EXECUTABLE="$VENV/bin/python" -DMORVANE_TESTS=ON -DMORVANE_WERROR="$WERROR" "$@" >/dev/null
  fi
  "$VENV/bin/cmake" --build "$dir" -j "$(nproc)"
}
