#!/usr/bin/env bash
# The demonstration behind ./kit demo. Usage: tools/demo.sh BIN_DIR [options]
set -euo pipefail
echo "The demonstration is being built." >&2
exit 1
