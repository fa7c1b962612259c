#!/usr/bin/env bash
# SMB test hosts: smbd serving one share to one user, on a test host in a
# network namespace (tools/testhost.sh).
#
#   tools/smbhost.sh up NAME INDEX USER [SHARE]
#                                 make host NAME (testhost.sh up NAME INDEX) and
#                                 start smbd there with share SHARE (default
#                                 "data") for USER, whose password is the first
#                                 line of standard input; prints the host's
#                                 address once smbd serves.
#   tools/smbhost.sh path NAME    prints the folder that the share serves.
#   tools/smbhost.sh down NAME    stops smbd and removes the host and its files.
#
# smbd runs with its own configuration and state under /run/quilvane-smbhost/NAME,
# never the machine's /etc/samba. The SMB user is mapped to the Unix account
# "nobody", which owns what is written to the share. The password only ever
# travels through pipes, never a command line. Needs root, samba and
# tools/testhost.sh's prerequisites.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
state_root=/run/quilvane-smbhost

die() {
    echo "smbhost: $*" >&2
    exit 1
}

check_name() {
    [[ $1 =~ ^[A-Za-z0-9_-]{1,12}$ ]] || die "bad host name '$1'"
}

smbd_stop() {
    local dir=$1 pid
    [[ -f $dir/run/smbd.pid ]] || return 0
    pid=$(<"$dir/run/smbd.pid")
    [[ $pid =~ ^[0-9]+$ ]] || return 0
    # smbd leads its own session (setsid below): its connection processes
    # share its process group.
    kill -TERM -- "-$pid" 2>/dev/null || return 0
    timeout 10 tail --pid="$pid" -f /dev/null || kill -KILL -- "-$pid" 2>/dev/null || true
}

host_down() {
    local name=$1 dir=$state_root/$1
    smbd_stop "$dir"
    "$here/testhost.sh" down "$name"
    rm -rf "$dir"
}

host_up() {
    local name=$1 index=$2 user=$3 share=${4:-data}
    [[ $user =~ ^[A-Za-z0-9_.-]{1,32}$ ]] || die "bad user name '$user'"
    [[ $share =~ ^[A-Za-z0-9_.-]{1,32}$ ]] || die "bad share name '$share'"
    local password
    IFS= read -r password || die "no password on standard input"

    host_down "$name"
    local address dir=$state_root/$name
    address=$("$here/testhost.sh" up "$name" "$index")
    mkdir -p "$dir"/{share,private,state,cache,lock,run}
    # nobody, as whom smbd serves the share, must reach it.
    chmod 711 "$dir"
    chmod 755 "$dir/share"
    chown nobody: "$dir/share"
    cat >"$dir/smb.conf" <<EOF
[global]
    server role = standalone server
    security = user
    map to guest = never
    passdb backend = tdbsam:$dir/private/passdb.tdb
    private dir = $dir/private
    state directory = $dir/state
    cache directory = $dir/cache
    lock directory = $dir/lock
    pid directory = $dir/run
    ncalrpc dir = $dir/run/ncalrpc
    username map = $dir/users.map
    interfaces = $address/24
    bind interfaces only = yes
    disable netbios = yes
    load printers = no
    printcap name = /dev/null
    disable spoolss = yes
    # Only level 5 carries the line that says smbd is ready; once it has
    # come, the level goes down to 1, in this file and in the running smbd.
    log file = $dir/smbd.log
    log level = 5
    max log size = 5000
[$share]
    path = $dir/share
    read only = no
    force user = nobody
EOF
    echo "nobody = $user" >"$dir/users.map"
    printf '%s\n%s\n' "$password" "$password" |
        smbpasswd -c "$dir/smb.conf" -a -s nobody >/dev/null 2>&1 ||
        { host_down "$name"; die "could not add the user"; }

    : >"$dir/smbd.log"
    local follower log_fd
    exec {log_fd}< <(exec timeout 20 tail -n +1 -F "$dir/smbd.log" 2>/dev/null)
    follower=$!
    "$here/testhost.sh" exec "$name" setsid smbd --foreground --no-process-group \
        -s "$dir/smb.conf" </dev/null >/dev/null 2>&1 &
    if ! grep -q -m1 'ready to serve connections' <&"$log_fd"; then
        kill "$follower" 2>/dev/null || true
        host_down "$name"
        die "smbd did not start"
    fi
    kill "$follower" 2>/dev/null || true
    exec {log_fd}<&-
    sed -i 's/^    log level = 5$/    log level = 1/' "$dir/smb.conf"
    smbcontrol -s "$dir/smb.conf" smbd debug 1 >/dev/null 2>&1 || true
    echo "$address"
}

cmd=${1:-}
shift || true
case $cmd in
up)
    (($# == 3 || $# == 4)) || die "usage: up NAME INDEX USER [SHARE]"
    check_name "$1"
    host_up "$@"
    ;;
path)
    (($# == 1)) || die "usage: path NAME"
    check_name "$1"
    [[ -d $state_root/$1/share ]] || die "no host $1"
    echo "$state_root/$1/share"
    ;;
down)
    (($# == 1)) || die "usage: down NAME"
    check_name "$1"
    host_down "$1"
    ;;
*)
    sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
