"""The mirror of the working tree in which the mutants are built (build/mutation/src), and its
host build (build/mutation/build): the tree itself is never written, so an interrupted run leaves
nothing behind."""

import os
import shutil
import subprocess

from program_files import ROOT


def tree_files():
    """The tree's files that git tracks or would track, relative to it."""
    out = subprocess.run(
        ["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
        cwd=ROOT,
        check=True,
        stdout=subprocess.PIPE,
    ).stdout.decode()
    return [p for p in out.split("\0") if p and os.path.isfile(os.path.join(ROOT, p))]


def sync_mirror(src):
    """Makes the mirror equal to the working tree; only files that differ are written, so the
    build redoes only what changed (including a file a stopped run left mutated)."""
    wanted = set(tree_files())
    written = 0
    for rel in wanted:
        a = os.path.join(ROOT, rel)
        b = os.path.join(src, rel)
        with open(a, "rb") as f:
            data = f.read()
        if os.path.exists(b):
            with open(b, "rb") as f:
                if f.read() == data:
                    continue
        os.makedirs(os.path.dirname(b), exist_ok=True)
        with open(b, "wb") as f:
            f.write(data)
        shutil.copymode(a, b)
        written += 1
    for dirpath, _, names in os.walk(src):
        for name in names:
            rel = os.path.relpath(os.path.join(dirpath, name), src)
            if rel not in wanted:
                os.remove(os.path.join(dirpath, name))
    return written


# Compiles as the build asks but without -Werror: a mutant that only draws a warning (a
# parameter left unused by a deleted call) is still a fault for the tests to find.
LAUNCHER = """#!/bin/sh
for arg; do
    shift
    [ "$arg" = -Werror ] || set -- "$@" "$arg"
done
exec "$@"
"""


def configure(src, build):
    """Configures the host build of the mirror src in build (under the sanitizers, without debug
    information, -Werror dropped), unless it is configured so already."""
    launcher = os.path.join(os.path.dirname(build), "compile-without-werror")
    with open(launcher, "w") as f:
        f.write(LAUNCHER)
    os.chmod(launcher, 0o755)
    args = [
        "-DCMAKE_BUILD_TYPE=Debug",
        # No debug information: smaller objects, quicker compiles and links.
        "-DCMAKE_CXX_FLAGS_DEBUG=-O0",
        "-DQDI_SANITIZE=ON",
        "-DCMAKE_CXX_COMPILER_LAUNCHER=" + launcher,
    ]
    if shutil.which("ld.lld"):
        args.append("-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld")
    stamp = os.path.join(build, "mutation-configure")
    if os.path.exists(os.path.join(build, "build.ninja")) and os.path.exists(stamp):
        with open(stamp) as f:
            if f.read() == "\n".join(args):
                return
    subprocess.run(
        ["cmake", "-S", src, "-B", build, "-G", "Ninja"] + args,
        check=True,
        stdout=subprocess.DEVNULL,
    )
    with open(stamp, "w") as f:
        f.write("\n".join(args))

