#!/usr/bin/env python3
"""Self-checks of the reference model against the documented examples.

    python3 selftest.py [-v] [--bin PATH]

With --bin every source-level check also runs the binary and requires the same
standard output, standard error and exit status.

Prints one line per failed check and closes with "N passed, N failed".
"""

import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tovmodel as M  # noqa: E402

VERBOSE = "-v" in sys.argv
BIN = sys.argv[sys.argv.index("--bin") + 1] if "--bin" in sys.argv else None
PASSED = 0
FAILED = 0
BIN_DIFFS = []


def model_run(args, stdin=b"", cwd=None):
    """The model's run; with --bin the binary must give the same three results."""
    res = M.run(args, stdin=stdin, cwd=cwd)
    if BIN:
        import subprocess
        p = subprocess.run([BIN] + list(args), input=stdin, cwd=cwd, capture_output=True,
                           timeout=60)
        got = (p.stdout, p.stderr, p.returncode)
        check("binary agrees: %r %r" % (args, stdin[:70]), got, res)
    return res


def check(name, got, want):
    global PASSED, FAILED
    if got == want:
        PASSED += 1
        if VERBOSE:
            print("ok   " + name)
    else:
        FAILED += 1
        print("FAIL " + name)
        print("  want: %r" % (want,))
        print("  got:  %r" % (got,))


def lines(*ls):
    return b"".join(l.encode() + b"\r\n" for l in ls)


def split(data):
    text = data.decode("latin-1")
    assert text == "" or text.endswith("\r\n"), text
    return text.split("\r\n")[:-1]


def src(text, *args):
    """Runs the model on a source given on standard input."""
    return model_run(list(args), stdin=text.encode("latin-1"))


def listing(text):
    out, err, st = src(text)
    assert st == 0, (text, err)
    return split(out)


def lst(*pairs):
    return ["%4d: %s" % p for p in pairs]


def errline(text, *args):
    out, err, st = src(text, *args)
    return (split(err)[-1] if err else None, st)


# ------------------------------------------------------------------ road of one program
def road():
    with tempfile.TemporaryDirectory() as d:
        p = os.path.join(d, "prog.txt")
        with open(p, "wb") as f:
            f.write(b"VAR i: INTEGER; BEGIN i := 7; WRITE i END.")
        out, err, st = model_run(["-x", p])
    check("road: listing and output", out,
          lines("   0: Val 7", "   5: Sto 0", "  10: Lod 0", "  15: Wrt", "  17: Hlt", "7"))
    check("road: status", st, 0)
    check("road: stderr", err, lines(
        "Gen.Dbg: lck  pos  cmd",
        "Gen.Dbg:   0    0: Val 7",
        "Gen.Dbg:   0    5: Sto 0",
        "Gen.Dbg:   0   10: Lod 0",
        "Gen.Dbg:   0   15: Wrt",
        "Gen.Dbg:   0   17: Hlt",
        "Comp.Dbg:   pc  cond  ac       top-1         top",
        "Comp.Dbg:    0: FALSE  0                        :  Val 7",
        "Comp.Dbg:    5: FALSE  1                       7:  Sto 0",
        "Comp.Dbg:   10: FALSE  0                        :  Lod 0",
        "Comp.Dbg:   15: FALSE  1                       7:  Wrt",
        "Comp.Dbg:   17: FALSE  0                        :  Hlt"))


# ------------------------------------------------------------------ worked example of the generator
WORKED = ("CONST n = 10; VAR i: INTEGER; BEGIN i := 0; "
          "WHILE i < n DO WRITE i; i := i + 1 END END.")


def worked():
    out, err, st = src(WORKED)
    check("worked: trace", err, lines(
        "Gen.Dbg: lck  pos  cmd",
        "Gen.Dbg:   0    0: Val 0",
        "Gen.Dbg:   0    5: Sto 0",
        "Gen.Dbg:   0   10: Lod 0",
        "Gen.Dbg:   0   15: Val 10",
        "Gen.Dbg:   0   20: Lss",
        "Gen.Dbg:   0   22: Jpf <fixme>",
        "Gen.Dbg:   0   27: Lod 0",
        "Gen.Dbg:   0   32: Wrt",
        "Gen.Dbg:   0   34: Lod 0",
        "Gen.Dbg:   0   39: Val 1",
        "Gen.Dbg:   0   44: Add",
        "Gen.Dbg:   0   46: Sto 0",
        "Gen.Dbg:   0   51: Jmp 10",
        "Gen.Dbg: Fixup 23 with 56",
        "Gen.Dbg:   0   56: Hlt"))
    check("worked: listing", split(out), lst(
        (0, "Val 0"), (5, "Sto 0"), (10, "Lod 0"), (15, "Val 10"), (20, "Lss"),
        (22, "Jpf 56"), (27, "Lod 0"), (32, "Wrt"), (34, "Lod 0"), (39, "Val 1"),
        (44, "Add"), (46, "Sto 0"), (51, "Jmp 10"), (56, "Hlt")))
    check("worked: status", st, 0)
    out, err, st = src(WORKED, "-x")
    check("worked: program output", split(out)[14:], [str(i) for i in range(10)])
    trace = split(err)
    check("worked: last trace line", trace[-1],
          "Comp.Dbg:   56: FALSE  0                        :  Hlt")


# ------------------------------------------------------------------ machine on hand-made stores
def machine(cmds, steps=None):
    """Runs a store built from (function, operand) pairs; returns the model and its result."""
    t = M.Tov([])
    data = bytearray()
    for fct, arg in cmds:
        data.append(fct)
        if fct == M.fOpr:
            data.append(arg)
        elif fct == M.fVal:
            data += arg.to_bytes(4, "little", signed=True)
        elif fct != M.fHlt:
            data += arg.to_bytes(4, "little")
    t.prg[:len(data)] = data
    t.len = len(data)
    st = 0
    try:
        t.exec_prog()
    except M.Stop as e:
        st = e.status
    return t, st


def machine_raw(data, do_list=True):
    t = M.Tov([])
    t.prg[:len(data)] = data
    t.len = len(data)
    st = 0
    try:
        t.list_() if do_list else t.exec_prog()
    except M.Stop as e:
        st = e.status
    return t, st


V, L, S, O, J, JF, JT, H = M.fVal, M.fLod, M.fSto, M.fOpr, M.fJmp, M.fJpf, M.fJpt, M.fHlt


def interp():
    t, st = machine([(V, 7), (V, 2), (O, M.oSub), (V, 9), (O, M.oLss), (O, M.oWrC), (H, 0)])
    check("interp example: stdout", bytes(t.out), lines("TRUE "))
    check("interp example: stderr", bytes(t.err), lines(
        "Comp.Dbg:   pc  cond  ac       top-1         top",
        "Comp.Dbg:    0: FALSE  0                        :  Val 7",
        "Comp.Dbg:    5: FALSE  1                       7:  Val 2",
        "Comp.Dbg:   10: FALSE  2           7           2:  Sub",
        "Comp.Dbg:   12: FALSE  1                       5:  Val 9",
        "Comp.Dbg:   17: FALSE  2           5           9:  Lss",
        "Comp.Dbg:   19: TRUE   0                        :  WrC",
        "Comp.Dbg:   21: TRUE   0                        :  Hlt"))

    def stack(cmds):
        t, st = machine(cmds)
        return t.args[:t.ac], st

    check("interp: sub", stack([(V, 7), (V, 2), (O, M.oSub)]), ([5], 0))
    check("interp: bus", stack([(V, 7), (V, 2), (O, M.oBus)]), ([-5], 0))
    check("interp: div floored", stack([(V, -7), (V, 2), (O, M.oDiv)]), ([-4], 0))
    check("interp: vid", stack([(V, 2), (V, 7), (O, M.oVid)]), ([3], 0))
    check("interp: not", stack([(V, 0), (O, M.oNot), (V, 1), (O, M.oNot)]), ([-1, -2], 0))
    t, st = machine([(V, 3), (V, 3), (O, M.oLeq)])
    check("interp: leq", (t.cond, t.ac), (True, 0))
    for name, cmds, line in [
            ("div zero", [(V, 7), (V, 0), (O, M.oDiv)], "Comp: Division by zero."),
            ("vid zero", [(V, 0), (V, 7), (O, M.oVid)], "Comp: Division by zero."),
            ("div negative", [(V, 7), (V, -1), (O, M.oDiv)], "Comp: Negative divisor."),
            ("vid negative", [(V, -1), (V, 7), (O, M.oVid)], "Comp: Negative divisor."),
            ("underflow", [(V, 1), (O, M.oAdd)], "Comp: Stack underflow."),
            ("overflow", [(V, 1)] * 33, "Comp: Stack overflow."),
            ("index", [(S, 64)], "Comp: Invalid index 64."),
            ("address", [(JT, 300)], "Comp: Invalid address 300."),
            ("add overflow", [(V, 2147483647), (V, 1), (O, M.oAdd)], "Comp: Arithmetic overflow."),
            ("neg overflow", [(V, -2147483648), (O, M.oNeg)], "Comp: Arithmetic overflow."),
            ("bus overflow", [(V, 1), (V, -2147483648), (O, M.oBus)], "Comp: Arithmetic overflow."),
            ("mul overflow", [(V, 65536), (V, 32768), (O, M.oMul)], "Comp: Arithmetic overflow."),
            ("operation", [(O, 18)], "Comp0.Bug: Unknown operation 18.")]:
        t, st = machine(cmds)
        check("interp: " + name, (split(bytes(t.err))[-1], st), (line, 9))
    t, st = machine([(V, 65536), (V, 32768), (O, M.oMul)])
    check("interp: error after its trace line", split(bytes(t.err))[-2][-3:], "Mul")
    t, st = machine([(O, 18)])
    check("interp: invalid operation before header", bytes(t.err),
          lines("Comp0.Bug: Unknown operation 18."))
    t, st = machine([(JF, 5)])
    check("interp: jpf to len ends", st, 0)
    t, st = machine([(V, -2147483648), (O, M.oWrt)])
    check("interp: write minint", bytes(t.out), lines("-2147483648"))
    t, st = machine([])
    check("interp: empty store", (bytes(t.out), bytes(t.err), st), (b"", b"", 0))
    t, st = machine([(H, 0), (V, 1)])
    check("interp: hlt stops", t.ac, 0)


def store_listing():
    data = bytes([1, 5, 0, 0, 0, 3, 0, 0, 0, 0, 2, 0, 0, 0, 0, 4, 0, 0])
    t, st = machine_raw(data)
    check("listing example", bytes(t.out),
          lines("   0: Val 5", "   5: Sto 0", "  10: Lod 0", "  15: Wrt", "  17: Hlt"))
    check("listing example from source",
          listing("VAR x: INTEGER; BEGIN x := 5; WRITE x END."),
          ["   0: Val 5", "   5: Sto 0", "  10: Lod 0", "  15: Wrt", "  17: Hlt"])
    t, st = machine_raw(bytes([0, 4]))
    check("listing: end of program", (bytes(t.out), bytes(t.err), st),
          (lines("   0: Hlt"), lines("Comp: Bug: End of program."), 9))
    t, st = machine_raw(bytes([8]))
    check("listing: invalid function", (bytes(t.err), st), (lines("Comp: Invalid function 8."), 9))
    t, st = machine_raw(bytes([0, 4, 18]))
    check("listing: invalid operation", (bytes(t.err), st),
          (lines("Comp0.Bug: Unknown operation 18."), 9))
    t, st = machine_raw(bytes([5, 0xFF, 0xFF, 0xFF, 0xFF, 5, 0xFE, 0xFF, 0xFF, 0xFF,
                               1, 0, 0, 0, 0x80, 4, 16]))
    check("listing: texts", split(bytes(t.out)),
          lst((0, "Jmp <fixme>"), (5, "Jmp 4294967294"), (10, "Val -2147483648"), (15, "Or ")))


# ------------------------------------------------------------------ command sequences
DECL43 = ("VAR i: INTEGER; j: INTEGER; n: INTEGER; k: INTEGER; b: BOOLEAN; BEGIN %s END.")


def seq43(stmt):
    return listing(DECL43 % stmt)[:-1]


def sequences():
    decl = "VAR i: INTEGER; n: INTEGER; b: BOOLEAN; BEGIN %s END."
    check("seq: while", listing(decl % "WHILE i < n DO i := i + 1 END"), lst(
        (0, "Lod 0"), (5, "Lod 1"), (10, "Lss"), (12, "Jpf 39"), (17, "Lod 0"),
        (22, "Val 1"), (27, "Add"), (29, "Sto 0"), (34, "Jmp 0"), (39, "Hlt")))
    out, err, st = src(decl % "WHILE i < n DO i := i + 1 END")
    check("seq: while fixup line", "Gen.Dbg: Fixup 13 with 39" in split(err), True)
    check("seq: b := i < n", listing(decl % "b := i < n")[:-1], lst(
        (0, "Lod 0"), (5, "Lod 1"), (10, "Lss"), (12, "Jpf 27"), (17, "Val 1"),
        (22, "Jmp 32"), (27, "Val 0"), (32, "Sto 2")))
    check("seq: if b else", listing(decl % "IF b THEN i := 1 ELSE i := 2 END")[:-1], lst(
        (0, "Lod 2"), (5, "Val 0"), (10, "Neq"), (12, "Jpf 32"), (17, "Val 1"),
        (22, "Sto 0"), (27, "Jmp 42"), (32, "Val 2"), (37, "Sto 0")))
    check("seq: if not", listing(decl % "IF ~(i < n) THEN i := 1 END")[:-1], lst(
        (0, "Lod 0"), (5, "Lod 1"), (10, "Lss"), (12, "Jpt 27"), (17, "Val 1"), (22, "Sto 0")))
    check("seq: repeat", listing(decl % "REPEAT i := 1 UNTIL i = 0")[:-1], lst(
        (0, "Val 1"), (5, "Sto 0"), (10, "Lod 0"), (15, "Val 0"), (20, "Eql"), (22, "Jpf 0")))
    out, err, st = src(decl % "IF FALSE THEN i := 1 END")
    check("seq: if false store", split(out), lst((0, "Hlt")))
    check("seq: if false trace", err, lines(
        "Gen.Dbg: Lock", "Gen.Dbg: lck  pos  cmd", "Gen.Dbg:   1    0: Val 1",
        "Gen.Dbg:   1    0: Sto 0", "Gen.Dbg: Unlock", "Gen.Dbg:   0    0: Hlt"))
    out, err, st = src(decl % "WHILE FALSE DO i := 1 END")
    check("seq: while false", (split(out), split(err)[-3:]),
          (lst((0, "Hlt")), ["Gen.Dbg:   1    0: Jmp 0", "Gen.Dbg: Unlock", "Gen.Dbg:   0    0: Hlt"]))
    check("seq: if true else", listing(decl % "IF TRUE THEN i := 1 ELSE i := 2 END")[:-1], lst(
        (0, "Val 1"), (5, "Sto 0"), (10, "Jmp 25"), (15, "Val 2"), (20, "Sto 0")))
    check("seq: if false else", listing(decl % "IF FALSE THEN i := 1 ELSE i := 2 END")[:-1], lst(
        (0, "Val 2"), (5, "Sto 0")))
    check("seq: while true", listing(decl % "i := 0; WHILE TRUE DO i := 1 END")[:-1], lst(
        (0, "Val 0"), (5, "Sto 0"), (10, "Val 1"), (15, "Sto 0"), (20, "Jmp 10")))
    check("seq: until false", listing(decl % "REPEAT i := 1 UNTIL FALSE")[:-1], lst(
        (0, "Val 1"), (5, "Sto 0"), (10, "Jmp 0")))
    check("seq: until true", listing(decl % "REPEAT i := 1 UNTIL TRUE")[:-1], lst(
        (0, "Val 1"), (5, "Sto 0")))
    check("seq: elsif false", listing(
        decl % "IF b THEN i := 1 ELSIF FALSE THEN i := 2 ELSE i := 3 END")[:-1], lst(
        (0, "Lod 2"), (5, "Val 0"), (10, "Neq"), (12, "Jpf 32"), (17, "Val 1"),
        (22, "Sto 0"), (27, "Jmp 42"), (32, "Val 3"), (37, "Sto 0")))

    check("seq: k := i + 1", seq43("k := i + 1"), lst(
        (0, "Lod 0"), (5, "Val 1"), (10, "Add"), (12, "Sto 3")))
    check("seq: k := 1 + i", seq43("k := 1 + i"), lst(
        (0, "Val 1"), (5, "Lod 0"), (10, "Add"), (12, "Sto 3")))
    check("seq: k := 2 * 3 + i", seq43("k := 2 * 3 + i"), lst(
        (0, "Val 6"), (5, "Lod 0"), (10, "Add"), (12, "Sto 3")))
    check("seq: k := i - (j + n)", seq43("k := i - (j + n)"), lst(
        (0, "Lod 1"), (5, "Lod 2"), (10, "Add"), (12, "Lod 0"), (17, "Bus"), (19, "Sto 3")))
    check("seq: k := -i * j", seq43("k := -i * j"), lst(
        (0, "Lod 0"), (5, "Lod 1"), (10, "Mul"), (12, "Neg"), (14, "Sto 3")))
    check("seq: i = j + 1", seq43("IF i = j + 1 THEN END")[:6], lst(
        (0, "Lod 1"), (5, "Val 1"), (10, "Add"), (12, "Lod 0"), (17, "Eql"), (19, "Jpf 24")))
    check("seq: 1 < i + j", seq43("IF 1 < i + j THEN END")[:6], lst(
        (0, "Lod 0"), (5, "Lod 1"), (10, "Add"), (12, "Val 1"), (17, "Gtr"), (19, "Jpf 24")))
    check("seq: WRITE i < j", seq43("WRITE i < j"), lst(
        (0, "Lod 0"), (5, "Lod 1"), (10, "Lss"), (12, "Jpf 27"), (17, "Val 1"),
        (22, "Jmp 32"), (27, "Val 0"), (32, "Val 0"), (37, "Neq"), (39, "WrC")))
    check("seq: WRITE i", seq43("WRITE i"), lst((0, "Lod 0"), (5, "Wrt")))
    check("seq: and", seq43("b := (i > 0) & (j > 0)"), lst(
        (0, "Lod 0"), (5, "Val 0"), (10, "Gtr"), (12, "Jpf 44"), (17, "Lod 1"),
        (22, "Val 0"), (27, "Gtr"), (29, "Jpf 44"), (34, "Val 1"), (39, "Jmp 49"),
        (44, "Val 0"), (49, "Sto 4")))
    check("seq: or", seq43("b := (i > 0) | (j > 0)"), lst(
        (0, "Lod 0"), (5, "Val 0"), (10, "Gtr"), (12, "Jpt 34"), (17, "Lod 1"),
        (22, "Val 0"), (27, "Gtr"), (29, "Jpf 44"), (34, "Val 1"), (39, "Jmp 49"),
        (44, "Val 0"), (49, "Sto 4")))
    check("seq: b := ~b", seq43("b := ~b"), lst(
        (0, "Lod 4"), (5, "Val 0"), (10, "Neq"), (12, "Jpt 27"), (17, "Val 1"),
        (22, "Jmp 32"), (27, "Val 0"), (32, "Sto 4")))
    out, err, st = src(DECL43 % "b := FALSE & (i > 0)")
    check("seq: FALSE & x", (split(out), split(err)), (lst((0, "Val 0"), (5, "Sto 4"), (10, "Hlt")), [
        "Gen.Dbg: Lock", "Gen.Dbg: lck  pos  cmd", "Gen.Dbg:   1    0: Lod 0",
        "Gen.Dbg:   1    0: Val 0", "Gen.Dbg:   1    0: Gtr", "Gen.Dbg: Unlock",
        "Gen.Dbg:   0    0: Val 0", "Gen.Dbg:   0    5: Sto 4", "Gen.Dbg:   0   10: Hlt"]))
    check("seq: TRUE & b", seq43("b := TRUE & b"), lst((0, "Lod 4"), (5, "Sto 4")))
    check("seq: constant right of &", seq43("b := (i > 0) & TRUE")[:8], lst(
        (0, "Lod 0"), (5, "Val 0"), (10, "Gtr"), (12, "Jpf 44"), (17, "Val 1"),
        (22, "Val 0"), (27, "Neq"), (29, "Jpf 44")))
    check("seq: WRITE TRUE", seq43("WRITE TRUE"), lst(
        (0, "Val 1"), (5, "Val 0"), (10, "Neq"), (12, "WrC")))
    out, err, st = src(DECL43 % "b := FALSE & TRUE")
    check("seq: FALSE & TRUE", split(err)[:2], ["Gen.Dbg: Lock", "Gen.Dbg: Unlock"])


def run_out(stmts, decl="VAR i: INTEGER; j: INTEGER; b: BOOLEAN;"):
    out, err, st = src("%s BEGIN %s END." % (decl, stmts), "-x")
    n = len(listing("%s BEGIN %s END." % (decl, stmts)))
    return split(out)[n:], st


def semantics():
    check("exec: folding", run_out("WRITE (-7) / 2; WRITE 7 / 2; WRITE -7 / 2"),
          (["-4", "3", "-3"], 0))
    check("exec: reversed ops", run_out(
        "i := 10; j := 3; WRITE i - (j + 1); WRITE i / (j - 1); b := 1 < i + j; WRITE b;"
        "WRITE i = j + 7"), (["6", "5", "TRUE ", "TRUE "], 0))
    check("exec: mend and", run_out("i := 1; b := TRUE = ((i > 0) & TRUE); WRITE b"),
          (["TRUE "], 0))
    check("exec: mend or", run_out("i := 0; b := FALSE; b := b = ((i > 0) | (i < 0)); WRITE b"),
          (["TRUE "], 0))
    check("exec: booleans", run_out("WRITE FALSE < TRUE; WRITE ~TRUE"), (["TRUE ", "FALSE"], 0))
    check("exec: overflow", run_out("i := 2147483647; i := i + 1"), ([], 9))


# ------------------------------------------------------------------ command line
HELP = lines(
    "tov: compiler and stack machine for a small block-structured language",
    "(* flowers & bug reports to tov maintainers <tov@example.org> *)",
    'syntax = "tov" { option } [ infile ] .',
    'option = "-h"  (* show this info and exit *)',
    '       | "-x"  (* execute (after listing) *) .')


def command_line():
    prog = b"BEGIN WRITE 1 END."
    with tempfile.TemporaryDirectory() as d:
        with open(os.path.join(d, "prog.txt"), "wb") as f:
            f.write(prog)
        with open(os.path.join(d, "b.txt"), "wb") as f:
            f.write(b"garbage")
        os.mkdir(os.path.join(d, "dir"))

        def r(*args, stdin=b""):
            return model_run(list(args), stdin=stdin, cwd=d)

        listed = lines("   0: Val 1", "   5: Wrt", "   7: Hlt")
        ran = listed + lines("1")
        check("cli: -h", r("-h"), (b"", HELP, 9))
        check("cli: -? prog", r("-?", "prog.txt"), (b"", HELP, 9))
        check("cli: /h", r("/h"), (b"", HELP, 9))
        check("cli: -y -h", r("-y", "-h"), (b"", lines("tov: Invalid option: 'y'"), 9))
        check("cli: -h -y", r("-h", "-y"), (b"", HELP, 9))
        check("cli: --x", r("--x"), (b"", lines("tov: Invalid option: '-x'"), 9))
        check("cli: -X", r("-X"), (b"", lines("tov: Invalid option: 'X'"), 9))
        check("cli: -xh", r("-xh"), (b"", lines("tov: Invalid option: 'xh'"), 9))
        check("cli: missing", r("nope.txt"), (b"", lines("tov: File does not exist: 'nope.txt'"), 9))
        check("cli: empty arg", r(""), (b"", lines("tov: File does not exist: ''"), 9))
        check("cli: directory", r("dir"), (b"", lines("tov: Cannot open file: 'dir'"), 9))
        check("cli: -x prog", r("-x", "prog.txt")[0], ran)
        check("cli: prog -x", r("prog.txt", "-x")[0], ran)
        check("cli: /x prog", r("/x", "prog.txt")[0], ran)
        check("cli: - -x", r("-", "-x", stdin=prog)[0], ran)
        check("cli: -x", r("-x", stdin=prog)[0], ran)
        check("cli: stdin", r(stdin=prog)[0], listed)
        check("cli: ignored", r("prog.txt", "b.txt", "-x"), (listed, r("prog.txt")[1], 0))
        check("cli: absolute path", r("/x", os.path.join(d, "prog.txt"))[0], ran)
        check("cli: absolute missing", r(os.path.join(d, "zz"))[1],
              lines("tov: File does not exist: '%s'" % os.path.join(d, "zz")))
        check("cli: /y is a path", r("/y"), (b"", lines("tov: File does not exist: '/y'"), 9))
        check("cli: lone /", r("/")[1], lines("tov: Cannot open file: '/'"))
        long_opt = "-" + "a" * 300
        check("cli: long option", r(long_opt)[1], lines("tov: Invalid option: '%s'" % ("a" * 255)))
        long_name = "b" * 300
        check("cli: long name", r(long_name)[1],
              lines("tov: File does not exist: '%s'" % ("b" * 256)))


# ------------------------------------------------------------------ scanner, parser, folding errors
def errors():
    cases = [
        ("", 'Prsr (1,1): Expected "BEGIN".'),
        ("BEGIN END", 'Prsr (1,10): Expected ";" or ".".'),
        ("BEGIN END\n", 'Prsr (2,1): Expected ";" or ".".'),
        ("BEGIN\x1a END.", 'Prsr (1,6): "BEGIN" requires "END".'),
        ("\tBEGIN ?", "Scnr (1,8): Invalid character."),
        ("BEGIN\n  x := 1 END.", "Prsr (2,3): Identifier undeclared."),
        ("BEGIN\n\n  (* (* *)", "Scnr (3,3): Unterminated comment (start pos)."),
        ("BEGIN WRITE 4294967296 END.", "Scnr (1,13): Number too large."),
        ("BEGIN WRITE 4294967295 END.", "Prsr (1,13): Number too large."),
        ("BEGIN WRITE 2147483648 END.", "Prsr (1,13): Number too large."),
        ("BEGIN WRITE 12ab END.", "Scnr (1,13): Invalid number."),
        ("BEGIN WRITE 99999999999a END.", "Scnr (1,13): Number too large."),
        ("BEGIN WRITE 1a9999999999 END.", "Scnr (1,13): Invalid number."),
        ("BEGIN , END.", "Scnr (1,7): Invalid character."),
        ("BEGIN _ END.", "Scnr (1,7): Invalid character."),
        ("CONST VAR BEGIN BEGIN END END.", 'Prsr (1,17): "BEGIN" requires "END".'),
        ("CONST a = 1; CONST", 'Prsr (1,14): Expected "BEGIN".'),
        ("CONST a = a;", "Prsr (1,11): Identifier undeclared."),
        ("CONST TRUE = 0;", "Prsr (1,7): Identifier redeclared."),
        ("VAR INTEGER: BOOLEAN;", "Prsr (1,5): Identifier redeclared."),
        ("VAR x: TRUE;", "Prsr (1,8): Not a type."),
        ("VAR x: y;", "Prsr (1,8): Identifier undeclared."),
        ("VAR x: x;", "Prsr (1,8): Identifier undeclared."),
        ("VAR x INTEGER;", 'Prsr (1,7): Expected ":".'),
        ("VAR x: 1;", "Prsr (1,8): Expected identifier."),
        ("VAR x: INTEGER BEGIN", 'Prsr (1,16): Expected ";".'),
        ("CONST a 1;", 'Prsr (1,9): Expected "=".'),
        ("VAR x: INTEGER; BEGIN x := INTEGER END.", "Prsr (1,28): Neither constant nor variable."),
        ("VAR x: INTEGER; BEGIN x := TRUE + 1 END.", "Prsr (1,33): Operand not integer."),
        ("VAR x: INTEGER; BEGIN x := 1 + TRUE END.", "Prsr (1,37): Incompatible types."),
        ("VAR x: INTEGER; BEGIN WRITE ~5 END.", "Prsr (1,32): Operand not boolean."),
        ("VAR x: INTEGER; BEGIN x := -TRUE END.", "Prsr (1,34): Operand not integer."),
        ("VAR x: INTEGER; BEGIN x := (1 + 2; END.", 'Prsr (1,34): Expected operator or ")".'),
        ("VAR x: INTEGER; BEGIN x := (1 2) END.", 'Prsr (1,31): Expected operator or ")".'),
        ("VAR x: INTEGER; BEGIN x := x * -x END.", "Prsr (1,32): Expected factor."),
        ("VAR x: INTEGER; BEGIN x := ; END.", "Prsr (1,28): Expected factor."),
        ("VAR x: INTEGER; BEGIN IF x > 0 & x > 0 THEN END END.", "Prsr (1,32): Operand not boolean."),
        ("VAR x: INTEGER; BEGIN WRITE 1 = TRUE END.", "Prsr (1,38): Incompatible types."),
        ("VAR x: BOOLEAN; BEGIN x := 1 < 2 < 3 END.", 'Prsr (1,34): "BEGIN" requires "END".'),
        ("VAR x: INTEGER; BEGIN x := 1 x := 2 END.", 'Prsr (1,30): "BEGIN" requires "END".'),
        ("VAR x: INTEGER; BEGIN IF TRUE THEN x := 1 ELSE x := 2 ELSIF TRUE THEN END END.",
         'Prsr (1,55): Expected "END".'),
        ("VAR x: INTEGER; BEGIN WHILE x DO END END.", "Prsr (1,31): Operand not boolean."),
        ("VAR x: INTEGER; BEGIN x = 1 END.", 'Prsr (1,25): Expected ":=".'),
        ("BEGIN TRUE := FALSE END.", "Prsr (1,7): Not a variable."),
        ("BEGIN INTEGER := 1 END.", "Prsr (1,7): Not a variable."),
        ("VAR x: INTEGER; BEGIN x := TRUE END.", "Prsr (1,33): Incompatible types."),
        ("VAR x: INTEGER; BEGIN IF FALSE THEN x := TRUE END END.", "Prsr (1,47): Incompatible types."),
        ("BEGIN WRITE ; END.", "Prsr (1,13): Expected factor."),
        ("BEGIN IF TRUE WRITE 1 END END.", 'Prsr (1,15): Expected "THEN".'),
        ("BEGIN WHILE TRUE WRITE 1 END END.", 'Prsr (1,18): Expected "DO".'),
        ("BEGIN WHILE FALSE DO WRITE 1 . END.", 'Prsr (1,30): Expected "END".'),
        ("BEGIN REPEAT WRITE 1 END.", 'Prsr (1,22): Expected "UNTIL".'),
        ("BEGIN WRITE 2147483647 + 1 END.", "Gen.Op2.Calc: Arithmetic overflow (1,28)."),
        ("BEGIN WRITE -(-2147483647 - 1) END.", "Gen.Op1.Calc: Arithmetic overflow (1,32)."),
        ("BEGIN WRITE 1 / 0 END.", "Gen.Op2.Calc: Division by zero (1,19)."),
        ("BEGIN WRITE 1 / (0 - 1) END.", "Gen.Op2.Calc: Negative divisor (1,25)."),
        ("BEGIN IF FALSE THEN WRITE 65536 * 32768 END END.", "Gen.Op2.Calc: Arithmetic overflow (1,41)."),
        ("BEGIN WRITE " + "(" * 999 + "1" + ")" * 999 + " END.", "Prsr (1,1012): Nesting too deep."),
        ("BEGIN " + "IF TRUE THEN " * 1000 + "END " * 1000 + " END.",
         "Prsr (1,%d): Nesting too deep." % (7 + 13 * 999 + 3)),  # at the condition's factor
    ]
    for text, want in cases:
        check("error: %r" % text[:60], errline(text), (want, 9))
    ok = "BEGIN WRITE " + "(" * 998 + "1" + ")" * 998 + " END."
    check("nesting: 998 parentheses compile", src(ok)[2], 0)
    ok = "BEGIN " + "IF TRUE THEN " * 999 + "END " * 999 + " END."
    check("nesting: 1000 statement levels compile", src(ok)[2], 0)
    check("valid: empty program", listing("BEGIN END."), lst((0, "Hlt")))
    check("valid: empty sections", listing("CONST VAR BEGIN END."), lst((0, "Hlt")))
    check("valid: empty statements", listing("BEGIN ; ; END. anything ?"), lst((0, "Hlt")))
    check("valid: comments", listing("(* a (* b *) c *) BEGIN END."), lst((0, "Hlt")))
    check("valid: high bytes", errline("VAR ab: INTEGER; cd: INTEGER; BEGIN ab\xffcd END."),
          ('Prsr (1,40): Expected ":=".', 9))
    check("valid: boolean constant", run_out("WRITE c", "CONST c = 1 < 2;"), (["TRUE "], 0))
    check("valid: 007", run_out("WRITE 007"), (["7"], 0))
    # identifier limits
    ident254 = "a" * 254
    check("ident: 254 characters", listing("VAR %s: INTEGER; BEGIN %s := 1 END." % (ident254, ident254))[0],
          "   0: Val 1")
    check("ident: 255 characters", errline("BEGIN " + "a" * 255 + " END."),
          ("Scnr (1,7): Identifier too long.", 9))
    # 930 bytes for the program's identifiers: a kept entry of n characters takes n + 1
    consts = "".join("c%s = 1; " % ("%03d" % k + "x" * 180) for k in range(5))  # 5 * 185 = 925
    check("ident: keyword does not fit", errline("CONST %s BEGIN END." % consts),
          ("Scnr (1,%d): Buffer full." % (8 + len(consts)), 9))
    consts = "".join("c%s = 1; " % ("%03d" % k + "x" * 180) for k in range(4))  # 740, 190 left
    check("ident: word just fits", errline("CONST %s BEGIN WRITE %s END." % (consts, "w" * 189)),
          ("Prsr (1,%d): Identifier undeclared." % (7 + len(consts) + 13), 9))
    check("ident: buffer full", errline("CONST %s BEGIN WRITE %s END." % (consts, "w" * 190)),
          ("Scnr (1,%d): Buffer full." % (7 + len(consts) + 13), 9))
    names = "".join("v%d: INTEGER; " % k for k in range(28))
    check("table: 28 names", listing("VAR %s BEGIN v27 := 1 END." % names)[0], "   0: Val 1")
    check("table: 29th name", errline("VAR %s w: INTEGER; BEGIN END." % names),
          ("Prsr (1,%d): Too many identifiers." % (5 + len(names) + 1), 9))
    check("table: redeclared first", errline("VAR %s v3: INTEGER; BEGIN END." % names),
          ("Prsr (1,%d): Identifier redeclared." % (5 + len(names) + 1), 9))
    # program too large: 205 commands of 5 bytes fit, the Hlt does not
    big = "VAR x: INTEGER; BEGIN %s END." % "; ".join(["x := 1"] * 101 + ["WRITE x"] * 2)
    out, err, st = src(big)
    check("store: program too large", (split(err)[-2:], st),
          (["Gen.Dbg:   0 1024: Hlt", "Comp: Program too large."], 9))
    big = "VAR x: INTEGER; BEGIN %s END." % "; ".join(["x := 1"] * 102 + ["x := 1 + x"])
    out, err, st = src(big)
    check("store: operand does not fit", (split(err)[-2:], st),
          (["Gen.Dbg:   0 1020: Val 1", "Comp: Program too large."], 9))


def read_error():
    out, err, st = M.run([], stdin=M.FailingInput(b""))
    check("read error at once", (out, err, st), (b"", lines("Scnr (0,0): Read error."), 9))
    out, err, st = M.run([], stdin=M.FailingInput(b"BEGIN W"))
    check("read error in a word", (out, err, st), (b"", lines("Scnr (1,7): Read error."), 9))


def main():
    road()
    read_error()
    worked()
    interp()
    store_listing()
    sequences()
    semantics()
    command_line()
    errors()
    print("%d passed, %d failed" % (PASSED, FAILED))
    return 1 if FAILED else 0


if __name__ == "__main__":
    sys.exit(main())
