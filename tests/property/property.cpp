// Random well-typed programs. For each: tov -x's WRITE output and error class
// equal those of a direct evaluation of the source, and the compiled store
// holds: every listed command decodes, the listing runs on without gaps to
// where the generated code ends, every cell is a variable's and every jump
// lands on a command or the end.
//
//   property TOV COUNT SEED
//   property --write DIR COUNT SEED     (only writes the programs: fuzzing seeds)
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
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
  const auto body = [&] { return Seq(depth - 1, ind + "  ", room); };
  const Name* v = Pick(Chance(70), true);
  const Name* i = Chance(70) ? Pick(true, true) : nullptr;  // a counter, so that most loops end
  const std::string n = i ? i->text : "", step = i ? ";\n  " + ind + n + " := " + n + " + 1\n" : "";
  const uint32_t k = Below(depth > 0 ? 9 : 5);
  if (k < 3 && v != nullptr) return v->text + " :=" + Sp() + Expr(v->isInt, 1, false);
  if (k < 5) return "WRITE" + Sp() + Expr(Chance(60), 1, false);
  if (k < 7) {
    std::string s = "IF " + Expr(false, 1, false) + " THEN\n" + body();
    for (uint32_t j = Below(3); j > 0; --j)
      s += ind + "ELSIF " + Expr(false, 1, false) + " THEN\n" + body();
    return s + (Chance(50) ? ind + "ELSE\n" + body() : "") + ind + "END";
  }
  const std::string c =
      i ? n + (k == 7 ? " < " : " > ") + std::to_string(Below(12)) : Expr(false, 1, false);
  if (k == 7) return "WHILE " + c + " DO\n" + body() + step + ind + "END";
  return "REPEAT\n" + body() + step + ind + "UNTIL " + c;
}

std::string Seq(int depth, const std::string& ind, int& room) {
  std::string s = ind + Statement(depth, ind, room);
  for (uint32_t n = Below(4); n > 0 && room > 0; --n)
    s += " ;\n" + ind + Statement(depth, ind, room);
  return s + "\n";
}

std::string Program() {
  names.clear();
  std::string s;
  for (const bool isConst : {true, false}) {
    if (!Chance(isConst ? 60 : 90)) continue;
    s += isConst ? "CONST\n" : "VAR\n";
    for (uint32_t n = isConst ? Below(5) : 1 + Below(8); n > 0; --n) {
      const bool isInt = Chance(60);
      const std::string e = isConst ? Expr(isInt, 1, true) : isInt ? "INTEGER" : "BOOLEAN";
      names.push_back({(isConst ? 'c' : 'v') + std::to_string(names.size()), isInt, isConst});
      s += "  " + names.back().text + (isConst ? " =" : " :") + Sp() + e + " ;\n";
    }
  }
  int room = 1 + int(Below(12));
  return s + "BEGIN\n" + Seq(3, "  ", room) + "END .\n";
}

// ---- Evaluator: the language rules applied to the source text ------------------
// `run` tells whether the code at hand runs: false for the whole first pass,
// which compiles, and for code that the second pass does not reach. An
// evaluation ends early by throwing its class: "fold " or "run " and tov's
// message, or "steps" when the program runs longer than the bound.

struct Val {
  bool isInt, isConst;
  int64_t v;
};

std::vector<std::string> tok;     // the source's words, comments dropped
size_t p;                         // the next word
std::map<std::string, Val> objs;  // constants and variables (isConst false)
long steps;
std::string written;  // the WRITE output

bool Is(const char* t) { return tok[p] == t ? (++p, true) : false; }

// An integer result: folded when both operands are constants (a fault then
// stops the compilation, even in code that never runs), computed when the
// code runs, don't care otherwise.
Val Arith(Val x, Val y, char op, bool run) {
  const bool fold = x.isConst && y.isConst;
  if (!fold && !run) return {true, false, 0};
  const std::string where = fold ? "fold " : "run ";
  if (op == '/' && y.v <= 0) throw where + (y.v ? "Negative divisor" : "Division by zero");
  int64_t r = op == '+' ? x.v + y.v : op == '-' ? x.v - y.v : x.v * y.v;
  if (op == '/') r = x.v / y.v - (x.v % y.v < 0);  // floored
  if (r != int32_t(r)) throw where + "Arithmetic overflow";
  return {true, fold, r};
}

Val Expression(bool run);

Val Factor(bool run) {
  const std::string t = tok[p++];
  if (isdigit(uint8_t(t[0]))) return {true, true, std::stoll(t)};
  if (t != "~" && t != "(") return objs.at(t);
  const Val x = t == "~" ? Factor(run) : Expression(run);
  if (t == "(") ++p;  // )
  return {x.isInt, x.isConst, t == "~" ? !x.v : x.v};
}

// A Term, or (not term) a SimpleExpr with its sign. The right operand of
// "&" and "|" does not run when the left one decides.
Val Chain(bool term, bool run) {
  const bool neg = !term && Is("-");
  if (!term && !neg) Is("+");
  Val x = term ? Factor(run) : Chain(true, run);
  if (neg) x = Arith({true, true, 0}, x, '-', run);
  while (tok[p].size() == 1 && strchr(term ? "*/&" : "+-|", tok[p][0])) {
    const char op = tok[p++][0];
    const bool logic = op == '&' || op == '|', runs = run && (!logic || (op == '&') == (x.v != 0));
    const Val y = term ? Factor(runs) : Chain(true, runs);
    x = logic ? Val{false, false, op == '&' ? x.v && y.v : x.v || y.v} : Arith(x, y, op, run);
  }
  return x;
}

Val Expression(bool run) {
  // the outcomes (less, equal, greater) each relation holds for
  static const std::map<std::string, std::string> rels = {
      {"=", "010"},  {"#", "101"}, {"<>", "101"}, {"<", "100"},
      {"<=", "110"}, {">", "001"}, {">=", "011"}};
  const Val x = Chain(false, run);
  const auto rel = rels.find(tok[p]);
  if (rel == rels.end()) return x;
  ++p;
  const int64_t y = Chain(false, run).v;
  return {false, false, rel->second[(x.v > y) - (x.v < y) + 1] == '1'};
}

void Seq(bool run);

void Statement(bool run) {
  const std::string t = tok[p++];
  if (t == "WRITE") {
    const Val x = Expression(run);
    if (run) written += (x.isInt ? std::to_string(x.v) : x.v ? "TRUE " : "FALSE") + "\r\n";
  } else if (t == "IF") {
    bool done = !run;  // a branch ran, or none does: later conditions are not evaluated
    do {
      const bool go = Expression(!done).v && !done;
      ++p;  // THEN
      Seq(go);
      done = done || go;
    } while (Is("ELSIF"));
    if (Is("ELSE")) Seq(!done);
    ++p;  // END
  } else if (t == "WHILE") {
    for (const size_t at = p;; p = at) {
      const bool go = Expression(run).v && run;
      ++p;  // DO
      Seq(go);
      ++p;  // END
      if (!go) break;
    }
  } else if (t == "REPEAT") {
    for (const size_t at = p;; p = at) {
      Seq(run);
      ++p;  // UNTIL
      if (Expression(run).v || !run) break;
    }
  } else if (objs.count(t) != 0) {
    ++p;  // :=
    const Val x = Expression(run);
    if (run) objs[t].v = x.v;
  } else {
    --p;  // the empty statement
  }
  if (run && ++steps > 3000) throw std::string("steps");  // every turn of a loop runs one
}

void Seq(bool run) {
  for (Statement(run); Is(";");)
    Statement(run);
}

// Compiles (folding every constant), then runs; the class of the end.
std::string Evaluate(const std::string& src) {
  std::istringstream in(src);
  tok.clear();
  int comment = 0;  // comments nest
  for (std::string w; in >> w; comment += (w == "(*") - (w == "*)"))
    if (comment == 0 && w != "(*") tok.push_back(w);
  tok.push_back("");
  steps = 0;
  written.clear();
  try {
    for (const bool run : {false, true}) {
      p = 0;
      objs = {{"FALSE", {false, true, 0}}, {"TRUE", {false, true, 1}}};
      for (Is("CONST"); tok[p + 1] == "="; ++p) {  // name = Expression ;
        const std::string n = tok[p];
        p += 2;
        objs[n] = Expression(run);
      }
      for (Is("VAR"); tok[p + 1] == ":"; p += 4)
        objs[tok[p]] = {tok[p + 2] == "INTEGER", false, 0};
      ++p;  // BEGIN
      Seq(run);
    }
  } catch (const std::string& what) {
    return what;
  }
  return "ok";
}

// ---- What tov did ----------------------------------------------------------------

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> v;
  for (size_t b = 0, e; (e = s.find("\r\n", b)) != s.npos; b = e + 2)
    v.push_back(s.substr(b, e - b));
  return v;
}

// What is wrong with tov's run of the current program, which the evaluator
// ended with `want`: the empty text when nothing. Its end has the class that
// the evaluator gives: "ok", else where and the message of the error line.
std::string Judge(const run::Result& r, const std::string& want) {
  const std::vector<std::string> err = Lines(r.err);
  const std::string last = err.empty() ? "?" : err.back();
  const size_t b = last.find(": ") + 2, e = std::min(last.find(" (", b), last.size() - 1);
  const std::string got =
      r.status ? (last[0] == 'G' ? "fold " : "run ") + last.substr(b, e - b) : "ok";
  if (got == "run Program too large") return "";  // rare; the limit has cases of its own
  for (const std::string& s : {r.out, r.err})
    if (Lines(s).size() != size_t(std::count(s.begin(), s.end(), '\n')) ||
        (!s.empty() && s.back() != '\n'))
      return "a line without CR LF";
  // the store: every command decodes, every cell is a variable's, every jump
  // lands on a command or the end, and the listing ends where the code does
  const long vars = std::count_if(names.begin(), names.end(), [](auto& n) { return !n.isConst; });
  std::string generated, listed, output;  // the last command of each; what follows the listing
  for (const std::string& l : err)
    if (l.rfind("Gen.Dbg:   0 ", 0) == 0) generated = l.substr(13);
  std::set<long> code;
  std::vector<long> jumps;
  long end = 0;
  for (const std::string& l : Lines(r.out)) {
    if (l.size() < 7 || l.compare(4, 2, ": ") != 0) {
      output += l + "\r\n";
      continue;
    }
    const std::string t = l.substr(6), f = t.substr(0, 3);
    const long a = atol(t.c_str() + std::min<size_t>(4, t.size()));  // the operand
    if (atol(l.c_str()) != end || !output.empty())
      return "a gap, an overlap or output before: " + l;
    if (t.size() != 3 &&
        (t != f + " " + std::to_string(a) || (f != "Val" && (a < 0 || (f[0] != 'J' && a >= vars)))))
      return "no command: " + l;
    if (f[0] == 'J') jumps.push_back(a);
    code.insert(end);
    end += t == "Hlt" ? 1 : t.size() == 3 ? 2 : 5;
    listed = l;
  }
  for (long a : jumps)
    if (a != end && code.count(a) == 0) return "a jump to " + std::to_string(a) + ", no command";
  if (listed != generated && got[0] != 'f')
    return "the listing ends at " + listed + ", the code at " + generated;
  if ((want == "steps" && got == "ok") || (got == want && output == written)) return "";
  return got + " and " + run::Show(output) + ", expected " + want + " and " + run::Show(written);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4)
    return fprintf(stderr, "usage: property TOV COUNT SEED | --write DIR COUNT SEED\n"), 2;
  rnd.seed(uint32_t(atol(argv[argc - 1])));
  const int count = atoi(argv[argc - 2]);
  run::tov = argv[1];
  std::map<std::string, int> ends;
  int failed = 0;
  for (int i = 0; i < count && failed < 3; ++i) {
    const std::string src = Program();
    if (argc == 5) {  // --write
      const std::string f = std::string(argv[2]) + "/random-" + std::to_string(i) + ".tov";
      if (!(std::ofstream(f, std::ios::binary) << src).flush()) return 2;
      continue;
    }
    const std::string want = Evaluate(src);
    const std::string why = Judge(run::Run({want == "steps" ? "-" : "-x"}, src), want);
    ++ends[want];
    if (!why.empty()) printf("program %d: %s\n%s\n", i, why.c_str(), src.c_str());
    failed += !why.empty();
  }
  for (const auto& [what, n] : ends)
    printf("%s: %d  ", what.c_str(), n);
  printf("\n");
  // a generator that rarely makes a program that runs to its end proves little
  return failed == 0 && (argc == 5 || ends["ok"] * 3 >= count) ? 0 : 1;
}
