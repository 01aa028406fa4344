"""Running: the builds and the host tests of the mirror, each process with a time limit and
stopped with all it started; the tests in stages, the tests nearest the mutated file first, the
scenario transcripts next and the long failure sweeps last, each test counted as the killer of a
mutant only when it fails alone too."""

import collections
import json
import os
import re
import signal
import subprocess
import sys
import time


class Stop(Exception):
    """A signal asked the run to stop."""


running = {"process": None}


def run(args, cwd, limit, env=None):
    """(exit code or None on time out, output)."""
    proc = subprocess.Popen(
        args,
        cwd=cwd,
        stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT,
        start_new_session=True,
        env=env,
    )
    running["process"] = proc
    try:
        out, _ = proc.communicate(timeout=limit)
        return proc.returncode, out.decode(errors="replace")
    except subprocess.TimeoutExpired:
        kill_group(proc)
        out, _ = proc.communicate()
        return None, out.decode(errors="replace")
    finally:
        running["process"] = None


def kill_group(proc):
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def on_signal(signum, frame):
    """Stops the running process and its children, and the run."""
    proc = running["process"]
    if proc is not None:
        kill_group(proc)
    raise Stop()


class Tests:
    """The host tests: the GoogleTest program, run in stages with the tests nearest the mutated
    file first and the long sweeps last, then the scenario transcripts."""

    def __init__(self, build, factor):
        self.build = build
        self.binary = os.path.join(build, "qdi_tests")
        self.factor = factor
        self.times = {}  # test name -> seconds in the unmutated run
        self.files = {}  # test name -> its source file
        self.order = []  # registration order
        self.killers = collections.defaultdict(collections.Counter)  # path -> test -> kills
        self.scenario_seconds = 0.0

    def limit(self, names):
        return 10.0 + self.factor * sum(self.times.get(n, 0.0) for n in names)

    def baseline(self):
        report = os.path.join(self.build, "mutation-baseline.json")
        start = time.time()
        code, out = run(
            [self.binary, "--gtest_output=json:" + report], self.build, 3600
        )
        if code != 0:
            sys.exit("The host tests fail without any mutant:\n" + out[-3000:])
        with open(report) as f:
            data = json.load(f)
        for suite in data["testsuites"]:
            for test in suite["testsuite"]:
                name = "%s.%s" % (suite["name"], test["name"])
                self.order.append(name)
                self.times[name] = float(test["time"].rstrip("s"))
                self.files[name] = test.get("file", "")
        gtest_seconds = time.time() - start
        start = time.time()
        code, out = self.run_scenarios(3600)
        if code != 0:
            sys.exit("The scenario tests fail without any mutant:\n" + out[-3000:])
        self.scenario_seconds = time.time() - start
        return gtest_seconds, self.scenario_seconds

    def stages(self, path):
        folder, name = path.split("/")
        words = set(name[: -len(".cpp")].split("_")) | {folder}
        words.discard("")
        known = [n for n, _ in self.killers[path].most_common()]

        def near(test):
            # A test of tests/<folder>/<name>_test.cpp is near a file of that folder or one whose
            # name shares a word with <name>.
            source = self.files[test]
            parts = set(os.path.basename(source)[: -len("_test.cpp")].split("_"))
            parts.add(os.path.basename(os.path.dirname(source)))
            return bool(parts & words)

        fast = [n for n in self.order if self.times[n] < 1.0]
        slow = sorted((n for n in self.order if self.times[n] >= 1.0), key=self.times.get)
        first = [n for n in fast if n in known or near(n)]
        rest = [n for n in fast if n not in first]
        stages = [s for s in (first, rest) if s]
        stages += [[n] for n in slow]
        return stages

    def run_stage(self, names):
        """(name of the first test that fails, also when run alone, or None; how it failed)."""
        names = list(names)
        while names:
            code, out = run(
                [self.binary, "--gtest_fail_fast", "--gtest_filter=" + ":".join(names)],
                self.build,
                self.limit(names),
            )
            if code == 0:
                return None, ""
            failed = first_failure(out)
            if failed is None or failed not in names:
                return "(the test program)", failure_kind(code, out)
            if len(names) == 1:
                return failed, failure_kind(code, out)
            # Each test runs in a process of its own under CTest: a failure counts only when the
            # test fails alone too, not through what an earlier test left behind.
            alone_code, alone_out = run(
                [self.binary, "--gtest_filter=" + failed], self.build, self.limit([failed])
            )
            if alone_code != 0:
                return failed, failure_kind(alone_code, alone_out)
            names = names[names.index(failed) + 1 :]
        return None, ""

    def run_scenarios(self, limit):
        return run(
            ["ctest", "--test-dir", self.build, "-L", "scenario", "--stop-on-failure"],
            self.build,
            limit,
        )

    def check(self, mutant, fast):
        """(killed, detail). The GoogleTest stages that take under a second each, then the
        scenarios, then the long sweeps (left out when fast)."""
        stages = self.stages(mutant.path)
        quick = [s for s in stages if sum(self.times[n] for n in s) < 1.0 or len(s) > 1]
        slow = [] if fast else [s for s in stages if s not in quick]
        for stage in quick + ["scenarios"] + slow:
            if stage == "scenarios":
                failed, how = self.check_scenarios()
            else:
                failed, how = self.run_stage(stage)
            if failed:
                self.killers[mutant.path][failed] += 1
                return True, "%s (%s)" % (failed, how)
        return False, ""

    def check_scenarios(self):
        code, out = build(self.build, "quorvale-sim")
        if code != 0:
            return "quorvale-sim", "does not build"
        code, out = self.run_scenarios(10.0 + self.factor * self.scenario_seconds)
        if code != 0:
            m = re.search(r"^\s*\d+/\d+ Test\s+#\d+: (\S+) \.*\**\s*(Failed|Timeout)", out, re.M)
            return (m.group(1) if m else "a scenario"), failure_kind(code, out)
        return None, ""


def first_failure(out):
    m = re.search(r"^\[  FAILED  \] (\S+\.\S+)", out, re.M)
    if m:
        return m.group(1).rstrip(",")
    # A crash or a time out: the test that started and never finished.
    started = re.findall(r"^\[ RUN      \] (\S+)", out, re.M)
    finished = set(re.findall(r"^\[       OK \] (\S+)", out, re.M))
    for name in reversed(started):
        if name not in finished:
            return name
    return None


def failure_kind(code, out):
    if code is None:
        return "time limit"
    if re.search(r"^\S+:\d+: Failure$", out, re.M):
        return "assertion"
    if "AddressSanitizer" in out or "LeakSanitizer" in out:
        return "sanitizer: address"
    if "runtime error:" in out:
        return "sanitizer: undefined behaviour"
    if code < 0 or code > 128:
        return "crash"
    return "assertion"


def build(build_dir, target):
    """Builds one target of the build in build_dir: (exit code or None, output)."""
    return run(["ninja", "-C", build_dir, target], build_dir, 1800)

