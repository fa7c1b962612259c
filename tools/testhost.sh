#!/usr/bin/env bash
# Test hosts in network namespaces, for tests and demos that need a real peer.
#
#   tools/testhost.sh up NAME INDEX      namespace "qv-NAME" joined to this machine by a veth
#                                        pair: the host is 10.231.INDEX.2/24, our side
#                                        10.231.INDEX.1/24; prints the host's address.
#                                        The host answers pings.
#   tools/testhost.sh mode NAME answer|drop|reject
#                                        what the host does with echo requests: answer them,
#                                        drop them silently, or reject them with an ICMP
#                                        "host unreachable" (nftables inside the namespace).
#   tools/testhost.sh link NAME1 NAME2 INDEX
#                                        a direct veth link between two hosts made by "up":
#                                        NAME1 gets 10.231.INDEX.1/24, NAME2 10.231.INDEX.2/24
#                                        (prints it); for a client that runs inside a
#                                        namespace of its own. Goes away with either host.
#   tools/testhost.sh exec NAME CMD...   run a command inside the namespace.
#   tools/testhost.sh down NAME          remove the namespace and veth pair made for NAME.
#   tools/testhost.sh down-all           remove every host this script made.
#
# NAME: letters, digits, "_" or "-", at most 12 characters. INDEX: 1-254; each
# live host needs its own. Indices in use by the project's tests: ping 10-19.
# Needs root, iproute2 and nftables. Traffic only ever goes to these hosts.
set -euo pipefail

state_dir=/run/quilvane-testhost

die() {
    echo "testhost: $*" >&2
    exit 1
}

check_name() {
    [[ $1 =~ ^[A-Za-z0-9_-]{1,12}$ ]] || die "bad host name '$1'"
}

# The veth on our side carries the alias "qvtesthost:NAME" so it can be found
# again without the state file.
our_link() {
    ip -o link show 2>/dev/null | awk -v want="qvtesthost:$1" '
        { for (i = 1; i < NF; ++i) if ($i == "alias" && $(i + 1) == want) { sub(/@.*/, "", $2); sub(/:$/, "", $2); print $2 } }'
}

host_down() {
    local name=$1 link
    link=$(our_link "$name")
    # Deleting our end removes the pair at once; the namespace itself goes
    # away asynchronously, and the pair would otherwise linger with it.
    [[ -z $link ]] || ip link del "$link" 2>/dev/null || true
    if [[ -f $state_dir/$name ]]; then
        link=qvh$(<"$state_dir/$name")
        ip link del "$link" 2>/dev/null || true
    fi
    ip netns del "qv-$name" 2>/dev/null || true
    rm -f "$state_dir/$name"
}

host_up() {
    local name=$1 index=$2
    [[ $index =~ ^[0-9]+$ ]] && ((index >= 1 && index <= 254)) || die "bad index '$index'"
    local ns=qv-$name link=qvh$index
    host_down "$name"
    if ip -o addr show | grep -q " 10\.231\.$index\.1/"; then
        die "index $index is in use by another host"
    fi
    mkdir -p "$state_dir"
    echo "$index" >"$state_dir/$name"
    {
        ip netns add "$ns"
        ip link add "$link" type veth peer name eth0 netns "$ns"
        ip link set "$link" alias "qvtesthost:$name"
        # No IPv6 on the test link: its router and neighbour solicitations
        # would be ICMP noise the tests did not ask for.
        sysctl -qw "net.ipv6.conf.$link.disable_ipv6=1"
        ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1
        ip netns exec "$ns" sysctl -qw net.ipv6.conf.default.disable_ipv6=1
        # Rejections are ICMP errors, which the kernel rate-limits by default;
        # a test that asks twice in a second must get two answers.
        ip netns exec "$ns" sysctl -qw net.ipv4.icmp_ratelimit=0
        ip addr add "10.231.$index.1/24" dev "$link"
        ip link set "$link" up
        ip -n "$ns" addr add "10.231.$index.2/24" dev eth0
        ip -n "$ns" link set lo up
        ip -n "$ns" link set eth0 up
        ip -n "$ns" route add default via "10.231.$index.1"
    } || {
        host_down "$name"
        die "could not make host $name"
    }
    echo "10.231.$index.2"
}

host_link() {
    local a=qv-$1 b=qv-$2 index=$3
    [[ $index =~ ^[0-9]+$ ]] && ((index >= 1 && index <= 254)) || die "bad index '$index'"
    ip netns list | grep -q "^$a\b" || die "no host $1"
    ip netns list | grep -q "^$b\b" || die "no host $2"
    ip link add "qvl$index" netns "$a" type veth peer name "qvl$index" netns "$b" || die "could not link $1 and $2"
    ip -n "$a" addr add "10.231.$index.1/24" dev "qvl$index"
    ip -n "$b" addr add "10.231.$index.2/24" dev "qvl$index"
    ip -n "$a" link set "qvl$index" up
    ip -n "$b" link set "qvl$index" up
    echo "10.231.$index.2"
}

host_mode() {
    local name=$1 mode=$2 ns=qv-$1 rule
    ip netns list | grep -q "^$ns\b" || die "no host $name"
    case $mode in
    answer)
        rule=
        ip netns exec "$ns" sysctl -qw net.ipv4.icmp_echo_ignore_all=0
        ;;
    drop) rule="icmp type echo-request drop" ;;
    reject) rule="icmp type echo-request reject with icmp type host-unreachable" ;;
    *) die "bad mode '$mode'" ;;
    esac
    ip netns exec "$ns" nft -f - <<NFT
table ip qvtesthost
delete table ip qvtesthost
table ip qvtesthost {
    chain input {
        type filter hook input priority 0; policy accept;
        $rule
    }
}
NFT
}

cmd=${1:-}
shift || true
case $cmd in
up)
    (($# == 2)) || die "usage: up NAME INDEX"
    check_name "$1"
    host_up "$1" "$2"
    ;;
mode)
    (($# == 2)) || die "usage: mode NAME answer|drop|reject"
    check_name "$1"
    host_mode "$1" "$2"
    ;;
link)
    (($# == 3)) || die "usage: link NAME1 NAME2 INDEX"
    check_name "$1"
    check_name "$2"
    host_link "$1" "$2" "$3"
    ;;
exec)
    (($# >= 2)) || die "usage: exec NAME CMD..."
    check_name "$1"
    name=$1
    shift
    exec ip netns exec "qv-$name" "$@"
    ;;
down)
    (($# == 1)) || die "usage: down NAME"
    check_name "$1"
    host_down "$1"
    ;;
down-all)
    names=()
    if [[ -d $state_dir ]]; then
        for f in "$state_dir"/*; do
            [[ -f $f ]] && names+=("$(basename "$f")")
        done
    fi
    while read -r n; do
        [[ -n $n ]] && names+=("$n")
    done < <(ip -o link show 2>/dev/null | grep -o 'alias qvtesthost:[^ ]*' | sed 's/^alias qvtesthost://')
    for n in $(printf '%s\n' "${names[@]}" | sort -u); do
        host_down "$n"
    done
    ;;
*)
    sed -n '2,23p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
