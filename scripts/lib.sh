# Helpers shared by the test scripts.

step() { printf '\n==== %s ====\n' "$*"; }

# Installs the Debian packages that are not installed yet.
ensure_packages() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  step "installing ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages ${missing[*]}: run as root or install them" >&2
    return 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  if [ -z "${OMBRIX_APT_UPDATED:-}" ]; then
    apt-get update -qq
    export OMBRIX_APT_UPDATED=1
  fi
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What the default build needs, including the tools' own packages
# (scripts/deps-*.sh).
ensure_build_packages() {
  ensure_packages cmake ninja-build g++ googletest libgtest-dev libgmock-dev pkg-config libudev-dev
  local extra
  for extra in scripts/deps-*.sh; do
    [ -f "$extra" ] && source "$extra"
  done
  return 0
}
