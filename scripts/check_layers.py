#!/usr/bin/env python3
"""Fails when a layer includes a header of a layer above it, or when two
folders include each other. The layers and what each may include are the
ones docs/architecture.md lists; keep the two in step."""
import os
import re
import sys

root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")

# The engine's files share the Source folder with the application's.
ENGINE_FILES = re.compile(r"^(CVAudioProcessor|CVAudioTapProcessor|SampleFifo|MeterLevels|ProcessorFeeds)\b")

LAYERS = {
    "dsp-common": {"dsp-common"},
    "dsp-linux": {"dsp-common", "dsp-linux"},
    "bays": {"dsp-common", "bays"},
    "media": {"media"},
    "launch": {"launch"},
    "update": {"update"},
    "share": {"share"},
    "engine": {"dsp-common", "bays", "media", "update", "engine"},
    "app": {"dsp-common", "bays", "media", "launch", "update", "share", "engine", "app"},
}


def layer_of(path):
    rel = os.path.relpath(path, root).replace(os.sep, "/")
    folder, name = os.path.split(rel)
    if folder == "Source/zdsp/common":
        return "dsp-common"
    if folder == "Source/zdsp/linux":
        return "dsp-linux"
    if folder == "signalbays/common":
        return "bays"
    if folder == "Source/platform/media":
        return "media"
    if folder == "Source/platform/launch":
        return "launch"
    if folder == "Source/platform/update":
        return "update"
    if folder == "Source/platform/share":
        return "share"
    if folder == "Source":
        return "engine" if ENGINE_FILES.match(name) else "app"
    return None


def main():
    headers = {}
    files = []
    for folder in ("Source", "signalbays"):
        for dirpath, _, names in os.walk(os.path.join(root, folder)):
            for name in names:
                if name.endswith((".h", ".cpp")):
                    path = os.path.join(dirpath, name)
                    files.append(path)
                    if name.endswith(".h"):
                        headers[name] = path

    problems = []
    edges = set()
    include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
    for path in files:
        source_layer = layer_of(path)
        if source_layer is None:
            continue
        with open(path, encoding="utf-8", errors="replace") as text:
            for number, line in enumerate(text, 1):
                found = include.match(line)
                if not found:
                    continue
                target = headers.get(os.path.basename(found.group(1)))
                if target is None:
                    continue
                target_layer = layer_of(target)
                if target_layer not in LAYERS[source_layer]:
                    problems.append(f"{os.path.relpath(path, root)}:{number}: {source_layer} includes "
                                    f"{os.path.basename(target)} of {target_layer}")
                if source_layer != target_layer:
                    edges.add((source_layer, target_layer))

    for a, b in sorted(edges):
        if (b, a) in edges and a < b:
            problems.append(f"{a} and {b} include each other")

    for problem in problems:
        print(problem)
    print(f"{len(files)} files read, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
