#!/usr/bin/env python3
"""Include-graph check of the layers listed in README.md ("Layout and layers").

Each row of the layer table names one layer: one or more folders in backticks
(`engine/lsq`, `app/crs`). A source file may include headers of its own folder, of the
folders of its own row and of the folders of rows above it; never of a row below it, and
never of the other deliverable (the engine and the app share no code). Test sources
(`*_test.cpp`) may also include the test-support folder `app/testing`; engine tests and their
helpers (file names with "test") may include any engine layer, as the engine's tests link any
layer they need.

Every folder of engine/ and app/ that holds C++ sources must be in the table, so that a
moved folder needs only a table edit.

    check_layers.py [REPO_ROOT]      exit 0 when every include points up the table
"""
import os
import re
import sys

SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
DELIVERABLES = ("engine", "app")
TEST_SUPPORT = "app/testing"


def read_layer_rows(readme_path):
    """Rows of the layer table as lists of folders (engine/... and app/... only), in order."""
    with open(readme_path, encoding="utf-8") as readme:
        text = readme.read()
    start = text.find("## Layout and layers")
    if start < 0:
        raise SystemExit("README.md has no 'Layout and layers' section")
    rows = []
    for line in text[start:].splitlines()[1:]:
        if line.startswith("## "):
            break
        if not line.startswith("|"):
            continue
        first_cell = line.split("|")[1]
        folders = [f.rstrip("/") for f in re.findall(r"`([^`]+)`", first_cell)]
        folders = [f for f in folders if f.split("/")[0] in DELIVERABLES]
        if folders:
            rows.append(folders)
    return rows


def source_folders(root):
    """Folders (relative, '/'-separated) below engine/ and app/ that hold C++ sources."""
    found = {}
    for deliverable in DELIVERABLES:
        for folder, _, files in os.walk(os.path.join(root, deliverable)):
            sources = [f for f in files if f.endswith(SOURCE_SUFFIXES)]
            if sources:
                relative = os.path.relpath(folder, root).replace(os.sep, "/")
                found[relative] = sorted(sources)
    return found


def resolve(include, folder, layer_of, files_of):
    """The table folder an include names, or None for a header outside both deliverables."""
    deliverable = folder.split("/")[0]
    first = include.split("/")[0]
    if "/" in include:
        for candidate in (f"{deliverable}/{first}",) + tuple(
                f"{d}/{first}" for d in DELIVERABLES if d != deliverable):
            if candidate in layer_of:
                return candidate
        return None
    if include in files_of.get(folder, ()):
        return folder
    # A bare name found through an include root, e.g. "bravik.h" in engine/include.
    for candidate, files in files_of.items():
        if candidate.split("/")[0] == deliverable and include in files:
            return candidate
    return None


def check(root):
    rows = read_layer_rows(os.path.join(root, "README.md"))
    layer_of = {folder: index for index, row in enumerate(rows) for folder in row}
    files_of = source_folders(root)
    problems = []
    for folder in sorted(files_of):
        if folder not in layer_of:
            problems.append(f"{folder}: not in the README's layer table")
    for folder, files in sorted(files_of.items()):
        if folder not in layer_of:
            continue
        for name in files:
            path = os.path.join(root, folder, name)
            with open(path, encoding="utf-8", errors="replace") as source:
                includes = INCLUDE.findall(source.read())
            for include in includes:
                target = resolve(include, folder, layer_of, files_of)
                if target is None or target == folder:
                    continue
                where = f"{folder}/{name}: #include \"{include}\""
                if target.split("/")[0] != folder.split("/")[0]:
                    problems.append(f"{where} crosses from {folder.split('/')[0]} to {target}")
                elif target == TEST_SUPPORT and name.endswith("_test.cpp"):
                    continue
                elif folder.startswith("engine/") and "test" in name:
                    continue  # an engine test may link any layer it needs (README)
                elif layer_of[target] > layer_of[folder]:
                    problems.append(f"{where} reaches {target}, a layer listed after "
                                    f"{folder}'s in the table")
    return rows, problems


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    rows, problems = check(os.path.abspath(root))
    for problem in problems:
        print(problem)
    layers = sum(len(row) for row in rows)
    print(f"{layers} folders in {len(rows)} layers: "
          f"{'no upward include' if not problems else f'{len(problems)} problems'}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
