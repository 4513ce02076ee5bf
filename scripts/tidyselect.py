#!/usr/bin/env python3
"""Chooses the sources scripts/tidy.sh runs clang-tidy on, and remembers the
ones that passed.

    tidyselect.py select BUILD TIDY_VERSION all|changed [FILE...]
        Writes "KEY\\0FILE\\0" for every source to check. Without FILEs the
        sources are every .cpp under src/ and tools/. With "changed" a source
        is left out when it passed before with the same key (BUILD/tidy-passed),
        or when neither it nor any file of ours it includes differs from what
        the main branch holds (CI checks every source there). KEY is "-" when
        the source's includes are not known yet (not built): then it cannot be
        remembered.
    tidyselect.py remember BUILD KEY FILE
        Notes that FILE passed with KEY.

A key is a hash of the clang-tidy version, .clang-tidy, the source's compile
command, and the contents of the source and of every file of the checkout or
the build folder it includes (the dependency file the compiler wrote).
"""
import hashlib
import json
import os
import shlex
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def git(*args):
    result = subprocess.run(["git", "-C", ROOT, *args], capture_output=True, text=True)
    return result.stdout.split("\n") if result.returncode == 0 else None


def changed_since_main():
    """Paths (relative to the checkout) that differ from where this branch left
    main, committed or not, untracked ones too; None when there is no main."""
    for branch in ("origin/main", "main"):
        base = git("merge-base", "HEAD", branch)
        if base and base[0]:
            break
    else:
        return None
    changed = git("diff", "--name-only", base[0])
    untracked = git("ls-files", "--others", "--exclude-standard")
    if changed is None or untracked is None:
        return None
    return {path for path in changed + untracked if path}


def dependencies(entry):
    """The files the compiler read for entry, from its dependency file; None
    when it has not been compiled."""
    arguments = shlex.split(entry["command"])
    if "-o" not in arguments:
        return None
    output = arguments[arguments.index("-o") + 1]
    path = os.path.join(entry["directory"], output + ".d")
    try:
        with open(path, encoding="utf-8") as file:
            text = file.read()
    except OSError:
        return None
    # "target: dep dep \\\n dep ...": the paths after the colon.
    text = text.split(":", 1)[1].replace("\\\n", " ")
    return sorted({os.path.normpath(os.path.join(entry["directory"], dep))
                   for dep in text.split()})


def ours(path, build):
    return path.startswith(ROOT + os.sep) or path.startswith(build + os.sep)


def key_of(entry, deps, build, version, config):
    digest = hashlib.sha256()
    digest.update(version.encode() + b"\0" + config + b"\0" + entry["command"].encode() + b"\0")
    for dep in deps:
        if not ours(dep, build):
            continue
        digest.update(dep.encode() + b"\0")
        try:
            with open(dep, "rb") as file:
                digest.update(hashlib.sha256(file.read()).digest())
        except OSError:
            digest.update(b"missing")
    return digest.hexdigest()


def passed_file(build):
    return os.path.join(build, "tidy-passed")


def select(build, version, mode, files):
    build = os.path.realpath(build)
    with open(os.path.join(build, "compile_commands.json"), encoding="utf-8") as file:
        entries = {os.path.realpath(entry["file"]): entry for entry in json.load(file)}
    with open(os.path.join(ROOT, ".clang-tidy"), "rb") as file:
        config = file.read()
    if files:
        sources = [os.path.realpath(path) for path in files]
    else:
        sources = sorted(os.path.join(folder, name)
                         for top in ("src", "tools")
                         for folder, _, names in os.walk(os.path.join(ROOT, top))
                         for name in names if name.endswith(".cpp"))
    passed = set()
    if mode == "changed" and os.path.exists(passed_file(build)):
        with open(passed_file(build), encoding="utf-8") as file:
            passed = {line.rstrip("\n") for line in file}
    changed = changed_since_main() if mode == "changed" else None
    if changed is not None and ".clang-tidy" in changed:
        changed = None
    out = sys.stdout.buffer
    for source in sources:
        entry = entries.get(source)
        deps = dependencies(entry) if entry else None
        key = key_of(entry, deps, build, version, config) if deps is not None else "-"
        if mode == "changed" and not files and deps is not None:
            if f"{key} {source}" in passed:
                continue
            # Files of the checkout it reads (the build folder's include roots
            # link back into src/), as git names them.
            read = {os.path.relpath(os.path.realpath(dep), ROOT) for dep in deps}
            if changed is not None and not read & changed:
                continue
        out.write(key.encode() + b"\0" + source.encode() + b"\0")


def remember(build, key, source):
    if key == "-":
        return
    with open(passed_file(build), "a", encoding="utf-8") as file:
        file.write(f"{key} {os.path.realpath(source)}\n")


def main():
    if len(sys.argv) >= 5 and sys.argv[1] == "select" and sys.argv[4] in ("all", "changed"):
        select(sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5:])
    elif len(sys.argv) == 5 and sys.argv[1] == "remember":
        remember(sys.argv[2], sys.argv[3], sys.argv[4])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
