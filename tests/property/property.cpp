// Random well-typed programs. For each: tov -x's WRITE output and error class
// equal those of a direct evaluation of the source, and the compiled store
// holds: every listed command decodes, the listing runs on without gaps to
// where the generated code ends, every cell is a variable's and every jump
// lands on a command or the end.
//
//   property TOV COUNT SEED
//   property --write DIR COUNT SEED     (only writes the programs: fuzzing seeds)
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "runner.h"

namespace {

// ---- Generator: tokens apart, so that the evaluator splits at white space --------

std::mt19937 rnd;
uint32_t Below(uint32_t n) { return rnd() % n; }
bool Chance(uint32_t percent) { return Below(100) < percent; }

struct Name {
  std::string text;
  bool isInt, isConst;
};
std::vector<Name> names;

std::string Sp() {
  static const char* const gaps[] = {"\r\n  ", "\t", " (* (* c *) *) ", "\n"};
  return Chance(90) ? " " : gaps[Below(4)];
}

// A name of the type; a variable (var), else anything but a variable in the CONST section.
const Name* Pick(bool isInt, bool var, bool inConst = false) {
  std::vector<const Name*> c;
  for (const Name& n : names)
    if (n.isInt == isInt && (n.isConst ? !var : !inConst)) c.push_back(&n);
  return c.empty() ? nullptr : c[Below(uint32_t(c.size()))];
}

// Level 0 is an Expression, 1 a SimpleExpr, 2 a Term, 3 a Factor.
std::string Expr(bool isInt, int depth, bool inConst, int level = 0) {
  static const char* const rels[] = {"=", "#", "<>", "<", "<=", ">", ">="};
  static const char* const ops[2][5] = {{"+", "-", "+", "-", "|"}, {"*", "/", "*", "*", "&"}};
  static const char* const big[] = {"2147483647", "65536", "46341", "100000", "007"};
  if (level == 0 && !isInt && Chance(50)) {
    const bool u = Chance(70);
    return Expr(u, depth, inConst, 1) + Sp() + rels[Below(7)] + Sp() + Expr(u, depth, inConst, 1);
  }
  if (level == 3) {
    const uint32_t k = Below(depth > 0 ? 10 : 7);
    const Name* n = Pick(isInt, false, inConst);
    if (k >= 8 && !isInt && Chance(30)) return "~ " + Expr(false, depth - 1, inConst, 3);
    if (k >= 8) return "( " + Expr(isInt, depth - 1, inConst) + " )";
    if (k >= 4 && n != nullptr) return n->text;
    if (!isInt) return Chance(50) ? "TRUE" : "FALSE";
    return Chance(5) ? "0" : Chance(92) ? std::to_string(1 + Below(9)) : big[Below(5)];
  }
  level = std::max(level, 1);
  std::string s = level == 1 && isInt && Chance(20) ? (Chance(50) ? "- " : "+ ") : "";
  s += Expr(isInt, depth, inConst, level + 1);
  for (uint32_t n = depth > 0 ? Below(3) : Chance(30); n > 0; --n)
    s +=
        Sp() + ops[level - 1][isInt ? Below(4) : 4] + Sp() + Expr(isInt, depth, inConst, level + 1);
  return s;
}

std::string Seq(int depth, const std::string& ind, int& room);

std::string Statement(int depth, const std::string& ind, int& room) {
  if (--room < 0) return "";
  const std::string in = ind + "  ";
  const auto body = [&] { return Seq(depth - 1, in, room); };
  const Name* v = Pick(Chance(70), true);
  const Name* i = Chance(70) ? Pick(true, true) : nullptr;  // a counter, so that most loops end
  const std::string n = i ? i->text : "", step = i ? ";\n" + in + n + " := " + n + " + 1\n" : "";
  switch (Below(depth > 0 ? 9 : 5)) {
    case 0:
    case 1:
    case 2:
      if (v != nullptr) return v->text + " :=" + Sp() + Expr(v->isInt, 1, false);
      [[fallthrough]];
    case 3:
    case 4: return "WRITE" + Sp() + Expr(Chance(60), 1, false);
    case 5:
    case 6: {
      std::string s = "IF " + Expr(false, 1, false) + " THEN\n" + body();
      for (uint32_t k = Below(3); k > 0; --k)
        s += ind + "ELSIF " + Expr(false, 1, false) + " THEN\n" + body();
      return s + (Chance(50) ? ind + "ELSE\n" + body() : "") + ind + "END";
    }
    case 7: {
      const std::string c = i ? n + " < " + std::to_string(Below(12)) : Expr(false, 1, false);
      return "WHILE " + c + " DO\n" + body() + step + ind + "END";
    }
    default: {
      const std::string c = i ? n + " > " + std::to_string(Below(12)) : Expr(false, 1, false);
      return "REPEAT\n" + body() + step + ind + "UNTIL " + c;
    }
  }
}

std::string Seq(int depth, const std::string& ind, int& room) {
  std::string s = ind + Statement(depth, ind, room);
  for (uint32_t n = Below(4); n > 0 && room > 0; --n)
    s += " ;\n" + ind + Statement(depth, ind, room);
  return s + "\n";
}

std::string Program() {
  names.clear();
  std::string s = Chance(60) ? "CONST\n" : "";
  for (uint32_t n = s.empty() ? 0 : Below(5); n > 0; --n) {
    const bool isInt = Chance(60);
    const std::string e = Expr(isInt, 1, true);
    names.push_back({"c" + std::to_string(names.size()), isInt, true});
    s += "  " + names.back().text + " =" + Sp() + e + " ;\n";
  }
  if (Chance(90)) s += "VAR\n";
  for (uint32_t n = s.find("VAR") != s.npos ? 1 + Below(8) : 0; n > 0; --n) {
    names.push_back({"v" + std::to_string(names.size()), Chance(60), false});
    s += "  " + names.back().text + " :" + Sp() + (names.back().isInt ? "INTEGER" : "BOOLEAN") +
         " ;\n";
  }
  int room = 1 + int(Below(12));
  return s + "BEGIN\n" + Seq(3, "  ", room) + "END .\n";
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
    std::istringstream in(s);
    int comment = 0;  // comments nest
    for (std::string w; in >> w;) {
      comment += w == "(*" ? 1 : w == "*)" ? -1 : 0;
      if (comment == 0 && w != "*)") tok.push_back(w);
    }
    tok.push_back("");
  }

  const std::string& Next() { return tok[p++]; }
  bool Is(const char* t) { return tok[p] == t ? (++p, true) : false; }
  void Step() {
    if (live && ++steps > 3000) throw Stop{"steps"};
  }

  // An integer result: folded when both operands are constants (a fault then
  // stops the compilation, even in code that never runs), computed when the
  // code runs, don't care otherwise.
  Val Arith(Val x, Val y, char op) {
    const bool fold = x.isConst && y.isConst;
    if (!fold && !live) return {true, false, 0};
    const std::string where = fold ? "fold " : "run ";
    if (op == '/' && y.v <= 0) throw Stop{where + (y.v == 0 ? "zero" : "negative")};
    int64_t r = op == '+' ? x.v + y.v : op == '-' ? x.v - y.v : x.v * y.v;
    if (op == '/') r = x.v / y.v - (x.v % y.v < 0 ? 1 : 0);  // floored
    if (r < INT32_MIN || r > INT32_MAX) throw Stop{where + "overflow"};
    return {true, fold, r};
  }

  Val Factor() {
    const std::string t = Next();
    if (isdigit(uint8_t(t[0]))) return {true, true, std::stoll(t)};
    if (t == "TRUE" || t == "FALSE") return {false, true, t == "TRUE"};
    if (t == "~") {
      const Val x = Factor();
      return {false, x.isConst, !x.v};
    }
    if (t != "(") return objs.at(t);
    const Val x = Expression();
    Next();  // )
    return x;
  }

  // A Term, or (not term) a SimpleExpr with its sign. The right operand of
  // "&" and "|" does not run when the left one decides.
  Val Chain(bool term) {
    const bool neg = !term && Is("-");
    if (!term && !neg) Is("+");
    Val x = term ? Factor() : Chain(true);
    if (neg) x = Arith({true, true, 0}, x, '-');
    for (std::string op; (op = tok[p]) == (term ? "*" : "+") || op == (term ? "/" : "-") ||
                         op == (term ? "&" : "|");) {
      ++p;
      const bool was = live, logic = op == "&" || op == "|";
      if (logic) live = live && (op == "&") == (x.v != 0);
      const Val y = term ? Factor() : Chain(true);
      live = was;
      x = !logic ? Arith(x, y, op[0]) : Val{false, false, op == "&" ? x.v && y.v : x.v || y.v};
    }
    return x;
  }

  Val Expression() {
    const Val x = Chain(false);
    const std::string op = tok[p];
    if (op != "=" && op != "#" && op != "<>" && op[0] != '<' && op[0] != '>') return x;
    ++p;
    const int64_t y = Chain(false).v, c = (x.v > y) - (x.v < y);
    const bool r = op == "="    ? c == 0
                   : op == "<"  ? c < 0
                   : op == ">"  ? c > 0
                   : op == "<=" ? c <= 0
                   : op == ">=" ? c >= 0
                                : c != 0;
    return {false, false, r};
  }

  void Statement() {
    const std::string t = Next();
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
        for (Is("CONST"); tok[p + 1] == "="; ++p) {  // name = Expression ;
          const std::string n = tok[p];
          p += 2;
          objs[n] = Expression();
        }
        for (Is("VAR"); tok[p + 1] == ":"; p += 4)
          objs[tok[p]] = {tok[p + 2] == "INTEGER", false, 0};
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

// The class of tov's end, in the evaluator's words.
std::string Class(const run::Result& r) {
  const std::vector<std::string> err = Lines(r.err);
  const std::string l = err.empty() ? "" : err.back();
  if (r.status == 0 || l == "Comp: Program too large.") return r.status == 0 ? "ok" : "too large";
  const std::string what = l.find("zero") != l.npos       ? "zero"
                           : l.find("egative") != l.npos  ? "negative"
                           : l.find("overflow") != l.npos ? "overflow"
                                                          : l;
  return (l.rfind("Gen.", 0) == 0 ? "fold " : l.rfind("Comp: ", 0) == 0 ? "run " : "? ") + what;
}

long Size(const std::string& cmd) { return cmd == "Hlt" ? 1 : cmd.size() == 3 ? 2 : 5; }

// The store's invariants: the empty text when they hold. `output` is what
// follows the listing on standard output.
std::string Check(const run::Result& r, size_t vars, std::string& output) {
  std::set<long> code;
  std::vector<long> jumps;
  long end = 0;
  std::string generated, listed;  // the last command of each
  for (const std::string& s : {r.out, r.err})
    if (Lines(s).size() != size_t(std::count(s.begin(), s.end(), '\n')))
      return "a line without CR LF";
  for (const std::string& l : Lines(r.err))
    if (l.rfind("Gen.Dbg:   0 ", 0) == 0) generated = l.substr(13);
  if (r.status == 9 && Class(r) == "too large")  // the last command must not fit
    return atol(generated.c_str()) + Size(generated.substr(6)) > 1024 ? "" : "too large too early";
  for (const std::string& l : Lines(r.out)) {
    const std::string t = l.substr(std::min<size_t>(6, l.size())), f = t.substr(0, 3);
    const long a = atol(t.c_str() + std::min<size_t>(4, t.size()));  // the operand
    const bool number = t.size() > 4 && t[3] == ' ' && std::to_string(a) == t.substr(4);
    if (l.size() < 7 || l.compare(4, 2, ": ") != 0) {
      output += l + "\r\n";
    } else if (atol(l.c_str()) != end || !output.empty()) {
      return "a gap, an overlap or output before: " + l;
    } else if (t.size() != 3 &&
               !(number && (f == "Val" || (a >= 0 && (f[0] == 'J' || a < long(vars)))))) {
      return "no command: " + l;
    } else {
      if (f[0] == 'J') jumps.push_back(a);
      code.insert(end);
      end += Size(t);
      listed = l;
    }
  }
  for (long a : jumps)
    if (a != end && code.count(a) == 0) return "a jump to " + std::to_string(a) + ", no command";
  return listed == generated ? "" : "the listing ends at " + listed + ", the code at " + generated;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: property TOV COUNT SEED | property --write DIR COUNT SEED\n");
    return 2;
  }
  rnd.seed(uint32_t(atol(argv[argc - 1])));
  run::tov = argv[1];
  std::map<std::string, int> ends;
  int failed = 0;
  for (int i = 0; i < atoi(argv[argc - 2]) && failed < 3; ++i) {
    const std::string src = Program();
    if (argc == 5) {  // --write
      FILE* f =
          fopen((std::string(argv[2]) + "/random-" + std::to_string(i) + ".tov").c_str(), "wb");
      if (f == nullptr || fwrite(src.data(), 1, src.size(), f) != src.size() || fclose(f) != 0)
        return 2;
      continue;
    }
    Eval e(src);
    const std::string want = e.Run();
    const run::Result r = run::Run({want == "steps" ? "-" : "-x"}, src);
    std::string got = Class(r), output, why;
    const size_t vars =
        std::count_if(names.begin(), names.end(), [](auto& n) { return !n.isConst; });
    if (got.rfind("fold ", 0) != 0) why = Check(r, vars, output);
    if (got == "too large" || (want == "steps" && got == "ok")) {  // not run
      got = want;
      output = e.out;
    }
    if (why.empty() && (got != want || output != e.out))
      why = got + " and " + run::Show(output) + ", expected " + want + " and " + run::Show(e.out);
    ++ends[want];
    if (!why.empty()) printf("program %d: %s\n%s\n", i, why.c_str(), src.c_str());
    failed += !why.empty();
  }
  for (const auto& [what, n] : ends)
    printf("%s: %d  ", what.c_str(), n);
  printf("\n");
  // a generator that rarely makes a program that runs to its end proves little
  return failed == 0 && (argc == 5 || ends["ok"] * 3 >= atoi(argv[argc - 2])) ? 0 : 1;
}
