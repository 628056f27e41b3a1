#!/usr/bin/env bash
# Starts the system from a bin folder. The desktop program and the service are
# not built yet, so for now this shows the device layer at work: on a supported
# device when one is attached (its current lighting, read with ovractl),
# otherwise on simulated devices (the devsim demo).
set -euo pipefail
bin=${1:?usage: start-system.sh BIN_DIR}

if "$bin/ovractl" list 2>/dev/null; then
  echo "Supported device attached; its lighting now:"
  exec "$bin/ovractl" get
fi
echo "No supported device attached: running the demo on simulated devices."
exec "$bin/devsim" --demo
