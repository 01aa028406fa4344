"""The record of a run, results.json in the run's folder: each mutant's file, line, kind, change,
line text, status, how it was killed and its times. --again reads it to run only the last run's
survivors and to carry the other results over."""

import collections
import json

from mutants import place_keys


def save_results(path, mutants):
    """Writes the record of the mutants of a run to path."""
    with open(path, "w") as f:
        json.dump(
            [
                {
                    "file": m.path,
                    "line": m.line,
                    "kind": m.kind,
                    "change": m.change,
                    "text": m.snippet,
                    "status": m.status,
                    "detail": m.detail,
                    "seconds": round(m.seconds, 2),
                    "processor_seconds": round(m.cpu, 2),
                }
                for m in mutants
            ],
            f,
            indent=1,
        )


def carry_over(mutants, path):
    """The mutants that the run recorded at path holds, found by their place (file, line, kind
    and rank on the line); those it did not find surviving or equivalent keep its result, the
    others stay to run again."""
    with open(path) as f:
        records = json.load(f)
    previous = {}
    seen = collections.Counter()
    for r in records:
        seen[(r["file"], r["line"], r["kind"])] += 1
        previous[(r["file"], r["line"], r["kind"], seen[(r["file"], r["line"], r["kind"])])] = r
    kept = []
    for m, place in zip(mutants, place_keys(mutants)):
        r = previous.get(place)
        if r is None:
            continue
        if r["status"] not in ("survived", "equivalent"):
            m.status, m.detail = r["status"], r["detail"]
            m.seconds, m.cpu = r["seconds"], r.get("processor_seconds", 0.0)
        kept.append(m)
    return kept
