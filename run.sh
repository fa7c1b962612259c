#!/usr/bin/env bash
# Installs what Quilvane needs, builds it and starts it.
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
"$top/tools/setup.sh" "$top/build"
exec "$top/build/bin/quilvane" "$@"
