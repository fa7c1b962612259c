#!/usr/bin/env bash
# Installs what Quilvane needs, builds it with its tests and runs the whole suite.
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
"$top/tools/setup.sh" "$top/build"
cd "$top/build"
ctest --output-on-failure --timeout 600 "$@"
