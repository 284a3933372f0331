#!/usr/bin/env python3
"""Global-name check of the core's static libraries.

Our code lives in namespace vantri (docs/conventions.md, "Namespaces and folders"); only the names
that the outside libraries and file formats give keep their global place: the classes with the
C prefix (CVantriProject, CCameraPassport, ...), the NVT_* functions and the few free functions
listed in OUTSIDE_FUNCTIONS. Every symbol a library defines is read with `nm -C`; a global one
that is none of these is reported, so a helper written outside its folder's namespace fails here.

    check_global_names.py LIBRARY.a...      exit 0 when nothing of ours is global
"""
import re
import subprocess
import sys

# Free functions of the outside photogrammetry, geometry and bundle libraries.
OUTSIDE_FUNCTIONS = {
    "BCCtoCCB", "CCBtoBCC", "FromEulerAnglesXYZ", "ToEulerAnglesXYZ", "GDALExtractROI", "NVSSBA",
    "PumpMsgs", "ReadCpFiles", "ReadGcpFiles", "ReadPTCollFile", "WritePTCollFile", "StringToDbl",
    "WriteVtpPolyData", "compute_ground_step",
}
# Namespaces of our own and of the libraries we build on, and the names compilers generate.
ALLOWED_HEADS = re.compile(
    r"^(vantri|nvc|std|__gnu_cxx|__cxxabiv1|Eigen|cv|ceres|google|testing|vtk\w*|Q\w*|q\w*Resources_\w+"
    r"|qt_\w*|_GLOBAL__\w*|__\w+|DW\.ref\..*|OGR\w*|GDAL\w*|CPL\w*|C[A-Z]\w*|NVT_\w+)$")
# Type information of a function or pointer type names no symbol of ours.
BUILTIN_TYPE = re.compile(r"^(void|bool|char|signed|unsigned|short|int|long|float|double)\b")
SPECIAL_PREFIXES = ("typeinfo name for ", "typeinfo for ", "vtable for ", "VTT for ",
                    "construction vtable for ", "guard variable for ", "non-virtual thunk to ",
                    "virtual thunk to ", "covariant return thunk to ", "transaction clone for ",
                    "TLS init function for ", "TLS wrapper function for ", "reference temporary #")
GLOBAL_TYPES = set("TDBRWVuGS")


def strip_templates(name):
    """The name with every <...> argument list removed (operator< and operator<< kept)."""
    out, depth, i = [], 0, 0
    while i < len(name):
        if name.startswith("operator<<", i) or name.startswith("operator<", i):
            token = "operator<<" if name.startswith("operator<<", i) else "operator<"
            if depth == 0:
                out.append(token)
            i += len(token)
            continue
        c = name[i]
        if c == "<":
            depth += 1
        elif c == ">" and depth > 0:
            depth -= 1
        elif depth == 0:
            out.append(c)
        i += 1
    return "".join(out)


def head_of(symbol):
    """First component of the qualified name a demangled symbol defines."""
    for prefix in SPECIAL_PREFIXES:
        if symbol.startswith(prefix):
            symbol = symbol[len(prefix):]
            break
    if BUILTIN_TYPE.match(symbol):
        return ""
    mangled = re.match(r"^_ZN?[KVr]*(\d+)", symbol)  # a name nm could not demangle
    if mangled:
        start = mangled.end()
        return symbol[start:start + int(mangled.group(1))]
    name = strip_templates(re.sub(r"\[abi:\w+\]", "", symbol))
    name = name.split("(", 1)[0].strip()
    name = name.split(" ")[-1] if " " in name else name  # return type of a template function
    return name.split("::", 1)[0].lstrip("*&")


def own_global_symbols(library):
    listing = subprocess.run(["nm", "-C", "--defined-only", library], check=True,
                             capture_output=True, text=True).stdout
    found = set()
    for line in listing.splitlines():
        parts = line.split(" ", 2)
        if len(parts) != 3 or parts[1] not in GLOBAL_TYPES:
            continue
        symbol = parts[2]
        if "(anonymous namespace)" in symbol:
            continue
        head = head_of(symbol)
        if not head or ALLOWED_HEADS.match(head) or head in OUTSIDE_FUNCTIONS:
            continue
        found.add(symbol)
    return sorted(found)


def main(libraries):
    problems = 0
    for library in libraries:
        for symbol in own_global_symbols(library):
            print(f"{library}: global {symbol}: put it in its folder's vantri:: namespace")
            problems += 1
    print(f"{len(libraries)} libraries: {problems} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
