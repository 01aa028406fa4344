"""Mutation testing of the program's own code: the command line (scripts/mutation-test runs it).

Makes small changes (mutants) to the program's .cpp files, one at a time, builds each into the
host test program in a mirror of the working tree and runs the host tests against it: a mutant
that some test notices is killed, one that every test passes survived. Reports the score per
file, folder and kind and lists every survivor with its file, line and change. README.md beside
this file tells how to run it and read its report.
"""

import argparse
import fcntl
import os
import random
import re
import resource
import signal
import sys
import time

sys.dont_write_bytecode = True  # nothing written beside the sources

from cpp_reading import clang_calls  # noqa: E402
from equivalents import BadEntry, mark_equivalents, read_equivalents, stale_entries  # noqa: E402
from mirror import configure, sync_mirror  # noqa: E402
from mutants import KINDS, generate  # noqa: E402
from program_files import ROOT, NoFolderList, program_folders, program_sources  # noqa: E402
from program_files import tree_sources  # noqa: E402
from report import listing, report  # noqa: E402
from results import carry_over, save_results  # noqa: E402
from running import Stop, Tests, build, on_signal  # noqa: E402


def parse_options(argv):
    parser = argparse.ArgumentParser(
        prog="mutation-test",
        description="Mutation testing of the program's own .cpp files against the host tests.",
    )
    parser.add_argument("--file", action="append", default=[], help="only this file (repeatable)")
    parser.add_argument("--folder", action="append", default=[], help="only this folder")
    parser.add_argument("--kind", action="append", default=[], choices=KINDS, help="only this kind")
    parser.add_argument("--sample", type=int, help="a random sample of N mutants")
    parser.add_argument(
        "--again",
        action="store_true",
        help="run again only the mutants that survived the last run, after new tests or "
        "equivalents (the program's code unchanged); the report covers the last run's "
        "mutants with their new results",
    )
    parser.add_argument("--seed", type=int, default=1, help="the sample's seed (default 1)")
    parser.add_argument("--list", action="store_true", help="list the mutants and stop")
    parser.add_argument(
        "--fast",
        action="store_true",
        help="leave out the tests that take a second or more (the failure sweeps): a quick "
        "look at the survivors, not a score",
    )
    parser.add_argument(
        "--check-equivalents",
        action="store_true",
        help="also run the mutants listed as equivalent (each should survive)",
    )
    parser.add_argument(
        "--time-factor",
        type=float,
        default=4.0,
        help="a stage's time limit is 10 s plus this many times its unmutated time (default 4)",
    )
    parser.add_argument(
        "--build-dir",
        default=os.path.join(ROOT, "build", "mutation"),
        help="where the mirror and its build live (default build/mutation)",
    )
    return parser.parse_args(argv)


def all_mutants(sources):
    """Every mutant of the program's files, file by file."""
    mutants = []
    for rel in sources:
        path = os.path.join(ROOT, rel)
        with open(path) as f:
            mutants += generate(rel, f.read(), clang_calls(path, ROOT))
    return mutants


def select(mutants, sources, options):
    """The mutants that the options ask for, in the order they run and are listed."""
    for f in options.file:
        if f not in sources:
            sys.exit("%s is not one of the program's files: %s" % (f, " ".join(sources)))
    if options.file:
        mutants = [m for m in mutants if m.path in options.file]
    if options.folder:
        mutants = [m for m in mutants if m.folder in [x.strip("/") for x in options.folder]]
    if options.kind:
        mutants = [m for m in mutants if m.kind in options.kind]
    if options.again:
        path = os.path.join(os.path.abspath(options.build_dir), "results.json")
        if not os.path.exists(path):
            sys.exit("no earlier run in %s" % options.build_dir)
        mutants = carry_over(mutants, path)
    if options.sample is not None and options.sample < len(mutants):
        mutants = random.Random(options.seed).sample(mutants, options.sample)
    mutants.sort(key=lambda m: (m.path, m.edits[0][0], m.kind, m.change))
    return mutants


def main(argv=None):
    options = parse_options(argv)
    try:
        folders = program_folders()
        sources = tree_sources()
        mutants = all_mutants(sources)
        equivalents = read_equivalents()
    except (NoFolderList, BadEntry) as e:
        sys.exit(str(e))
    stale = stale_entries(equivalents, mutants)
    mutants = select(mutants, sources, options)
    if not options.check_equivalents:
        mark_equivalents(mutants, equivalents)

    if options.list:
        for line in listing(mutants):
            print(line)
        return 0

    base = os.path.abspath(options.build_dir)
    os.makedirs(os.path.join(base, "src"), exist_ok=True)
    lock = open(os.path.join(base, "lock"), "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        sys.exit("another mutation run is using %s" % base)

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGHUP, on_signal)

    started = time.time()
    run_mutants(mutants, base, folders, options)
    seconds = time.time() - started
    cpu = children_cpu()
    save_results(os.path.join(base, "results.json"), mutants)
    print()
    text = report(mutants, stale, seconds, cpu, sys.stdout)
    with open(os.path.join(base, "report.txt"), "w") as f:
        f.write(text)
    return 0


def run_mutants(mutants, base, folders, options):
    """Brings the mirror in base/src in line with the tree, builds it and runs the unmutated
    tests, then builds and tests each mutant still to run, setting its status; a signal stops
    the run with the mirror restored."""
    src = os.path.join(base, "src")
    build_dir = os.path.join(base, "build")
    originals = {}
    current = None  # the mirror file that holds a mutant now
    tests = Tests(build_dir, options.time_factor)
    try:
        written = sync_mirror(src)
        print("mirror: %d files brought in line with the working tree" % written, flush=True)
        configure(src, build_dir)
        for target in ("qdi_tests", "quorvale-sim"):
            code, out = build(build_dir, target)
            if code != 0:
                sys.exit("the unmutated program does not build:\n" + out[-3000:])
        built = set(program_sources(build_dir, folders))
        missing = [m.path for m in mutants if m.path not in built]
        if missing:
            sys.exit("not in the host build: %s" % " ".join(sorted(set(missing))))
        gtest_seconds, scenario_seconds = tests.baseline()
        print(
            "unmutated: %d tests in %.1f s, scenarios in %.1f s; %d mutants to run"
            % (
                len(tests.order),
                gtest_seconds,
                scenario_seconds,
                sum(1 for m in mutants if m.status == "pending"),
            ),
            flush=True,
        )
        to_run = [m for m in mutants if m.status == "pending"]
        for number, m in enumerate(to_run, 1):
            path = os.path.join(src, m.path)
            if m.path not in originals:
                with open(path) as f:
                    originals[m.path] = f.read()
            if current is not None and current != m.path:
                write_source(os.path.join(src, current), originals[current])
                current = None
            mutated = m.apply(originals[m.path])
            current = m.path
            write_source(path, mutated)
            t0 = time.time()
            cpu0 = children_cpu()
            code, out = build(build_dir, "qdi_tests")
            if code != 0:
                m.status = "not compiled"
                m.detail = first_error(out)
            else:
                killed, detail = tests.check(m, options.fast)
                m.status = "killed" if killed else "survived"
                m.detail = detail
            m.seconds = time.time() - t0
            m.cpu = children_cpu() - cpu0
            m.ran = True
            print(
                "[%d/%d] %s:%d %s: %s%s (%.1f s, %.1f s processor)"
                % (
                    number,
                    len(to_run),
                    m.path,
                    m.line,
                    m.change,
                    m.status,
                    " by " + m.detail if m.status == "killed" else "",
                    m.seconds,
                    m.cpu,
                ),
                flush=True,
            )
    except Stop:
        print("stopped: the mirror is restored; the report covers the mutants run", flush=True)
    finally:
        if current is not None:
            write_source(os.path.join(src, current), originals[current])


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def write_source(path, text):
    with open(path, "w") as f:
        f.write(text)


def first_error(out):
    m = re.search(r"error: (.*)", out)
    return m.group(1)[:120] if m else "build failed"


if __name__ == "__main__":
    sys.exit(main())
