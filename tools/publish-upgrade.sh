#!/usr/bin/env bash
# Writes the upgrade information file for a new version and signs it with
# minisign, so that installed copies take the upgrade.
#
# Usage: tools/publish-upgrade.sh -s SECRET_KEY -v VERSION -u BASE_URL
#                                 [-m MESSAGE] [-o OUTPUT] [-e] FILE...
#   -s  the minisign secret key (minisign -G made it; its public key is the one
#       the program trusts: built in, or in Quilvane/upgrade-keys/ of a folder
#       of $XDG_CONFIG_DIRS)
#   -v  the new version, e.g. 2.0.7 (the signature's trusted comment is
#       "Quilvane 2.0.7", as the program requires)
#   -u  the address the files will be downloadable from, e.g.
#       https://downloads.example.org/quilvane (https, or http)
#   -m  the text shown in the question before the upgrade
#   -o  the information file to write (default: Quilvane.inf); its signature
#       goes beside it as OUTPUT.minisig
#   -e  the first file is a setup program to run (#method=1)
# Every FILE gets its "#url", "#sha256" and "#size" lines. Put the FILEs, the
# information file and its .minisig at the addresses named.
set -euo pipefail

usage() {
    sed -n '5,19p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

key="" version="" base="" message="" output="Quilvane.inf" method=""
while getopts "s:v:u:m:o:e" opt; do
    case $opt in
        s) key=$OPTARG ;;
        v) version=$OPTARG ;;
        u) base=${OPTARG%/} ;;
        m) message=$OPTARG ;;
        o) output=$OPTARG ;;
        e) method=1 ;;
        *) usage ;;
    esac
done
shift $((OPTIND - 1))
[[ -n $key && -n $version && -n $base && $# -gt 0 ]] || usage

command -v minisign >/dev/null || { echo "minisign is not installed (Debian package minisign)" >&2; exit 1; }
[[ -r $key ]] || { echo "cannot read the secret key $key" >&2; exit 1; }
[[ $version =~ ^[0-9A-Za-z.+-]+$ ]] || { echo "a version is digits and dots: $version" >&2; exit 1; }
case $base in
    https://*) ;;
    http://*) echo "warning: $base is plain http; the files are still checked by their SHA-256" >&2 ;;
    *) echo "the address must start with https:// or http://: $base" >&2; exit 1 ;;
esac
if [[ $message == *"}"* ]]; then
    echo "the message cannot hold a closing brace" >&2
    exit 1
fi

{
    printf '#version=%s\n' "$version"
    printf '#date=%s\n' "$(date +%m/%d/%Y)"
    [[ -n $method ]] && printf '#method=%s\n' "$method"
    [[ -n $message ]] && printf '#message={%s}\n' "$message"
    n=1
    for file in "$@"; do
        [[ -f $file ]] || { echo "no such file: $file" >&2; exit 1; }
        name=$(basename -- "$file")
        [[ $name =~ ^[A-Za-z0-9._+-]+$ ]] || { echo "use a plain file name: $name" >&2; exit 1; }
        printf '#url%d=%s/%s\n' "$n" "$base" "$name"
        printf '#sha256%d=%s\n' "$n" "$(sha256sum -- "$file" | cut -d' ' -f1)"
        printf '#size%d=%s\n' "$n" "$(stat -c %s -- "$file")"
        n=$((n + 1))
    done
} > "$output.part"
mv -- "$output.part" "$output"

minisign -S -s "$key" -m "$output" -x "$output.minisig" -t "Quilvane $version" \
    -c "Quilvane $version upgrade information"
echo "wrote $output and $output.minisig" >&2
