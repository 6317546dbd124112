# Shared by run.sh and test.sh: install what the build needs, then configure and build.

QUADERIX_PACKAGES=(cmake ninja-build g++ libgtest-dev libgmock-dev qt6-base-dev libcli11-dev
  libopenmpi-dev openmpi-bin)

ensure_packages() {
  local missing=()
  local pkg
  for pkg in "${QUADERIX_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

# configure_and_build DIR [cmake options...]: configures DIR and builds every target.
configure_and_build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}
