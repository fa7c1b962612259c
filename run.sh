#!/usr/bin/env bash
# Installs what Quilvane needs, builds it and starts it. Without a display
# (neither DISPLAY nor WAYLAND_DISPLAY set) it starts the headless mode.
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
"$top/tools/setup.sh" "$top/build"
args=("$@")
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
    headless=yes
    # Options that choose what to run, and the list commands, need no display.
    for a in "$@"; do
        case $a in
            --headless | --help | -h | --list* | --add* | --edit* | --remove*) headless= ;;
        esac
    done
    if [[ -n $headless ]]; then
        echo "run.sh: no display (DISPLAY and WAYLAND_DISPLAY are unset): starting Quilvane" \
            "headless; it prints a line for each record the monitor updates. Ctrl+C ends it." >&2
        args=(--headless "$@")
    fi
fi
exec "$top/build/bin/quilvane" "${args[@]}"
