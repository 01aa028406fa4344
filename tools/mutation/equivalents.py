"""The equivalent mutants, listed in mutation-equivalents.txt beside this file: one a line,
`file` `line text` `change` reason. An entry matches the mutant with that key (file, the text of
the changed line with its blanks squeezed, and the change); such mutants are not run and count
toward no score, and an entry that matches no mutant is stale."""

import os
import re

EQUIVALENTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "mutation-equivalents.txt")

EQUIVALENT_LINE = re.compile(r"^(\S+)\s+`([^`]*)`\s+`([^`]*)`\s+(\S.*)$")


class BadEntry(Exception):
    pass


def read_equivalents(path=EQUIVALENTS):
    """{(file, line text, change): reason} of the file at path (none when it is missing); raises
    BadEntry, naming the line, for a line that is neither an entry, a comment nor blank."""
    entries = {}
    if not os.path.exists(path):
        return entries
    with open(path) as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            m = EQUIVALENT_LINE.match(line)
            if not m:
                raise BadEntry("%s:%d: not `file` `line` `change` reason" % (path, number))
            entries[(m.group(1), " ".join(m.group(2).split()), m.group(3))] = m.group(4)
    return entries


def stale_entries(entries, mutants):
    """The keys of the entries that match none of the mutants, sorted."""
    generated = {m.key for m in mutants}
    return sorted(k for k in entries if k not in generated)


def mark_equivalents(mutants, entries):
    """Marks each mutant still to run that an entry matches as equivalent, with the entry's
    reason."""
    for m in mutants:
        if m.key in entries and m.status == "pending":
            m.status = "equivalent"
            m.detail = entries[m.key]
