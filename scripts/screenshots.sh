#!/usr/bin/env bash
# Takes the screenshots in docs/screenshots under Xvfb, as a clerk's desktop shows the windows:
# the scan window after a file-feeder scan of the sample letters, and each dialog.
#   scripts/screenshots.sh [BUILD_DIR]     (build first: ./build.sh build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
mkdir -p docs/screenshots
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1600x1000x24" \
  "$build/tests/ui_screenshots" docs/screenshots "$build/samples/letters"
# The demo page in headless Chromium, against the reference server and the host.
(cd tests/browser && DORVEX_SCREENSHOTS="$PWD/../../docs/screenshots" DORVEX_BIN="$PWD/../../$build/apps/dorvex" \
  DORVEX_HOST_BIN="$PWD/../../$build/apps/dorvex-host" DORVEX_LETTERS="$PWD/../../$build/samples/letters" \
  node --test --test-name-pattern="demo page" host.test.mjs)
