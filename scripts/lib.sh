# Helpers shared by the test scripts and the demo script. Sourced with the
# repository root as the current directory.

# The test command (scripts/test.sh) sends each tier's whole output to
# build/logs/<tier>.log and shows the reader only what say() prints: steps,
# installs, skips and results. It sets OMBRIX_CONSOLE_FD to the descriptor
# of its own standard output for that. Run on its own, a script prints
# everything as before.
say() {
  printf '%s\n' "$*"
  if [ -n "${OMBRIX_CONSOLE_FD:-}" ]; then printf '%s\n' "$*" >&"$OMBRIX_CONSOLE_FD"; fi
}

step() {
  printf '\n==== %s ====\n' "$*"
  if [ -n "${OMBRIX_CONSOLE_FD:-}" ]; then printf '  %s\n' "$*" >&"$OMBRIX_CONSOLE_FD"; fi
}

# Package-manager and other set-up output goes here; it is printed only when
# a step fails, so the scripts' own output stays about the project.
OMBRIX_SETUP_LOG="${OMBRIX_SETUP_LOG:-$PWD/build/setup.log}"

# Runs a command with its output sent to the set-up log; on failure prints
# what failed and the end of the log, and returns the command's status.
quietly() {
  mkdir -p "$(dirname "$OMBRIX_SETUP_LOG")"
  printf '\n$ %s\n' "$*" >>"$OMBRIX_SETUP_LOG"
  local status=0
  "$@" >>"$OMBRIX_SETUP_LOG" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    echo "FAILED (status $status): $*" >&2
    echo "---- last 60 lines of $OMBRIX_SETUP_LOG ----" >&2
    tail -n 60 "$OMBRIX_SETUP_LOG" >&2
  fi
  return "$status"
}

# Installs the Debian packages that are not installed yet, with one line of
# output: what was installed and how long it took.
ensure_packages() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages ${missing[*]}: run as root or install them" >&2
    return 1
  fi
  local started=$SECONDS
  export DEBIAN_FRONTEND=noninteractive
  # One update serves every tier of a run: the stamp keeps it for half an hour.
  local stamp="${OMBRIX_SETUP_LOG%/*}/apt-updated"
  [ -n "$(find "$stamp" -mmin -30 2>/dev/null)" ] && export OMBRIX_APT_UPDATED=1
  if [ -z "${OMBRIX_APT_UPDATED:-}" ]; then
    # A mirror in the middle of a sync fails an index or two for a minute
    # ("File has unexpected size"): try again, and then install from the
    # indices apt has; the install itself still fails loudly.
    local attempt
    for attempt in 1 2 3; do
      mkdir -p "$(dirname "$OMBRIX_SETUP_LOG")"
      printf '\n$ apt-get update -q\n' >>"$OMBRIX_SETUP_LOG"
      apt-get update -q >>"$OMBRIX_SETUP_LOG" 2>&1 && break
      if [ "$attempt" -eq 3 ]; then
        say "  apt-get update failed three times (see $OMBRIX_SETUP_LOG); installing from the package lists apt has"
      else
        sleep 20
      fi
    done
    export OMBRIX_APT_UPDATED=1
    touch "$stamp"
  fi
  # Another apt run on the machine (unattended upgrades, a second script)
  # holds the lock for a while; wait for it instead of failing.
  quietly apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=900 "${missing[@]}" || {
    echo "installing ${missing[*]} failed" >&2
    return 1
  }
  say "  installed ${missing[*]} ($((SECONDS - started)) s)"
}

# 32-bit Wine comes from the i386 architecture. It is installed on every
# machine, whether or not this kernel runs i386 code: its files also serve
# the QEMU guests, whose kernel does.
ensure_i386_architecture() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    unset OMBRIX_APT_UPDATED
    rm -f "${OMBRIX_SETUP_LOG%/*}/apt-updated"
  fi
}

# The suites whose amd64 package list apt has but whose i386 list it could
# not fetch, as "host/path suite/component" words; empty when none.
i386_lists_missing() {
  local list base missing=()
  for list in /var/lib/apt/lists/*_binary-amd64_Packages*; do
    [ -e "$list" ] || continue
    base=${list%_binary-amd64_Packages*}
    compgen -G "${base}_binary-i386_Packages*" >/dev/null && continue
    base=$(basename "$base")
    missing+=("$(printf '%s' "${base%%_dists_*}" | tr _ /) $(printf '%s' "${base#*_dists_}" | tr _ /)")
  done
  local IFS=,
  printf '%s' "${missing[*]}"
}

# 32-bit Wine on the host. A mirror caught in a sync serves an i386 package
# list that does not match its signed index, and apt drops that list: the
# i386 halves of libraries whose amd64 halves came from that suite then
# have no matching version, and wine32 cannot be installed. Only in that
# case this returns 0 with WINE32_MISSING saying why (the tiers then say
# SKIPPED for their 32-bit programs); any other failure fails. Installing
# unchecked i386 packages, or older amd64 ones to match, is not an option
# a test run should take on someone's machine.
WINE32_MISSING=""
ensure_wine32() {
  WINE32_MISSING=""
  ensure_packages wine32:i386 2>>"$OMBRIX_SETUP_LOG" && return 0
  local missing
  missing=$(i386_lists_missing)
  if [ -z "$missing" ]; then
    echo "installing wine32:i386 failed; see $OMBRIX_SETUP_LOG" >&2
    return 1
  fi
  WINE32_MISSING="wine32:i386 cannot be installed: the mirror's i386 package list of $missing failed to download (a mirror sync), so its i386 libraries cannot match the amd64 ones installed from there"
  say "  $WINE32_MISSING"
}

# Whether a tier runs its 32-bit programs on the host: RUNS32 is yes or
# no, and WHY32 says why not (every reason there is).
decide_32bit_runs() {
  RUNS32=no
  if ! host_runs_i386; then
    WHY32="this kernel cannot execute 32-bit x86 code${WINE32_MISSING:+, and $WINE32_MISSING}"
  elif [ -n "$WINE32_MISSING" ]; then
    WHY32=$WINE32_MISSING
  else
    RUNS32=yes WHY32=""
  fi
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

# A static i386 ELF of 91 bytes that exits with status 42 through int 0x80.
# Some kernels run only 64-bit user code (no IA-32 emulation, even where
# their configuration lists it): there execve fails with ENOEXEC. Running it
# is the one test that cannot be wrong, and it takes a millisecond.
OMBRIX_I386_PROBE='f0VMRgEBAQAAAAAAAAAAAAIAAwABAAAAVIAECDQAAAAAAAAAAAAAADQAIAABAAAAAAAAAAEAAAAAAAAAAIAECACABAhbAAAAWwAAAAUAAAAAEAAAsyoxwEDNgA=='

# Succeeds when this kernel executes 32-bit x86 programs.
# OMBRIX_ASSUME_NO_I386=1 answers no, to try the other path on a machine
# that can.
host_runs_i386() {
  [ -n "${OMBRIX_ASSUME_NO_I386:-}" ] && return 1
  if [ -z "${OMBRIX_HOST_RUNS_I386:-}" ]; then
    # Under build/, where the project's own programs run: a noexec mount
    # (often /tmp) would fail every probe and give a false no.
    local probe="$PWD/build/i386-probe" status=0
    mkdir -p build
    printf '%s' "$OMBRIX_I386_PROBE" | base64 -d >"$probe"
    chmod +x "$probe"
    "$probe" 2>/dev/null || status=$?
    if [ "$status" -eq 42 ]; then OMBRIX_HOST_RUNS_I386=yes; else OMBRIX_HOST_RUNS_I386=no; fi
    export OMBRIX_HOST_RUNS_I386
  fi
  [ "$OMBRIX_HOST_RUNS_I386" = yes ]
}

# Runs a Windows program with the Wine loader of its word size:
#   wine_run 32|64 PROGRAM [ARGUMENTS...]
# Every Wine call of the scripts and of CTest goes through this one helper.
wine_run() { "$PWD/src/platform/win32/wine-run.sh" "$@"; }

# Records a part of the run that could not be done on this machine. The
# line is printed at once and again in the final summary of scripts/test.sh,
# never counted as passed.
skipped() {
  say "SKIPPED: $*"
  if [ -n "${OMBRIX_SKIP_LOG:-}" ]; then echo "SKIPPED: $*" >>"$OMBRIX_SKIP_LOG"; fi
}

# Wine for a tier of Windows tests: the project's prefix (made on first
# use), one server kept running for the whole tier instead of one per
# program, and Wine's services started once, alone, since two first
# programs at once can hang. The caller ends the server when it is done.
start_wine_for_tier() {
  export WINEPREFIX="${OMBRIX_WINEPREFIX:-$PWD/build/wine-prefix}"
  export WINEDEBUG=-all
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    step "creating the Wine prefix"
    local started=$SECONDS
    wine_run 64 cmd /c exit >/dev/null 2>&1
    echo "made $WINEPREFIX ($((SECONDS - started)) s)"
  fi
  /usr/lib/wine/wineserver -p 2>/dev/null || true  # one already running serves as well
  wine_run 64 cmd /c exit >/dev/null 2>&1 || true
}

# GoogleTest cross-built from Debian's sources, once per word size:
#   build_gtest PRESET TOOLCHAIN_FILE
build_gtest() {
  local preset=$1 toolchain=$2 dir="build/gtest-$1"
  [ -f "$dir/prefix/lib/cmake/GTest/GTestConfig.cmake" ] && return 0
  step "GoogleTest for $preset"
  quietly cmake -S /usr/src/googletest -B "$dir/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/src/platform/win32/$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$PWD/$dir/prefix" -Dgtest_disable_pthreads=ON
  quietly cmake --build "$dir/build" -j 2
  quietly cmake --install "$dir/build"
}

# A Windows program's or DLL's imports must all be among the given system
# DLLs (names without .dll, any case):
#   check_imports OBJDUMP FILE DLL...
check_imports() {
  local objdump=$1 file=$2 name imports allowed
  shift 2
  allowed=" $(printf '%s.dll ' "$@" | tr 'A-Z' 'a-z')"
  imports=$("$objdump" -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  for name in $imports; do
    if [[ "$allowed" != *" $name "* ]]; then
      echo "$file imports $name, which is not a system DLL it may use:" >&2
      printf '%s\n' "$imports" >&2
      return 1
    fi
  done
  echo "$file imports only $(echo $imports)"
}
