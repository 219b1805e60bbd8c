#!/usr/bin/python3
"""Check that the board tools ask their libraries only for what library_calls.txt lists.

Reads the undefined symbols of every object of the two tools with nm. A symbol that another of
those objects defines is the tools' own; every other one must be on the list. Anything of the C++
runtime is named as such, since the board has no C++ runtime that fits.

  library_calls_test.py --nm NM --objects tool_objects.txt --allowed library_calls.txt
"""
import argparse
import re
import subprocess
import sys

SYMBOL_LINE = re.compile(r"^\s*[0-9a-fA-F]*\s+(\w)\s+(.+)$")
CXX_RUNTIME = ("__cxa_", "__gxx_personality", "operator new", "operator delete", "std::", "typeinfo",
               "vtable for __cxxabiv1")


def symbols(nm, path, which):
    """The demangled names of the object's undefined or defined symbols."""
    lines = subprocess.run([nm, "--demangle", which, path], check=True, capture_output=True,
                           text=True).stdout.splitlines()
    return [m.group(2) for m in map(SYMBOL_LINE.match, lines) if m]


def allowed_names(path):
    names = set()
    with open(path) as f:
        for line in f:
            names.update(line.split("#", 1)[0].split())
    return names


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--nm", required=True)
    parser.add_argument("--objects", required=True)
    parser.add_argument("--allowed", required=True)
    args = parser.parse_args()
    with open(args.objects) as f:
        objects = [line.strip() for line in f if line.strip()]
    if len(objects) < 6:  # at least each tool's main and its libraries
        print("Error: too few tool objects in " + args.objects, file=sys.stderr)
        return 1
    allowed = allowed_names(args.allowed)
    defined = set()
    wanted = []
    for path in objects:
        defined.update(symbols(args.nm, path, "--defined-only"))
        wanted += [(name, path) for name in symbols(args.nm, path, "--undefined-only")]
    faults = 0
    for name, path in wanted:
        if name in defined or name in allowed:
            continue
        what = "the C++ runtime" if name.startswith(CXX_RUNTIME) else "a library outside library_calls.txt"
        print("%s asks %s for %s" % (path, what, name), file=sys.stderr)
        faults += 1
    print("%d objects, %d library names asked for, %d faults"
          % (len(objects), len({n for n, _ in wanted} - defined), faults))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
