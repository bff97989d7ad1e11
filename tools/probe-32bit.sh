#!/usr/bin/env bash
# How this machine runs 32-bit x86 programs: builds a tiny -m32 program and
# tries it. Prints one word on standard output:
#   native    the kernel runs it
#   emulated  the kernel refuses it, Debian's qemu-i386 (user mode) runs it
#   none      neither (or no -m32 compiler)
# and one sentence for people on standard error.
#
# JYN_32BIT=emulated makes a machine that runs 32-bit programs take the
# emulated path anyway, JYN_32BIT=none the path of a machine that runs none,
# so that every path can be tried anywhere.
set -uo pipefail

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf 'int main(void) { return sizeof(void *) == 4 ? 0 : 1; }\n' >"$dir/probe.c"

say() {
    echo "$1"
    echo "32-bit programs: $2" >&2
    exit 0
}

forced=${JYN_32BIT:-}
case $forced in
"" | native | emulated | none) ;;
*)
    echo "probe-32bit: JYN_32BIT must be native, emulated or none, not '$forced'" >&2
    exit 2
    ;;
esac

if ! gcc -m32 "$dir/probe.c" -o "$dir/probe" 2>"$dir/cc.log"; then
    say none "cannot be built here (gcc -m32: $(head -n 1 "$dir/cc.log"))"
fi
[ "$forced" = none ] && say none "not run (JYN_32BIT=none)"

if [ "$forced" != emulated ]; then
    if "$dir/probe" 2>"$dir/run.log"; then
        say native "run natively"
    fi
    refused="the kernel refuses them ($(tail -n 1 "$dir/run.log" | sed 's/.*: //'))"
else
    refused="taken to emulation by JYN_32BIT=emulated"
fi

if command -v qemu-i386 >/dev/null && qemu-i386 "$dir/probe" 2>/dev/null; then
    say emulated "$refused; they run under user-mode emulation (qemu-i386)"
fi
say none "$refused, and qemu-i386 cannot run them: they cannot run here at all"
