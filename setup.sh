#!/usr/bin/env bash
# Brelvon set-up on a Debian machine. Installs whatever is missing, builds,
# then either runs the monitor against the simulated plant or runs the tests.
#
#   bash setup.sh demo   the monitor and a simulated plant of six inverters
#                        and an LED panel; without a display it runs on a
#                        virtual one for a minute and saves a screenshot
#   bash setup.sh test   builds and runs the whole test suite (also the
#                        sanitizer build and the fuzz targets)
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)

BUILD_PACKAGES=(cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools libgl-dev
                fonts-dejavu-core fonts-wine fonts-inconsolata)
DEMO_PACKAGES=(xvfb xauth imagemagick x11-utils)
TEST_PACKAGES=(clang libclang-rt-14-dev iproute2 util-linux)

install_missing() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "== installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

build() { # build dir, extra cmake arguments...
    local dir=$1; shift
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)"
}

case "${1:-}" in
demo)
    install_missing "${BUILD_PACKAGES[@]}" "${DEMO_PACKAGES[@]}"
    build "$ROOT/build"
    exec bash "$ROOT/tools/demo.sh" "$ROOT/build"
    ;;
test)
    install_missing "${BUILD_PACKAGES[@]}" "${DEMO_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
    exec bash "$ROOT/tools/run-tests.sh"
    ;;
*)
    echo "usage: bash setup.sh demo|test" >&2
    exit 2
    ;;
esac
