"""Making the mutants of one .cpp file: each a small change of one kind (a relational operator
moved, an if-condition negated, && and || swapped, a call statement deleted, a returned constant
flipped, a size constant moved by one, an off-by-one, two arguments swapped), with the key that
names it across edits of other lines (the file, the changed line's text and the change)."""

import bisect
import collections
import re

from cpp_reading import KEYWORDS, depth_between, matching, tokenize

KINDS = [
    "relational",
    "negate_if",
    "logical",
    "delete_call",
    "return_constant",
    "size_constant",
    "off_by_one",
    "swap_arguments",
]


class Mutant:
    """One change to one file, and what became of it in a run."""

    def __init__(self, path, kind, edits, line, change):
        self.path = path  # relative to the repository, e.g. usb/topology_scan.cpp
        self.kind = kind
        self.edits = edits  # [(start, end, replacement)] on the original text
        self.line = line
        self.change = change
        self.snippet = ""
        self.status = "pending"
        self.detail = ""
        self.seconds = 0.0
        self.cpu = 0.0
        self.ran = False

    @property
    def key(self):
        return (self.path, self.snippet, self.change)

    @property
    def folder(self):
        return self.path.split("/")[0]

    def apply(self, text):
        for start, end, replacement in sorted(self.edits, reverse=True):
            text = text[:start] + replacement + text[end:]
        return text


RELATIONAL_SWAPS = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
# The bound moved the other way than the relational swap moves it.
BOUND_MOVES = {"<": "- 1", "<=": "+ 1", ">": "+ 1", ">=": "- 1"}
SIZE_NAME = re.compile(r"^k\w*(Room|Size|Length|Bytes|Count|Depth|Distance|Extra)$")
STATEMENT_HEADS = ("if", "for", "while", "switch")


def spaced(text, t):
    """Whether the token stands between blanks, as a binary operator does in this code."""
    return t.start > 0 and text[t.start - 1] in " \n" and t.end < len(text) and text[t.end] in " \n"


def number_value(token_text):
    digits = token_text.replace("'", "").rstrip("uUlL")
    try:
        return int(digits, 0)
    except ValueError:
        return None


def statement_starts_at(tokens, i, text):
    """Whether tokens[i] opens a statement."""
    if i == 0:
        return False
    prev = tokens[i - 1]
    if prev.text in (";", "{", "}", "else"):
        return True
    if prev.text == ")":
        # The closing parenthesis of an if, for, while or switch header.
        depth = 0
        for j in range(i - 1, -1, -1):
            if tokens[j].text == ")":
                depth += 1
            elif tokens[j].text == "(":
                depth -= 1
                if depth == 0:
                    return j > 0 and tokens[j - 1].text in STATEMENT_HEADS
        return False
    if prev.text == ":":
        line_begin = text.rfind("\n", 0, prev.start) + 1
        head = text[line_begin : prev.start].strip()
        return head.startswith("case ") or head == "default"
    return False


def condition_operand_end(tokens, k, limit):
    """Index of the last token of the operand that follows tokens[k] in a condition."""
    depth = 0
    j = k + 1
    last = k
    while j < limit:
        x = tokens[j].text
        if x in ("(", "["):
            depth += 1
        elif x in (")", "]"):
            if depth == 0:
                break
            depth -= 1
        elif depth == 0 and x in ("&&", "||", ";", ",", "?"):
            break
        last = j
        j += 1
    return last


def generate(path, text, calls):
    """The mutants of one file, in the order of the places they change (each place's kinds in
    the order below); calls are its calls as clang sees them (see cpp_reading.clang_calls)."""
    tokens = tokenize(text)
    line_starts = [0] + [m.end() for m in re.finditer("\n", text)]
    mutants = []

    def add(kind, edits, anchor, change):
        line = bisect.bisect_right(line_starts, anchor)
        mutants.append(Mutant(path, kind, edits, line, change))

    for i, t in enumerate(tokens):
        if t.excluded:
            continue
        relational_at(text, tokens, i, add)
        logical_at(text, tokens, i, add)
        negate_if_at(text, tokens, i, add)
        delete_call_at(text, tokens, i, add)
        return_constant_at(text, tokens, i, add)
        size_constant_at(text, tokens, i, add)
        loop_off_by_one_at(text, tokens, i, add)
        added_off_by_one_at(text, tokens, i, add)
    swapped_arguments(text, tokens, calls, add)
    name_mutants(mutants, text.split("\n"))
    return mutants


# Each function below adds, through add(kind, edits, anchor, change), the mutants of its kind
# that start at tokens[i]: edits are (start, end, replacement) on the text, the anchor is the
# offset whose line the mutant is reported on.


def relational_at(text, tokens, i, add):
    """A relational operator swapped for its neighbour: < and <=, > and >=, == and !=."""
    t = tokens[i]
    if t.text in RELATIONAL_SWAPS and not t.template and spaced(text, t):
        swap = RELATIONAL_SWAPS[t.text]
        add("relational", [(t.start, t.end, swap)], t.start, "%s to %s" % (t.text, swap))


def logical_at(text, tokens, i, add):
    """&& and || swapped."""
    t = tokens[i]
    if t.text in ("&&", "||") and spaced(text, t):
        swap = "||" if t.text == "&&" else "&&"
        add("logical", [(t.start, t.end, swap)], t.start, "%s to %s" % (t.text, swap))


def negate_if_at(text, tokens, i, add):
    """An if-condition negated."""
    t = tokens[i]
    nxt = tokens[i + 1] if i + 1 < len(tokens) else None
    if t.text == "if" and nxt is not None and nxt.text == "(":
        close = matching(tokens, i + 1)
        if close > i + 2:
            inner_start = tokens[i + 2].start
            inner_end = tokens[close - 1].end
            add(
                "negate_if",
                [(inner_start, inner_start, "!("), (inner_end, inner_end, ")")],
                t.start,
                "negate if",
            )


def delete_call_at(text, tokens, i, add):
    """A call statement deleted: name(...); with the name possibly reached through . -> ::"""
    t = tokens[i]
    if t.kind == "ident" and t.text not in KEYWORDS and statement_starts_at(tokens, i, text):
        j = i
        while (
            j + 2 < len(tokens)
            and tokens[j + 1].text in (".", "->", "::")
            and tokens[j + 2].kind == "ident"
        ):
            j += 2
        if j + 1 < len(tokens) and tokens[j + 1].text == "(":
            close = matching(tokens, j + 1)
            if close > 0 and close + 1 < len(tokens) and tokens[close + 1].text == ";":
                callee = text[t.start : tokens[j].end]
                add(
                    "delete_call",
                    [(t.start, tokens[close + 1].end, "{}")],
                    t.start,
                    "delete call %s" % callee,
                )


def return_constant_at(text, tokens, i, add):
    """A returned constant flipped: 0 and 1, true and false, a named constant to 0, a negative
    number to 0."""
    t = tokens[i]
    nxt = tokens[i + 1] if i + 1 < len(tokens) else None
    if t.text == "return" and nxt is not None:
        value = tokens[i + 1 : i + 4]
        if len(value) >= 2 and value[1].text == ";":
            v = value[0]
            flipped = None
            if v.kind == "number":
                flipped = "1" if number_value(v.text) == 0 else "0"
            elif v.text in ("true", "false"):
                flipped = "false" if v.text == "true" else "true"
            elif v.kind == "ident" and re.match(r"^k[A-Z]", v.text):
                flipped = "0"
            if flipped is not None:
                add(
                    "return_constant",
                    [(v.start, v.end, flipped)],
                    t.start,
                    "return %s to %s" % (v.text, flipped),
                )
        elif len(value) >= 3 and value[0].text == "-" and value[1].kind == "number":
            if value[2].text == ";":
                add(
                    "return_constant",
                    [(value[0].start, value[1].end, "0")],
                    t.start,
                    "return -%s to 0" % value[1].text,
                )


def size_constant_at(text, tokens, i, add):
    """A size constant moved by one: kSomethingRoom = 12 to 11 and 13."""
    t = tokens[i]
    if (
        t.kind == "ident"
        and SIZE_NAME.match(t.text)
        and i + 3 < len(tokens)
        and tokens[i + 1].text == "="
        and tokens[i + 2].kind == "number"
        and tokens[i + 3].text in (";", ",", "}")
    ):
        v = tokens[i + 2]
        value = number_value(v.text)
        if value is not None:
            for moved in (value - 1, value + 1):
                add(
                    "size_constant",
                    [(v.start, v.end, str(moved))],
                    t.start,
                    "%s %s to %d" % (t.text, v.text, moved),
                )


def loop_off_by_one_at(text, tokens, i, add):
    """Off by one in a loop: a for loop's first value (up and, above 0, down), and each bound its
    condition compares with, moved the other way than the relational swap moves it."""
    t = tokens[i]
    nxt = tokens[i + 1] if i + 1 < len(tokens) else None
    if t.text in ("for", "while") and nxt is not None and nxt.text == "(":
        close = matching(tokens, i + 1)
        if close > 0:
            cond_first = i + 2
            if t.text == "for":
                semis = [
                    k
                    for k in range(i + 2, close)
                    if tokens[k].text == ";" and depth_between(tokens, i + 1, k) == 1
                ]
                if len(semis) == 2:
                    init = tokens[i + 2 : semis[0]]
                    if len(init) >= 2 and init[-2].text == "=" and init[-1].kind == "number":
                        v = init[-1]
                        value = number_value(v.text)
                        for moved in (value + 1, value - 1) if value > 0 else (value + 1,):
                            add(
                                "off_by_one",
                                [(v.start, v.end, str(moved))],
                                v.start,
                                "loop start %s to %d" % (v.text, moved),
                            )
                    cond_first = semis[0] + 1
                    cond_last = semis[1]
                else:
                    cond_last = close
            else:
                cond_last = close
            for k in range(cond_first, cond_last):
                op = tokens[k]
                if op.text in BOUND_MOVES and not op.template and spaced(text, op):
                    last = condition_operand_end(tokens, k, cond_last)
                    if last <= k:
                        continue
                    first_t, last_t = tokens[k + 1], tokens[last]
                    operand = text[first_t.start : last_t.end]
                    single = last == k + 1
                    moved = ("%s %s" if single else "(%s) %s") % (operand, BOUND_MOVES[op.text])
                    add(
                        "off_by_one",
                        [(first_t.start, last_t.end, moved)],
                        op.start,
                        "bound %s %s to %s" % (op.text, operand, moved),
                    )


def added_off_by_one_at(text, tokens, i, add):
    """Off by one in an added or subtracted constant: + 4 to + 5 and + 3."""
    t = tokens[i]
    nxt = tokens[i + 1] if i + 1 < len(tokens) else None
    if (
        t.text in ("+", "-")
        and spaced(text, t)
        and nxt is not None
        and nxt.kind == "number"
        and i > 0
        and tokens[i - 1].kind in ("ident", "number", "punct")
        and tokens[i - 1].text not in ("(", ",", "=", "return", "[")
        and not (i + 2 < len(tokens) and tokens[i + 2].text in ("*", "/", "%"))
    ):
        value = number_value(nxt.text)
        if value is not None:
            for moved in (value + 1, value - 1):
                add(
                    "off_by_one",
                    [(nxt.start, nxt.end, str(moved))],
                    t.start,
                    "%s %s to %s %d" % (t.text, nxt.text, t.text, moved),
                )


def swapped_arguments(text, tokens, calls, add):
    """Two neighbouring arguments of a call swapped, where both have the same type (so the swap
    compiles and the call receives a plausible wrong value); not inside a static_assert, nor
    where the two are written alike or hold a string literal."""
    excluded = [(t.start, t.end) for t in tokens if t.excluded]
    for call in calls:
        if any(s <= call["start"] < e for s, e in excluded):
            continue
        args = call["args"]
        for a in range(len(args) - 1):
            (s1, e1, type1), (s2, e2, type2) = args[a], args[a + 1]
            one, two = text[s1:e1], text[s2:e2]
            if type1 != type2 or one == two or '"' in one or '"' in two:
                continue
            add(
                "swap_arguments",
                [(s1, e1, two), (s2, e2, one)],
                s1,
                "swap %s and %s in %s" % (one, two, call["name"]),
            )


def name_mutants(mutants, lines):
    """Gives each mutant its key: file, the mutated line's text and the change, which name it
    across edits of other lines. The same change at several places of one line is counted along
    the line ("(1 of 2)"); where equal lines carry the same change, the line before each tells
    them apart ('after "..."'), and a count ("#2") only where that line is the same too."""

    def previous_line(number):
        for k in range(number - 2, -1, -1):
            text_k = line_text(lines[k])
            if text_k:
                return text_k
        return ""

    for m in mutants:
        m.snippet = line_text(lines[m.line - 1])
    on_line = collections.Counter((m.line, m.change) for m in mutants)
    along = collections.Counter()
    for m in sorted(mutants, key=lambda m: m.edits[0][0]):
        if on_line[(m.line, m.change)] > 1:
            place = (m.line, m.change)
            along[place] += 1
            m.change = "%s (%d of %d)" % (m.change, along[place], on_line[place])
    same = collections.Counter((m.snippet, m.change) for m in mutants)
    for m in mutants:
        if same[(m.snippet, m.change)] > 1:
            m.change = '%s after "%s"' % (m.change, previous_line(m.line))
    seen = collections.Counter()
    for m in mutants:
        seen[(m.snippet, m.change)] += 1
        if seen[(m.snippet, m.change)] > 1:
            m.change = "%s #%d" % (m.change, seen[(m.snippet, m.change)])


def line_text(line):
    """A line's code with its blanks squeezed and without a trailing comment."""
    at = line.find("//")
    if at >= 0 and line[:at].count('"') % 2 == 0:
        line = line[:at]
    return " ".join(line.split())


def place_keys(mutants):
    """(file, line, kind, n-th of that kind on the line) for each mutant: names the same mutants
    again while the program's code is unchanged."""
    seen = collections.Counter()
    keys = []
    for m in mutants:
        seen[(m.path, m.line, m.kind)] += 1
        keys.append((m.path, m.line, m.kind, seen[(m.path, m.line, m.kind)]))
    return keys


