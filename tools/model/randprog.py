#!/usr/bin/env python3
"""Random source programs for tov, seeded and deterministic.

    python3 randprog.py SEED          # writes the program for SEED to stdout

generate(seed) returns (kind, source bytes).  Most programs are well typed and
terminate (every loop counts a counter of its own that nothing else assigns);
a share are broken on purpose (token mutations, limits, odd bytes) so that
the error paths are compared too.
"""

import random
import sys

REL = ["=", "#", "<>", "<", "<=", ">", ">="]
KEYWORDS = ["CONST", "VAR", "BEGIN", "END", "WRITE", "REPEAT", "UNTIL", "IF",
            "THEN", "ELSE", "ELSIF", "WHILE", "DO"]


class ProgGen(object):
    def __init__(self, rng):
        self.r = rng
        self.ivars = []
        self.bvars = []
        self.iconsts = []
        self.bconsts = []
        self.counters = []
        self.free_counter = 0
        self.budget = 0

    # ------------------------------------------------------------ expressions
    def number(self):
        r = self.r
        p = r.random()
        if p < 0.85:
            return str(r.randint(0, 12))
        if p < 0.95:
            return str(r.randint(13, 100))
        if p < 0.97:
            return "0" + str(r.randint(0, 99))
        if p < 0.99:
            return str(r.randint(101, 100000))
        return str(r.choice([2147483647, 65536, 46341, 32768, 1000000]))

    def int_factor(self, d):
        r = self.r
        p = r.random()
        if d <= 0 or p < 0.35:
            return self.number()
        if p < 0.70 and self.ivars:
            return r.choice(self.ivars + self.counters)
        if p < 0.78 and self.iconsts:
            return r.choice(self.iconsts)
        return "(" + self.int_expr(d - 1) + ")"

    def divisor(self, d):
        r = self.r
        p = r.random()
        if p < 0.98:
            return str(r.randint(1, 9))
        if p < 0.983:
            return "0"
        if p < 0.986:
            return "(0 - %d)" % r.randint(1, 5)
        if self.ivars:
            return r.choice(self.ivars)
        return "(%s + 1)" % self.int_term(d)

    def int_term(self, d):
        r = self.r
        s = self.int_factor(d)
        for _ in range(r.choice([0, 0, 0, 0, 1, 1, 2])):
            if r.random() < 0.5:
                s += " * " + r.choice([self.int_factor(d - 1), str(r.randint(0, 5))])
            else:
                s += " / " + self.divisor(d - 1)
        return s

    def int_expr(self, d):
        r = self.r
        p = r.random()
        s = ""
        if p < 0.12:
            s = "-"
        elif p < 0.16:
            s = "+"
        s += self.int_term(d)
        for _ in range(r.choice([0, 0, 1, 1, 2, 3])):
            op = r.choice(["+", "-", "-"])
            if r.random() < 0.3 and d > 0:
                # the right operand lands on the stack first: reversed operation
                s += " %s (%s)" % (op, self.int_expr(d - 1))
            else:
                s += " %s %s" % (op, self.int_term(d - 1))
        return s

    def bool_factor(self, d):
        r = self.r
        p = r.random()
        if d <= 0 or p < 0.15:
            return r.choice(["TRUE", "FALSE"])
        if p < 0.40 and self.bvars:
            return r.choice(self.bvars)
        if p < 0.47 and self.bconsts:
            return r.choice(self.bconsts)
        if p < 0.62:
            return "~" + self.bool_factor(d - 1)
        return "(" + self.bool_expr(d - 1) + ")"

    def bool_term(self, d):
        s = self.bool_factor(d)
        for _ in range(self.r.choice([0, 0, 1, 1, 2])):
            s += " & " + self.bool_factor(d - 1)
        return s

    def bool_simple(self, d):
        s = self.bool_term(d)
        for _ in range(self.r.choice([0, 0, 1, 1, 2])):
            s += " | " + self.bool_term(d - 1)
        return s

    def relation(self, d):
        r = self.r
        if r.random() < 0.75:
            return "%s %s %s" % (self.int_expr(d - 1), r.choice(REL), self.int_expr(d - 1))
        return "%s %s %s" % (self.bool_simple(d - 1), r.choice(REL), self.bool_simple(d - 1))

    def bool_expr(self, d):
        if self.r.random() < 0.5:
            return self.relation(d)
        return self.bool_simple(d)

    def cond(self, d):
        """A condition for IF, ELSIF and WHILE guards."""
        r = self.r
        p = r.random()
        if p < 0.06:
            return "FALSE"
        if p < 0.09:
            return "TRUE"
        if p < 0.12 and self.bconsts:
            return r.choice(self.bconsts)
        return self.bool_expr(d)

    # ------------------------------------------------------------ statements
    def stmts(self, depth, n=None):
        r = self.r
        if n is None:
            n = r.randint(1, 4)
        out = []
        for _ in range(n):
            if self.budget <= 0:
                break
            out.append(self.stmt(depth))
        if r.random() < 0.1:
            out.append("")  # an empty statement after a trailing ";"
        return "; ".join(out)

    def stmt(self, depth):
        r = self.r
        self.budget -= 1
        ed = r.choice([1, 2, 2, 3, 3, 4])
        p = r.random()
        if depth <= 0:
            p = r.random() * 0.55
        if p < 0.18 and self.ivars:
            return "%s := %s" % (r.choice(self.ivars), self.int_expr(ed))
        if p < 0.28 and self.bvars:
            return "%s := %s" % (r.choice(self.bvars), self.bool_expr(ed))
        if p < 0.45:
            return "WRITE " + self.int_expr(ed)
        if p < 0.55:
            return "WRITE " + self.bool_expr(ed)
        if p < 0.72:
            s = "IF %s THEN %s" % (self.cond(ed), self.stmts(depth - 1))
            for _ in range(r.choice([0, 0, 1, 1, 2])):
                s += " ELSIF %s THEN %s" % (self.cond(ed), self.stmts(depth - 1))
            if r.random() < 0.5:
                s += " ELSE " + self.stmts(depth - 1)
            return s + " END"
        if p < 0.78:
            # dead code: anything goes, even loops that never end
            kind = r.random()
            body = self.stmts(depth - 1)
            if kind < 0.5:
                return "IF FALSE THEN %s END" % body
            if kind < 0.8:
                return "WHILE FALSE DO %s END" % body
            return "IF FALSE THEN REPEAT %s UNTIL FALSE END" % body
        if p < 0.90:
            return self.while_loop(depth, ed)
        return self.repeat_loop(depth, ed)

    def take_counter(self):
        if self.free_counter >= len(self.all_counters):
            return None
        c = self.all_counters[self.free_counter]
        self.free_counter += 1
        return c

    def while_loop(self, depth, ed):
        r = self.r
        c = self.take_counter()
        if c is None:
            return "WRITE " + self.int_expr(ed)
        n = r.randint(0, 4)
        if not self.counters and r.random() < 0.05:
            n = r.randint(50, 400)   # a longer run of the interpreter
        guard = r.choice(["%s < %d" % (c, n), "%d > %s" % (n, c), "~(%s >= %d)" % (c, n),
                          "(%s < %d) & %s" % (c, n, self.bool_factor(ed - 1)),
                          "(%s < %d) & (%s)" % (c, n, self.bool_expr(ed - 1)),
                          "%s + 1 <= %d" % (c, n), "%d - %s > 0" % (n, c)])
        self.counters.append(c)
        body = self.stmts(depth - 1)
        self.counters.pop()
        self.free_counter -= 1
        sep = "; " if body else ""
        return "%s := 0; WHILE %s DO %s%s%s := %s + 1 END" % (c, guard, body, sep, c, c)

    def repeat_loop(self, depth, ed):
        r = self.r
        c = self.take_counter()
        if c is None:
            return "REPEAT %s UNTIL TRUE" % self.stmts(depth - 1)
        n = r.randint(1, 4)
        guard = r.choice(["%s >= %d" % (c, n), "%d <= %s" % (n, c), "~(%s < %d)" % (c, n),
                          "(%s >= %d) | %s" % (c, n, self.bool_factor(ed - 1)),
                          "(%s >= %d) | (%s)" % (c, n, self.bool_expr(ed - 1)),
                          "%s = %d" % (c, n)])
        self.counters.append(c)
        body = self.stmts(depth - 1)
        self.counters.pop()
        self.free_counter -= 1
        sep = "; " if body else ""
        if self.bvars and r.random() < 0.25:
            # the guard is a plain variable, set just before UNTIL
            b = r.choice(self.bvars)
            neg = r.random() < 0.5
            return "%s := 0; REPEAT %s%s%s := %s + 1; %s := %s UNTIL %s" % (
                c, body, sep, c, c, b, ("%s < %d" if neg else "%s >= %d") % (c, n),
                ("~" if neg else "") + b)
        return "%s := 0; REPEAT %s%s%s := %s + 1 UNTIL %s" % (c, body, sep, c, c, guard)

    # ------------------------------------------------------------ program
    def name(self, used):
        r = self.r
        while True:
            p = r.random()
            if p < 0.6:
                s = r.choice("abcdefghijmnpqrstuvwxyz") + str(r.randint(0, 99))
            elif p < 0.9:
                s = "".join(r.choice("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ")
                            for _ in range(r.randint(1, 8)))
            else:
                s = r.choice("xyzXYZ") + "".join(r.choice("abc0123456789") for _ in range(r.randint(10, 40)))
            if s not in used and s not in KEYWORDS and s not in ("TRUE", "FALSE", "INTEGER", "BOOLEAN") \
                    and not s.startswith("k"):
                used.add(s)
                return s

    def program(self):
        r = self.r
        used = set()
        parts = []
        self.budget = r.randint(4, 22)
        if r.random() < 0.6:
            parts.append("CONST")
            for _ in range(r.randint(0, 4)):
                nm = self.name(used)
                if r.random() < 0.7:
                    e = self.int_expr(2)
                    self.iconsts.append(nm)
                else:
                    e = self.bool_expr(2)
                    self.bconsts.append(nm)
                parts.append("%s = %s;" % (nm, e))
        nvars = r.randint(1, 6)
        nb = r.randint(0, 3)
        self.all_counters = ["k%d" % i for i in range(r.randint(1, 4))]
        if r.random() < 0.95:
            parts.append("VAR")
            decls = []
            for _ in range(nvars):
                nm = self.name(used)
                self.ivars.append(nm)
                decls.append("%s: INTEGER;" % nm)
            for _ in range(nb):
                nm = self.name(used)
                self.bvars.append(nm)
                decls.append("%s: BOOLEAN;" % nm)
            for c in self.all_counters:
                decls.append("%s: INTEGER;" % c)
            r.shuffle(decls)
            parts += decls
        else:
            self.all_counters = []
        body = self.stmts(r.randint(1, 4), r.randint(2, 7))
        parts.append("BEGIN %s END." % body)
        return " ".join(parts)


# ------------------------------------------------------------------ rendering
TOKEN_CHARS = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"


def tokenize(src):
    toks = []
    i = 0
    n = len(src)
    while i < n:
        ch = src[i]
        if ch.isspace():
            i += 1
            continue
        if ch.isalnum():
            j = i
            while j < n and src[j].isalnum():
                j += 1
            toks.append(src[i:j])
            i = j
            continue
        two = src[i:i + 2]
        if two in (":=", "<=", ">=", "<>"):
            toks.append(two)
            i += 2
            continue
        toks.append(ch)
        i += 1
    return toks


def comment(r, depth=0):
    body = r.choice(["", " x ", " note ", " * ", " ( ", " ) ", " 1 + 2 ", "\n", " END. ", " ?,_ "])
    if depth < 2 and r.random() < 0.3:
        body += comment(r, depth + 1) + r.choice(["", " y "])
    return "(*" + body + "*)"


def separator(r, prev, nxt, odd):
    need = (prev[-1].isalnum() and nxt[0].isalnum()) or \
        (prev[-1] + nxt[0]) in (":=", "<=", "<>", ">=", "(*", "*)")
    p = r.random()
    if p < 0.25 and not need:
        return ""
    if p < 0.85 or not odd:
        return " "
    q = r.random()
    if q < 0.3:
        return "\n"
    if q < 0.45:
        return "\t"
    if q < 0.55:
        return "\r\n"
    if q < 0.75:
        return " " + comment(r) + " "
    if q < 0.85:
        return chr(r.randint(0x80, 0xFF))
    if q < 0.92:
        return chr(r.choice([0x00, 0x01, 0x0B, 0x0C, 0x1F, 0x7F]))
    return "\n" + " " * r.randint(0, 12)


def render(r, toks, odd):
    if not toks:
        return ""
    out = [toks[0]]
    for a, b in zip(toks, toks[1:]):
        out.append(separator(r, a, b, odd))
        out.append(b)
    s = "".join(out)
    if odd and r.random() < 0.3:
        s += r.choice(["\n", "\r\n", "", " (* trailing *)", " garbage ,,, ?"])
    return s


def mutate(r, toks):
    vocab = KEYWORDS + ["TRUE", "FALSE", "INTEGER", "BOOLEAN", ":=", ":", ";", ".", "(", ")",
                        "~", "*", "/", "&", "+", "-", "|", "=", "#", "<>", "<", "<=", ">", ">=",
                        "0", "1", "2147483647", "2147483648", "4294967295", "4294967296",
                        "12ab", "x", "zz", ",", "?", "_", "(*", "*)", "\x1a", "a" * 255]
    toks = list(toks)
    for _ in range(r.randint(1, 3)):
        if not toks:
            break
        i = r.randrange(len(toks))
        p = r.random()
        if p < 0.3:
            del toks[i]
        elif p < 0.55:
            toks[i] = r.choice(vocab)
        elif p < 0.75:
            toks.insert(i, r.choice(vocab))
        elif p < 0.85 and i + 1 < len(toks):
            toks[i], toks[i + 1] = toks[i + 1], toks[i]
        else:
            toks.insert(i, toks[i])
    return toks


# ------------------------------------------------------------------ special shapes
def special(r):
    kind = r.randrange(14)
    if kind == 10:  # declarations that clash
        names = ["a", "b", "TRUE", "FALSE", "INTEGER", "BOOLEAN", "c"]
        decls = []
        for _ in range(r.randint(1, 4)):
            decls.append("%s: %s;" % (r.choice(names), r.choice(["INTEGER", "BOOLEAN", "TRUE", "a", "zz"])))
        head = ""
        if r.random() < 0.5:
            head = "CONST %s = %s; " % (r.choice(names), r.choice(["1", "TRUE", "a", "1 < 2", "-5 / 2"]))
        return "%sVAR %s BEGIN a := 1 END." % (head, " ".join(decls))
    if kind == 11:  # identifiers at the length bound
        ln = r.randint(252, 256)
        nm = r.choice("abcXYZ") + "q" * (ln - 1)
        return "VAR %s: INTEGER; BEGIN %s := 3; WRITE %s END." % (nm, nm, nm)
    if kind == 12:  # constants folded in all ways
        e = r.choice(["1 < 2", "FALSE & TRUE", "TRUE | FALSE", "~FALSE", "FALSE < TRUE",
                      "(-7) / 2", "-7 / 2", "2147483647 - 1", "-2147483647 - 1",
                      "(1 = 1) & ~(2 # 2)", "TRUE = FALSE", "3 * 4 - 5", "TRUE & (1 < 0)"])
        return "CONST c = %s; d = c; VAR x: %s; BEGIN WRITE c; WRITE d END." % (
            e, r.choice(["INTEGER", "BOOLEAN"]))
    if kind == 13:  # a program cut short
        src = ProgGen(r).program()
        return src[:r.randint(0, len(src))]
    if kind == 0:   # nesting near the parser's bound
        n = r.randint(995, 1000)
        return "BEGIN WRITE %s1%s END." % ("(" * n, ")" * n)
    if kind == 1:
        n = r.randint(996, 1001)
        return "VAR b: BOOLEAN; BEGIN b := %sTRUE END." % ("~" * n)
    if kind == 2:
        n = r.randint(995, 1000)
        return "BEGIN %s WRITE 1 %s END." % ("IF TRUE THEN " * n, "END " * n)
    if kind == 3:   # the symbol table's bound
        n = r.randint(26, 30)
        decls = " ".join("v%d: %s;" % (i, r.choice(["INTEGER", "BOOLEAN"])) for i in range(n))
        return "VAR %s BEGIN v0 := v0 END." % decls
    if kind == 4:   # the identifier store's bound
        n = r.randint(3, 6)
        ln = r.randint(150, 254)
        names = ["q%d%s" % (i, "z" * (ln - 2)) for i in range(n)]
        decls = " ".join("%s: INTEGER;" % nm for nm in names)
        return "VAR %s BEGIN %s := 1; WRITE %s END." % (decls, names[0], names[-1])
    if kind == 5:   # the program store's bound
        n = r.randint(95, 110)
        return "VAR x: INTEGER; BEGIN %s; WRITE x END." % "; ".join(
            r.choice(["x := %d" % r.randint(0, 9), "x := x + 1", "WRITE x"]) for _ in range(n))
    if kind == 6:   # the evaluation stack's bound: every left operand waits on the stack
        n = r.randint(28, 34)
        e = "x"
        for _ in range(n):
            e = r.choice(["(x + 1) - (%s)", "-x * (%s)", "(x / 1) + (%s)"]) % e
        return "VAR x: INTEGER; BEGIN x := 1; WRITE %s END." % e
    if kind == 7:   # number edges
        v = r.choice(["2147483647", "2147483648", "4294967295", "4294967296", "12ab",
                      "99999999999a", "1a9999999999", "0000000000004294967295", "65536 * 32768",
                      "2147483647 + 1", "-2147483647 - 1", "-(-2147483647 - 1)", "7 / 0",
                      "7 / (0 - 2)", "(-7) / 2", "-7 / 2"])
        return "VAR x: INTEGER; BEGIN x := %s; WRITE x END." % v
    if kind == 8:   # run-time arithmetic edges
        a = r.choice(["2147483647", "0 - 2147483647 - 1", "65536", "-7", "0", "3"])
        b = r.choice(["1", "0", "-1", "2", "32768", "2147483647"])
        op = r.choice(["+", "-", "*", "/"])
        return ("VAR x: INTEGER; y: INTEGER; BEGIN x := %s; y := %s; WRITE x %s y; "
                "WRITE y %s x; WRITE -x; WRITE x / (y + 0) END." % (a, b, op, op))
    # the mend: conditions with chains compared with a value
    return ("VAR x: INTEGER; b: BOOLEAN; BEGIN x := %d; b := %s; b := b = ((x > 0) | (x < 0)); "
            "WRITE b; WRITE TRUE = ((x > 0) & TRUE); WRITE x = ((x > 0) & b) END."
            % (r.randint(-2, 2), r.choice(["TRUE", "FALSE"])))


def generate(seed):
    """(kind, source bytes) for a seed (any hashable value)."""
    r = random.Random(seed)
    p = r.random()
    if p < 0.10:
        src = special(r)
        kind = "special"
    else:
        src = ProgGen(r).program()
        kind = "valid"
    odd = r.random() < 0.3
    toks = tokenize(src)
    if kind == "valid" and r.random() < 0.22:
        toks = mutate(r, toks)
        kind = "mutated"
    text = render(r, toks, odd)
    if r.random() < 0.02:
        i = r.randrange(len(text) + 1)
        text = text[:i] + r.choice(["\x1a", "(*", "\x00", "\xff", "!"]) + text[i:]
        kind += "+byte"
    return kind, text.encode("latin-1")


if __name__ == "__main__":
    seed = sys.argv[1] if len(sys.argv) > 1 else "0"
    sys.stdout.buffer.write(generate(seed)[1] + b"\n")
