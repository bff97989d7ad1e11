#!/usr/bin/env bash
# Builds the release packages with cpack and checks what a user gets:
#
#   tools/check-packages.sh [LINUX-BUILD [MINGW-BUILD]]
#       (default build/linux and build/mingw-i686, both configured and built)
#
# the .deb from the Linux build and the zip from the mingw-i686 build, each
# against a list of its files written here by hand; the .deb unpacked into a
# scratch root and its jynmb run from there with no path set; lintian; the
# version records of the Windows files and the SHA256SUMS of the zip. The
# version everything must carry is read from project() in CMakeLists.txt.
#
# One line per check ("ok" or "FAIL" and the reason), then as the last line
# "check-packages: N checks passed, M failed". Exit code 0 only if all passed.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 2
root=$PWD
linux_build=$(realpath -m "${1:-build/linux}")
mingw_build=$(realpath -m "${2:-build/mingw-i686}")

# cpack builds whatever is out of date first, through cmake --build.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}

version=$(sed -n 's/^project(JYNMB VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
arch=$(dpkg --print-architecture)
deb=$linux_build/packages/jynmb_${version}_${arch}.deb
ddeb=$linux_build/packages/jynmb-dbgsym_${version}_${arch}.ddeb
zip=$mingw_build/packages/jynmb-${version}-win32.zip

scratch=$(realpath "$(mktemp -d -t jynmb-packages.XXXXXX)")
trap 'rm -rf "$scratch"' EXIT
passed=0
failed=0
why=""

# check NAME FUNCTION [show]: runs FUNCTION, which returns non-zero and sets
# `why` when the check fails. Its output is shown when it fails, or always
# with "show".
check() {
    local name=$1
    why=""
    if "$2" >"$scratch/check.log" 2>&1; then
        passed=$((passed + 1))
        echo "ok    $name"
        if [ "${3:-}" = show ]; then sed 's/^/      /' "$scratch/check.log"; fi
    else
        failed=$((failed + 1))
        echo "FAIL  $name: ${why:-see below}"
        sed 's/^/      /' "$scratch/check.log"
    fi
}

# What each package must hold, and nothing more. Directories are not listed.
expected_deb() {
    cat <<EOF
./usr/bin/jynmb -> ../lib/jynmb/jynmb
./usr/lib/jynmb/jynmb
./usr/lib/jynmb/libRAVEVUD.so
./usr/lib/jynmb/libTAVORN.so
./usr/share/doc/jynmb/CHANGELOG.md
./usr/share/doc/jynmb/README.md
./usr/share/doc/jynmb/changelog.gz
./usr/share/doc/jynmb/copyright
./usr/share/doc/jynmb/user-guide.md
./usr/share/man/man1/jynmb.1.gz
EOF
}

expected_zip() {
    cat <<EOF
RAVEVUD.dll
SHA256SUMS
docs/CHANGELOG.md
docs/user-guide.html
docs/windows.html
tools/README.txt
tools/TAVORN.dll
tools/jynmb.exe
EOF
}

# Files of the expected list (stdin) that are missing from the actual list
# ($1) or there without being expected.
differs() {
    diff <(sort) <(sort "$1") >"$scratch/diff" && return 0
    why="the contents differ from the expected list (< missing, > not expected)"
    cat "$scratch/diff"
    return 1
}

build_deb() {
    rm -f "$deb" "$ddeb"
    (cd "$linux_build" && timeout 1800 cpack -G DEB) || { why="cpack failed"; return 1; }
    [ -f "$deb" ] || { why="no $deb"; return 1; }
    [ -f "$ddeb" ] || { why="no $ddeb"; return 1; }
}

deb_contents() {
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' \
        >"$scratch/deb.list" || { why="dpkg-deb -c failed"; return 1; }
    expected_deb | differs "$scratch/deb.list"
}

deb_control() {
    local field want got
    dpkg-deb -f "$deb" >"$scratch/control" || { why="dpkg-deb -f failed"; return 1; }
    cat "$scratch/control"
    for field in "Package=jynmb" "Version=$version" "Architecture=$arch"; do
        want=${field#*=}
        got=$(dpkg-deb -f "$deb" "${field%%=*}")
        [ "$got" = "$want" ] || { why="${field%%=*} is '$got', not '$want'"; return 1; }
    done
    # Computed by dpkg-shlibdeps from what the files link, so never empty.
    dpkg-deb -f "$deb" Depends | grep -q 'libc6 (>=' || { why="Depends lacks libc6"; return 1; }
}

# The package's ELF files have no symbol table left; the dbgsym package
# holds the debug information of each, by build id.
deb_stripped() {
    local file
    dpkg-deb -x "$deb" "$scratch/deb-root" || { why="dpkg-deb -x failed"; return 1; }
    for file in jynmb libRAVEVUD.so libTAVORN.so; do
        if readelf -S "$scratch/deb-root/usr/lib/jynmb/$file" | grep -qE '\.symtab|\.debug_info'; then
            why="$file is not stripped"
            return 1
        fi
    done
    dpkg-deb -c "$ddeb" | grep -c '/usr/lib/debug/.build-id/.*\.debug$' >"$scratch/count"
    [ "$(cat "$scratch/count")" -eq 3 ] || {
        why="the dbgsym package holds $(cat "$scratch/count") debug files, not 3"
        return 1
    }
}

# The unpacked package as a user has it: the command on the PATH finds the
# driver and TAVORN through its own location alone.
deb_runs() {
    local bin=$scratch/deb-root/usr/bin/jynmb got
    [ -x "$bin" ] || dpkg-deb -x "$deb" "$scratch/deb-root" || { why="dpkg-deb -x failed"; return 1; }
    got=$(cd "$scratch" && env -u LD_LIBRARY_PATH timeout 60 "$bin" --version 2>&1)
    echo "$got"
    [ "$got" = "jynmb $version" ] || { why="jynmb --version says '$got', not 'jynmb $version'"; return 1; }
    (cd "$scratch" && env -u LD_LIBRARY_PATH timeout 60 "$bin" info) >"$scratch/info" 2>&1 ||
        { why="jynmb info failed"; cat "$scratch/info"; return 1; }
    cat "$scratch/info"
    grep -qx "driver  *$scratch/deb-root/usr/lib/jynmb/libRAVEVUD.so" "$scratch/info" ||
        { why="jynmb info did not load the packaged driver"; return 1; }
    (cd "$scratch" && env -u LD_LIBRARY_PATH timeout 120 "$bin" demo) >"$scratch/demo" 2>&1 ||
        { why="jynmb demo failed"; cat "$scratch/demo"; return 1; }
    tail -3 "$scratch/demo"
}

deb_lintian() {
    timeout 300 lintian --fail-on error --display-info "$deb" || { why="lintian reported errors"; return 1; }
}

# cmake --install to a prefix of its own lays out the same files.
install_prefix() {
    timeout 300 cmake --install "$linux_build" --prefix "$scratch/prefix" >/dev/null ||
        { why="cmake --install failed"; return 1; }
    (cd "$scratch/prefix" && find . ! -type d -printf '%p\t%l\n') |
        awk -F '\t' '{ print $2 == "" ? $1 : $1 " -> " $2 }' >"$scratch/prefix.list"
    expected_deb | sed 's|^\./usr/|./|' | differs "$scratch/prefix.list" || return 1
    env -u LD_LIBRARY_PATH timeout 60 "$scratch/prefix/bin/jynmb" info >/dev/null 2>&1 ||
        { why="the installed jynmb info failed"; return 1; }
}

build_zip() {
    rm -f "$zip"
    (cd "$mingw_build" && timeout 1800 cpack -G ZIP) || { why="cpack failed"; return 1; }
    [ -f "$zip" ] || { why="no $zip"; return 1; }
}

zip_contents() {
    unzip -Z1 "$zip" | grep -v '/$' >"$scratch/zip.list" || { why="unzip -Z1 failed"; return 1; }
    expected_zip | differs "$scratch/zip.list"
}

# SHA256SUMS names every other file of the zip, with its right sum.
zip_sums() {
    mkdir -p "$scratch/zip"
    unzip -oq "$zip" -d "$scratch/zip" || { why="unzip failed"; return 1; }
    (cd "$scratch/zip" && sha256sum --strict -c SHA256SUMS) || { why="a sum is wrong"; return 1; }
    awk '{ print $2 }' "$scratch/zip/SHA256SUMS" | sed 's/^\*//' >"$scratch/sums.list"
    expected_zip | grep -vx SHA256SUMS | differs "$scratch/sums.list"
}

# Each Windows file says its own name and the project's version, in the
# fixed record and in the strings the Properties dialogue shows.
zip_versions() {
    local file name major minor patch tweak record
    [ -d "$scratch/zip" ] || zip_sums >/dev/null || return 1
    IFS=. read -r major minor patch tweak <<<"$version"
    record=${major:-0}.${minor:-0}.${patch:-0}.${tweak:-0}
    for file in RAVEVUD.dll tools/jynmb.exe tools/TAVORN.dll; do
        name=${file#tools/}
        python3 "$root/tools/versioninfo.py" "$scratch/zip/$file" >"$scratch/version" ||
            { why="$file has no readable version record"; return 1; }
        echo "== $file"
        cat "$scratch/version"
        for want in "FileVersion-fixed $record" "ProductVersion-fixed $record" \
            "FileVersion $version" "ProductVersion $version" "OriginalFilename $name"; do
            grep -qxF "$want" "$scratch/version" || { why="$file lacks '$want'"; return 1; }
        done
        grep -q '^FileDescription ..' "$scratch/version" || { why="$file has no description"; return 1; }
    done
}

# Stripped, with a debug link to the symbols kept beside the build's file.
zip_stripped() {
    local file built
    [ -d "$scratch/zip" ] || zip_sums >/dev/null || return 1
    for file in RAVEVUD.dll tools/jynmb.exe tools/TAVORN.dll; do
        built=$mingw_build/bin/${file#tools/}
        i686-w64-mingw32-objdump -h "$scratch/zip/$file" >"$scratch/sections"
        if grep -q ' \.debug_' "$scratch/sections" || ! grep -q '\.gnu_debuglink' "$scratch/sections"; then
            why="$file is not stripped or has no debug link"
            return 1
        fi
        [ -s "$built.debug" ] || { why="no $built.debug"; return 1; }
        ls -l "$scratch/zip/$file" "$built" "$built.debug"
        [ "$(stat -c %s "$scratch/zip/$file")" -lt "$(stat -c %s "$built")" ] ||
            { why="$file is no smaller than the built one"; return 1; }
    done
}

echo "check-packages: version $version; $linux_build, $mingw_build"
check "deb: cpack builds it and its dbgsym" build_deb
if [ -f "$deb" ]; then
    check "deb: files" deb_contents
    check "deb: control fields, dependencies computed" deb_control
    check "deb: stripped, symbols in jynmb-dbgsym" deb_stripped
    check "deb: jynmb --version, info and demo run from the unpacked package" deb_runs show
    check "deb: lintian finds no errors" deb_lintian show
fi
check "cmake --install: the same files under a prefix" install_prefix
check "zip: cpack builds it" build_zip
if [ -f "$zip" ]; then
    check "zip: files" zip_contents
    check "zip: SHA256SUMS" zip_sums
    check "zip: version records" zip_versions show
    check "zip: stripped, with debug links" zip_stripped
fi
echo "check-packages: $passed checks passed, $failed failed"
[ "$failed" -eq 0 ]
