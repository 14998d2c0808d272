#!/usr/bin/env python3
"""Fails when a source includes a header of a folder above its own.

Usage: check_includes.py [root]   (root defaults to the repository)

Each folder may include its own headers and those of the folders below it
(the order CMakeLists.txt links the layer libraries in). Tests (*_test.*,
*_test_*) may include anything; tests/ and bench/ are not checked. The fuzz
targets and the fault campaign sit on top, beside app/. Every
offending include is printed as file:line: include.
"""
import pathlib
import re
import sys

# Each folder and the folders right below it.
BELOW = {
    "platform": [],
    "runtime": ["platform"],
    "link": ["runtime"],
    "unit": ["link"],
    "images": [],
    "flash": ["unit", "images"],
    "files": ["unit"],
    "update": ["flash", "files", "images"],
    "app": ["update"],
    "sim": ["platform"],
    "fuzz": ["update", "sim"],
    "campaign": ["app", "sim"],
}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
TEST_NAME = re.compile(r"_test[._]")


def allowed(folder):
    """The folder itself and every folder below it, however far down."""
    found, todo = {folder}, list(BELOW[folder])
    while todo:
        below = todo.pop()
        if below not in found:
            found.add(below)
            todo.extend(BELOW[below])
    return found


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent)
    bad = checked = 0
    for folder in BELOW:
        may = allowed(folder)
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in (".cpp", ".h") or TEST_NAME.search(path.name):
                continue
            checked += 1
            lines = path.read_text(encoding="utf-8", errors="replace").splitlines()
            for number, line in enumerate(lines, 1):
                match = INCLUDE.match(line)
                if match and "/" in match[1] and match[1].split("/")[0] not in may:
                    print(f"{path.relative_to(root).as_posix()}:{number}: {line.strip()}")
                    bad += 1
    if bad:
        print(f"{bad} include(s) reach a folder above or beside their own")
        return 1
    print(f"{checked} sources include only their own folder and those below it")
    return 0


if __name__ == "__main__":
    sys.exit(main())
