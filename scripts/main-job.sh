#!/usr/bin/env bash
# The main job on its embedded default: the demonstration session of the control against the
# reference server (see `dorvex demo --help`).
set -euo pipefail
dorvex=$1
shift
exec "$dorvex" demo "$@"
