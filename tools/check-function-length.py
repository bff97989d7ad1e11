#!/usr/bin/env python3
"""Lists every function body longer than a limit in the driver's layers.

A function is taken to begin at a line that opens a brace at the end of a
signature (not a namespace, class, struct, enum or initializer list) and to
end where that brace closes; lines are counted from the signature's first
line to the closing brace. Usage: check-function-length.py [LIMIT] [DIR...]
(defaults: 50; driver protocol serial). Exits 1 when any function is longer.
"""
import os
import re
import sys

OPENERS = re.compile(r'^\s*(namespace|class|struct|enum|union|extern "C")\b')


def strip(line):
    line = re.sub(r'"(\\.|[^"\\])*"', '""', line)
    line = re.sub(r"'(\\.|[^'\\])*'", "''", line)
    return line.split('//')[0]


def functions(path):
    with open(path, encoding='utf-8') as handle:
        lines = handle.readlines()
    found = []
    depth = 0
    stack = []  # (depth at open, start line, name or None)
    for number, raw in enumerate(lines, 1):
        line = strip(raw)
        for ch in line:
            if ch == '{':
                start, name = number, None
                if not stack or stack[-1][2] is None:
                    head = signature(lines, number)
                    if head:
                        start, name = head
                stack.append((depth, start, name))
                depth += 1
            elif ch == '}':
                depth -= 1
                if stack:
                    _, start, name = stack.pop()
                    if name:
                        found.append((name, start, number - start + 1))
    return found


def signature(lines, number):
    """The function whose body opens on line `number`, with its first line."""
    text = strip(lines[number - 1])
    before = text[:text.rfind('{')]
    start = number
    # A signature may span lines: walk back to the line that opens its
    # parameter list, never past the end of an earlier statement or block.
    while '(' not in before and start > 1:
        previous = strip(lines[start - 2])
        if re.search(r'[;{}]\s*$|^\s*$|^\s*#', previous):
            break
        start -= 1
        before = previous + before
    if OPENERS.match(before) or '=' in before.split('(')[0] or '(' not in before:
        return None
    match = re.search(r'([~\w:]+)\s*\(', before)
    if not match or match.group(1) in ('if', 'for', 'while', 'switch', 'catch', 'return'):
        return None
    return start, match.group(1)


def main():
    limit = int(sys.argv[1]) if len(sys.argv) > 1 else 50
    roots = sys.argv[2:] or ['driver', 'protocol', 'serial']
    longest = []
    over = 0
    for root in roots:
        for folder, _, names in os.walk(root):
            for name in sorted(names):
                if not name.endswith(('.cpp', '.h')):
                    continue
                path = os.path.join(folder, name)
                for function, start, length in functions(path):
                    longest.append((length, path, start, function))
                    if length > limit:
                        over += 1
                        print(f'{path}:{start}: {function} has {length} lines (limit {limit})')
    longest.sort(reverse=True)
    print(f'{len(longest)} functions; longest:')
    for length, path, start, function in longest[:5]:
        print(f'  {length:3} {path}:{start} {function}')
    return 1 if over else 0


if __name__ == '__main__':
    sys.exit(main())
