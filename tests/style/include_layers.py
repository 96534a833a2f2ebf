#!/usr/bin/env python3
"""Holds the tree to the map at the top of HACKING.md.

    include_layers.py SOURCE_DIR

Each row of the map names a folder and the folders whose headers it may include. Every
`#include "name"` of a file is resolved as the compiler would find it: beside the including
file first, then in the folders of the tree that hold a file of that name. A name found in the
including file's own folder, in the system or in a folder the map allows is fine; one found
only in a folder the map does not allow is reported. A file in a folder the map does not list
is reported too, so that the map stays whole.
"""
import os
import re
import sys

SOURCE_SUFFIXES = ('.h', '.hh', '.cpp', '.c', '.mm')
SKIPPED = {'build', '.git', 'examples', 'doc', 'scripts', 'cmake'}


def read_map(src):
    rows = {}
    in_map = False
    with open(os.path.join(src, 'HACKING.md'), encoding='utf-8') as f:
        for line in f:
            if line.startswith('## '):
                in_map = line.strip() == '## The map'
                continue
            if not in_map or not line.startswith('| `'):
                continue
            cells = [c.strip() for c in line.strip().strip('|').split('|')]
            folder = cells[0].strip('`').rstrip('/')
            allowed = cells[2]
            rows[folder] = None if allowed == 'anything' else set(re.findall(r'`([^`]+)`', allowed))
    return rows


def owner(path, folders):
    best = None
    for folder in folders:
        if path == folder or path.startswith(folder + '/'):
            if best is None or len(folder) > len(best):
                best = folder
    return best


def main():
    src = os.path.abspath(sys.argv[1])
    rows = read_map(src)
    if not rows:
        print('FAIL: HACKING.md has no map')
        return 1
    files = {}  # folder -> its source files, relative to src
    unlisted = []
    for root, dirs, names in os.walk(src):
        rel_root = os.path.relpath(root, src)
        dirs[:] = [d for d in dirs if not (rel_root == '.' and (d in SKIPPED or d.startswith(('build', '.'))))]
        for name in names:
            if not name.endswith(SOURCE_SUFFIXES):
                continue
            rel = os.path.normpath(os.path.join(rel_root, name))
            folder = owner(rel, rows)
            if folder is None:
                unlisted.append(rel)
            else:
                files.setdefault(folder, []).append(rel)
    by_name = {}
    for folder, paths in files.items():
        for rel in paths:
            parts = rel.split('/')
            for i in range(len(parts)):
                by_name.setdefault('/'.join(parts[i:]), set()).add(folder)
    failures = ['FAIL: %s is in no folder of the map in HACKING.md' % rel for rel in sorted(unlisted)]
    include = re.compile(r'\s*#\s*include\s*"([^"]+)"')
    for folder, paths in sorted(files.items()):
        allowed = rows[folder]
        if allowed is None:
            continue
        for rel in sorted(paths):
            with open(os.path.join(src, rel), encoding='utf-8', errors='replace') as f:
                names = [m.group(1) for m in map(include.match, f) if m]
            for name in names:
                beside = os.path.normpath(os.path.join(os.path.dirname(rel), name))
                if os.path.exists(os.path.join(src, beside)):
                    found = {owner(beside, rows)} - {None}
                else:
                    found = by_name.get(name, set())
                if not found or folder in found or found & allowed:
                    continue
                failures.append('FAIL: %s includes "%s" of %s, which the map does not allow %s'
                                % (rel, name, ' or '.join(sorted(found)), folder))
    for line in failures:
        print(line)
    if failures:
        return 1
    print('the includes keep the map: %d folders' % len(rows))
    return 0


if __name__ == '__main__':
    sys.exit(main())
