#!/usr/bin/env bash
# The main job on its embedded default: encipher the session values a web page would hand the
# control, and read them back, as an integrator prepares a page.
set -euo pipefail
dorvex=$1
server=${DORVEX_SERVER:-http://127.0.0.1:8080/dorvex/upload.php}
operator=${DORVEX_OPERATOR:-王小明}
inno=${DORVEX_INNO:-1150000001}
for pair in "EncServerURL:$server" "EncOperator:$operator" "EncInno:$inno"; do
  name=${pair%%:*}
  value=${pair#*:}
  cipher=$("$dorvex" encrypt "$value")
  back=$("$dorvex" decrypt "$cipher")
  printf '%-13s %s\n              -> %s\n' "$name" "$cipher" "$back"
  [ "$back" = "$value" ] || { echo "round trip failed for $name" >&2; exit 1; }
done
