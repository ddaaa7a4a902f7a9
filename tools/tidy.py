#!/usr/bin/env python3
"""clang-tidy over every project source of a build, each at most once, skipping what passed before unchanged.

A source is checked again only when its text, one of the project headers it includes, its compile command or
.clang-tidy changed since it last passed: the build's own dependency records (ninja -t deps) say which headers
it includes. Passes are remembered under BUILD/tidy-passed/. Exit status 1 when any source has findings.
"""
import concurrent.futures
import hashlib
import json
import os
import shlex
import subprocess
import sys


def main() -> int:
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/dev")
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    folders = sys.argv[2].split("|")
    prefixes = tuple(os.path.join(top, folder) + os.sep for folder in folders)
    with open(os.path.join(build, "compile_commands.json"), encoding="utf-8") as f:
        entries = {}
        for entry in json.load(f):
            path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
            if path.startswith(prefixes) and path.endswith(".cpp"):
                entries.setdefault(path, entry)  # a source compiled into several targets is checked once

    deps = headers_by_object(build)
    with open(os.path.join(top, ".clang-tidy"), "rb") as f:
        config = f.read()
    passed = os.path.join(build, "tidy-passed")
    os.makedirs(passed, exist_ok=True)

    def key(path: str, entry: dict) -> str:
        digest = hashlib.sha256(config + entry.get("command", " ".join(entry.get("arguments", []))).encode())
        output = os.path.normpath(os.path.join(entry["directory"], object_file(entry)))
        for dependency in [path] + sorted(d for d in deps.get(output, []) if d.startswith(prefixes)):
            digest.update(dependency.encode())
            with open(dependency, "rb") as f:
                digest.update(f.read())
        return digest.hexdigest()

    header_filter = "^" + top + "/(" + "|".join(folders) + ")/"
    todo = []
    for path, entry in sorted(entries.items()):
        stamp = os.path.join(passed, key(path, entry))
        if not os.path.exists(stamp):
            todo.append((path, stamp))
    print(f"tidy: {len(entries)} sources, {len(entries) - len(todo)} unchanged since they passed", flush=True)

    def check(item):
        path, stamp = item
        run = subprocess.run(["clang-tidy", "-quiet", "-p", build, "-header-filter", header_filter, path],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if run.returncode == 0:
            open(stamp, "w").close()
        return path, run

    failed = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        for path, run in pool.map(check, todo):
            if run.returncode != 0:
                failed += 1
                print(f"tidy: {os.path.relpath(path, top)}\n{run.stdout}", flush=True)
    return 1 if failed else 0


def object_file(entry: dict) -> str:
    """The object file a compile command writes (the entry's own field where CMake gives it, else its -o)."""
    if "output" in entry:
        return entry["output"]
    words = entry.get("arguments") or shlex.split(entry["command"])
    return words[words.index("-o") + 1]


def headers_by_object(build: str) -> dict:
    """The headers each object file was compiled from, as ninja recorded them (absolute paths)."""
    run = subprocess.run(["ninja", "-C", build, "-t", "deps"], stdout=subprocess.PIPE, text=True, check=True)
    deps, current = {}, None
    for line in run.stdout.splitlines():
        if not line.strip():
            current = None
        elif not line.startswith(" "):
            current = os.path.normpath(os.path.join(build, line.split(":", 1)[0]))
            deps[current] = []
        elif current is not None:
            deps[current].append(os.path.normpath(os.path.join(build, line.strip())))
    return deps


if __name__ == "__main__":
    sys.exit(main())
