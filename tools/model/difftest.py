#!/usr/bin/env python3
"""Differential test: the tov binary against the reference model.

    python3 difftest.py --bin /work/main/build/tov --count 2000 --seed 1 [--out DIR]

Generates programs with randprog, runs each through the binary and through the
model (mostly with -x, the source as a file), and compares standard output,
standard error and exit status byte for byte.  A program whose execution
exceeds the model's step bound is skipped without running the binary.  Each
difference is saved under DIR/case-<n>/ (program, arguments, both outputs) and
its first differing line per stream is printed.  A fixed set of command-line
cases runs first.  The closing line reads "N passed, N failed, N skipped".
"""

import argparse
import collections
import concurrent.futures
import os
import random
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import randprog  # noqa: E402
import tovmodel  # noqa: E402

PROG = "prog.tov"


def cli_cases():
    """Command lines, each with its standard input; the work folder holds prog.tov,
    other.tov and the folder dir."""
    p = b"BEGIN WRITE 1 END."
    long_name = "n" * 300
    return [
        ([], p), (["-x"], p), (["-h"], b""), (["-?"], b""), (["/h"], b""), (["/?", PROG], b""),
        (["-x", PROG], b""), ([PROG, "-x"], b""), (["/x", PROG], b""), (["-", "-x"], p),
        (["-"], p), ([PROG, "other.tov", "-x"], b""), (["-h", PROG], b""), (["-y", "-h"], b""),
        (["-h", "-y"], b""), (["--x"], b""), (["-X"], b""), (["-xh"], b""), (["-help"], b""),
        (["nope.tov"], b""), ([""], b""), (["dir"], b""), (["/"], b""), (["/y"], b""),
        (["/xx"], b""), (["/tmp/does/not/exist"], b""), (["-" + long_name], b""),
        ([long_name], b""), (["-x", "-x", PROG, "-x", "-h"], b""), ([PROG, "-y"], b""),
        ([PROG, "-h"], b""), (["dir", "-h"], b""), (["nope.tov", "-h"], b""), (["-x", "-"], b""),
    ]


def first_diff(a, b):
    la = a.split(b"\n")
    lb = b.split(b"\n")
    for k in range(max(len(la), len(lb))):
        x = la[k] if k < len(la) else None
        y = lb[k] if k < len(lb) else None
        if x != y:
            return k + 1, x, y
    return None


def run_bin(binary, args, stdin, cwd, timeout):
    try:
        p = subprocess.run([binary] + args, input=stdin, cwd=cwd, capture_output=True,
                           timeout=timeout)
        return p.stdout, p.stderr, p.returncode
    except subprocess.TimeoutExpired as e:
        return e.stdout or b"", (e.stderr or b"") + b"<timeout>", "timeout"


def one(job):
    """Runs one case; returns (n, kind, verdict, details)."""
    n, kind, args, stdin, src, binary, steps, timeout = job
    work = tempfile.mkdtemp(prefix="tovdiff-")
    try:
        if src is not None:
            with open(os.path.join(work, PROG), "wb") as f:
                f.write(src)
        with open(os.path.join(work, "other.tov"), "wb") as f:
            f.write(b"garbage ,")
        os.mkdir(os.path.join(work, "dir"))
        m = tovmodel.run(args, stdin=stdin, cwd=work, steps=steps)
        if m[2] is None:
            return n, kind, "skipped", None
        b = run_bin(binary, args, stdin, work, timeout)
        if m == b:
            return n, kind, "passed", m[2]
        return n, kind, "failed", (args, stdin, src, m, b)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def save(out, n, details):
    args, stdin, src, m, b = details
    d = os.path.join(out, "case-%s" % n)
    os.makedirs(d, exist_ok=True)
    if src is not None:
        with open(os.path.join(d, PROG), "wb") as f:
            f.write(src)
    with open(os.path.join(d, "args.txt"), "w") as f:
        f.write(" ".join(repr(a) for a in args) + "\n")
    if stdin:
        with open(os.path.join(d, "stdin"), "wb") as f:
            f.write(stdin)
    for who, res in (("model", m), ("bin", b)):
        for name, data in (("stdout", res[0]), ("stderr", res[1])):
            with open(os.path.join(d, "%s.%s" % (who, name)), "wb") as f:
                f.write(data)
        with open(os.path.join(d, "%s.status" % who), "w") as f:
            f.write("%s\n" % (res[2],))
    return d


def report(n, kind, details, d):
    args, stdin, src, m, b = details
    print("DIFF case %s (%s) args %r -> %s" % (n, kind, args, d))
    for name, k in (("stdout", 0), ("stderr", 1)):
        fd = first_diff(m[k], b[k])
        if fd:
            print("  %s line %d:\n    model: %r\n    bin:   %r" % (name, fd[0], fd[1], fd[2]))
    if m[2] != b[2]:
        print("  status: model %s, bin %s" % (m[2], b[2]))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--bin", default=os.path.join(HERE, "..", "..", "build", "tov"))
    ap.add_argument("--count", type=int, default=1000)
    ap.add_argument("--seed", default="1")
    ap.add_argument("--out", default="difftest-out")
    ap.add_argument("--steps", type=int, default=200000, help="model's bound on executed commands")
    ap.add_argument("--timeout", type=float, default=60.0, help="seconds per binary run")
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    ap.add_argument("--no-cli", action="store_true", help="skip the fixed command-line cases")
    ap.add_argument("--quiet", action="store_true")
    opt = ap.parse_args()
    binary = os.path.abspath(opt.bin)
    if not os.access(binary, os.X_OK):
        print("difftest: no binary at %s" % binary)
        return 2

    jobs = []
    if not opt.no_cli:
        for k, (args, stdin) in enumerate(cli_cases()):
            jobs.append(("cli%d" % k, "cli", args, stdin, b"BEGIN WRITE 1 END.",
                         binary, opt.steps, opt.timeout))
    for i in range(opt.count):
        key = "%s:%d" % (opt.seed, i)
        kind, src = randprog.generate(key)
        r = random.Random(key + ":mode")
        p = r.random()
        if p < 0.80:
            args, stdin = ["-x", PROG], b""
        elif p < 0.88:
            args, stdin = ["-x"], src
        elif p < 0.94:
            args, stdin = [PROG], b""
        else:
            args, stdin = ["-", "-x"], src
        jobs.append((i, kind, args, stdin, src, binary, opt.steps, opt.timeout))

    counts = collections.Counter()
    by_kind = collections.Counter()
    failed = []
    with concurrent.futures.ProcessPoolExecutor(max_workers=opt.jobs) as ex:
        for n, kind, verdict, details in ex.map(one, jobs, chunksize=4):
            counts[verdict] += 1
            by_kind[(kind.split("+")[0], verdict, details if verdict == "passed" else None)] += 1
            if verdict == "failed":
                d = save(opt.out, n, details)
                report(n, kind, details, d)
                failed.append(n)
    if not opt.quiet:
        for (kind, verdict, status), c in sorted(by_kind.items(), key=str):
            print("  %-8s %-8s status %-5s %d" % (kind, verdict, status, c))
    print("%d passed, %d failed, %d skipped" % (counts["passed"], counts["failed"], counts["skipped"]))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
