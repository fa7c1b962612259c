#!/usr/bin/env bash
# Watch Quilvane do its main job, on this machine, in about two minutes.
#
#   sudo tools/demo.sh
#
# Builds Quilvane (tools/setup.sh on the first run), starts an SMB test host in a network
# namespace (tools/smbhost.sh: smbd with one share and one user), writes a
# settings file for it with the program's own writer, and runs
# `quilvane --headless` with a drives folder of its own. Once the share is
# mapped to Y:, the host stops answering pings; with MaxPing 2 the drive is
# dropped at the third silent pass. Then the host answers again and the share
# comes back. Everything it made is removed when it ends, also on Ctrl+C.
# Needs root (network namespaces). The build folder is $QUILVANE_BUILD, else
# build/ beside this folder.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QUILVANE_BUILD:-$top/build}
host=qvdemo
index=71
user=demo
max_ping=2
pass_wait=45 # seconds: a pass every 10 s, plus its pings and mounts

say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
note() { printf '   %s\n' "$*"; }
die() {
    printf 'demo: %s\n' "$*" >&2
    exit 1
}

[[ $(id -u) -eq 0 ]] || die "run me as root (sudo $0): the SMB test host lives in a network namespace"

work=
program=
cleanup() {
    set +e
    if [[ -n $program ]]; then
        kill -TERM "$program" 2>/dev/null && wait "$program" 2>/dev/null
    fi
    if [[ -n $work ]]; then
        # The drive layer's private session bus; its end takes gvfs along.
        if [[ -f $work/runtime/quilvane-session-bus ]]; then
            bus_pid=$(sed -n 2p "$work/runtime/quilvane-session-bus")
            [[ $bus_pid =~ ^[0-9]+$ ]] && kill -TERM "$bus_pid" 2>/dev/null
        fi
        umount -l "$work/runtime/gvfs" 2>/dev/null
        rm -rf "$work"
    fi
    "$top/tools/smbhost.sh" down "$host" >/dev/null 2>&1
    echo
    echo "demo: removed the test host and the demo's files."
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [[ ! -x $build/bin/quilvane ]]; then
    say "Installing what Quilvane needs and building it (tools/setup.sh; a few minutes)"
    "$top/tools/setup.sh" "$build"
fi
say "Building the program and the settings writer"
cmake --build "$build" --target quilvane quilvane_settings_writer >/dev/null

work=$(mktemp -d /tmp/quilvane-demo-XXXXXX)
chmod 755 "$work"

say "Starting an SMB test host: smbd in network namespace qv-$host"
password="demo pass $RANDOM$RANDOM"
address=$(printf '%s\n' "$password" | "$top/tools/smbhost.sh" up "$host" "$index" "$user")
share_dir=$("$top/tools/smbhost.sh" path "$host")
echo "Hello from the demo's SMB server." >"$share_dir/README.txt"
chown nobody: "$share_dir/README.txt"
note "server $address, share \\\\$address\\data, user $user"

say "Writing the settings file with the program's own writer"
mkdir -p "$work"/{bin,home,runtime,drives}
chmod 700 "$work/runtime"
cp "$build/bin/quilvane" "$work/bin/"
# The program's private libraries, laid out as the build tree keeps them.
cp -r "$build/lib" "$work/"
printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$address" "$user" "$password" "Y:" data "$max_ping" |
    "$build/bin/quilvane_settings_writer" "$work/bin"
note "$work/bin/Quilvane.ini (values enciphered): host $address, drive Y:, UNC data, MaxPing $max_ping"

say "Starting quilvane --headless (drives folder $work/drives)"
mkfifo "$work/out"
env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u QT_QPA_PLATFORM \
    HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" QUILVANE_DRIVES="$work/drives" \
    "$work/bin/quilvane" --headless >"$work/out" &
program=$!
exec {out}<"$work/out"
note "the monitor pings the host every 10 seconds and prints one line a record:"

# Reads the program's next line (bounded), shows it and leaves it in $line.
line=
next_line() {
    printf '   (waiting for the next pass...)\r'
    IFS= read -r -t "$pass_wait" -u "$out" line || die "no line from the program within ${pass_wait}s"
    printf '   %s\n' "$line"
}
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<<"$line"; }

next_line
[[ $(field Maped) == True ]] || die "the share was not mapped"
say "The host answers: its share is mapped to Y:"
note "$work/drives/Y -> $(readlink "$work/drives/Y")"
note "Y:\\README.txt says: $(cat "$work/drives/Y/README.txt")"

say "The host stops answering pings (tools/testhost.sh mode $host drop)"
"$top/tools/testhost.sh" mode "$host" drop
note "Quilvane counts the silent passes in FalseCount and keeps the drive for $max_ping of them;"
note "the silent pass after that (number $((max_ping + 1))) drops it."
for ((pass = 1; pass <= max_ping + 1; ++pass)); do
    next_line
done
[[ $(field Maped) == False ]] || die "the drive was not dropped"
[[ ! -e $work/drives/Y && ! -L $work/drives/Y ]] || die "Y: is still there"
say "Silent pass $((max_ping + 1)): Y: is dropped"

say "The host answers again (tools/testhost.sh mode $host answer)"
"$top/tools/testhost.sh" mode "$host" answer
next_line
[[ $(field Maped) == True ]] || die "the share did not come back"
say "The first answered pass maps the share again:"
note "Y:\\README.txt says: $(cat "$work/drives/Y/README.txt")"

say "Done: Quilvane keeps a share on its drive letter while, and only while, its server answers."
