# Shared by the scripts: installs the Debian packages that are missing,
# configures and builds, and starts wine for the Windows build. Sourced,
# not run.

# ensure_packages PKG...: installs the missing ones with apt-get, as root or
# through sudo; otherwise prints the exact command and stops.
ensure_packages() {
    missing=""
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
    done
    [ -z "$missing" ] && return 0
    echo "Installing missing packages:$missing"
    if [ "$(id -u)" = 0 ]; then
        SUDO=""
    elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
        SUDO="sudo"
    elif command -v sudo >/dev/null 2>&1 && [ -t 0 ]; then
        SUDO="sudo"
    else
        echo "Cannot install packages (not root, no sudo). Run this, then try again:" >&2
        echo "  sudo apt-get install -y$missing" >&2
        exit 1
    fi
    apt_retry $SUDO apt-get update -qq
    apt_retry $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
}

# Retries while another installer holds the dpkg lock.
apt_retry() {
    i=0
    while ! "$@"; do
        i=$((i + 1))
        if [ $i -ge 20 ]; then echo "apt-get failed: $*" >&2; exit 1; fi
        echo "apt-get busy or failed, retrying in 15 s..." >&2
        sleep 15
    done
}

BUILD_PACKAGES="cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev fonts-wine"
TEST_PACKAGES="libgtest-dev libgmock-dev clang xvfb xauth pff-tools python3-pypff pst-utils strace"
# The Windows cross build (scripts/build-windows): mingw-w64 with posix
# threads, GoogleTest's sources to build for it, wine to run the tests, a
# virtual screen and wine's Tahoma for the wizard's windows, and NSIS for
# the installer.
WINDOWS_PACKAGES="cmake ninja-build g++-mingw-w64-x86-64-posix googletest wine wine64 xvfb fonts-wine nsis"

# wine_program: the 64-bit wine loader (Debian keeps it out of PATH).
wine_program() {
    for w in /usr/lib/wine/wine64 /usr/lib64/wine/wine64; do
        [ -x "$w" ] && { echo "$w"; return 0; }
    done
    command -v wine64 || command -v wine
}

# start_xvfb: a virtual screen (1600 x 1200, 96 dots per inch) for windows
# under wine, on the first free display from :90; exports DISPLAY and sets
# XVFB_PID (the caller stops it). Nothing when Xvfb is missing.
start_xvfb() {
    command -v Xvfb >/dev/null 2>&1 || return 0
    n=90
    while [ $n -lt 160 ]; do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
            Xvfb ":$n" -screen 0 1600x1200x24 -dpi 96 -nolisten tcp >/dev/null 2>&1 &
            XVFB_PID=$!
            i=0
            while [ $i -lt 50 ] && [ ! -e "/tmp/.X11-unix/X$n" ] && kill -0 "$XVFB_PID" 2>/dev/null; do
                sleep 0.1
                i=$((i + 1))
            done
            if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$XVFB_PID" 2>/dev/null; then
                export DISPLAY=":$n"
                return 0
            fi
            kill "$XVFB_PID" 2>/dev/null || true
        fi
        n=$((n + 1))
    done
    echo "no free display for Xvfb" >&2
    return 1
}

# start_wine PREFIX [screen]: wine for the programs of the Windows build, in
# the prefix PREFIX (created on the first start), quiet and without the
# offers to install Mono or Gecko; with "screen", on a virtual screen of its
# own when Xvfb is there (the caller checks DISPLAY when it needs one). One
# persistent wineserver serves every program (without it each program would
# start a server and wait for it to linger and go, about 2 s); a server that
# ran for another screen goes first. Sets WINE and SERVER; wine_run runs a
# program; stop_wine, which the exit runs, ends the server and the screen
# (a caller with more to clean at exit sets its own trap and calls it).
start_wine() {
    WINE=$(wine_program)
    export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    SERVER="$(dirname "$WINE")/wineserver"
    [ -x "$SERVER" ] || SERVER=wineserver
    XVFB_PID=
    if [ "${2:-}" = screen ]; then
        unset DISPLAY
        start_xvfb
    fi
    "$SERVER" -k 2>/dev/null || true
    mkdir -p "$WINEPREFIX"
    "$SERVER" -p 2>/dev/null || true
    trap stop_wine EXIT
    wine_started=$(date +%s)
    wine_run cmd /c exit
    echo "wine ready in $(( $(date +%s) - wine_started )) s (a new prefix is created on the first start)"
}

wine_run() { "$ROOT/cmake/wine-run" "$WINE" "$WINEPREFIX" "$@"; }

stop_wine() {
    "$SERVER" -k 2>/dev/null || true
    [ -z "${XVFB_PID:-}" ] || kill "$XVFB_PID" 2>/dev/null || true
}

# configure_and_build DIR [CMAKE ARGS...]
configure_and_build() {
    dir="$1"; shift
    cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja "$@" >/dev/null || cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja "$@"
    cmake --build "$ROOT/$dir" --parallel "$(nproc 2>/dev/null || echo 2)"
}
