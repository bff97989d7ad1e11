#!/usr/bin/env python3
"""Checks that every include points down the driver's layers.

    check-layers.py [ROOT]

The layers, bottom to top: interface (the host's records, the log seam),
serial, address, protocol, driver. A layer may include its own headers and
those of the layers below it that it uses. Outside the driver, jynmb and the
host client know the driver only by its public records and the line speeds
it takes (and jynmb also by the address parser and device table, the
driver's own code for what a gate text names, and the station file's names
and keywords); the
simulator, a second implementation of the protocol, knows nothing of it.
Tests, benchmarks, soaks, fuzzers and their harness (harness/) may include
anything.

Prints one line per include that breaks the rule, with the file, the line and
what the including folder may use, and exits 1 if there was any.
"""
import pathlib
import re
import sys

# folder -> the include prefixes it may use (a name ending in ".h" is a file,
# the others are folders).
ALLOWED = {
    "interface": ["interface/"],
    "serial": ["interface/", "serial/"],
    "address": ["interface/", "address/"],
    "protocol": ["interface/", "serial/", "address/", "protocol/"],
    "driver": ["interface/", "serial/", "address/", "protocol/", "driver/"],
    "host/tavorn": ["host/tavorn/"],
    "host/client": ["interface/host_abi.h", "interface/baud_rates.h", "host/"],
    "host/jynmb": ["interface/host_abi.h", "interface/trace.h", "interface/trace_record.h",
                   "interface/baud_rates.h", "interface/station_file_names.h", "address/",
                   "host/", "sim/"],
    "sim": ["sim/"],
}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def folder_of(path, root):
    relative = path.relative_to(root).as_posix()
    for folder in sorted(ALLOWED, key=len, reverse=True):
        if relative.startswith(folder + "/"):
            return folder
    return None


def project_include(target):
    """The project folder an include names, or None for a file beside the
    includer (a plain name, which the compiler finds next to it)."""
    return target.split("/", 1)[0] if "/" in target else None


def check(root):
    problems = []
    for path in sorted(root.rglob("*")):
        if path.suffix not in (".h", ".cpp") or "build" in path.relative_to(root).parts[:1]:
            continue
        folder = folder_of(path, root)
        if folder is None:
            continue
        allowed = ALLOWED[folder]
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = match.group(1)
            where = f"{path.relative_to(root)}:{number}"
            if ".." in target.split("/"):
                problems.append(f"{where}: '{target}' climbs out of its folder; name the layer")
                continue
            top = project_include(target)
            if top is None:
                continue
            if not any(target.startswith(rule) if rule.endswith("/") else target == rule
                       for rule in allowed):
                problems.append(
                    f"{where}: includes '{target}', but {folder}/ may include only "
                    + ", ".join(allowed))
    return problems


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    problems = check(root)
    for problem in problems:
        print(problem)
    if problems:
        print(f"check-layers: {len(problems)} include(s) point up or across the layers")
        return 1
    print("check-layers: every include points down the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
