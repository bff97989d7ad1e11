#!/usr/bin/env bash
# A small Debian unstable root with its wine, for the Windows tests on
# machines whose kernel runs no 32-bit programs. Unstable's wine (10.x) is
# built in WoW64 mode: it runs 32-bit Windows programs inside a 64-bit
# process and needs no i386 architecture, but it needs a newer C library
# than Debian 12 has, so it lives in a root of its own.
#
#   wine-root.sh make     make the root unless a complete one is there (as
#                         root; about 2 minutes and 1.6 GB); prints wine's version
#   wine-root.sh check    exit 0 if a complete root is there; prints wine's version
#   wine-root.sh run [--bind DIR]... -- COMMAND [ARGS...]
#                         runs COMMAND inside the root, in the current directory
#   wine-root.sh remove   removes the root
#
# JYN_WINE_ROOT   where the root is kept (default /var/cache/jynmb/wine-root)
# JYN_WINE_MIRROR the Debian mirror (default: the one apt's sources name)
#
# The root is entered in a private mount namespace (unshare --mount): /dev
# (with /dev/pts, where the tests' COM ports lead), /proc, the current
# directory and every --bind DIR appear inside at their own paths, and all
# of it goes away with the last process of the namespace. Nothing is
# registered with the kernel and nothing outside the root's folder changes.
#
# A root is made as ROOT.part and renamed only once wine has run in it, so a
# run that was interrupted leaves ROOT.part, which the next make removes.
set -euo pipefail

root=${JYN_WINE_ROOT:-/var/cache/jynmb/wine-root}
self=$(readlink -f "$0")
readonly suite=unstable
readonly packages=wine,wine64
# What the root was made from: a root made from other packages is remade.
readonly recipe="suite=$suite packages=$packages"
readonly ready_stamp=.jyn-wine-root
readonly recipe_stamp=.jyn-wine-root.recipe

say() { echo "wine-root: $*" >&2; }
die() {
    say "$*"
    exit 2
}

[[ $root == /* ]] && root=$(realpath -m -- "$root")
case $root in
/?*) ;;
*) die "JYN_WINE_ROOT must be an absolute path other than /, not '${JYN_WINE_ROOT:-}'" ;;
esac

# The folders wine's own programs (wineserver) are in, for PATH.
wine_path() {
    local path=/usr/local/bin:/usr/bin:/bin dir
    for dir in /usr/lib/x86_64-linux-gnu/wine /usr/lib/wine; do
        if [ -x "$root$dir/wineserver" ]; then path=$path:$dir; fi
    done
    echo "$path"
}

# inside CWD BIND... -- COMMAND...: in the new mount namespace, binds what
# the command needs into the root and runs it there in CWD.
inside() {
    local cwd=$1 dir
    local -a binds=()
    shift
    while [ "$1" != -- ]; do
        binds+=("$1")
        shift
    done
    shift
    mount --rbind /dev "$root/dev"
    mount --rbind /proc "$root/proc"
    for dir in "${binds[@]}"; do
        mkdir -p "$root$dir"
        mount --rbind "$dir" "$root$dir"
    done
    local chroot
    chroot=$(command -v chroot)
    # shellcheck disable=SC2016 # expanded by the shell inside the root
    PATH=$(wine_path) exec "$chroot" "$root" /bin/sh -c 'cd -- "$1" || exit 2; shift; exec "$@"' \
        wine-root "$cwd" "$@"
}

# The folders to bind, each once: a folder inside another one on the list
# comes along with it.
bind_list() {
    local dir other keep
    printf '%s\n' "$@" | sort -u | while IFS= read -r dir; do
        keep=yes
        for other in "$@"; do
            if [ "$other" != "$dir" ] && [[ $dir == "$other"/* ]]; then keep=no; fi
        done
        if [ "$keep" = yes ]; then echo "$dir"; fi
    done
}

run() {
    local cwd
    cwd=$(pwd -P)
    local -a dirs=("$cwd")
    while [ $# -gt 0 ] && [ "$1" != -- ]; do
        if [ "$1" != --bind ] || [ $# -lt 2 ]; then
            die "usage: wine-root.sh run [--bind DIR]... -- COMMAND [ARGS...]"
        fi
        [ -d "$2" ] || die "no folder $2 to bind"
        dirs+=("$(cd "$2" && pwd -P)")
        shift 2
    done
    [ $# -ge 2 ] || die "usage: wine-root.sh run [--bind DIR]... -- COMMAND [ARGS...]"
    shift
    [ -f "$root/$ready_stamp" ] || die "no wine root at $root (tools/wine-root.sh make makes it)"
    local -a binds
    mapfile -t binds < <(bind_list "${dirs[@]}")
    # One process from here to the command (unshare and chroot exec), so a
    # signal to this script reaches wine itself.
    exec unshare --mount --propagation private -- "$self" --inside "$cwd" "${binds[@]}" -- "$@"
}

# The version wine gives inside ROOT, or nothing when it does not start.
wine_version() {
    JYN_WINE_ROOT=$1 timeout 60 unshare --mount --propagation private -- \
        "$self" --inside / -- wine --version 2>/dev/null </dev/null || true
}

# remove_tree DIR: removes DIR, but never through a mount: an interrupted
# install could have left /proc or /dev mounted inside it.
remove_tree() {
    [ -e "$1" ] || return 0
    if awk -v d="$1" '$5 == d || index($5, d "/") == 1 { found = 1 } END { exit !found }' /proc/self/mountinfo; then
        die "$1 has something mounted inside; unmount it first (findmnt -R $1)"
    fi
    rm -rf --one-file-system -- "$1"
}

# The Debian mirror apt uses for this release, from its sources.
apt_mirror() {
    local codename files=()
    # shellcheck disable=SC1091
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
    shopt -s nullglob
    files=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list)
    [ -f /etc/apt/sources.list ] || files=("${files[@]:1}")
    {
        awk -v suite="$codename" '$1 == "deb" {
            i = 2
            if ($i ~ /^\[/) { while (i < NF && $i !~ /\]$/) i++; i++ }
            if ($(i + 1) == suite) print $i
        }' "${files[@]}" /dev/null
        awk -v suite="$codename" 'BEGIN { RS = "" } {
            uri = ""; deb = 0; found = 0
            n = split($0, lines, "\n")
            for (l = 1; l <= n; l++) {
                m = split(lines[l], w, /[ \t]+/)
                if (w[1] == "Types:") for (j = 2; j <= m; j++) if (w[j] == "deb") deb = 1
                if (w[1] == "URIs:") uri = w[2]
                if (w[1] == "Suites:") for (j = 2; j <= m; j++) if (w[j] == suite) found = 1
            }
            if (deb && found && uri != "") print uri
        }' /etc/apt/sources.list.d/*.sources /dev/null
    } | head -n 1
}

make_root() {
    local mirror version
    [ "$(id -u)" -eq 0 ] || die "run as root (mmdebstrap and unshare need it)"
    command -v mmdebstrap >/dev/null || die "mmdebstrap is missing (tools/install-deps.sh --wine-root installs it)"
    if [ -f "$root/$ready_stamp" ] && [ "$(cat "$root/$recipe_stamp" 2>/dev/null)" = "$recipe" ]; then
        version=$(wine_version "$root")
        if [ -n "$version" ]; then
            say "using the root in $root"
            echo "$version"
            return 0
        fi
        say "wine no longer starts in $root: making it anew"
    fi
    if [ -e "$root" ] && ! [ -f "$root/$recipe_stamp" ]; then
        die "$root is there but was not made by this script; remove it or set JYN_WINE_ROOT"
    fi
    remove_tree "$root.part"
    mirror=${JYN_WINE_MIRROR:-$(apt_mirror)}
    mirror=${mirror:-http://deb.debian.org/debian}
    say "making $root from $suite at $mirror (about 2 minutes, 1.6 GB)"
    # In a namespace of its own, so that no mount it makes can outlive it.
    # The mirror's Release files may be older than their Valid-Until.
    unshare --mount --propagation private -- mmdebstrap --quiet --variant=apt \
        --include="$packages" --aptopt='Acquire::Check-Valid-Until "false"' \
        "$suite" "$root.part" "$mirror" >&2 || die "mmdebstrap failed; nothing was kept"
    echo "$recipe" >"$root.part/$recipe_stamp"
    version=$(wine_version "$root.part")
    [ -n "$version" ] || die "wine does not start in $root.part; it is removed by the next make"
    echo "$version" >"$root.part/$ready_stamp"
    remove_tree "$root"
    mv "$root.part" "$root"
    say "made $root"
    echo "$version"
}

case ${1:-} in
make)
    mkdir -p "$(dirname "$root")"
    exec 9>"$root.lock"
    flock -w 900 9 || die "no lock on $root.lock"
    make_root
    ;;
check)
    if ! [ -f "$root/$ready_stamp" ] || [ "$(cat "$root/$recipe_stamp")" != "$recipe" ]; then
        die "no wine root at $root (tools/wine-root.sh make makes it)"
    fi
    cat "$root/$ready_stamp"
    ;;
run)
    shift
    run "$@"
    ;;
--inside)
    shift
    inside "$@"
    ;;
remove)
    mkdir -p "$(dirname "$root")"
    exec 9>"$root.lock"
    flock -w 900 9 || die "no lock on $root.lock"
    if [ -e "$root" ] && ! [ -f "$root/$recipe_stamp" ]; then
        die "$root was not made by this script; it is left alone"
    fi
    remove_tree "$root.part"
    remove_tree "$root"
    rm -f "$root.lock"
    ;;
*)
    die "usage: wine-root.sh make | check | run [--bind DIR]... -- COMMAND [ARGS...] | remove"
    ;;
esac
