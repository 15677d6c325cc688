// Random well-typed programs. For each: tov -x's WRITE output and error class
// equal those of a direct evaluation of the source, and the compiled store
// holds: every listed command decodes, the listing runs on without gaps to
// where the generated code ends, every jump lands on a command or the end,
// and every traced command is the listed one at its address.
//
//   property TOV COUNT SEED
//   property --write DIR COUNT SEED     (only writes the programs: fuzzing seeds)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "runner.h"

namespace {

// ---- Generator --------------------------------------------------------------

std::mt19937 rnd;
uint32_t Below(uint32_t n) { return rnd() % n; }
bool Chance(uint32_t percent) { return Below(100) < percent; }

struct Name {
  std::string text;
  bool isInt, isConst;
};
std::vector<Name> names;
bool inConst;  // only constants can be named yet

std::string Sp() {
  static const char* const gaps[] = {"\r\n  ", "\t", " (* (* c *) *) ", "\n"};
  return Chance(90) ? " " : gaps[Below(4)];
}

const Name* Pick(bool isInt, bool var) {
  std::vector<const Name*> c;
  for (const Name& n : names)
    if (n.isInt == isInt && (n.isConst ? !var : !inConst)) c.push_back(&n);
  return c.empty() ? nullptr : c[Below(uint32_t(c.size()))];
}

std::string Expr(bool isInt, int depth);

std::string Factor(bool isInt, int depth) {
  const uint32_t k = Below(depth > 0 ? 10 : 7);
  const Name* n = Pick(isInt, false);
  if (k >= 8)
    return Chance(30) && !isInt ? "~" + Factor(false, depth - 1)
                                : "(" + Expr(isInt, depth - 1) + ")";
  if (k >= 4 && n != nullptr) return n->text;
  if (!isInt) return Chance(50) ? "TRUE" : "FALSE";
  static const char* const big[] = {"2147483647", "65536", "46341", "100000", "007"};
  return Chance(5) ? "0" : Chance(92) ? std::to_string(1 + Below(9)) : big[Below(5)];
}

std::string Chain(bool isInt, int depth, bool term) {
  static const char* const ops[2][4] = {{"+", "-", "+", "-"}, {"*", "/", "*", "*"}};
  std::string s = term ? Factor(isInt, depth) : Chain(isInt, depth, true);
  for (uint32_t n = depth > 0 ? Below(3) : Chance(30); n > 0; --n) {
    const char* op = !isInt ? (term ? "&" : "|") : ops[term][Below(4)];
    s += Sp() + op + Sp() + (term ? Factor(isInt, depth) : Chain(isInt, depth, true));
  }
  return s;
}

std::string Simple(bool isInt, int depth) {
  const std::string sign = isInt && Chance(20) ? (Chance(50) ? "-" : "+") : "";
  return sign + Chain(isInt, depth, false);
}

std::string Expr(bool isInt, int depth) {
  static const char* const rels[] = {"=", "#", "<>", "<", "<=", ">", ">="};
  if (isInt || Chance(50)) return Simple(isInt, depth);
  const bool u = Chance(70);
  return Simple(u, depth) + Sp() + rels[Below(7)] + Sp() + Simple(u, depth);
}

std::string Seq(int depth, const std::string& ind, int& room);

std::string Statement(int depth, const std::string& ind, int& room) {
  if (--room < 0) return "";
  const std::string in = ind + "  ";
  const Name* v = Pick(Chance(70), true);
  const Name* i = Pick(true, true);
  switch (Below(depth > 0 ? 10 : 5)) {
    case 0:
    case 1:
    case 2:
      if (v != nullptr) return v->text + Sp() + ":=" + Sp() + Expr(v->isInt, 1);
      [[fallthrough]];
    case 3:
    case 4: return "WRITE" + Sp() + Expr(Chance(60), 1);
    case 5:
    case 6: {
      std::string s = "IF " + Expr(false, 1) + " THEN\n" + Seq(depth - 1, in, room);
      for (uint32_t n = Below(3); n > 0; --n)
        s += ind + "ELSIF " + Expr(false, 1) + " THEN\n" + Seq(depth - 1, in, room);
      if (Chance(50)) s += ind + "ELSE\n" + Seq(depth - 1, in, room);
      return s + ind + "END";
    }
    case 7:
      // a counted loop most of the time, so that most programs end
      if (i != nullptr && Chance(70)) {
        return "WHILE " + i->text + " < " + std::to_string(Below(12)) + " DO\n" +
               Seq(depth - 1, in, room) + ";\n" + in + i->text + " := " + i->text + " + 1\n" + ind +
               "END";
      }
      return "WHILE " + Expr(false, 1) + " DO\n" + Seq(depth - 1, in, room) + ind + "END";
    case 8:
      if (i != nullptr && Chance(70)) {
        return "REPEAT\n" + Seq(depth - 1, in, room) + ";\n" + in + i->text + " := " + i->text +
               " - 1\n" + ind + "UNTIL " + i->text + " < " + std::to_string(Below(5)) + " - 5";
      }
      return "REPEAT\n" + Seq(depth - 1, in, room) + ind + "UNTIL " + Expr(false, 1);
    default: return "";  // the empty statement
  }
}

std::string Seq(int depth, const std::string& ind, int& room) {
  std::string s = ind + Statement(depth, ind, room);
  for (uint32_t n = Below(4); n > 0 && room > 0; --n)
    s += ";\n" + ind + Statement(depth, ind, room);
  return s + "\n";
}

std::string Program() {
  names.clear();
  std::string s;
  inConst = true;
  if (Chance(60)) s += "CONST\n";
  for (uint32_t n = s.empty() ? 0 : Below(5); n > 0; --n) {
    const bool isInt = Chance(60);
    const std::string e = Expr(isInt, 1);
    names.push_back({"c" + std::to_string(names.size()), isInt, true});
    s += "  " + names.back().text + Sp() + "=" + Sp() + e + ";\n";
  }
  inConst = false;
  if (Chance(90)) s += "VAR\n";
  for (uint32_t n = s.find("VAR") != s.npos ? 1 + Below(8) : 0; n > 0; --n) {
    names.push_back({"v" + std::to_string(names.size()), Chance(60), false});
    const char* type = names.back().isInt ? "INTEGER" : "BOOLEAN";
    s += "  " + names.back().text + Sp() + ":" + Sp() + type + ";\n";
  }
  int room = 1 + int(Below(12));
  return s + "BEGIN\n" + Seq(3, "  ", room) + "END.\n";
}

// ---- Evaluator: the language rules applied to the source text ------------------

// Ends an evaluation: "fold ..." while compiling, "run ..." while running,
// "steps" when the program runs longer than the bound.
struct Stop {
  std::string what;
};

struct Val {
  bool isInt, isConst;
  int64_t v;
};

struct Eval {
  std::vector<std::string> tok;
  size_t p = 0;
  std::map<std::string, Val> objs;  // constants and variables (isConst false)
  bool live = false;                // code that runs now; false while compiling
  long steps = 0;
  std::string out;

  explicit Eval(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
      const unsigned char c = s[i];
      size_t j = i + 1;
      if (c <= ' ') {
        ++i;
        continue;
      }
      if (s.compare(i, 2, "(*") == 0) {  // comments nest
        int depth = 0;
        do {
          const std::string two = s.substr(i, 2);
          depth += two == "(*" ? 1 : two == "*)" ? -1 : 0;
          i += two == "(*" || two == "*)" ? 2 : 1;
        } while (depth > 0 && i < s.size());
        continue;
      }
      const std::string two = s.substr(i, 2);
      if (isalnum(c)) {
        while (j < s.size() && isalnum((unsigned char)s[j]))
          ++j;
      } else if (two == ":=" || two == "<=" || two == ">=" || two == "<>") {
        ++j;
      }
      tok.push_back(s.substr(i, j - i));
      i = j;
    }
    tok.push_back("");
  }

  const std::string& Next() { return tok[p++]; }
  bool Is(const char* t) { return tok[p] == t ? (++p, true) : false; }

  void Step() {
    if (live && ++steps > 20000) throw Stop{"steps"};
  }

  // An integer result: folded when both operands are constants (a fault then
  // stops the compilation, even in code that never runs), computed when the
  // code runs, don't care otherwise.
  Val Arith(Val x, Val y, char op) {
    const bool fold = x.isConst && y.isConst;
    if (!fold && !live) return {true, false, 0};
    const char* where = fold ? "fold " : "run ";
    if (op == '/' && y.v <= 0) throw Stop{std::string(where) + (y.v == 0 ? "zero" : "negative")};
    int64_t r = op == '+' ? x.v + y.v : op == '-' ? x.v - y.v : op == '*' ? x.v * y.v : 0;
    if (op == '/') r = x.v / y.v - (x.v % y.v < 0 ? 1 : 0);  // floored
    if (r < INT32_MIN || r > INT32_MAX) throw Stop{std::string(where) + "overflow"};
    return {true, fold, r};
  }

  Val Factor() {
    const std::string& t = Next();
    if (isdigit((unsigned char)t[0])) return {true, true, std::stoll(t)};
    if (t == "TRUE" || t == "FALSE") return {false, true, t == "TRUE"};
    if (t == "~") {
      const Val x = Factor();
      return {false, x.isConst, !x.v};
    }
    if (t == "(") {
      const Val x = Expression();
      Next();  // ")"
      return x;
    }
    return objs.at(t);
  }

  // "&" and "|" skip their right operand when the left one decides.
  Val Term() {
    Val x = Factor();
    for (std::string op; (op = tok[p]) == "*" || op == "/" || op == "&";) {
      ++p;
      if (op != "&") {
        x = Arith(x, Factor(), op[0]);
        continue;
      }
      const bool was = live;
      live = live && x.v;
      const Val y = Factor();
      live = was;
      x = {false, x.isConst && y.isConst, x.v && y.v};
    }
    return x;
  }

  Val Simple() {
    const bool neg = Is("-");
    if (!neg) Is("+");
    Val x = Term();
    if (neg) x = Arith({true, true, 0}, x, '-');
    for (std::string op; (op = tok[p]) == "+" || op == "-" || op == "|";) {
      ++p;
      if (op != "|") {
        x = Arith(x, Term(), op[0]);
        continue;
      }
      const bool was = live;
      live = live && !x.v;
      const Val y = Term();
      live = was;
      x = {false, x.isConst && y.isConst, x.v || y.v};
    }
    return x;
  }

  Val Expression() {
    Val x = Simple();
    const std::string op = tok[p];
    if (op != "=" && op != "#" && op != "<>" && op[0] != '<' && op[0] != '>') return x;
    ++p;
    const Val y = Simple();
    const int64_t a = x.v, b = y.v;
    const bool r = op == "="                 ? a == b
                   : op == "#" || op == "<>" ? a != b
                   : op == "<"               ? a < b
                   : op == "<="              ? a <= b
                   : op == ">"               ? a > b
                                             : a >= b;
    return {false, x.isConst && y.isConst, r};
  }

  void Statement() {
    const std::string& t = Next();
    if (t == "WRITE") {
      const Val x = Expression();
      if (live) out += (x.isInt ? std::to_string(x.v) : x.v ? "TRUE " : "FALSE") + "\r\n";
    } else if (t == "IF") {
      bool done = false;  // a branch was taken: later conditions are not evaluated
      do {
        const bool was = live;
        live = live && !done;
        const bool go = Expression().v && live;
        live = was;
        Next();  // THEN
        Seq(go);
        done = done || go;
      } while (Is("ELSIF"));
      if (Is("ELSE")) Seq(!done);
      Next();  // END
    } else if (t == "WHILE") {
      for (const size_t at = p;; p = at, Step()) {
        const bool go = Expression().v && live;
        Next();  // DO
        Seq(go);
        Next();  // END
        if (!go) break;
      }
    } else if (t == "REPEAT") {
      for (const size_t at = p;; p = at, Step()) {
        Seq(true);
        Next();  // UNTIL
        if (Expression().v || !live) break;
      }
    } else if (objs.count(t) != 0) {
      Next();  // :=
      const Val x = Expression();
      if (live) objs[t].v = x.v;
    } else {
      --p;  // the empty statement
    }
    Step();
  }

  void Seq(bool run) {
    const bool was = live;
    live = live && run;
    do
      Statement();
    while (Is(";"));
    live = was;
  }

  // Compiles (folding every constant), then runs; the class of the end.
  std::string Run() {
    try {
      for (int pass = 0; pass < 2; ++pass) {
        p = 0;
        live = pass == 1;
        objs.clear();
        if (Is("CONST")) {
          while (tok[p + 1] == "=") {
            const std::string& n = Next();
            ++p;
            objs[n] = Expression();
            Next();  // ;
          }
        }
        if (Is("VAR")) {
          while (tok[p + 1] == ":") {
            objs[tok[p]] = {tok[p + 2] == "INTEGER", false, 0};
            p += 4;
          }
        }
        Next();  // BEGIN
        Seq(true);
      }
    } catch (const Stop& s) {
      return s.what;
    }
    return "ok";
  }
};

// ---- What tov did ----------------------------------------------------------------

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> v;
  for (size_t b = 0, e; (e = s.find("\r\n", b)) != s.npos; b = e + 2)
    v.push_back(s.substr(b, e - b));
  return v;
}

long Size(const std::string& cmd) { return cmd == "Hlt" ? 1 : cmd.size() == 3 ? 2 : 5; }

// The last command generated into the store: "pos: text".
std::string LastGenerated(const run::Result& r) {
  std::string last;
  for (const std::string& l : Lines(r.err))
    if (l.rfind("Gen.Dbg:   0 ", 0) == 0) last = l.substr(13);
  return last;
}

// The class of tov's end, in the evaluator's words.
std::string Class(const run::Result& r) {
  const std::vector<std::string> err = Lines(r.err);
  if (r.status == 0 || err.empty())
    return r.status == 0 ? "ok" : "status " + std::to_string(r.status);
  const std::string& l = err.back();
  if (l == "Comp: Program too large.") return "too large";
  const std::string what = l.find("zero") != l.npos       ? "zero"
                           : l.find("egative") != l.npos  ? "negative"
                           : l.find("overflow") != l.npos ? "overflow"
                                                          : l;
  return (l.rfind("Gen.", 0) == 0 ? "fold " : l.rfind("Comp: ", 0) == 0 ? "run " : "? ") + what;
}

// The store's invariants; the empty text when they hold. Sets `output` to
// what follows the listing on standard output.
std::string Check(const run::Result& r, size_t vars, std::string& output) {
  static const std::string oprs =
      " Wrt WrC Neg Add Sub Mul Div Bus Vid Eql Neq Lss Leq Gtr Geq Not Or  And ";
  const std::vector<std::string> out = Lines(r.out), err = Lines(r.err);
  std::map<long, std::string> code;
  std::vector<long> jumps;
  long end = 0;
  size_t n = 0;
  for (; n < out.size() && out[n].size() > 6 && out[n].compare(4, 2, ": ") == 0; ++n) {
    const std::string& l = out[n];
    const std::string t = l.substr(6), f = t.substr(0, 3), arg = t.size() > 4 ? t.substr(4) : "";
    if (atol(l.c_str()) != end) return "a gap or an overlap before: " + l;
    const long a = atol(arg.c_str());
    const bool ok = t == "Hlt" || (t.size() == 3 && oprs.find(" " + t + " ") != oprs.npos) ||
                    (f == "Val" && std::to_string(a) == arg) ||
                    ((f == "Lod" || f == "Sto") && std::to_string(a) == arg && a < long(vars)) ||
                    ((f == "Jmp" || f == "Jpf" || f == "Jpt") && std::to_string(a) == arg);
    if (!ok) return "no command: " + l;
    if (f[0] == 'J') jumps.push_back(a);
    code[end] = t;
    end += Size(t);
  }
  for (size_t i = n; i < out.size(); ++i)
    output += out[i] + "\r\n";
  for (long a : jumps)
    if (a != end && code.count(a) == 0)
      return "a jump to " + std::to_string(a) + ", no command there";
  for (const std::string& l : err) {
    if (l.rfind("Comp.Dbg: ", 0) == 0 && l.size() > 51 && l[14] == ':') {
      const auto c = code.find(atol(l.c_str() + 10));
      if (c == code.end() || c->second != l.substr(51)) return "traced, not listed: " + l;
    }
  }
  const std::string last = LastGenerated(r);
  if (n == 0 || last != out[n - 1])
    return "the listing ends at " + (n ? out[n - 1] : "") + ", the code at " + last;
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    fprintf(stderr, "usage: property TOV COUNT SEED | property --write DIR COUNT SEED\n");
    return 2;
  }
  const bool write = strcmp(argv[1], "--write") == 0;
  rnd.seed(uint32_t(strtoul(argv[argc - 1], nullptr, 10)));
  const int count = atoi(argv[argc - 2]);
  run::tov = argv[1];
  std::map<std::string, int> ends;
  int failed = 0;
  for (int i = 0; i < count && failed < 3; ++i) {
    const std::string src = Program();
    if (write) {
      FILE* f =
          fopen((std::string(argv[2]) + "/random-" + std::to_string(i) + ".tov").c_str(), "wb");
      if (f == nullptr || fwrite(src.data(), 1, src.size(), f) != src.size() || fclose(f) != 0)
        return 2;
      continue;
    }
    Eval e(src);
    std::string want = e.Run();
    const run::Result r = run::Run({want == "steps" ? "-" : "-x"}, src);
    std::string got = Class(r), output, why;
    if (want == "steps" && got == "ok") got = "steps";  // not run: only compiled
    if (got == "too large") {  // beyond what the evaluator knows: the last command must not fit
      const std::string last = LastGenerated(r);
      if (last.size() > 6 && atol(last.c_str()) + Size(last.substr(6)) > 1024) want = got;
    }
    if (got == "ok" || got.rfind("run ", 0) == 0 || got == "steps")
      why = Check(r, names.size(), output);
    if (why.empty() && got != want) why = "ends with " + got + ", expected " + want;
    if (why.empty() && want != "steps" && want != "too large" && output != e.out) {
      why = "output " + run::Show(output) + ", expected " + run::Show(e.out);
    }
    ++ends[want];
    if (!why.empty()) {
      printf("program %d: %s\n%s\n", i, why.c_str(), src.c_str());
      ++failed;
    }
  }
  for (const auto& [what, n] : ends)
    printf("%s: %d  ", what.c_str(), n);
  printf("\n");
  // a generator that rarely makes a program that runs to its end proves little
  return failed == 0 && (write || ends["ok"] * 3 >= count) ? 0 : 1;
}
