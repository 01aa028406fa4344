"""Reading the program's C++: its tokens without comments, preprocessor lines and the insides of
string and character literals, with static_asserts and template angle brackets marked, and its
calls with their arguments' types as clang parses them."""

import json
import re
import shutil
import subprocess

PUNCTUATORS = sorted(
    "... >>= <<= ->* :: -> ++ -- << >> <= >= == != && || += -= *= /= %= &= |= ^= ## "
    "{ } [ ] ( ) ; : , . ? ! ~ + - * / % ^ & | = < > #".split(),
    key=len,
    reverse=True,
)
KEYWORDS = set(
    "if else for while do switch case default return break continue goto sizeof alignof "
    "decltype static_assert static_cast reinterpret_cast const_cast dynamic_cast new delete "
    "typedef using namespace struct class enum union template typename const static extern "
    "inline constexpr volatile unsigned signed int char short long float double void bool "
    "auto true false nullptr operator".split()
)
NUMBER = re.compile(r"0[xX][0-9a-fA-F']+[uUlL]*|[0-9][0-9']*(\.[0-9]*)?([eE][+-]?[0-9]+)?[uUlLfF]*")
IDENT = re.compile(r"[A-Za-z_][A-Za-z_0-9]*")

# Calls whose arguments may be swapped without any change: equality is symmetric.
SYMMETRIC_CALLS = {"text_equal", "strcmp"}


class Token:
    __slots__ = ("kind", "text", "start", "end", "excluded", "template")

    def __init__(self, kind, text, start, end):
        self.kind = kind  # ident, number, string, char, punct
        self.text = text
        self.start = start
        self.end = end
        self.excluded = False  # inside a static_assert
        self.template = False  # an angle bracket of a template argument list


def tokenize(text):
    """The tokens of a C++ text; comments and preprocessor lines give none, a string or
    character literal gives one token of its own kind."""
    tokens = []
    i = 0
    n = len(text)
    line_start = True
    while i < n:
        c = text[i]
        if c == "\n":
            line_start = True
            i += 1
            continue
        if c in " \t\r\f\v":
            i += 1
            continue
        if c == "#" and line_start:
            # A preprocessor line, with its continuations.
            while i < n and text[i] != "\n":
                if text[i] == "\\" and i + 1 < n and text[i + 1] == "\n":
                    i += 1
                i += 1
            continue
        line_start = False
        if text.startswith("//", i):
            while i < n and text[i] != "\n":
                i += 1
            continue
        if text.startswith("/*", i):
            end = text.find("*/", i + 2)
            i = n if end < 0 else end + 2
            continue
        if c == '"' or c == "'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            tokens.append(Token("string" if c == '"' else "char", text[i : j + 1], i, j + 1))
            i = j + 1
            continue
        m = IDENT.match(text, i)
        if m:
            word = m.group(0)
            if word in ("L", "u", "U", "u8") and m.end() < n and text[m.end()] in "\"'":
                i = m.end()  # the prefix of a wide literal: the literal follows
                continue
            tokens.append(Token("ident", word, i, m.end()))
            i = m.end()
            continue
        m = NUMBER.match(text, i)
        if m:
            tokens.append(Token("number", m.group(0), i, m.end()))
            i = m.end()
            continue
        for p in PUNCTUATORS:
            if text.startswith(p, i):
                tokens.append(Token("punct", p, i, i + len(p)))
                i += len(p)
                break
        else:
            tokens.append(Token("punct", c, i, i + 1))
            i += 1
    mark_static_asserts(tokens)
    mark_templates(tokens)
    return tokens


def matching(tokens, i, open_text="(", close_text=")"):
    """Index of the token that closes the bracket at tokens[i], or -1."""
    depth = 0
    for j in range(i, len(tokens)):
        if tokens[j].text == open_text:
            depth += 1
        elif tokens[j].text == close_text:
            depth -= 1
            if depth == 0:
                return j
    return -1


def depth_between(tokens, open_index, k):
    """How many parentheses opened from tokens[open_index] are still open at tokens[k]."""
    depth = 0
    for j in range(open_index, k):
        if tokens[j].text == "(":
            depth += 1
        elif tokens[j].text == ")":
            depth -= 1
    return depth


def mark_static_asserts(tokens):
    for i, t in enumerate(tokens):
        if t.text == "static_assert" and i + 1 < len(tokens) and tokens[i + 1].text == "(":
            end = matching(tokens, i + 1)
            for k in range(i, (end if end >= 0 else len(tokens) - 1) + 1):
                tokens[k].excluded = True


def mark_templates(tokens):
    # The house style puts blanks around every binary operator, so a '<' glued to the name
    # before it opens a template argument list (static_cast<int>, std::is_same<A, B>).
    for i, t in enumerate(tokens):
        if t.text != "<" or i == 0 or t.template:
            continue
        prev = tokens[i - 1]
        if prev.kind != "ident" or prev.end != t.start:
            continue
        depth = 0
        for j in range(i, len(tokens)):
            x = tokens[j].text
            if x in ("<",):
                depth += 1
            elif x == ">":
                depth -= 1
            elif x == ">>":
                depth -= 2
            elif x in (";", "{", "}"):
                break
            if depth <= 0:
                t.template = True
                tokens[j].template = True
                break


def clang_calls(path, include_dir):
    """The calls written in the file, as clang parses it: for each call its name, where it starts
    and its arguments (start, end, type after conversion). Empty when clang is not installed."""
    clang = shutil.which("clang++")
    if clang is None:
        return []
    command = [clang, "-std=c++17", "-I", include_dir, "-fsyntax-only"]
    out = subprocess.run(
        command + ["-Xclang", "-ast-dump=json", path],
        stdout=subprocess.PIPE,
        stderr=subprocess.DEVNULL,
    ).stdout
    if not out:
        return []
    tree = json.loads(out)

    # A location names its file only when the file differs from the location printed before it,
    # so the file of each location is found by walking them in the order they were printed.
    current = [None]

    def mark(node):
        if isinstance(node, dict):
            if "offset" in node:
                if "file" in node:
                    current[0] = node["file"]
                node["_file"] = current[0]
            for value in node.values():
                mark(value)
        elif isinstance(node, list):
            for value in node:
                mark(value)

    mark(tree)

    def written(loc):
        """The offset of a location in the file itself (a macro counts where it is used)."""
        loc = loc.get("expansionLoc", loc)
        if loc.get("_file") != path or "offset" not in loc:
            return None
        return loc["offset"], loc["offset"] + loc.get("tokLen", 0)

    def callee_name(node):
        while node:
            if node.get("kind") == "DeclRefExpr":
                return node.get("referencedDecl", {}).get("name")
            inner = node.get("inner") or [None]
            node = inner[0]
        return None

    def type_of(node):
        t = node.get("type", {})
        return t.get("desugaredQualType", t.get("qualType", ""))

    calls = []

    def visit(node):
        if isinstance(node, dict):
            if node.get("kind") == "CallExpr" and "spellingLoc" not in node["range"]["begin"]:
                begin = written(node["range"]["begin"])
                name = callee_name(node["inner"][0])
                args = []
                for arg in node["inner"][1:]:
                    if "range" not in arg:
                        break
                    a = written(arg["range"]["begin"])
                    b = written(arg["range"]["end"])
                    if a is None or b is None:
                        break
                    args.append((a[0], b[1], type_of(arg)))
                else:
                    if begin is not None and name and name not in SYMMETRIC_CALLS:
                        calls.append({"name": name, "start": begin[0], "args": args})
            for value in node.values():
                visit(value)
        elif isinstance(node, list):
            for value in node:
                visit(value)

    visit(tree)
    return calls
