#!/usr/bin/env bash
# Set-up, build and run in one step.
#   ./build.sh run [args]        build and start the converter
#   ./build.sh test [--sanitize] build and run every test (--sanitize: ASan + UBSan build)
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
  cmake ninja-build g++ pkg-config
  libgtest-dev
  libavcodec-extra59 libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
  libswresample-dev
  ffmpeg nlohmann-json3-dev
  qt6-base-dev libcli11-dev
)

install_missing_packages() {
  local missing=()
  for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$package")
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

configure_and_build() {
  local dir=$1
  shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja "$@"
  fi
  cmake --build "$dir" -j "$(nproc)"
}

command=${1:-}
shift || true
case "$command" in
  run)
    install_missing_packages
    configure_and_build build
    exec build/daziziz "$@"
    ;;
  test)
    install_missing_packages
    dir=build
    options=()
    if [ "${1:-}" = "--sanitize" ]; then
      dir=build-sanitize
      options=(-DDZ_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
      shift
    fi
    configure_and_build "$dir" "${options[@]}"
    cd "$dir"
    # The long sweep of every profile entry (label "sweep") runs only when asked: ctest -L sweep
    ctest --output-on-failure -j "$(nproc)" -LE sweep "$@"
    ;;
  *)
    echo "usage: ./build.sh run [args] | ./build.sh test [--sanitize] [ctest options]" >&2
    exit 2
    ;;
esac
