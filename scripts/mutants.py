#!/usr/bin/env python3
"""Mutation check: does the suite notice a fault?

Each mutant in scripts/mutants.txt (a comparison flipped, a bound off by one,
a condition dropped, a call removed, a state not saved) is applied alone to a
scratch copy of the tracked files, built incrementally there (ccache keeps
that quick) and run against the fast tests (core_tests and gui_tests; the
INN2 suite too for mutants marked e2e), each within a time bound. The copy
may be a clone that is already built (its build/): then only what a mutant
touches is rebuilt. A mutant is
killed when a test fails, survived when every test passes, timed out when the
tests do not end in time. Prints the tally and the survivors with file and line.

  scripts/mutants.py [--only 1,5-9] [--scratch DIR] [--timeout SECONDS] [--results FILE]
                     [--kills FILE]

--kills runs every test against each mutant (no stopping at the first
failure) and writes which tests failed: the tests no other test backs up are
the ones a trim must keep.

Not part of CI: a whole run takes about an hour on two cores.
"""
import argparse
import filecmp
import os
import re
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
LIST = ROOT / "scripts" / "mutants.txt"
FAST = ["core_tests", "gui_tests"]


def load_mutants():
    mutants = []
    for number, line in enumerate(LIST.read_text().splitlines(), 1):
        if not line.strip() or line.startswith("#"):
            continue
        fields = line.split("\t")
        if len(fields) not in (3, 4) or (len(fields) == 4 and fields[3] != "e2e"):
            sys.exit(f"{LIST.name}:{number}: want file, text, replacement [, e2e] separated by tabs")
        mutants.append({"file": fields[0], "text": fields[1], "into": fields[2], "e2e": len(fields) == 4})
    return mutants


def chosen(wanted, count):
    if not wanted:
        return list(range(1, count + 1))
    picked = []
    for part in wanted.split(","):
        first, _, last = part.partition("-")
        picked += range(int(first), int(last or first) + 1)
    return [n for n in picked if 1 <= n <= count]


def sync(scratch):
    """Copies the tracked files that differ (as new files, so the scratch
    build sees them changed); the others are left alone and not rebuilt."""
    files = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, check=True, capture_output=True).stdout
    for name in files.decode().split("\0"):
        if not name:
            continue
        source, target = ROOT / name, scratch / name
        if source.is_symlink() or not source.is_file():
            continue
        if target.exists() and filecmp.cmp(source, target, shallow=False):
            continue
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(source, target)
        shutil.copymode(source, target)


FAILED = re.compile(rb"^\[  FAILED  \] ([A-Za-z0-9_/.]+)", re.M)


def run(command, cwd, timeout, env=None, failures=None):
    """Runs a command in a process group of its own; 'ok', 'failed' or 'timeout'.
    With failures (a set), the names of the tests that failed are added to it."""
    out = subprocess.PIPE if failures is not None else subprocess.DEVNULL
    with subprocess.Popen(command, cwd=cwd, env=env, stdout=out, stderr=subprocess.DEVNULL,
                          start_new_session=True) as p:
        try:
            text, _ = p.communicate(timeout=max(timeout, 1))
            if failures is not None:
                failures.update(n.decode() for n in FAILED.findall(text))
            return "ok" if p.returncode == 0 else "failed"
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, signal.SIGKILL)
            p.wait()
            return "timeout"


def build(build_dir, targets, timeout):
    return run(["cmake", "--build", str(build_dir), "--target", *targets], build_dir, timeout)


def run_all(build_dir, e2e, timeout, failures):
    """Every test of every binary, each binary to its end (no stopping at the
    first failure); the failed tests' names go into failures."""
    deadline = time.monotonic() + timeout
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    binaries = ["core_tests", "gui_tests"] + (["e2e/e2e_tests"] if e2e else [])
    verdict = "survived"
    for binary in binaries:
        outcome = run([str(build_dir / "tests" / binary)], build_dir, deadline - time.monotonic(), env, failures)
        if outcome == "timeout":
            return "timeout"
        if outcome == "failed":
            verdict = "killed"
    return verdict


def run_suite(build_dir, e2e, timeout):
    """'killed', 'survived' or 'timeout': core_tests in two shards side by side,
    then gui_tests, then (e2e) the INN2 suite; each stops at its first failure."""
    deadline = time.monotonic() + timeout
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    shards = []
    for index in range(2):
        shard_env = dict(env, GTEST_TOTAL_SHARDS="2", GTEST_SHARD_INDEX=str(index))
        shards.append(subprocess.Popen([str(build_dir / "tests" / "core_tests"), "--gtest_fail_fast"],
                                       cwd=build_dir, env=shard_env, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL, start_new_session=True))
    verdict = "survived"
    while any(s.poll() is None for s in shards):
        if any(s.poll() not in (None, 0) for s in shards):
            verdict = "killed"
            break
        if time.monotonic() > deadline:
            verdict = "timeout"
            break
        time.sleep(0.2)
    for s in shards:
        if s.poll() is None:
            os.killpg(s.pid, signal.SIGKILL)
        s.wait()
    if verdict != "survived":
        return verdict
    if any(s.returncode != 0 for s in shards):
        return "killed"
    binaries = [build_dir / "tests" / "gui_tests"]
    if e2e:
        binaries.append(build_dir / "tests" / "e2e" / "e2e_tests")
    for binary in binaries:
        outcome = run([str(binary), "--gtest_fail_fast"], build_dir, deadline - time.monotonic(), env)
        if outcome != "ok":
            return "killed" if outcome == "failed" else "timeout"
    return "survived"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--only", help="mutant numbers, e.g. 1,5-9")
    parser.add_argument("--scratch", default=os.environ.get("TESSALY_MUTANTS_DIR", "/tmp/tessaly-mutants"))
    parser.add_argument("--timeout", type=int, default=300, help="seconds for one mutant's tests")
    parser.add_argument("--results", help="also write one line per mutant here (tab-separated)")
    parser.add_argument("--kills", help="run every test against each mutant and write the ones that failed here")
    args = parser.parse_args()

    mutants = load_mutants()
    numbers = chosen(args.only, len(mutants))
    # The copy at the folder's top and its build below it, as a clone and its
    # build/ are laid out: a clone already built (CI's) is reused as it is.
    tree = Path(args.scratch).resolve()
    build_dir = tree / "build"
    tree.mkdir(parents=True, exist_ok=True)
    sync(tree)
    for m in mutants:
        text = (tree / m["file"]).read_text()
        if text.count(m["text"]) != 1:
            sys.exit(f"{m['file']}: the text of a mutant is found {text.count(m['text'])} times: {m['text']}")
    if not (build_dir / "build.ninja").exists():
        subprocess.run(["cmake", "-S", str(tree), "-B", str(build_dir), "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DTESSALY_BUILD_BENCH=OFF"],
                       check=True, stdout=subprocess.DEVNULL)
    targets = FAST + ["tessaly-par2"]
    e2e_targets = ["e2e_tests", "tessaly-poster"]
    needs_e2e = any(mutants[n - 1]["e2e"] for n in numbers)
    print(f"building the unchanged copy in {build_dir} ...", flush=True)
    if build(build_dir, targets + (e2e_targets if needs_e2e else []), 3600) != "ok":
        sys.exit("the unchanged copy does not build")
    if run_suite(build_dir, needs_e2e, 1800) != "survived":
        sys.exit("the unchanged copy fails its tests: mend them first")

    results = []
    for n in numbers:
        m = mutants[n - 1]
        path = tree / m["file"]
        original = path.read_text()
        line = original[:original.index(m["text"])].count("\n") + 1
        where = f"{m['file']}:{line}"
        started = time.monotonic()
        path.write_text(original.replace(m["text"], m["into"]))
        try:
            built = build(build_dir, targets + (e2e_targets if m["e2e"] else []), 900)
            failures = set()
            if built != "ok":
                verdict = "unbuilt"
            elif args.kills:
                verdict = run_all(build_dir, m["e2e"], args.timeout, failures)
            else:
                verdict = run_suite(build_dir, m["e2e"], args.timeout)
        finally:
            path.write_text(original)
        seconds = time.monotonic() - started
        results.append((n, verdict, where, m))
        if args.kills:
            with open(args.kills, "a") as out:
                out.write(f"{n}\t{verdict}\t{where}\t{' '.join(sorted(failures))}\n")
        print(f"[{n:3}/{len(mutants)}] {verdict:9} {where}  ({seconds:.0f} s)", flush=True)
    build(build_dir, targets, 3600)

    tally = {v: sum(1 for r in results if r[1] == v) for v in ("killed", "survived", "timeout", "unbuilt")}
    counted = len(results) - tally["unbuilt"]
    score = (tally["killed"] + tally["timeout"]) / counted if counted else 0
    print(f"\nkilled {tally['killed']}, survived {tally['survived']}, timed out {tally['timeout']}, "
          f"not built {tally['unbuilt']}; score {score:.1%} of {counted}")
    for n, verdict, where, m in results:
        if verdict in ("survived", "unbuilt"):
            print(f"  {verdict}: #{n} {where}: {m['text']}  ->  {m['into']}")
    if args.results:
        with open(args.results, "w") as out:
            for n, verdict, where, m in results:
                out.write(f"{n}\t{verdict}\t{where}\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
