#!/usr/bin/env python3
"""Fails when a layer includes a header of a layer above it, when two
folders include each other, or when an application area includes one it
may not. A file's layer is its folder's; the layers, what each may include
and the application areas' rules are the ones docs/architecture.md lists:
keep the two in step."""
import glob
import os
import re
import sys

root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))

PLATFORM_SERVICES = sorted(os.path.basename(p) for p in glob.glob(os.path.join(root, "Source", "platform", "*"))
                           if os.path.isdir(p))

# Platform services that stand on another one: both start programs through
# the one launcher, and text from outside is read through the parse layer
# alone.
PLATFORM_BELOW = {"share": {"process"}, "update": {"parse", "process"}}

LAYERS = {
    "dsp-common": {"dsp-common"},
    "dsp-linux": {"dsp-common", "dsp-linux"},
    "bays": {"dsp-common", "bays"},
    **{service: {service} | PLATFORM_BELOW.get(service, set()) for service in PLATFORM_SERVICES},
    "engine": {"dsp-common", "bays", "media", "parse", "update", "engine"},
    "app": {"dsp-common", "bays", *PLATFORM_SERVICES, "engine", "app"},
    "program": {"app"},
}

# Areas of the application that others may not reach into: area -> the
# areas allowed to include it. An area absent here is open to all.
AREA_INCLUDED_ONLY_BY = {
    # The guide, update and rating windows are the application's to open.
    "help": {"windows"},
}
# Areas that include no other area.
LEAF_AREAS = {"artwork"}


def layer_of(rel):
    """The layer and, in the application, the area of a file by its folder."""
    parts = rel.split("/")
    folder = "/".join(parts[:-1])
    if folder == "Source/zdsp/common":
        return "dsp-common", None
    if folder == "Source/zdsp/linux":
        return "dsp-linux", None
    if folder == "signalbays/common":
        return "bays", None
    if len(parts) == 4 and parts[:2] == ["Source", "platform"]:
        return parts[2], None
    if folder == "Source/engine":
        return "engine", None
    if len(parts) == 4 and parts[:2] == ["Source", "app"]:
        return "app", parts[2]
    if rel == "Source/Main.cpp":
        return "program", None
    return None, None


def main():
    files = []
    for folder in ("Source", "signalbays"):
        for dirpath, _, names in os.walk(os.path.join(root, folder)):
            for name in names:
                if name.endswith((".h", ".cpp")):
                    files.append(os.path.relpath(os.path.join(dirpath, name), root).replace(os.sep, "/"))

    # Where the compiler looks after the including file's own folder.
    search = ["Source", "Source/zdsp/common", "Source/zdsp/linux", "signalbays/common"] + [
        f"Source/platform/{service}" for service in PLATFORM_SERVICES]
    known = set(files)

    def resolve(include, including):
        for base in [os.path.dirname(including)] + search:
            candidate = os.path.normpath(os.path.join(base, include)).replace(os.sep, "/")
            if candidate in known:
                return candidate
        return None

    problems = []
    edges = set()
    include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
    for path in files:
        source_layer, source_area = layer_of(path)
        if source_layer is None:
            problems.append(f"{path}: in no layer's folder")
            continue
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as text:
            for number, line in enumerate(text, 1):
                found = include.match(line)
                if not found:
                    continue
                target = resolve(found.group(1), path)
                if target is None:
                    continue
                target_layer, target_area = layer_of(target)
                where = f"{path}:{number}:"
                if target_layer not in LAYERS[source_layer]:
                    problems.append(f"{where} {source_layer} includes {target} of {target_layer}")
                if source_layer != target_layer:
                    edges.add((source_layer, target_layer))
                if source_area and target_area and source_area != target_area:
                    if source_area in LEAF_AREAS:
                        problems.append(f"{where} {source_area} includes {target}; it includes no other area")
                    allowed = AREA_INCLUDED_ONLY_BY.get(target_area)
                    if allowed is not None and source_area not in allowed:
                        problems.append(f"{where} {source_area} includes {target}; only "
                                        f"{', '.join(sorted(allowed))} may")

    for a, b in sorted(edges):
        if (b, a) in edges and a < b:
            problems.append(f"{a} and {b} include each other")

    for problem in problems:
        print(problem)
    print(f"{len(files)} files read, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
