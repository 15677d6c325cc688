#!/usr/bin/env python3
"""Executable reference model of tov: one run of the program, byte for byte.

    run(args, stdin=b"", cwd=None, steps=None) -> (stdout, stderr, status)

models one invocation: command line, scanner, parser, code generator with its
trace, listing and, with -x, the interpreter with its trace.  Every line ends
in CR LF.  `status` is 0 or 9; it is None when the interpreter ran more than
`steps` commands (the run was cut short and its output is incomplete).

Used as a program it behaves like tov itself:

    python3 tovmodel.py [args...]

The environment variable TOVMODEL_STEPS bounds the number of executed
commands; a run that reaches the bound ends with status 125 after the line
"tovmodel: step limit" on standard error.  Console signals are not modelled.
Standard input given as FailingInput(data) ends in a read error after data.
"""

import os
import sys

CRLF = b"\r\n"
END = 0xFFFFFFFF          # end marker of a jump chain; no address field lies there
STORE = 1024              # program store size in bytes
MAXINT = 2147483647
MININT = -2147483648

# ---------------------------------------------------------------- tokens
(sNull, sNum, sId, sCol, sBec, sLPar, sNot, sMul, sDiv, sAnd, sPlus, sMinus,
 sOr, sEql, sNeq, sLss, sLeq, sGtr, sGeq, sRPar, sSemi, sDot, sConst, sVar,
 sBeg, sEnd, sWrt, sRepeat, sUntil, sIf, sThen, sElse, sElsif, sWhile, sDo,
 sEOF) = range(36)

KEYWORDS = [  # entered in this order: ascending under Diff
    (sDo, b"DO"), (sIf, b"IF"), (sEnd, b"END"), (sVar, b"VAR"),
    (sElse, b"ELSE"), (sThen, b"THEN"), (sBeg, b"BEGIN"), (sConst, b"CONST"),
    (sElsif, b"ELSIF"), (sUntil, b"UNTIL"), (sWhile, b"WHILE"),
    (sWrt, b"WRITE"), (sRepeat, b"REPEAT"),
]

SINGLE = {
    ord("#"): sNeq, ord("&"): sAnd, ord(")"): sRPar, ord("*"): sMul,
    ord("+"): sPlus, ord("-"): sMinus, ord("."): sDot, ord("/"): sDiv,
    ord(";"): sSemi, ord("="): sEql, ord("|"): sOr, ord("~"): sNot,
}

# ---------------------------------------------------------------- machine
fHlt, fVal, fLod, fSto, fOpr, fJmp, fJpf, fJpt = range(8)
(oWrt, oWrC, oNeg, oAdd, oSub, oMul, oDiv, oBus, oVid, oEql, oNeq, oLss,
 oLeq, oGtr, oGeq, oNot, oOr, oAnd) = range(18)
OPR_TEXT = [b"Wrt", b"WrC", b"Neg", b"Add", b"Sub", b"Mul", b"Div", b"Bus",
            b"Vid", b"Eql", b"Neq", b"Lss", b"Leq", b"Gtr", b"Geq", b"Not",
            b"Or ", b"And"]
FCT_PREFIX = {fVal: b"Val ", fLod: b"Lod ", fSto: b"Sto ", fJmp: b"Jmp ",
              fJpf: b"Jpf ", fJpt: b"Jpt "}

# ---------------------------------------------------------------- items
tBool, tInt = 0, 1
mConst, mVar, mStack, mCond = 0, 1, 2, 3
cConst, cVar, cType = 0, 1, 2

SETOPR = {sMul: oMul, sDiv: oDiv, sAnd: oAnd, sPlus: oAdd, sMinus: oSub,
          sOr: oOr, sEql: oEql, sNeq: oNeq, sLss: oLss, sLeq: oLeq,
          sGtr: oGtr, sGeq: oGeq}
INVOPR = {oAdd: oAdd, oSub: oBus, oMul: oMul, oDiv: oVid, oEql: oEql,
          oNeq: oNeq, oLss: oGtr, oLeq: oGeq, oGtr: oLss, oGeq: oLeq}

HELP = [
    b"tov: compiler and stack machine for a small block-structured language",
    b"(* flowers & bug reports to tov maintainers <tov@example.org> *)",
    b'syntax = "tov" { option } [ infile ] .',
    b'option = "-h"  (* show this info and exit *)',
    b'       | "-x"  (* execute (after listing) *) .',
]

NEST_LIMIT = 1000


class Stop(Exception):
    """The process ends with this status (output written so far stays)."""

    def __init__(self, status):
        Exception.__init__(self, status)
        self.status = status


class StepLimit(Exception):
    """The interpreter reached the caller's bound on executed commands."""


def num(n):
    return str(n).encode()


def rjust(n, w):
    return str(n).encode().rjust(w)


def convert(fct, arg):
    """Text form of a command, as the listing and both traces show it."""
    if fct == fHlt:
        return b"Hlt"
    if fct == fOpr:
        if arg > 17:
            raise Bug(b"operation", arg)
        return OPR_TEXT[arg]
    if fct in (fJmp, fJpf, fJpt):
        return FCT_PREFIX[fct] + (b"<fixme>" if arg == END else num(arg))
    if fct in FCT_PREFIX:
        return FCT_PREFIX[fct] + num(arg)
    raise Bug(b"function", fct)


class Bug(Exception):
    def __init__(self, kind, x):
        Exception.__init__(self, kind, x)
        self.kind, self.x = kind, x


class FailingInput(bytes):
    """Standard input whose bytes are followed by a read error instead of the end."""


class Item(object):
    __slots__ = ("t", "m", "v", "i", "c", "a", "b")

    def __init__(self):
        self.t = tInt
        self.m = mConst
        self.v = 0
        self.i = 0
        self.c = False
        self.a = END
        self.b = END

    def copy(self):
        y = Item()
        y.t, y.m, y.v, y.i, y.c, y.a, y.b = (
            self.t, self.m, self.v, self.i, self.c, self.a, self.b)
        return y

    def assign(self, y):
        self.t, self.m, self.v, self.i, self.c, self.a, self.b = (
            y.t, y.m, y.v, y.i, y.c, y.a, y.b)


class Obj(object):
    __slots__ = ("id", "typ", "cls", "val")

    def __init__(self):
        self.id = 0
        self.typ = tBool
        self.cls = cConst
        self.val = 0


class Tov(object):
    """One process of tov."""

    def __init__(self, args, stdin=b"", cwd=None, steps=None):
        self.argv = [a if isinstance(a, bytes) else os.fsencode(a) for a in args]
        self.stdin = stdin
        self.cwd = cwd
        self.steps = steps
        self.out = bytearray()
        self.err = bytearray()
        # Comp: program store and machine state
        self.prg = bytearray(STORE)
        self.len = 0
        self.pos = 0
        self.pc = 0
        self.pc0 = 0
        self.args = [0] * 32
        self.ac = 0
        self.vars = [0] * 64
        self.cond = False
        self.xfirst = True
        # Scnr
        self.src = None          # bytes of the source, read lazily from stdin
        self.srci = 0
        self.sym = sNull
        self.num = 0
        self.id = 0
        self.spos = (0, 0)
        self.chr = 0x0A
        self.chl = 0
        self.chc = 0
        self.buf = bytearray(STORE)
        self.blen = 0
        self.kwt = []
        for s, text in KEYWORDS:
            self.put_kw(s, text)
        # Gen
        self.lck = 0
        self.gfirst = True
        # Prsr
        self.objs = [Obj() for _ in range(32)]
        self.cnt = 0
        self.vidx = 0
        self.depth = 0
        for name, cls, typ, val in ((b"FALSE", cConst, tBool, 0),
                                    (b"TRUE", cConst, tBool, 1),
                                    (b"BOOLEAN", cType, tBool, 0),
                                    (b"INTEGER", cType, tInt, 0)):
            self.put(name)
            o = self.objs[self.cnt]
            o.id, o.cls, o.typ, o.val = self.id, cls, typ, val
            self.keep_id()
            self.cnt += 1
        # tov
        self.exec_ = False

    # ------------------------------------------------------------ output
    def line_out(self, s):
        self.out += s + CRLF

    def line_err(self, s):
        self.err += s + CRLF

    def stop(self):
        raise Stop(9)

    # ------------------------------------------------------------ driver
    def main(self):
        self.parse_args()
        self.prsr_run()
        self.list_()
        if self.exec_:
            self.exec_prog()

    def parse_args(self):
        argv = self.argv
        cnt = len(argv)
        state = {"idx": 1, "sym": 0, "lit": b"", "full": b""}

        def read():
            if state["idx"] > cnt:
                state.update(sym=3, lit=b"", full=b"")
                return
            full = argv[state["idx"] - 1]
            lit = full[:256]
            state["idx"] += 1
            state["full"] = full
            if lit[:1] == b"-" and len(lit) > 1:
                state.update(sym=2, lit=lit[1:])
            elif lit[:1] == b"/" and full in (b"/x", b"/h", b"/?"):
                state.update(sym=2, lit=lit[1:])
            else:
                state.update(sym=1, lit=lit)

        def error(msg):
            self.line_err(b"tov: " + msg + b": '" + state["lit"] + b"'")
            self.stop()

        def options():
            while state["sym"] == 2:
                lit = state["lit"]
                if lit in (b"?", b"h"):
                    for l in HELP:
                        self.line_err(l)
                    self.stop()
                elif lit == b"x":
                    self.exec_ = True
                    read()
                else:
                    error(b"Invalid option")

        read()
        options()
        if state["sym"] == 1:
            if state["lit"] != b"-":
                path = state["full"]
                if path and self.cwd is not None and not os.path.isabs(path):
                    path = os.path.join(os.fsencode(self.cwd), path)
                if not path or not os.path.exists(path):
                    error(b"File does not exist")
                try:
                    if os.path.isdir(path):
                        raise OSError
                    with open(path, "rb") as f:
                        self.src = f.read()
                except OSError:
                    error(b"Cannot open file")
            read()
            options()

    # ------------------------------------------------------------ scanner
    def scnr_err(self, msg):
        l, c = self.spos
        self.line_err(b"Scnr (" + num(l) + b"," + num(c) + b"): " + msg + b".")
        self.stop()

    def get(self):
        if self.chr == 0x1A:
            return
        if self.chr == 0x0A:
            self.chl += 1
            self.chc = 1
        else:
            self.chc += 1
        src = self.src
        if src is None:
            src = self.src = self.read_stdin()
        if self.srci < len(src):
            self.chr = src[self.srci]
            self.srci += 1
        elif isinstance(src, FailingInput):
            self.scnr_err(b"Read error")
        else:
            self.chr = 0x1A

    def read_stdin(self):
        s = self.stdin
        if s is None:
            data = b""
            try:
                while True:
                    chunk = os.read(0, 65536)
                    if not chunk:
                        return data
                    data += chunk
            except OSError:
                return FailingInput(data)
        if callable(s):
            return s()
        if isinstance(s, FailingInput):
            return s
        return bytes(s)

    @staticmethod
    def alpha(ch):
        return 48 <= ch <= 57 or 65 <= ch <= 90 or 97 <= ch <= 122

    def diff(self, i, j):
        buf = self.buf
        n = buf[i]
        for k in range(n):
            if buf[i + k] != buf[j + k]:
                return buf[i + k] - buf[j + k]
        return 0

    def put(self, s):
        k = self.id + 1
        for ch in s:
            if k >= STORE:
                self.scnr_err(b"Buffer full")
            self.buf[k] = ch
            k += 1
            self.blen = k
        self.buf[self.id] = self.blen - self.id

    def keep_id(self):
        self.id = self.blen

    def put_kw(self, s, text):
        if len(self.kwt) >= 20:
            self.scnr_err(b"Bug: Too many keywords")
        self.kwt.append((s, self.id))
        self.put(text)
        self.keep_id()

    def read(self):
        while True:
            ch = self.chr
            while (ch <= 0x20 and ch != 0x1A) or ch >= 0x7F:
                self.get()
                ch = self.chr
            self.spos = (self.chl, self.chc)
            if ch == 0x1A:
                self.sym = sEOF
            elif 65 <= ch <= 90 or 97 <= ch <= 122:
                self.ident()
            elif 48 <= ch <= 57:
                self.number()
            elif ch == 0x3A:  # :
                self.get()
                if self.chr == 0x3D:
                    self.sym = sBec
                    self.get()
                else:
                    self.sym = sCol
            elif ch == 0x3C:  # <
                self.get()
                if self.chr == 0x3D:
                    self.sym = sLeq
                    self.get()
                elif self.chr == 0x3E:
                    self.sym = sNeq
                    self.get()
                else:
                    self.sym = sLss
            elif ch == 0x3E:  # >
                self.get()
                if self.chr == 0x3D:
                    self.sym = sGeq
                    self.get()
                else:
                    self.sym = sGtr
            elif ch == 0x28:  # (
                self.get()
                if self.chr == 0x2A:
                    self.comment()
                    continue
                self.sym = sLPar
            elif ch in SINGLE:
                self.sym = SINGLE[ch]
                self.get()
            else:
                self.scnr_err(b"Invalid character")
            return

    def comment(self):
        self.get()
        level = 1
        while level > 0:
            ch = self.chr
            if ch == 0x1A:
                self.scnr_err(b"Unterminated comment (start pos)")
            elif ch == 0x28:
                self.get()
                if self.chr == 0x2A:
                    level += 1
                    self.get()
            elif ch == 0x2A:
                self.get()
                if self.chr == 0x29:
                    level -= 1
                    self.get()
            else:
                self.get()

    def number(self):
        self.sym = sNum
        n = 0
        while True:
            ch = self.chr
            if not 48 <= ch <= 57:
                self.scnr_err(b"Invalid number")
            d = ch - 48
            if n > (4294967295 - d) // 10:
                self.scnr_err(b"Number too large")
            n = n * 10 + d
            self.get()
            if not self.alpha(self.chr):
                break
        self.num = n

    def ident(self):
        self.sym = sId
        start = self.id
        k = start + 1
        buf = self.buf
        while True:
            if k >= STORE:
                self.scnr_err(b"Buffer full")
            if k - start - 1 >= 254:
                self.scnr_err(b"Identifier too long")
            buf[k] = self.chr
            k += 1
            self.blen = k
            self.get()
            if not self.alpha(self.chr):
                break
        buf[start] = self.blen - start
        lo, hi = 0, len(self.kwt)
        while lo < hi:
            m = (lo + hi) // 2
            if self.diff(start, self.kwt[m][1]) > 0:
                lo = m + 1
            else:
                hi = m
        if lo < len(self.kwt) and self.diff(start, self.kwt[lo][1]) == 0:
            self.sym = self.kwt[lo][0]

    # ------------------------------------------------------------ Comp store
    def comp_err(self, msg):
        self.line_err(b"Comp: " + msg + b".")
        self.stop()

    def comp_errcard(self, msg, x):
        self.line_err(b"Comp: " + msg + b" " + num(x) + b".")
        self.stop()

    def write(self, data):
        n = len(data)
        if self.pos + n > STORE:
            self.comp_err(b"Program too large")
        self.prg[self.pos:self.pos + n] = data
        self.pos += n
        if self.pos > self.len:
            self.len = self.pos

    def setpos(self, x):
        if x > self.len:
            self.comp_err(b"Invalid position")
        self.pos = x

    def sread(self, n):
        if self.pos + n > self.len:
            self.comp_err(b"Nothing to read")
        data = bytes(self.prg[self.pos:self.pos + n])
        self.pos += n
        return data

    def fetch(self):
        self.pc0 = self.pc

        def rd(n):
            if self.pc + n > self.len:
                self.comp_err(b"Bug: End of program")
            data = self.prg[self.pc:self.pc + n]
            self.pc += n
            return data

        fct = rd(1)[0]
        if fct == fHlt:
            arg = 0
        elif fct == fVal:
            arg = int.from_bytes(rd(4), "little", signed=True)
        elif fct in (fLod, fSto, fJmp, fJpf, fJpt):
            arg = int.from_bytes(rd(4), "little")
        elif fct == fOpr:
            arg = rd(1)[0]
        else:
            self.comp_errcard(b"Invalid function", fct)
        return fct, arg

    def conv(self, fct, arg):
        try:
            return convert(fct, arg)
        except Bug as b:
            self.line_err(b"Comp0.Bug: Unknown " + b.kind + b" " + num(b.x) + b".")
            self.stop()

    def list_(self):
        self.pc = 0
        while self.pc < self.len:
            fct, arg = self.fetch()
            self.line_out(rjust(self.pc0, 4) + b": " + self.conv(fct, arg))

    # ------------------------------------------------------------ interpreter
    def push(self, x):
        if self.ac == 32:
            self.comp_err(b"Stack overflow")
        self.args[self.ac] = x
        self.ac += 1

    def pop(self):
        if self.ac == 0:
            self.comp_err(b"Stack underflow")
        self.ac -= 1
        return self.args[self.ac]

    def checked(self, r):
        if r < MININT or r > MAXINT:
            self.comp_err(b"Arithmetic overflow")
        return r

    def exec_prog(self):
        self.pc = 0
        steps = self.steps
        count = 0
        strs = (b"FALSE", b"TRUE ")
        while self.pc < self.len:
            if steps is not None:
                count += 1
                if count > steps:
                    raise StepLimit()
            fct, arg = self.fetch()
            # trace line: state before the command
            text = self.conv(fct, arg)
            if self.xfirst:
                self.line_err(b"Comp.Dbg:   pc  cond  ac       top-1         top")
                self.xfirst = False
            ac = self.ac
            if ac == 0:
                stack = b" " * 23
            elif ac == 1:
                stack = b" " * 12 + rjust(self.args[0], 11)
            else:
                stack = rjust(self.args[ac - 2], 11) + b" " + rjust(self.args[ac - 1], 11)
            self.line_err(b"Comp.Dbg: " + rjust(self.pc0, 4) + b": " + strs[self.cond]
                          + b" " + rjust(ac, 2) + b" " + stack + b":  " + text)
            # execute
            if fct == fHlt:
                self.pc = self.len
            elif fct == fVal:
                self.push(arg)
            elif fct == fLod:
                if arg >= 64:
                    self.comp_errcard(b"Invalid index", arg)
                self.push(self.vars[arg])
            elif fct == fSto:
                if arg >= 64:
                    self.comp_errcard(b"Invalid index", arg)
                self.vars[arg] = self.pop()
            elif fct == fOpr:
                self.exec_opr(arg, strs)
            else:
                if arg > self.len:
                    self.comp_errcard(b"Invalid address", arg)
                if fct == fJmp or (fct == fJpf and not self.cond) or (fct == fJpt and self.cond):
                    self.pc = arg

    def exec_opr(self, o, strs):
        if o == oWrt:
            x = self.pop()
            self.line_out(num(x))
        elif o == oWrC:
            self.line_out(strs[self.cond])
        elif o == oNeg:
            x = self.pop()
            self.push(self.checked(-x))
        elif o == oNot:
            x = self.pop()
            self.push(~x)
        elif o <= oAnd:
            y = self.pop()
            x = self.pop()
            if o == oAdd:
                self.push(self.checked(x + y))
            elif o == oSub:
                self.push(self.checked(x - y))
            elif o == oMul:
                self.push(self.checked(x * y))
            elif o == oBus:
                self.push(self.checked(y - x))
            elif o == oDiv:
                if y == 0:
                    self.comp_err(b"Division by zero")
                if y < 0:
                    self.comp_err(b"Negative divisor")
                self.push(x // y)
            elif o == oVid:
                if x == 0:
                    self.comp_err(b"Division by zero")
                if x < 0:
                    self.comp_err(b"Negative divisor")
                self.push(y // x)
            elif o == oEql:
                self.cond = x == y
            elif o == oNeq:
                self.cond = x != y
            elif o == oLss:
                self.cond = x < y
            elif o == oLeq:
                self.cond = x <= y
            elif o == oGtr:
                self.cond = x > y
            elif o == oGeq:
                self.cond = x >= y
            elif o == oOr:
                self.push(x | y)
            elif o == oAnd:
                self.push(x & y)
        else:
            self.comp_errcard(b"Invalid operation", o)

    # ------------------------------------------------------------ Gen: emission
    def gen_err(self, msg):
        self.line_err(b"Gen." + msg + b".")
        self.stop()

    def gen_errcard(self, msg, x):
        self.line_err(b"Gen." + msg + b" " + num(x) + b".")
        self.stop()

    def dbg_cmd(self, text):
        if self.gfirst:
            self.line_err(b"Gen.Dbg: lck  pos  cmd")
            self.gfirst = False
        self.line_err(b"Gen.Dbg: " + rjust(self.lck, 3) + b" " + rjust(self.pos, 4)
                      + b": " + text)

    def emit(self, fct, arg):
        """Trace one command and store it unless locked.  For a jump the
        result is the position of its address field (None while locked)."""
        self.dbg_cmd(self.conv(fct, arg))
        if self.lck > 0:
            return None
        self.write(bytes([fct]))
        field = self.pos
        if fct == fHlt:
            pass
        elif fct == fOpr:
            self.write(bytes([arg]))
        elif fct == fVal:
            self.write(arg.to_bytes(4, "little", signed=True))
        else:
            self.write(arg.to_bytes(4, "little"))
        return field

    def g_val(self, v):
        self.emit(fVal, v)

    def g_lod(self, i):
        if i >= 64:
            self.gen_err(b"Lod: Invalid index")
        self.emit(fLod, i)

    def g_sto(self, i):
        if i >= 64:
            self.gen_err(b"Sto: Invalid index")
        self.emit(fSto, i)

    def g_opr(self, o):
        self.emit(fOpr, o)

    def g_jmp(self, a):
        r = self.emit(fJmp, a)
        return a if r is None else r

    def g_jpc(self, a, c):
        r = self.emit(fJpt if c else fJpf, a)
        return a if r is None else r

    def g_hlt(self):
        self.emit(fHlt, 0)

    def g_label(self):
        return self.pos

    def g_fixup(self, a):
        if self.lck > 0 and a != END:
            self.gen_errcard(b"Fixup.Bug: Locked but valid address", a)
        self.g_fixwith(self.pos, a)

    def g_fixwith(self, v, a):
        if self.lck > 0 and a != END:
            self.gen_errcard(b"FixWith.Bug: Locked but valid address", a)
        pos = self.pos
        while a != END:
            self.line_err(b"Gen.Dbg: Fixup " + num(a) + b" with " + num(v))
            if pos < a:
                self.gen_errcard(b"FixWith.Bug: Invalid address", a)
            self.setpos(a)
            nxt = int.from_bytes(self.sread(4), "little")
            self.setpos(a)
            self.write(v.to_bytes(4, "little"))
            a = nxt
        self.setpos(pos)

    def g_merge(self, a, b):
        """Chain a appended to chain b; the result is the new head."""
        if b == END:
            return a
        saved = self.pos
        t = b
        while True:
            self.setpos(t)
            tmp = int.from_bytes(self.sread(4), "little")
            if tmp == END:
                break
            t = tmp
        self.setpos(t)
        self.write(a.to_bytes(4, "little"))
        self.setpos(saved)
        return b

    def g_lock(self):
        self.line_err(b"Gen.Dbg: Lock")
        self.lck += 1

    def g_unlock(self):
        self.line_err(b"Gen.Dbg: Unlock")
        self.lck -= 1

    # ------------------------------------------------------------ Gen: conditions
    def g_load(self, x):
        if x.m == mConst:
            self.g_val(x.v)
        elif x.m == mVar:
            self.g_lod(x.i)
        elif x.m == mStack:
            pass
        elif x.m == mCond:
            f = END
            t = END
            f = self.g_jpc(f, not x.c)
            self.g_fixup(x.b)
            self.g_val(1)
            t = self.g_jmp(t)
            self.g_fixup(x.a)
            self.g_fixup(f)
            self.g_val(0)
            self.g_fixup(t)
        else:
            self.gen_errcard(b"Load.Bug: Invalid mode", x.m)
        x.m = mStack

    def g_setcond(self, x):
        x.m = mCond
        x.c = True
        x.a = END
        x.b = END

    def g_loadcond(self, x):
        if x.m == mCond:
            self.gen_err(b"LoadCond.Bug: Already in mCond")
        self.g_load(x)
        self.g_val(0)
        self.g_opr(oNeq)
        self.g_setcond(x)

    def g_jmpfalse(self, x):
        if x.m == mConst:
            if x.v == 0:
                self.g_lock()
            return
        if x.m != mCond:
            self.g_loadcond(x)
        x.a = self.g_jpc(x.a, not x.c)
        self.g_fixup(x.b)
        x.b = END

    def g_fixfalse(self, x):
        if x.m == mConst:
            if x.v == 0:
                self.g_unlock()
        elif x.m == mCond:
            self.g_fixup(x.a)
        else:
            self.gen_errcard(b"FixFalse.Bug: Invalid mode", x.m)

    def g_jmpfalsebwd(self, l, x):
        x = x.copy()
        if x.m == mConst:
            if x.v == 0:
                self.g_jmp(l)
            return
        if x.m != mCond:
            self.g_loadcond(x)
        x.a = self.g_jpc(x.a, not x.c)
        self.g_fixup(x.b)
        self.g_fixwith(l, x.a)

    # ------------------------------------------------------------ Gen: operators
    def calc_err(self, where, msg):
        l, c = self.spos
        self.gen_err(where + b": " + msg + b" (" + num(l) + b"," + num(c) + b")")

    def g_op1(self, s, x):
        if x.m == mConst:
            if s == sNot:
                x.v = 1 if x.v == 0 else 0
            elif s == sMinus:
                if x.v == MININT:
                    self.calc_err(b"Op1.Calc", b"Arithmetic overflow")
                x.v = -x.v
            elif s == sAnd:
                if x.v == 0:
                    self.g_lock()
            elif s == sOr:
                if x.v != 0:
                    self.g_lock()
            elif sEql <= s <= sGeq:
                pass
            else:
                self.gen_errcard(b"Op1.Calc.Bug: Invalid symbol", s)
            return
        if s == sNot:
            if x.m != mCond:
                self.g_loadcond(x)
            x.c = not x.c
            x.a, x.b = x.b, x.a
        elif s == sMinus:
            self.g_load(x)
            self.g_opr(oNeg)
        elif s == sAnd:
            if x.m != mCond:
                self.g_loadcond(x)
            x.a = self.g_jpc(x.a, not x.c)
            self.g_fixup(x.b)
            x.b = END
        elif s == sOr:
            if x.m != mCond:
                self.g_loadcond(x)
            x.b = self.g_jpc(x.b, x.c)
            self.g_fixup(x.a)
            x.a = END
        elif sEql <= s <= sGeq:
            if x.m == mCond:
                self.g_load(x)
        else:
            self.gen_errcard(b"Op1.Gen.Bug: Invalid symbol", s)

    def g_calc(self, o, x, y):
        a, b = x.v, y.v
        if o == oAdd:
            r = a + b
        elif o == oSub:
            r = a - b
        elif o == oMul:
            r = a * b
        elif o == oDiv:
            if b == 0:
                self.calc_err(b"Op2.Calc", b"Division by zero")
            if b < 0:
                self.calc_err(b"Op2.Calc", b"Negative divisor")
            r = a // b
        elif o == oEql:
            r = int(a == b)
        elif o == oNeq:
            r = int(a != b)
        elif o == oLss:
            r = int(a < b)
        elif o == oLeq:
            r = int(a <= b)
        elif o == oGtr:
            r = int(a > b)
        elif o == oGeq:
            r = int(a >= b)
        elif o == oOr:
            r = a | b
        elif o == oAnd:
            r = a & b
        else:
            self.gen_errcard(b"Op2.Calc.Bug: Invalid operation", o)
        if r < MININT or r > MAXINT:
            self.calc_err(b"Op2.Calc", b"Arithmetic overflow")
        x.v = r

    def g_op2(self, s, x, y):
        y = y.copy()
        if s not in SETOPR:
            self.gen_errcard(b"Op2.SetOpr.Bug: Invalid symbol", s)
        o = SETOPR[s]
        if x.m == mConst and y.m == mConst:
            if (o == oAnd and x.v == 0) or (o == oOr and x.v != 0):
                self.g_unlock()
            self.g_calc(o, x, y)
            return
        if o == oAnd:
            if x.m == mConst:
                if x.v != 0:
                    x.assign(y)
                else:
                    self.g_unlock()
            elif x.m == mCond:
                if x.b != END:
                    self.gen_errcard(b"Op2.And.Bug: Invalid TRUE list", x.b)
                if y.m != mCond:
                    self.g_loadcond(y)
                x.c = y.c
                x.a = self.g_merge(x.a, y.a)
                x.b = y.b
            else:
                self.gen_errcard(b"Op2.And.Bug: Invalid mode", x.m)
            return
        if o == oOr:
            if x.m == mConst:
                if x.v != 0:
                    self.g_unlock()
                else:
                    x.assign(y)
            elif x.m == mCond:
                if x.a != END:
                    self.gen_errcard(b"Op2.Or.Bug: Invalid FALSE list", x.a)
                if y.m != mCond:
                    self.g_loadcond(y)
                x.c = y.c
                x.a = y.a
                x.b = self.g_merge(x.b, y.b)
            else:
                self.gen_errcard(b"Op2.Or.Bug: Invalid mode", x.m)
            return
        # arithmetic or relation
        if y.m == mCond and (y.a != END or y.b != END) and x.m != mStack:
            # jumps of y's chains would bypass x's load: materialise y first
            self.g_load(y)
        if x.m != mStack and y.m == mStack:
            if o not in INVOPR:
                self.gen_errcard(b"Op2.InvOpr.Bug: Invalid operation", o)
            o = INVOPR[o]
        self.g_load(x)
        self.g_load(y)
        self.g_opr(o)
        if oEql <= o <= oGeq:
            self.g_setcond(x)

    def g_asg(self, x, y):
        if x.m != mVar:
            self.gen_err(b"Asg: Not a variable")
        y = y.copy()
        self.g_load(y)
        self.g_sto(x.i)

    def g_wrt(self, x):
        x = x.copy()
        if x.t == tInt:
            self.g_load(x)
            self.g_opr(oWrt)
        elif x.t == tBool:
            self.g_load(x)
            self.g_val(0)
            self.g_opr(oNeq)
            self.g_opr(oWrC)
        else:
            self.gen_errcard(b"Wrt.Bug: Invalid type", x.t)

    # ------------------------------------------------------------ parser
    def p_err(self, msg):
        l, c = self.spos
        self.line_err(b"Prsr (" + num(l) + b"," + num(c) + b"): " + msg + b".")
        self.stop()

    def find(self):
        i = 0
        while i < self.cnt and self.diff(self.objs[i].id, self.id) != 0:
            i += 1
        return i

    def mk_item(self, o):
        x = Item()
        x.t = o.typ
        if o.cls == cConst:
            x.m = mConst
            x.v = o.val
        elif o.cls == cVar:
            x.m = mVar
            x.i = o.val
        else:
            self.p_err(b"Neither constant nor variable")
        return x

    def chk_bool(self, x):
        if x.t != tBool:
            self.p_err(b"Operand not boolean")

    def chk_int(self, x):
        if x.t != tInt:
            self.p_err(b"Operand not integer")

    def chk_compat(self, x, y):
        if x.t != y.t:
            self.p_err(b"Incompatible types")

    def enter(self):
        if self.depth + 1 > NEST_LIMIT:
            self.p_err(b"Nesting too deep")
        self.depth += 1

    def prsr_run(self):
        self.read()
        if self.sym == sConst:
            self.read()
            while self.sym == sId:
                self.const_decl()
        if self.sym == sVar:
            self.read()
            while self.sym == sId:
                self.var_decl()
        if self.sym != sBeg:
            self.p_err(b'Expected "BEGIN"')
        self.read()
        self.stat_seq()
        if self.sym != sEnd:
            self.p_err(b'"BEGIN" requires "END"')
        self.read()
        if self.sym != sDot:
            self.p_err(b'Expected ";" or "."')
        self.g_hlt()

    def const_decl(self):
        i = self.find()
        if i < self.cnt:
            self.p_err(b"Identifier redeclared")
        if self.cnt >= 32:
            self.p_err(b"Too many identifiers")
        o = self.objs[i]
        o.id = self.id
        o.cls = cConst
        self.keep_id()
        self.read()
        if self.sym != sEql:
            self.p_err(b'Expected "="')
        self.read()
        x = self.expression()
        if x.m != mConst:
            self.p_err(b"Expression not constant")
        o.typ = x.t
        o.val = x.v
        self.cnt += 1
        if self.sym != sSemi:
            self.p_err(b'Expected ";"')
        self.read()

    def var_decl(self):
        i = self.find()
        if i < self.cnt:
            self.p_err(b"Identifier redeclared")
        if self.cnt >= 32:
            self.p_err(b"Too many identifiers")
        o = self.objs[i]
        o.id = self.id
        o.cls = cVar
        self.keep_id()
        self.read()
        if self.sym != sCol:
            self.p_err(b'Expected ":"')
        self.read()
        if self.sym != sId:
            self.p_err(b"Expected identifier")
        j = self.find()
        if j >= self.cnt:
            self.p_err(b"Identifier undeclared")
        if self.objs[j].cls != cType:
            self.p_err(b"Not a type")
        o.typ = self.objs[j].typ
        o.val = self.vidx
        self.cnt += 1
        self.vidx += 1
        self.read()
        if self.sym != sSemi:
            self.p_err(b'Expected ";"')
        self.read()

    # Expression = SimpleExpr [ relation SimpleExpr ] .
    def expression(self):
        x = self.simple_expr()
        if sEql <= self.sym <= sGeq:
            rel = self.sym
            self.g_op1(rel, x)
            self.read()
            y = self.simple_expr()
            self.chk_compat(x, y)
            self.g_op2(rel, x, y)
            x.t = tBool
        return x

    # SimpleExpr = [ "+" | "-" ] Term { addop Term } .
    def simple_expr(self):
        if self.sym == sPlus:
            self.read()
            x = self.term()
            self.chk_int(x)
        elif self.sym == sMinus:
            self.read()
            x = self.term()
            self.chk_int(x)
            self.g_op1(sMinus, x)
        else:
            x = self.term()
        while sPlus <= self.sym <= sOr:
            op = self.sym
            if op == sOr:
                self.chk_bool(x)
                self.g_op1(sOr, x)
            else:
                self.chk_int(x)
            self.read()
            y = self.term()
            self.chk_compat(x, y)
            self.g_op2(op, x, y)
        return x

    # Term = Factor { mulop Factor } .
    def term(self):
        x = self.factor()
        while sMul <= self.sym <= sAnd:
            op = self.sym
            if op == sAnd:
                self.chk_bool(x)
                self.g_op1(sAnd, x)
            else:
                self.chk_int(x)
            self.read()
            y = self.factor()
            self.chk_compat(x, y)
            self.g_op2(op, x, y)
        return x

    # Factor = number | ident | "(" Expression ")" | "~" Factor .
    def factor(self):
        self.enter()
        s = self.sym
        if s == sNum:
            if self.num > MAXINT:
                self.p_err(b"Number too large")
            x = Item()
            x.t, x.m, x.v = tInt, mConst, self.num
            self.read()
        elif s == sId:
            i = self.find()
            if i >= self.cnt:
                self.p_err(b"Identifier undeclared")
            x = self.mk_item(self.objs[i])
            self.read()
        elif s == sLPar:
            self.read()
            x = self.expression()
            if self.sym != sRPar:
                self.p_err(b'Expected operator or ")"')
            self.read()
        elif s == sNot:
            self.read()
            x = self.factor()
            self.chk_bool(x)
            self.g_op1(sNot, x)
        else:
            self.p_err(b"Expected factor")
        self.depth -= 1
        return x

    # StatementSequence = Statement { ";" Statement } .
    def stat_seq(self):
        self.enter()
        self.statement()
        while self.sym == sSemi:
            self.read()
            self.statement()
        self.depth -= 1

    def statement(self):
        s = self.sym
        if s == sId:
            i = self.find()
            if i >= self.cnt:
                self.p_err(b"Identifier undeclared")
            if self.objs[i].cls != cVar:
                self.p_err(b"Not a variable")
            x = self.mk_item(self.objs[i])
            self.read()
            if self.sym != sBec:
                self.p_err(b'Expected ":="')
            self.read()
            y = self.expression()
            self.chk_compat(x, y)
            self.g_asg(x, y)
        elif s == sWrt:
            self.read()
            x = self.expression()
            self.g_wrt(x)
        elif s == sIf:
            self.read()
            x = self.expression()
            self.chk_bool(x)
            self.g_jmpfalse(x)
            if self.sym != sThen:
                self.p_err(b'Expected "THEN"')
            self.read()
            self.stat_seq()
            l = END
            while self.sym == sElsif:
                self.read()
                l = self.g_jmp(l)
                self.g_fixfalse(x)
                x = self.expression()
                self.chk_bool(x)
                self.g_jmpfalse(x)
                if self.sym != sThen:
                    self.p_err(b'Expected "THEN"')
                self.read()
                self.stat_seq()
            if self.sym == sElse:
                self.read()
                l = self.g_jmp(l)
                self.g_fixfalse(x)
                self.stat_seq()
            else:
                self.g_fixfalse(x)
            self.g_fixup(l)
            if self.sym != sEnd:
                self.p_err(b'Expected "END"')
            self.read()
        elif s == sWhile:
            self.read()
            l = self.g_label()
            x = self.expression()
            self.chk_bool(x)
            if self.sym != sDo:
                self.p_err(b'Expected "DO"')
            self.read()
            self.g_jmpfalse(x)
            self.stat_seq()
            l = self.g_jmp(l)
            self.g_fixfalse(x)
            if self.sym != sEnd:
                self.p_err(b'Expected "END"')
            self.read()
        elif s == sRepeat:
            self.read()
            l = self.g_label()
            self.stat_seq()
            if self.sym != sUntil:
                self.p_err(b'Expected "UNTIL"')
            self.read()
            x = self.expression()
            self.chk_bool(x)
            self.g_jmpfalsebwd(l, x)


def run(args, stdin=b"", cwd=None, steps=None):
    """One run of tov: (stdout bytes, stderr bytes, exit status).

    status is None when the interpreter exceeded `steps` commands."""
    old = sys.getrecursionlimit()
    if old < 100000:
        sys.setrecursionlimit(100000)
    t = Tov(args, stdin, cwd, steps)
    try:
        t.main()
        status = 0
    except Stop as e:
        status = e.status
    except StepLimit:
        status = None
    return bytes(t.out), bytes(t.err), status


def main():
    steps = os.environ.get("TOVMODEL_STEPS")
    steps = int(steps) if steps else None
    out, err, status = run(sys.argv[1:], stdin=None, cwd=None, steps=steps)
    sys.stdout.buffer.write(out)
    sys.stdout.buffer.flush()
    if status is None:
        err += b"tovmodel: step limit" + CRLF
        status = 125
    sys.stderr.buffer.write(err)
    sys.stderr.buffer.flush()
    sys.exit(status)


if __name__ == "__main__":
    main()
