#!/usr/bin/env bash
# The demo against the built-in message-server simulator.
set -euo pipefail
echo "alarm-bridge demo: not yet available (the message-server simulator is still being built)."
