#!/usr/bin/env python3
"""Fails when a source file includes a folder on a higher floor than its own,
or another folder of its own floor: every library links only downward."""
import pathlib
import re
import sys

FLOORS = {
    "platform": 1,
    "common": 2,
    "storage": 3,
    "engine": 4, "config": 4, "rarpar": 4, "par2": 4,
    "application": 5,
    "shell": 6,
}

def main(src: pathlib.Path) -> int:
    include = re.compile(r'^\s*#\s*include\s+"([A-Za-z_]+)/[^"]+"', re.M)
    problems = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp") or not path.is_file():
            continue
        own = path.relative_to(src).parts[0]
        if own not in FLOORS:
            problems.append(f"{path}: folder '{own}' has no floor")
            continue
        for m in include.finditer(path.read_text(encoding="utf-8")):
            other = m.group(1)
            if other == own:
                continue
            if other not in FLOORS:
                problems.append(f"{path}: includes unknown folder '{other}'")
            elif FLOORS[other] >= FLOORS[own]:
                problems.append(f"{path}: {own} (floor {FLOORS[own]}) includes {other} (floor {FLOORS[other]})")
    for p in problems:
        print(p)
    print(f"{len(problems)} include(s) against the floors")
    return 1 if problems else 0

if __name__ == "__main__":
    sys.exit(main(pathlib.Path(sys.argv[1])))
