// Random well-typed programs, generated from the grammar, compile, and their
// listing decodes back to commands whose jumps all land on the first byte of
// a command or on the end of the program; no address is left unresolved.
//
//   property TOV [COUNT [SEED]]
//   property --write DIR COUNT SEED     (only writes the programs, as fuzzing seeds)
//
// The seed (default 1, or $TOV_PROPERTY_SEED) makes a run repeatable; a
// failing program is printed with its seed and index.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

// ---- Generator ---------------------------------------------------------------

enum Type { tBool, tInt };

struct Name {
  std::string text;
  Type type;
  bool isConst;
  int64_t value;  // constants only
};

// An expression's text; for an integer expression made of constants alone
// also its value, since the compiler folds it and must never be asked to fold
// an overflow or a division by a divisor below 1.
struct Expr {
  std::string text;
  bool isConst;
  int64_t value;
};

constexpr int64_t minInt = INT32_MIN, maxInt = INT32_MAX;

bool Fits(int64_t v) { return v >= minInt && v <= maxInt; }

int64_t FloorDiv(int64_t x, int64_t y) {
  int64_t q = x / y;
  if (x % y != 0 && (x < 0) != (y < 0)) --q;
  return q;
}

struct Gen {
  std::mt19937_64 rnd;
  std::vector<Name> names;
  bool inConst = false;  // only constants may be named (the CONST section)
  int stmts = 0;         // statements left to emit, so that the code fits the store

  explicit Gen(uint64_t seed) : rnd(seed) {}

  uint32_t Below(uint32_t n) { return uint32_t(rnd() % n); }
  bool Chance(uint32_t percent) { return Below(100) < percent; }

  // White space between tokens: mostly a blank, sometimes more of it, a line
  // end or a comment.
  std::string Sp() {
    switch (Below(40)) {
      case 0: return "\r\n  ";
      case 1: return "\n\t";
      case 2: return " (* c *) ";
      case 3: return "  ";
      default: return " ";
    }
  }

  std::string NewName(char kind) {
    for (;;) {
      std::string s(1, kind);
      const uint32_t n = 1 + Below(4);
      for (uint32_t i = 0; i < n; ++i) s += "abcdefghijklmnopqrstuvwxyz0123456789"[Below(36)];
      bool taken = false;
      for (const Name& o : names) taken = taken || o.text == s;
      if (!taken) return s;
    }
  }

  const Name* Pick(Type t, bool wantVar) {
    std::vector<const Name*> c;
    for (const Name& o : names) {
      if (o.type == t && (!inConst || o.isConst) && (!wantVar || !o.isConst)) c.push_back(&o);
    }
    return c.empty() ? nullptr : c[Below(uint32_t(c.size()))];
  }

  Expr Number() {
    int64_t v;
    switch (Below(6)) {
      case 0: v = maxInt; break;
      case 1: v = Below(100000); break;
      default: v = Below(10);
    }
    std::string t = std::to_string(v);
    if (Chance(5)) t = "00" + t;
    return {t, true, v};
  }

  // Factor = number | ident | "(" Expression ")" | "~" Factor .
  Expr Factor(Type t, int depth) {
    const uint32_t k = Below(depth > 0 ? 10 : 6);
    if (t == tInt) {
      if (k < 3) return Number();
      if (k < 6) {
        if (const Name* o = Pick(tInt, false)) return {o->text, o->isConst, o->value};
        return Number();
      }
      Expr e = Expression(tInt, depth - 1);
      return {"(" + e.text + ")", e.isConst, e.value};
    }
    if (k < 2) return {Chance(50) ? "TRUE" : "FALSE", true, 0};
    if (k < 6) {
      if (const Name* o = Pick(tBool, false)) return {o->text, false, 0};
      return {"TRUE", true, 0};
    }
    if (k < 8) return {"~" + Factor(tBool, depth - 1).text, false, 0};
    return {"(" + Expression(tBool, depth - 1).text + ")", false, 0};
  }

  // Term = Factor { ("*" | "/" | "&") Factor } .
  Expr Term(Type t, int depth) {
    Expr x = Factor(t, depth);
    const uint32_t n = depth > 0 ? Below(3) : 0;
    for (uint32_t i = 0; i < n; ++i) {
      Expr y = Factor(t, depth);
      if (t == tBool) {
        x.text += Sp() + "&" + Sp() + y.text;
        continue;
      }
      const bool mul = Chance(50);
      if (x.isConst && y.isConst) {
        // a fold that would fail is replaced by one that cannot
        const bool ok = mul ? Fits(x.value * y.value) : y.value > 0;
        if (!ok) y = {"1", true, 1};
        x.value = mul ? x.value * y.value : FloorDiv(x.value, y.value);
      } else {
        x.isConst = false;
      }
      x.text += Sp() + (mul ? "*" : "/") + Sp() + y.text;
    }
    return x;
  }

  // SimpleExpr = ["+" | "-"] Term { ("+" | "-" | "|") Term } .
  Expr Simple(Type t, int depth) {
    Expr x;
    if (t == tInt && Chance(25)) {
      x = Term(tInt, depth);
      if (Chance(50) && !(x.isConst && x.value == minInt)) {
        x = {"-" + x.text, x.isConst, -x.value};
      } else {
        x.text = "+" + x.text;
      }
    } else {
      x = Term(t, depth);
    }
    const uint32_t n = depth > 0 ? Below(3) : 0;
    for (uint32_t i = 0; i < n; ++i) {
      Expr y = Term(t, depth);
      if (t == tBool) {
        x.text += Sp() + "|" + Sp() + y.text;
        continue;
      }
      const bool add = Chance(50);
      if (x.isConst && y.isConst) {
        const int64_t v = add ? x.value + y.value : x.value - y.value;
        if (!Fits(v)) y = {"0", true, 0};
        x.value = add ? x.value + y.value : x.value - y.value;
      } else {
        x.isConst = false;
      }
      x.text += Sp() + (add ? "+" : "-") + Sp() + y.text;
    }
    return x;
  }

  // Expression = SimpleExpr [ relation SimpleExpr ] .
  Expr Expression(Type t, int depth) {
    if (t == tBool && Chance(50)) {
      static const char* const rels[] = {"=", "#", "<>", "<", "<=", ">", ">="};
      const Type u = Chance(70) ? tInt : tBool;
      const std::string a = Simple(u, depth).text;
      const std::string b = Simple(u, depth).text;
      return {a + Sp() + rels[Below(7)] + Sp() + b, false, 0};
    }
    return Simple(t, depth);
  }

  std::string Seq(int depth, const std::string& ind) {
    std::string s;
    const uint32_t n = 1 + Below(depth > 1 ? 4 : 3);
    for (uint32_t i = 0; i < n && stmts > 0; ++i) {
      if (i > 0) s += ";\n";
      s += ind + Statement(depth, ind);
    }
    if (Chance(10)) s += ";";  // an empty statement at the end
    return s + "\n";
  }

  std::string Cond(int depth) { return Expression(tBool, depth).text; }

  std::string Statement(int depth, const std::string& ind) {
    --stmts;
    const std::string in = ind + "  ";
    const uint32_t k = Below(depth > 0 ? 9 : 5);
    if (k < 3) {
      const Name* v = Pick(Chance(60) ? tInt : tBool, true);
      if (v == nullptr) v = Pick(tInt, true);
      if (v == nullptr) v = Pick(tBool, true);
      if (v != nullptr) return v->text + Sp() + ":=" + Sp() + Expression(v->type, 2).text;
    }
    if (k < 5) return "WRITE" + Sp() + Expression(Chance(50) ? tInt : tBool, 2).text;
    if (k == 5) {
      std::string s = "IF " + Cond(2) + " THEN\n" + Seq(depth - 1, in);
      const uint32_t elsifs = Below(3);
      for (uint32_t i = 0; i < elsifs; ++i) s += ind + "ELSIF " + Cond(1) + " THEN\n" + Seq(depth - 1, in);
      if (Chance(50)) s += ind + "ELSE\n" + Seq(depth - 1, in);
      return s + ind + "END";
    }
    if (k == 6) return "WHILE " + Cond(2) + " DO\n" + Seq(depth - 1, in) + ind + "END";
    if (k == 7) return "REPEAT\n" + Seq(depth - 1, in) + ind + "UNTIL " + Cond(2);
    return "";  // the empty statement
  }

  std::string Program() {
    names.clear();
    std::string s;
    uint32_t room = 28;  // names of the program's own
    if (Chance(60)) {
      s += "CONST\n";
      inConst = true;
      const uint32_t n = Below(5);
      for (uint32_t i = 0; i < n && room > 0; ++i, --room) {
        const Type t = Chance(60) ? tInt : tBool;
        const Expr e = Expression(t, 2);
        const std::string name = NewName('c');
        s += "  " + name + Sp() + "=" + Sp() + e.text + ";\n";
        names.push_back({name, t, true, e.value});
      }
      inConst = false;
    }
    if (Chance(90)) {
      s += "VAR\n";
      const uint32_t n = 1 + Below(8);
      for (uint32_t i = 0; i < n && room > 0; ++i, --room) {
        const Type t = Chance(60) ? tInt : tBool;
        const std::string name = NewName('v');
        s += "  " + name + Sp() + ":" + Sp() + (t == tInt ? "INTEGER" : "BOOLEAN") + ";\n";
        names.push_back({name, t, false, 0});
      }
    }
    stmts = 1 + int(Below(14));
    return s + "BEGIN\n" + Seq(3, "  ") + "END.\n";
  }
};

// ---- Running tov -----------------------------------------------------------

struct Result {
  int status = -1;
  std::string out, err;
};

Result Run(const char* tov, const std::string& src) {
  Result r;
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) exit(2);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    execl(tov, tov, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  fcntl(in[1], F_SETFL, O_NONBLOCK);
  size_t off = 0;
  int feed = in[1];
  pollfd p[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {feed, POLLOUT, 0}};
  while (p[0].fd >= 0 || p[1].fd >= 0) {
    if (poll(p, 3, -1) < 0) continue;
    if (p[2].fd >= 0 && p[2].revents != 0) {
      const ssize_t w = write(feed, src.data() + off, src.size() - off);
      if (w > 0) off += size_t(w);
      if (off == src.size() || (w < 0 && errno != EAGAIN)) {
        close(feed);
        p[2].fd = -1;
      }
    }
    for (int k = 0; k < 2; ++k) {
      if (p[k].fd < 0 || p[k].revents == 0) continue;
      char buf[65536];
      const ssize_t n = read(p[k].fd, buf, sizeof buf);
      if (n > 0) {
        (k == 0 ? r.out : r.err).append(buf, size_t(n));
      } else {
        close(p[k].fd);
        p[k].fd = -1;
      }
    }
  }
  if (p[2].fd >= 0) close(p[2].fd);
  int st = 0;
  waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

// ---- Decoding the listing ------------------------------------------------------

struct Cmd {
  uint32_t adr;
  std::string text;
  uint32_t size;
  bool jump;
  uint32_t target;
};

bool Decimal(const std::string& s, bool sign, int64_t lo, int64_t hi, int64_t& v) {
  size_t i = 0;
  if (sign && i < s.size() && s[i] == '-') ++i;
  if (i == s.size() || s.size() - i > 10 || (s[i] == '0' && s.size() - i > 1)) return false;
  for (size_t k = i; k < s.size(); ++k) {
    if (s[k] < '0' || s[k] > '9') return false;
  }
  v = strtoll(s.c_str(), nullptr, 10);
  return v >= lo && v <= hi;
}

// One command's text form back to its length and, for a jump, its target;
// false with a reason when the text is no command of the machine.
bool Decode(Cmd& c, uint32_t vars, std::string& why) {
  static const std::set<std::string> oprs = {"Wrt", "WrC", "Neg", "Add", "Sub", "Mul",
                                             "Div", "Bus", "Vid", "Eql", "Neq", "Lss",
                                             "Leq", "Gtr", "Geq", "Not", "Or ", "And"};
  c.jump = false;
  if (c.text == "Hlt") {
    c.size = 1;
    return true;
  }
  if (oprs.count(c.text) != 0) {
    c.size = 2;
    return true;
  }
  if (c.text.size() < 5 || c.text[3] != ' ') {
    why = "unknown command";
    return false;
  }
  const std::string f = c.text.substr(0, 3), arg = c.text.substr(4);
  c.size = 5;
  int64_t v;
  if (f == "Val") {
    if (Decimal(arg, true, minInt, maxInt, v)) return true;
    why = "bad value";
  } else if (f == "Lod" || f == "Sto") {
    if (Decimal(arg, false, 0, vars - 1, v)) return true;
    why = "index of no declared variable";
  } else if (f == "Jmp" || f == "Jpf" || f == "Jpt") {
    if (arg == "<fixme>") {
      why = "unresolved address";
    } else if (Decimal(arg, false, 0, UINT32_MAX, v)) {
      c.jump = true;
      c.target = uint32_t(v);
      return true;
    } else {
      why = "bad address";
    }
  } else {
    why = "unknown command";
  }
  return false;
}

// Checks the listing; an empty result means it holds.
std::string CheckListing(const std::string& out, uint32_t vars) {
  std::vector<Cmd> cmds;
  size_t b = 0;
  uint32_t next = 0;
  while (b < out.size()) {
    const size_t e = out.find("\r\n", b);
    if (e == std::string::npos) return "a listing line without CR LF";
    const std::string line = out.substr(b, e - b);
    b = e + 2;
    if (line.size() < 7 || line.substr(4, 2) != ": ") return "malformed line: " + line;
    int64_t adr;
    size_t lead = 0;
    while (lead < 3 && line[lead] == ' ') ++lead;
    if (!Decimal(line.substr(lead, 4 - lead), false, 0, 1023, adr)) return "bad address field: " + line;
    Cmd c{uint32_t(adr), line.substr(6), 0, false, 0};
    std::string why;
    if (!Decode(c, vars, why)) return why + ": " + line;
    if (c.adr != next) return "command not where the one before it ends: " + line;
    next = c.adr + c.size;
    cmds.push_back(c);
  }
  if (cmds.empty()) return "empty listing";
  if (cmds.back().text != "Hlt") return "the last command is not Hlt";
  if (next > 1024) return "the program passes the store's end";
  std::set<uint32_t> starts;
  for (const Cmd& c : cmds) starts.insert(c.adr);
  for (const Cmd& c : cmds) {
    if (c.jump && c.target != next && starts.count(c.target) == 0) {
      return "jump at " + std::to_string(c.adr) + " to " + std::to_string(c.target) +
             ", which is no command's first byte nor the end " + std::to_string(next);
    }
  }
  return "";
}

// A program too large for the store is no fault of the compiler: it must say
// so only when the command it was emitting last really does not fit.
bool TrulyTooLarge(const Result& r) {
  const std::string msg = "Comp: Program too large.\r\n";
  if (r.status != 9 || r.err.size() < msg.size() || r.err.compare(r.err.size() - msg.size(), msg.size(), msg) != 0) {
    return false;
  }
  const size_t end = r.err.size() - msg.size();
  const size_t start = r.err.rfind("Gen.Dbg: ", end - 1);
  if (start == std::string::npos) return false;
  const std::string line = r.err.substr(start, end - 2 - start);  // "Gen.Dbg: lck  pos: text"
  if (line.size() < 20 || line.substr(17, 2) != ": ") return false;
  const uint32_t pos = uint32_t(strtoul(line.substr(13, 4).c_str(), nullptr, 10));
  Cmd c{pos, line.substr(19), 0, false, 0};
  std::string why;
  if (!Decode(c, 64, why) && c.size == 0) return false;
  if (c.size == 0) c.size = 5;  // an unresolved jump still takes 5 bytes
  return pos + c.size > 1024;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: property TOV [COUNT [SEED]]\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  if (strcmp(argv[1], "--write") == 0 && argc == 5) {
    Gen g(strtoull(argv[4], nullptr, 10));
    for (int i = 0, n = atoi(argv[3]); i < n; ++i) {
      const std::string path = std::string(argv[2]) + "/random-" + std::to_string(i) + ".tov";
      FILE* f = fopen(path.c_str(), "wb");
      const std::string src = g.Program();
      if (f == nullptr || fwrite(src.data(), 1, src.size(), f) != src.size() || fclose(f) != 0) return 2;
    }
    return 0;
  }
  const char* tov = argv[1];
  const int count = argc > 2 ? atoi(argv[2]) : 2000;
  uint64_t seed = 1;
  if (argc > 3) {
    seed = strtoull(argv[3], nullptr, 10);
  } else if (const char* s = getenv("TOV_PROPERTY_SEED")) {
    seed = strtoull(s, nullptr, 10);
  }
  Gen g(seed);
  int compiled = 0, tooLarge = 0, failures = 0;
  for (int i = 0; i < count; ++i) {
    const std::string src = g.Program();
    uint32_t vars = 0;
    for (const Name& o : g.names) vars += o.isConst ? 0 : 1;
    const Result r = Run(tov, src);
    std::string why;
    if (r.status == 0) {
      ++compiled;
      why = CheckListing(r.out, vars == 0 ? 1 : vars);
      for (size_t b = 0; why.empty() && b < r.err.size(); b = r.err.find('\n', b) + 1) {
        if (r.err.compare(b, 9, "Gen.Dbg: ") != 0) why = "standard error holds more than the trace";
      }
    } else if (TrulyTooLarge(r)) {
      ++tooLarge;
    } else {
      const size_t last = r.err.rfind('\n', r.err.size() >= 2 ? r.err.size() - 2 : 0);
      why = "status " + std::to_string(r.status) + ", last line: " +
            r.err.substr(last == std::string::npos ? 0 : last + 1);
    }
    if (!why.empty()) {
      ++failures;
      printf("program %d of seed %" PRIu64 ": %s\n--- source:\n%s--- listing:\n%s\n", i, seed, why.c_str(),
             src.c_str(), r.out.c_str());
      if (failures >= 3) break;
    }
  }
  printf("%d programs (seed %" PRIu64 "): %d compiled and checked, %d too large for the store, %d failed\n",
         count, seed, compiled, tooLarge, failures);
  // Most programs must fit, or the property says little.
  if (failures == 0 && compiled < count * 3 / 4) {
    printf("too few programs fit the store\n");
    return 1;
  }
  return failures == 0 ? 0 : 1;
}
