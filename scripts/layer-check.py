#!/usr/bin/env python3
"""Refuses an #include that runs up a layer; changes nothing.

  scripts/layer-check.py [ROOT]      (ROOT: the source tree, default the one this script is in)

Every library gets the tree's root as its include folder, so the compiler would
take an upward include silently. A folder may include its own headers and those
of the folders LAYERS gives it; tests/ and bench/ may include anything. Prints
one line for each include that breaks this and exits 1; exits 0 when there is none.
"""
import os
import re
import sys

PLATFORM = ["platform/kernel", "platform/msg", "platform/registry", "platform/net",
            "platform/gdi", "platform/display", "platform/shell"]
FRAMEWORK = PLATFORM + ["framework", "framework/db"]
SUBSYSTEMS = FRAMEWORK + ["shared", "sockets", "components"]

# What each folder may include besides its own headers. The database side and
# the local client program stand outside the system: they see the platform and
# the shared channel names only (the database side is a client of the channel).
LAYERS = {
    "platform/kernel": [],
    "platform/msg": ["platform/kernel"],
    "platform/registry": ["platform/kernel"],
    "platform/net": ["platform/kernel", "platform/msg"],
    "platform/gdi": ["platform/kernel", "platform/msg"],
    "platform/display": ["platform/kernel", "platform/msg", "platform/gdi"],
    "platform/shell": ["platform/kernel", "platform/msg", "platform/registry", "platform/gdi",
                       "platform/display"],
    "framework": PLATFORM,  # the database components (framework/db) stand on it, not it on them
    "framework/db": PLATFORM + ["framework"],
    "shared": FRAMEWORK,
    "sockets": FRAMEWORK + ["shared"],
    "components": FRAMEWORK,
    "server": SUBSYSTEMS,
    "gateway": SUBSYSTEMS,
    "demo": SUBSYSTEMS,
    "clients": PLATFORM + ["shared"],
    "dbside": PLATFORM + ["shared", "clients"],
}
ANYTHING = ("tests", "bench")
SOURCES = (".cpp", ".cc", ".h", ".hpp", ".inc")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')


def folder_of(path):
    """The table's folder a path (relative to the root) lies in, or None."""
    best = None
    for f in list(LAYERS) + list(ANYTHING):
        if (path + "/").startswith(f + "/") and (best is None or len(f) > len(best)):
            best = f
    return best


def describe(folders):
    if all(p in folders for p in PLATFORM):
        folders = ["platform/*"] + [f for f in folders if f not in PLATFORM]
    return ", ".join(folders) or "nothing else"


def resolve(root, includer, quote, name):
    """The tree's file an include names (relative to the root), or None for a system header."""
    places = [os.path.dirname(includer), ""] if quote == '"' else [""]
    for place in places:
        path = os.path.normpath(os.path.join(place, name))
        if not path.startswith("..") and os.path.isfile(os.path.join(root, path)):
            return path.replace(os.sep, "/")
    return None


def source_files(root):
    def build_tree(d):
        return os.path.isfile(os.path.join(d, "CMakeCache.txt"))
    for top in sorted(os.listdir(root)):
        if top in ANYTHING or top.startswith(".") or build_tree(os.path.join(root, top)):
            continue
        for d, dirs, files in os.walk(os.path.join(root, top)):
            dirs[:] = sorted(x for x in dirs if not build_tree(os.path.join(d, x)))
            for f in sorted(files):
                if f.endswith(SOURCES):
                    yield os.path.relpath(os.path.join(d, f), root).replace(os.sep, "/")


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                           os.path.join(os.path.dirname(__file__), ".."))
    faults = []
    for src in source_files(root):
        own = folder_of(src)
        if own is None:
            faults.append(f"{src}: its folder is in no layer; give it a row in scripts/layer-check.py")
            continue
        with open(os.path.join(root, src), encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                target = m and resolve(root, src, m.group(1), m.group(2))
                if not target:
                    continue
                theirs = folder_of(target)
                if theirs != own and theirs not in LAYERS[own]:
                    allowed = describe(LAYERS[own])
                    faults.append(f"{src}:{number}: includes {target}, which runs up a layer "
                                  f"({own} may include {allowed})")
    for fault in faults:
        print("layer-check: " + fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
