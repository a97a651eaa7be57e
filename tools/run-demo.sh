#!/usr/bin/env bash
# Starts the shell on its built-in demo application.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${DISPLAY:-}" ]; then
    echo "run-demo: no X display (DISPLAY is not set); start the shell from a desktop session" >&2
    exit 1
fi
exec build/norv-view "$@"
