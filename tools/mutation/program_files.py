"""The program's own .cpp files, the ones the tool mutates: its folders as the top CMakeLists.txt
lists them in QDI_PROGRAM_FOLDERS (the list the builds glob the program's sources from), found
in the working tree or in the mirror's build."""

import json
import os
import re

# The repository: this file is in tools/mutation/.
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# The Windows entry point, which only the Windows builds compile.
WINDOWS_ONLY = "winmain.cpp"

FOLDERS_SET = re.compile(r"^\s*set\(\s*QDI_PROGRAM_FOLDERS\b([^)]*)\)", re.M)


class NoFolderList(Exception):
    pass


def program_folders_in(cmake_text):
    """The folders named by set(QDI_PROGRAM_FOLDERS ...) in a CMakeLists.txt text, in their
    order; raises NoFolderList when the text sets no such list or an empty one."""
    m = FOLDERS_SET.search(cmake_text)
    if m is None:
        raise NoFolderList("no set(QDI_PROGRAM_FOLDERS ...)")
    words = []
    for line in m.group(1).split("\n"):
        words += line.split("#")[0].split()
    if not words:
        raise NoFolderList("set(QDI_PROGRAM_FOLDERS) names no folder")
    return words


def program_folders(root=ROOT):
    """The program's folders, from the top CMakeLists.txt of the tree at root."""
    path = os.path.join(root, "CMakeLists.txt")
    with open(path) as f:
        text = f.read()
    try:
        return program_folders_in(text)
    except NoFolderList as e:
        raise NoFolderList("%s: %s" % (path, e))


def tree_sources(root=ROOT):
    """The program's .cpp files in the working tree (for listing without a build), relative to
    it, folder by folder in the list's order."""
    found = []
    for folder in program_folders(root):
        d = os.path.join(root, folder)
        for name in sorted(os.listdir(d)) if os.path.isdir(d) else []:
            if name.endswith(".cpp") and name != WINDOWS_ONLY:
                found.append("%s/%s" % (folder, name))
    return found


def program_sources(build_dir, folders):
    """The program's .cpp files that the host build in build_dir compiles, relative to the
    mirror beside it."""
    with open(os.path.join(build_dir, "compile_commands.json")) as f:
        entries = json.load(f)
    src = os.path.join(os.path.dirname(build_dir), "src") + "/"
    found = set()
    for e in entries:
        path = e["file"]
        if not path.startswith(src):
            continue
        rel = path[len(src) :]
        if rel.split("/")[0] in folders:
            found.add(rel)
    return sorted(found)
