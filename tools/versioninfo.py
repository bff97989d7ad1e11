#!/usr/bin/env python3
"""Prints the version record of a Windows file, as Windows reads it.

    versioninfo.py FILE.dll|FILE.exe

wrestool (icoutils) takes the VERSIONINFO resource out of the file; this
walks its tree and prints, one per line, "FileVersion-fixed A.B.C.D" and
"ProductVersion-fixed A.B.C.D" from VS_FIXEDFILEINFO, then every string of
StringFileInfo as "NAME VALUE". Exit code 1 when the file has no version
record or the record is malformed.
"""
import struct
import subprocess
import sys

FIXED_SIGNATURE = 0xFEEF04BD


def align4(offset):
    return (offset + 3) & ~3


def parse_node(blob, start):
    """One node of the tree: (key, value, children, end offset)."""
    length, value_length, kind = struct.unpack_from("<HHH", blob, start)
    end = start + length
    if length < 6 or end > len(blob):
        raise ValueError(f"node at {start} of length {length} runs past the record")
    key_end = blob.index(b"\0\0", start + 6)
    while (key_end - start) % 2:
        key_end = blob.index(b"\0\0", key_end + 1)
    key = blob[start + 6:key_end].decode("utf-16-le")
    offset = align4(key_end + 2)
    size = value_length * 2 if kind == 1 else value_length
    value = blob[offset:offset + size]
    offset = align4(offset + size)
    children = []
    while offset < end:
        child = parse_node(blob, offset)
        children.append(child)
        offset = align4(child[3])
    return key, value, children, end


def text(value):
    return value.decode("utf-16-le").rstrip("\0")


def version(ms, ls):
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    blob = subprocess.run(["wrestool", "-x", "--raw", "--type=16", argv[1]],
                          check=True, capture_output=True).stdout
    if not blob:
        print(f"{argv[1]}: no version record", file=sys.stderr)
        return 1
    try:
        key, fixed, children, _ = parse_node(blob, 0)
        if key != "VS_VERSION_INFO" or len(fixed) < 52:
            raise ValueError(f"root is '{key}' with {len(fixed)} bytes of fixed information")
        fields = struct.unpack_from("<13I", fixed)
        if fields[0] != FIXED_SIGNATURE:
            raise ValueError(f"VS_FIXEDFILEINFO signature {fields[0]:#x}")
        print("FileVersion-fixed", version(fields[2], fields[3]))
        print("ProductVersion-fixed", version(fields[4], fields[5]))
        for block in children:
            if block[0] != "StringFileInfo":
                continue
            for table in block[2]:
                for name, value, _, _ in table[2]:
                    print(name, text(value))
    except (ValueError, struct.error) as error:
        print(f"{argv[1]}: malformed version record: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
