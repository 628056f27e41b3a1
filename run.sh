#!/usr/bin/env bash
# Installs what is missing, builds, and starts the system. Without a supported
# device attached it runs on simulated devices (devsim).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"

scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default

exec scripts/start-system.sh build/default/bin "$@"
