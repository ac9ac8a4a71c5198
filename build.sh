#!/usr/bin/env bash
# Set-up, build and run in one step.
#   ./build.sh run [args]        build and start the converter
#   ./build.sh test [--sanitize] build and run every test (--sanitize: ASan + UBSan build)
#   ./build.sh test --tsan [ctest options]
#                                the engine's, component's and window's tests under
#                                ThreadSanitizer (build-tsan/)
#   ./build.sh fuzz [seconds] [targets]
#                                the libFuzzer targets, each for a bounded time (build-fuzz/)
#   ./build.sh package           the Debian package (CPack) in build/, checked with lintian
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
  cmake ninja-build g++ pkg-config
  libgtest-dev
  libavcodec-extra59 libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
  libswresample-dev libavfilter-dev
  ffmpeg nlohmann-json3-dev
  qt6-base-dev libqt6dbus6 libcli11-dev
  parallel shellcheck yamllint clang-format clang-tools
  qt6-tools-dev qt6-l10n-tools
  librsvg2-bin desktop-file-utils appstream
  # Test time: the window's screenshots under a virtual X server, and the notification test on
  # a private session bus.
  xvfb xdotool dbus python3 python3-dbus python3-gi
)

# Only the package needs dpkg-shlibdeps and lintian.
PACKAGE_PACKAGES=(dpkg-dev lintian)

# Only the fuzz targets need clang and its libFuzzer runtime.
FUZZ_PACKAGES=(clang-14 libclang-rt-14-dev)

install_missing_packages() {
  local missing=()
  for package in "${PACKAGES[@]}" "$@"; do
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

# DZ_WERROR=ON in the environment (CI sets it) makes warnings errors; it is passed on every
# configure, so it also reaches folders configured before.
werror_option=(${DZ_WERROR:+-DDZ_WERROR=$DZ_WERROR})

configure_and_build() {
  local dir=$1
  shift
  if [ ! -f "$dir/build.ninja" ] || ((${#werror_option[@]})); then
    cmake -S . -B "$dir" -G Ninja "$@" "${werror_option[@]}"
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
    if [ "${1:-}" = "--tsan" ]; then
      # The tests whose code runs on several threads of its own: the engine's (a pipelined job
      # runs its stages on threads; the conversion suites run every job in both modes), the
      # component's and the window's. Only what they need is built.
      shift
      if [ ! -f build-tsan/build.ninja ] || ((${#werror_option[@]})); then
        cmake -S . -B build-tsan -G Ninja -DDZ_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
          "${werror_option[@]}"
      fi
      cmake --build build-tsan -j "$(nproc)" --target engine_tests option_tests reencode_tests \
        transcode_tests component_tests app_widget_tests daziziz
      cd build-tsan
      (($#)) || set -- -L "^(engine|transcode|component|app_widgets)$"
      # The media libraries and Qt are not instrumented: what they synchronise among their own
      # threads is invisible to the sanitizer (see .ci/tsan.supp).
      TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1 \
ignore_noninstrumented_modules=1 suppressions=$PWD/../.ci/tsan.supp} \
        ctest --output-on-failure -j "$(nproc)" "$@"
      exit
    fi
    if [ "${1:-}" = "--sanitize" ]; then
      dir=build-sanitize
      options=(-DDZ_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
      # Leaks inside the libraries' own code (libx265 keeps a buffer for the process) are not
      # ours to mend: see .ci/lsan.supp.
      export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/.ci/lsan.supp print_suppressions=0}
      shift
    fi
    configure_and_build "$dir" "${options[@]}"
    cd "$dir"
    # The long sweep of every profile entry (label "sweep") runs only when asked: ctest -L sweep
    ctest --output-on-failure -j "$(nproc)" -LE sweep "$@"
    ;;
  fuzz)
    install_missing_packages "${FUZZ_PACKAGES[@]}"
    exec tests/fuzz/run.sh "$@"
    ;;
  package)
    install_missing_packages "${PACKAGE_PACKAGES[@]}"
    # The package installs under /usr; the programs find their files relative to their own
    # folder, so the build folder's programs keep working after this.
    cmake -S . -B build -G Ninja -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
    cmake --build build -j "$(nproc)"
    rm -f build/daziziz_*.deb
    (cd build && cpack -G DEB)
    deb=$(ls build/daziziz_*.deb)
    dpkg-deb --field "$deb"
    # lintian's verdict is shown, not enforced: its errors are listed for a person to judge.
    lintian --tag-display-limit 0 "$deb" || true
    echo "$deb"
    ;;
  *)
    echo "usage: ./build.sh run [args] | ./build.sh test [--sanitize|--tsan] [ctest options]" \
      "| ./build.sh fuzz [seconds] [targets] | ./build.sh package" >&2
    exit 2
    ;;
esac
