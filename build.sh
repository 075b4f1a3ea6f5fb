#!/usr/bin/env bash
# Sets Dorvex up on a Debian 12 machine and runs it.
#   ./build.sh main   install what is needed, build, run the main job on its embedded default
#   ./build.sh test   install what is needed, build, run every test (plain and sanitizer builds)
#   ./build.sh build  install and build only
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(build-essential cmake ninja-build pkg-config libgtest-dev libpugixml-dev libcurl4-openssl-dev
  libleptonica-dev libjpeg-dev libcpp-httplib-dev libsqlite3-dev libtiff-dev libzxing-dev libsane-dev curl time
  zint imagemagick fonts-noto-cjk unpaper qt6-base-dev libgl-dev xvfb xauth netpbm
  libtesseract-dev tesseract-ocr tesseract-ocr-chi-tra tesseract-ocr-osd fonts-arphic-ukai fonts-arphic-uming poppler-utils at
  qt6-websockets-dev chromium nodejs nginx postgresql-15 libpq-dev)

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  # npm comes with Debian's nodejs as its own package; a nodejs from elsewhere brings its own npm.
  command -v npm >/dev/null 2>&1 || missing+=(npm)
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# The browser tests' one npm package (playwright-core, pinned in tests/browser/package-lock.json);
# they drive Debian's chromium, so no browser is downloaded.
install_node_packages() {
  (cd tests/browser && npm ci --no-audit --no-fund --loglevel=error)
}

# The delayed upload's jobs run through atd; a container has no init to start it. When it
# cannot run, the tests go on with the job test skipped, for the reason said here.
start_atd() {
  [ -s /run/atd.pid ] && kill -0 "$(cat /run/atd.pid)" 2>/dev/null && return 0
  local why
  if [ "$(id -u)" -ne 0 ]; then
    why="atd is not running and only root may start it (sudo systemctl enable --now atd)"
  elif ! why=$(atd 2>&1); then
    why="atd does not start: ${why:-it exited with an error} (is another atd running on this machine?)"
  else
    return 0
  fi
  echo "$why: the delayed-upload job test will be skipped" >&2
  export DORVEX_ATD_UNAVAILABLE="$why"
}

build() {  # build DIR [cmake options...]
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
}

cmd=${1:-}
case "$cmd" in
  build)
    install_packages
    build build -DDORVEX_WERROR=ON
    ;;
  main)
    install_packages
    build build -DDORVEX_WERROR=ON
    shift
    exec scripts/main-job.sh build/apps/dorvex "$@"
    ;;
  test)
    install_packages
    install_node_packages
    start_atd
    build build -DDORVEX_WERROR=ON
    (cd build && ctest --output-on-failure -j"$(nproc)")
    echo "== sanitizer build (ASan + UBSan) =="
    build build-asan -DDORVEX_WERROR=ON -DDORVEX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
    (cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j"$(nproc)")
    ;;
  *)
    echo "usage: ./build.sh main|test|build" >&2
    exit 64
    ;;
esac
