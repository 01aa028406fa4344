"""The report of a run: per file, per folder and per kind the mutants, those that did not
compile, were killed, survived or are listed as equivalent, and the score (killed of killed and
survived); then every survivor with its file, line and change, the stale equivalents and the
time taken."""

import collections

from mutants import KINDS


def score(killed, survived):
    """The share of killed mutants among those that compiled and are not equivalent."""
    total = killed + survived
    return "%5.1f%%" % (100.0 * killed / total) if total else "    -"


ROW = "%-40s %7d %7d %7d %7d %7d %7s"


def row(name, statuses):
    """One line of a table: the name, then from statuses (a Counter of the mutants' statuses)
    how many mutants, how many did not compile, were killed, survived, are equivalent, and the
    score."""
    return ROW % (
        name,
        sum(statuses.values()),
        statuses["not compiled"],
        statuses["killed"],
        statuses["survived"],
        statuses["equivalent"],
        score(statuses["killed"], statuses["survived"]),
    )


def report(mutants, stale, seconds, cpu, out):
    """Writes the report to out and answers its text; stale are the keys of the equivalents
    that no mutant matches, seconds and cpu the whole run's times."""
    lines = []
    header = "%-40s %7s %7s %7s %7s %7s %7s" % (
        "", "mutants", "no-comp", "killed", "surviv", "equiv", "score"
    )
    for title, keyf in (("By file", lambda m: m.path), ("By folder", lambda m: m.folder)):
        lines.append(title)
        lines.append(header)
        groups = collections.OrderedDict()
        for m in sorted(mutants, key=lambda m: keyf(m)):
            groups.setdefault(keyf(m), collections.Counter())[m.status] += 1
        for name, statuses in groups.items():
            lines.append(row(name, statuses))
        lines.append("")
    c = collections.Counter(m.status for m in mutants)
    lines.append(row("All", c))
    if c["pending"]:
        lines.append("Not run (stopped): %d" % c["pending"])
    by_sanitizer = sum(1 for m in mutants if m.status == "killed" and "sanitizer" in m.detail)
    by_time = sum(1 for m in mutants if m.status == "killed" and "time limit" in m.detail)
    lines.append("Killed by a sanitizer: %d; by the time limit: %d" % (by_sanitizer, by_time))
    by_kind = collections.defaultdict(collections.Counter)
    for m in mutants:
        by_kind[m.kind][m.status] += 1
    lines.append("")
    lines.append("By kind")
    for kind in KINDS:
        if sum(by_kind[kind].values()):
            lines.append(row(kind, by_kind[kind]))
    lines.append("")
    survivors = [m for m in mutants if m.status == "survived"]
    lines.append("Survivors (%d):" % len(survivors))
    for m in sorted(survivors, key=lambda m: (m.path, m.line)):
        lines.append("%s:%d: %s [%s]: %s" % (m.path, m.line, m.change, m.kind, m.snippet))
        lines.append("    equivalent? %s `%s` `%s` <reason>" % (m.path, m.snippet, m.change))
    if stale:
        lines.append("")
        lines.append("Listed as equivalent but no longer generated (%d):" % len(stale))
        for path, snippet, change in stale:
            lines.append("    %s `%s` `%s`" % (path, snippet, change))
    lines.append("")
    run_seconds = sum(m.seconds for m in mutants if m.ran)
    run_cpu = sum(m.cpu for m in mutants if m.ran)
    lines.append(
        "Time: %.0f s elapsed, %.0f s of processor time in builds and tests; the mutants alone "
        "%.0f s elapsed, %.0f s of processor time (%d run)"
        % (seconds, cpu, run_seconds, run_cpu, sum(1 for m in mutants if m.ran))
    )
    text = "\n".join(lines) + "\n"
    out.write(text)
    return text



def listing(mutants):
    """The lines of --list: each mutant with its file, line, change, kind and the line's text,
    then how many."""
    lines = []
    for m in mutants:
        mark = " (equivalent)" if m.status == "equivalent" else ""
        lines.append("%s:%d: %s [%s]%s: %s" % (m.path, m.line, m.change, m.kind, mark, m.snippet))
    lines.append("%d mutants" % len(mutants))
    return lines
