// Runs tov on case data and compares what it writes.
//
//   e2e TOV cases FILE [NAME]     the cases of a group file (all, or the one named)
//   e2e TOV golden DIR [--update] the full goldens in DIR (or writes them anew)
//   e2e TOV docs FILE.md CASES... the output blocks of a document, and its tables of error lines
//   e2e TOV example FILE.tov      an example against the output its last comment states
//
// Every run must end each line it writes with CR LF; a case then states only
// what it is about (see tests/e2e/README.md for the group file format).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "runner.h"

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

namespace {

int failures = 0;
std::string what;  // the case or block being checked, for the report

void Fail(const std::string& msg) {
  printf("%s: %s\n", what.c_str(), msg.c_str());
  ++failures;
}

std::string ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void WriteFile(const fs::path& p, const std::string& data) {
  std::ofstream(p, std::ios::binary) << data;
}

Lines Split(const std::string& s, char sep = '\n') {
  Lines v;
  std::istringstream in(s);
  for (std::string l; std::getline(in, l, sep);) v.push_back(l);
  return v;
}

// The lines of a stream of tov's; a line end without its CR is a failure.
Lines OutputLines(const std::string& s, const char* stream) {
  Lines v = Split(s);
  for (std::string& l : v) {
    if (l.empty() || l.back() != '\r') {
      Fail(std::string(stream) + ": line without CR LF: " + run::Show(l));
      return v;
    }
    l.pop_back();
  }
  if (!s.empty() && s.back() != '\n') Fail(std::string(stream) + ": last line has no line end");
  return v;
}

bool IsListing(const std::string& l) {
  return l.size() > 5 && l.compare(4, 2, ": ") == 0 && isdigit(l[3]) &&
         l.find_first_not_of(" 0123456789") == 4;
}
bool IsTrace(const std::string& l) { return l.rfind("Gen.Dbg: ", 0) == 0 || l.rfind("Comp.Dbg: ", 0) == 0; }

void Differ(const char* kind, const Lines& want, const Lines& got) {
  size_t i = 0;
  while (i < want.size() && i < got.size() && want[i] == got[i]) ++i;
  Fail(std::string(kind) + " differs at line " + std::to_string(i + 1) + "\n  expected: " +
       (i < want.size() ? run::Show(want[i]) : "(end)") +
       "\n  got:      " + (i < got.size() ? run::Show(got[i]) : "(end)"));
}

void Same(const char* kind, const Lines& want, const Lines& got) {
  if (want != got) Differ(kind, want, got);
}

// want must be a run of consecutive lines of got.
void Within(const char* kind, const Lines& want, const Lines& got) {
  if (std::search(got.begin(), got.end(), want.begin(), want.end()) != got.end()) return;
  auto at = std::find(got.begin(), got.end(), want.empty() ? "" : want[0]);
  Differ(kind, want, Lines(at, got.end()));
}

// A scratch directory per run, for the source file and anything the case names.
struct Scratch {
  fs::path dir;
  Scratch() {
    char t[] = "/tmp/tov-e2e-XXXXXX";
    dir = mkdtemp(t);
  }
  ~Scratch() { fs::remove_all(dir); }
};

struct Case {
  std::string name, src, input;
  Lines args{"-x", "{src}"};
  bool srcToStdin = false;
  int status = 0;
  std::string error;
  std::vector<std::pair<std::string, Lines>> expect;  // out, list, trace, stdout, stderr
};

// An escaped source: {N*TEXT} is TEXT N times, with each @ in it the count
// from 1; then \xHH, \n, \r, \t and \\ are those bytes.
std::string Expand(const std::string& s) {
  std::string r;
  static const std::regex repeat(R"(\{(\d+)\*([^}]*)\})");
  std::smatch m;
  for (auto at = s.cbegin(); ; at = m[0].second) {
    if (!std::regex_search(at, s.cend(), m, repeat)) {
      r.append(at, s.cend());
      break;
    }
    r.append(at, m[0].first);
    for (int k = 1; k <= std::stoi(m[1]); ++k)
      for (char c : m[2].str()) r += c == '@' ? std::to_string(k) : std::string(1, c);
  }
  std::string b;
  for (size_t i = 0; i < r.size(); ++i) {
    if (r[i] != '\\' || i + 1 == r.size()) {
      b += r[i];
    } else if (r[++i] == 'x') {
      b += char(std::stoi(r.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      b += r[i] == 'n' ? '\n' : r[i] == 'r' ? '\r' : r[i] == 't' ? '\t' : r[i];
    }
  }
  return b;
}

// Group file: "=== NAME [escaped] [noeol]", the source lines, then "--- KIND ..." sections.
std::vector<Case> Parse(const std::string& text) {
  std::vector<Case> cases;
  Lines* block = nullptr;
  bool inSource = false, escaped = false, eol = true;
  auto endSource = [&] {
    if (!inSource) return;
    Case& c = cases.back();
    while (c.src.size() >= 2 && c.src.substr(c.src.size() - 2) == "\n\n") c.src.pop_back();
    if (escaped) c.src = Expand(c.src);
    if (!eol && !c.src.empty()) c.src.pop_back();
    inSource = false;
  };
  for (const std::string& l : Split(text)) {
    if (l.rfind("=== ", 0) == 0) {
      endSource();
      Lines h = Split(l.substr(4), ' ');
      cases.emplace_back().name = h[0];
      escaped = std::count(h.begin(), h.end(), "escaped") > 0;
      eol = std::count(h.begin(), h.end(), "noeol") == 0;
      inSource = true;
      block = nullptr;
    } else if (cases.empty()) {
      continue;  // the group's own comment
    } else if (l.rfind("--- ", 0) == 0) {
      endSource();
      Case& c = cases.back();
      const std::string kind = l.substr(4, l.find(' ', 4) - 4);
      const std::string rest = l.size() > 5 + kind.size() ? l.substr(5 + kind.size()) : "";
      block = nullptr;
      if (kind == "args") {
        c.args.clear();
        for (const std::string& a : Split(rest, ' ')) c.args.push_back(a == "''" ? "" : a);
      } else if (kind == "stdin") {
        c.srcToStdin = rest == "src";
        c.input = rest == "src" ? "" : rest + "\n";
      } else if (kind == "status") {
        c.status = std::stoi(rest);
      } else if (kind == "error") {
        c.error = rest;
        c.status = 9;
      } else {
        block = &c.expect.emplace_back(kind, Lines()).second;
      }
    } else if (inSource) {
      cases.back().src += l + "\n";
    } else if (block && !l.empty()) {
      block->push_back(l);
    }
  }
  endSource();
  return cases;
}

void Check(const Case& c, const run::Result& r) {
  if (r.timedOut) return Fail("timed out");
  const Lines out = OutputLines(r.out, "stdout"), err = OutputLines(r.err, "stderr");
  if (r.status != c.status)
    Fail("status " + std::to_string(r.status) + ", expected " + std::to_string(c.status));
  // Everything on stderr but the one error line is trace, and a run that
  // stops before executing lists nothing.
  const size_t traced = c.error.empty() && c.status != 0 ? 0 : err.size() - !c.error.empty();
  for (size_t i = 0; i < traced && i < err.size(); ++i)
    if (!IsTrace(err[i])) return Fail("stderr line " + std::to_string(i + 1) + " is no trace: " + err[i]);
  if (!c.error.empty() && (err.empty() || err.back() != c.error))
    Fail("error line: " + run::Show(err.empty() ? "(none)" : err.back()) + ", expected " + c.error);
  const bool ran = std::any_of(err.begin(), err.end(), [](auto& l) { return l.rfind("Comp.Dbg", 0) == 0; });
  if (!c.error.empty() && !ran && !out.empty()) Fail("a failed run listed: " + out[0]);
  auto firstOut = std::find_if_not(out.begin(), out.end(), IsListing);
  for (const auto& [kind, want] : c.expect) {
    if (kind == "out") Same("program output", want, Lines(firstOut, out.end()));
    else if (kind == "list") Within("listing", want, Lines(out.begin(), firstOut));
    else if (kind == "trace") Within("stderr", want, err);
    else if (kind == "stdout") Same("stdout", want, out);
    else if (kind == "stderr") Same("stderr", want, err);
    else Fail("unknown section " + kind);
  }
}

run::Result RunIn(const fs::path& dir, Lines args, run::In in, const std::string& input) {
  run::Opts o;
  o.args = std::move(args);
  o.in = in;
  o.input = input;
  o.cwd = dir;
  o.seconds = 240;
  return run::Run(o);
}

int Cases(const std::string& file, const std::string& only) {
  int ran = 0;
  for (const Case& c : Parse(ReadFile(file))) {
    if (!only.empty() && c.name != only) continue;
    ++ran;
    what = c.name;
    Scratch s;
    WriteFile(s.dir / (c.name + ".tov"), c.src);
    Lines args = c.args;
    for (std::string& a : args)
      if (a == "{src}") a = c.name + ".tov";
    const std::string input = c.srcToStdin ? c.src : c.input;
    Check(c, RunIn(s.dir, args, input.empty() ? run::In::Null : run::In::Bytes, input));
  }
  what = file;
  if (ran == 0) Fail("no case " + only);  // a case that cannot run fails
  return failures != 0;
}

// A golden: NAME.tov, NAME.args (one argument a line, default -x NAME.tov),
// NAME.out, NAME.err and NAME.status (when not 0), byte for byte.
int Goldens(const fs::path& dir, bool update) {
  std::vector<fs::path> srcs;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ".tov") srcs.push_back(e.path());
  std::sort(srcs.begin(), srcs.end());
  what = dir;
  if (srcs.empty()) Fail("no goldens");
  for (const fs::path& src : srcs) {
    what = src.stem().string();
    fs::path base = src;
    base.replace_extension();
    Lines args{"-x", src.filename().string()};
    if (fs::exists(base.string() + ".args")) args = Split(ReadFile(base.string() + ".args"));
    const run::Result r = RunIn(dir, args, run::In::Null, "");
    const std::string status = r.status ? std::to_string(r.status) + "\n" : "";
    if (update) {
      WriteFile(base.string() + ".out", r.out);
      WriteFile(base.string() + ".err", r.err);
      if (r.status) WriteFile(base.string() + ".status", status);
      else fs::remove(base.string() + ".status");
      continue;
    }
    OutputLines(r.out, "stdout");
    OutputLines(r.err, "stderr");
    if (r.out != ReadFile(base.string() + ".out"))
      Differ("stdout", Split(ReadFile(base.string() + ".out")), Split(r.out));
    if (r.err != ReadFile(base.string() + ".err"))
      Differ("stderr", Split(ReadFile(base.string() + ".err")), Split(r.err));
    const std::string want = fs::exists(base.string() + ".status") ? ReadFile(base.string() + ".status") : "";
    if (status != want) Fail("status " + std::to_string(r.status) + ", expected " + (want.empty() ? "0" : want));
  }
  return failures != 0;
}

// Markdown: "<!-- program NAME -->" before a code block defines a program;
// "<!-- stdout of: tov ARGS -->" (or stderr, output for the program's own
// lines, or "stdout part of" for a run of lines) before a block checks it; "<!-- error lines are cases -->" before a
// table says the last cell of each row is the error line of some case.
int Docs(const std::string& md, const std::vector<std::string>& caseFiles) {
  std::vector<std::string> errors;
  for (const std::string& f : caseFiles)
    for (const Case& c : Parse(ReadFile(f))) errors.push_back(c.error);
  Scratch s;
  const Lines lines = Split(ReadFile(md));
  const std::regex marker("^ *<!-- (program|stdout|stderr|output|error lines)( part)? ?(of: tov)? ?(.*?) -->$");
  int checks = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::smatch m;
    if (!std::regex_match(lines[i], m, marker)) continue;
    ++checks;
    what = md + ":" + std::to_string(i + 1);
    if (m[1] == "error lines") {
      while (++i < lines.size() && (lines[i].empty() || lines[i][0] != '|')) {}
      for (i += 2; i < lines.size() && !lines[i].empty() && lines[i][0] == '|'; ++i) {
        const std::string row = lines[i].substr(0, lines[i].rfind('|'));
        std::string cell = row.substr(row.rfind('|') + 1);
        cell = cell.substr(cell.find('`') + 1);
        cell = cell.substr(0, cell.rfind('`'));
        if (std::find(errors.begin(), errors.end(), cell) == errors.end())
          Fail("line " + std::to_string(i + 1) + ": no case has the error line " + cell);
      }
      continue;
    }
    size_t b = i + 1;
    while (b < lines.size() && lines[b].find("```") == std::string::npos) ++b;
    const size_t indent = lines[b].find("```");
    Lines block;
    for (size_t k = b + 1; k < lines.size() && lines[k].find("```") == std::string::npos; ++k)
      block.push_back(lines[k].substr(std::min(indent, lines[k].size())));
    if (m[1] == "program") {
      std::string src;
      for (const std::string& l : block) src += l + "\n";
      WriteFile(s.dir / m[4].str(), src);
      continue;
    }
    const run::Result r = RunIn(s.dir, Split(m[4], ' '), run::In::Null, "");
    Lines got = OutputLines(m[1] == "stderr" ? r.err : r.out, m[1] == "stderr" ? "stderr" : "stdout");
    if (m[1] == "output") got.erase(got.begin(), std::find_if_not(got.begin(), got.end(), IsListing));
    if (m[2].matched) Within("block", block, got);
    else Same("block", block, got);
  }
  what = md;
  if (checks == 0) Fail("nothing to check");
  return failures != 0;
}

// An example states its WRITE lines in its last comment, "(* Output: ...",
// as words separated by blanks, and an expected error line after "Error: ".
int Example(const fs::path& src) {
  what = src.filename().string();
  const std::string text = ReadFile(src);
  const size_t at = text.rfind("(* Output:");
  if (at == std::string::npos) {
    Fail("no (* Output: comment");
    return 1;
  }
  std::string stated = text.substr(at + 10, text.find("*)", at) - at - 10), error;
  if (size_t e = stated.find("Error: "); e != std::string::npos) {
    error = stated.substr(e + 7, stated.find('\n', e) - e - 7);
    stated.erase(e);
  }
  Lines want, got;
  std::istringstream words(stated);
  for (std::string w; words >> w;) want.push_back(w);
  const run::Result r = RunIn(src.parent_path(), {"-x", src.filename().string()}, run::In::Null, "");
  const Lines out = OutputLines(r.out, "stdout"), err = OutputLines(r.err, "stderr");
  for (auto l = std::find_if_not(out.begin(), out.end(), IsListing); l != out.end(); ++l)
    got.push_back(l->substr(0, l->find_last_not_of(' ') + 1));
  Same("program output", want, got);
  if (r.status != (error.empty() ? 0 : 9) || (!error.empty() && (err.empty() || err.back() != error)))
    Fail("status " + std::to_string(r.status) + ", last stderr line " + (err.empty() ? "" : err.back()));
  return failures != 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: e2e TOV cases|golden|docs|example ...\n");
    return 2;
  }
  run::tov = fs::absolute(argv[1]);
  const std::string mode = argv[2];
  if (mode == "cases") return Cases(argv[3], argc > 4 ? argv[4] : "");
  if (mode == "golden") return Goldens(argv[3], argc > 4 && std::string(argv[4]) == "--update");
  if (mode == "docs") return Docs(argv[3], std::vector<std::string>(argv + 4, argv + argc));
  if (mode == "example") return Example(fs::absolute(argv[3]));
  fprintf(stderr, "e2e: unknown mode %s\n", mode.c_str());
  return 2;
}
