#!/usr/bin/env python3
"""Checks every include of the source tree against the layering of its folders.

Each source file lives in a room (a subsystem folder, or the program on top). A file may
include its own room's headers and those of the rooms below it, as the table ROOMS says,
and nothing else of ours. WebKit is reached only through platform/web, and the plain C++
rooms include no GTK, GDK or X11 header.

Usage: check-layering.py [SOURCE_ROOT]   (default: the folder above this script)
Prints one line per wrong edge, naming the file, the line and the edge; exits 1 when there
is one (2 when the tree cannot be read as expected).
"""

import os
import re
import sys

PLATFORM = ["platform/com", "platform/glib", "platform/x11", "platform/gtk", "platform/web",
            "platform/media"]

# room -> the rooms it may include (besides itself). The program ("main", the files at the
# top of the tree), tests/bench/fuzz and the build tools of packaging/ may include anything.
ROOMS = {
    "platform/com": [],
    "platform/glib": [],
    "platform/x11": ["platform/com", "platform/glib"],
    "platform/gtk": ["platform/com", "platform/glib", "platform/x11"],
    "platform/web": ["platform/com", "platform/glib", "platform/gtk"],
    "platform/media": ["platform/com", "platform/glib", "platform/gtk"],
    "typelib": ["platform/com"],
    "archive": [],
    "res": ["platform/glib"],
    "markup": ["platform/com", "platform/glib", "typelib"],
    "media/pipeline": PLATFORM + ["typelib", "markup"],
    "media/player": ["media/pipeline", "archive"] + PLATFORM + ["typelib", "markup"],
    "script": ["media/player", "media/pipeline", "markup", "typelib"] + PLATFORM,
    "app": ["platform/com", "platform/glib", "typelib", "markup", "res"],
}
ROOMS["host"] = sorted(ROOMS)  # everything above, except the program
ANYTHING = {"main", "tests", "bench", "fuzz", "packaging"}

# Third-party headers that belong to one room: (pattern, rooms that may include them, why).
SYSTEM_RULES = [
    (re.compile(r"^(webkit2|webkit|jsc)/"), {"platform/web"},
     "WebKit is reached only through platform/web"),
    (re.compile(r"^(gtk|gdk|X11)/"),
     set(ROOMS) - {"platform/com", "platform/glib", "typelib", "archive", "res", "markup", "app"},
     "this room is plain C++ (no GTK, GDK or X11)"),
]

SOURCE_SUFFIXES = (".cpp", ".cc", ".c", ".h", ".hpp", ".inc")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')


def room_of(path):
    """The room of a source path relative to the root; None when no room holds it."""
    if "/" not in path:
        return "main"
    top = path.split("/", 1)[0]
    if top in ANYTHING:
        return top
    best = None
    for room in ROOMS:
        if path.startswith(room + "/") and (best is None or len(room) > len(best)):
            best = room
    return best


def source_files(root):
    for folder, dirs, files in os.walk(root):
        # Build folders and hidden folders hold no sources of ours.
        dirs[:] = [d for d in dirs
                   if not d.startswith(".")
                   and not os.path.exists(os.path.join(folder, d, "CMakeCache.txt"))]
        for name in files:
            if name.endswith(SOURCE_SUFFIXES):
                yield os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")


def resolve(root, including, target):
    """The root-relative path of a quoted include, or None when no such file exists."""
    for base in (root, os.path.join(root, os.path.dirname(including))):
        candidate = os.path.normpath(os.path.join(base, target))
        if os.path.isfile(candidate):
            return os.path.relpath(candidate, root).replace(os.sep, "/")
    return None


def check(root):
    problems = []
    for path in sorted(source_files(root)):
        room = room_of(path)
        if room is None:
            problems.append(f"{path}: the folder has no place in the layering "
                            f"(add its room to tools/check-layering.py)")
            continue
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            lines = f.readlines()
        for number, line in enumerate(lines, 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            kind, target = match.groups()
            where = f"{path}:{number}"
            if kind == "<":
                for pattern, rooms, why in SYSTEM_RULES:
                    if pattern.match(target) and room not in rooms | ANYTHING:
                        problems.append(f"{where}: {room} includes <{target}>: {why}")
                continue
            included = resolve(root, path, target)
            if included is None:
                problems.append(f'{where}: includes "{target}", which is no file of the tree')
                continue
            other = room_of(included)
            if other is None or other == room or room in ANYTHING:
                continue
            if other not in ROOMS.get(room, []):
                allowed = ", ".join(ROOMS[room]) or "nothing of ours"
                problems.append(f'{where}: {room} may not include "{included}" ({other}); '
                                f"{room} may include: {allowed}")
    return problems


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    root = os.path.abspath(root)
    if not os.path.isfile(os.path.join(root, "CMakeLists.txt")):
        print(f"check-layering: {root} is no source tree", file=sys.stderr)
        return 2
    problems = check(root)
    for problem in problems:
        print(problem)
    if problems:
        print(f"check-layering: {len(problems)} include(s) against the layering", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
