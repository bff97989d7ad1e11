#!/usr/bin/env bash
# Checks the export and import tables of the files a host machine gets:
# RAVEVUD.dll exports JynMain alone, by its plain name, and imports err by name
# from TAVORN.dll; none of the three needs a DLL of the compiler's runtime.
#   check-dll-tables.sh OBJDUMP BIN_DIR
set -euo pipefail

objdump=$1
bin=$2
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Export names of a DLL, one a line.
exports_of() {
    "$objdump" -p "$1" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p'
}

# "DLL function" lines: every function imported, with the DLL it comes from.
imports_of() {
    "$objdump" -p "$1" | awk '
        /^[[:space:]]*DLL Name:/ { dll = $3; next }
        /^[[:space:]]*$/ { next }
        dll != "" && /^[[:space:]]+[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+[^[:space:]]+$/ { print dll, $3 }
        /^The Export Tables/ || /^PE File Base Relocations/ { dll = "" }'
}

# System DLLs a host machine always has; anything else must be ours.
readonly system_dlls='^(KERNEL32|msvcrt|USER32|ADVAPI32|ntdll)\.dll$'

check_dlls() {
    local file=$1 allowed=$2 dll
    for dll in $(imports_of "$bin/$file" | cut -d' ' -f1 | sort -u); do
        if ! [[ $dll =~ $system_dlls ]] && ! [[ $dll =~ $allowed ]]; then
            fail "$file imports from $dll"
        fi
    done
}

for file in RAVEVUD.dll TAVORN.dll jynmb.exe; do
    [ -f "$bin/$file" ] || fail "$bin/$file is missing"
done
[ "$failures" -eq 0 ] || exit 1

# RAVEVUD.dll: one export, undecorated (no _JynMain, no JynMain@4).
got=$(exports_of "$bin/RAVEVUD.dll" | tr '\n' ' ')
[ "$got" = "JynMain " ] || fail "RAVEVUD.dll exports '$got', not 'JynMain' alone"

# RAVEVUD.dll from TAVORN.dll: err, by name.
got=$(imports_of "$bin/RAVEVUD.dll" | awk '$1 == "TAVORN.dll" { print $2 }' | tr '\n' ' ')
[ "$got" = "err " ] || fail "RAVEVUD.dll imports '$got' from TAVORN.dll, not 'err' alone"

# TAVORN.dll is the host's logging library: it exports err.
exports_of "$bin/TAVORN.dll" | grep -qx err || fail "TAVORN.dll does not export err"

check_dlls RAVEVUD.dll '^TAVORN\.dll$'
check_dlls TAVORN.dll '^$'
check_dlls jynmb.exe '^TAVORN\.dll$'

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "RAVEVUD.dll: exports JynMain, imports err from TAVORN.dll; no compiler runtime DLLs"
