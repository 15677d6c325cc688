// Runs tov on case data and compares what it writes.
//
//   e2e TOV cases FILE NAME       the case of a group file so named
//   e2e TOV update FILE           writes each case's whole output into a group of goldens
//   e2e TOV docs FILE.md CASES... a document's output blocks and its tables of error lines
//   e2e TOV example FILE.tov      an example against the output its last comment states
//   e2e TOV export FILE...        each case as a JSON line (name, args, stdin, file, src), for
//                                 the browser tests, so that one parser reads the cases
//
// Every line tov writes must end with CR LF; a case then states only what it
// is about (tests/e2e/README.md describes the group files).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "runner.h"

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

namespace {

int failures = 0;
std::string what;  // the case or block being checked, for the report
fs::path scratch;  // the working directory of every run

void Fail(const std::string& msg) {
  printf("%s: %s\n", what.c_str(), msg.c_str());
  ++failures;
}

std::string ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

void WriteFile(const fs::path& p, const std::string& data) {
  std::ofstream(p, std::ios::binary) << data;
}

// The pieces of s between the separators.
Lines Cut(const std::string& s, const std::string& sep) {
  Lines v;
  size_t at = 0;
  for (size_t e; (e = s.find(sep, at)) != std::string::npos; at = e + sep.size())
    v.push_back(s.substr(at, e - at));
  v.push_back(s.substr(at));
  return v;
}

// The lines of one of tov's streams; a line end without its CR is a failure.
Lines OutputLines(const std::string& s, const std::string& stream) {
  Lines v = Cut(s, "\r\n");
  if (!v.back().empty()) Fail(stream + ": last line has no CR LF: " + run::Show(v.back()));
  v.pop_back();
  for (const std::string& l : v)
    if (l.find('\n') != std::string::npos)
      return Fail(stream + ": LF without CR: " + run::Show(l)), v;
  return v;
}

// want must equal got or, for a part, be a run of consecutive lines of it.
void Match(const std::string& kind, const Lines& want, const Lines& got, bool part = false) {
  if (part ? std::search(got.begin(), got.end(), want.begin(), want.end()) != got.end()
           : want == got)
    return;
  const auto from =
      part ? std::find(got.begin(), got.end(), want.empty() ? "" : want[0]) : got.begin();
  const auto [w, g] = std::mismatch(want.begin(), want.end(), from, got.end());
  Fail(kind + " differs at line " + std::to_string(w - want.begin() + 1) +
       "\n  expected: " + (w != want.end() ? run::Show(*w) : "(end)") +
       "\n  got:      " + (g != got.end() ? run::Show(*g) : "(end)"));
}

// The lines after the listing, whose lines are "ADDR: COMMAND".
Lines ProgramOutput(const Lines& out) {
  const auto listing = [](const std::string& l) {
    return l.size() > 5 && l.compare(4, 2, ": ") == 0 && isdigit(l[3]) &&
           l.find_first_not_of(" 0123456789") == 4;
  };
  return Lines(std::find_if_not(out.begin(), out.end(), listing), out.end());
}

run::Result Run(Lines args, const std::string& input = "") {
  run::Opts o;
  o.args = std::move(args);
  o.in = input.empty() ? run::In::Null : run::In::Bytes;
  o.input = input;
  o.cwd = scratch;
  o.seconds = 240;
  return run::Run(o);
}

struct Case {
  std::string name, src, input, setup;  // setup: the case's text up to its first expectation
  Lines args;                           // with the source file's name for {src}
  int status = 0;
  std::string error;
  std::vector<std::pair<std::string, Lines>> expect;  // out, list, trace, stdout, stderr
};

// {N*TEXT} is TEXT N times, with each @ in it the count from 1; then \xHH,
// \n, \r, \t and \\ are those bytes. Sources of a megabyte are common here,
// so a repetition is appended whole unless it counts.
std::string Expand(const std::string& s) {
  std::string r, b;
  for (size_t i = 0; i < s.size(); ++i) {
    size_t digits = i + 1;
    while (s[i] == '{' && digits < s.size() && isdigit(uint8_t(s[digits])))
      ++digits;
    const size_t star = digits, end = s.find('}', digits);
    if (digits == i + 1 || star == s.size() || s[star] != '*' || end == std::string::npos) {
      r += s[i];
      continue;
    }
    const std::string text = s.substr(star + 1, end - star - 1);
    const Lines pieces = Cut(text, "@");
    for (int k = 1, n = std::stoi(s.substr(i + 1)); k <= n; ++k)
      for (size_t p = 0; p < pieces.size(); ++p)
        r.append(p ? std::to_string(k) : "").append(pieces[p]);
    i = end;
  }
  b.reserve(r.size());
  for (size_t i = 0; i < r.size(); ++i) {
    if (r[i] != '\\' || i + 1 == r.size())
      b += r[i];
    else if (r[++i] == 'x')
      b += char(std::stoi(r.substr(i + 1, 2), nullptr, 16)), i += 2;
    else
      b += r[i] == 'n' ? '\n' : r[i] == 'r' ? '\r' : r[i] == 't' ? '\t' : r[i];
  }
  return b;
}

// Group file: "=== NAME [noeol]", the source lines, then "--- KIND ..." sections.
std::vector<Case> Parse(const std::string& text) {
  std::vector<Case> cases;
  const Lines chunks = Cut("\n" + text, "\n=== ");  // the first is the group's own comment
  for (auto chunk = chunks.begin() + 1; chunk != chunks.end(); ++chunk) {
    Case& c = cases.emplace_back();
    const Lines parts = Cut(*chunk, "\n--- "), src = Cut(parts[0], "\n");
    c.name = Cut(src[0], " ")[0];
    c.args = {"-x", c.name + ".tov"};
    c.setup = "=== " + parts[0] + "\n";
    for (auto l = src.begin() + 1; l != src.end(); ++l)
      c.src += *l + "\n";
    for (auto part = parts.begin() + 1; part != parts.end(); ++part) {
      Lines block = Cut(*part, "\n");
      const std::string kind = block[0].substr(0, block[0].find(' '));
      const std::string rest = block[0].substr(std::min(kind.size() + 1, block[0].size()));
      if ((kind == "args" || kind == "stdin") && c.expect.empty() && !c.status)
        c.setup += "--- " + *part + "\n";  // what the update keeps
      if (kind == "args") {
        c.args.clear();
        for (const std::string& a : rest.empty() ? Lines() : Cut(rest, " "))
          c.args.push_back(a == "''" ? "" : a == "{src}" ? c.name + ".tov" : a);
      } else if (kind == "stdin") {
        c.input = rest + "\n";
      } else if (kind == "status" || kind == "error") {
        c.status = kind == "error" ? 9 : std::stoi(rest);
        c.error = kind == "error" ? rest : "";
      } else {
        std::erase(block, "");
        c.expect.emplace_back(kind, Lines(block.begin() + 1, block.end()));
      }
    }
    if (src[0].ends_with(" noeol")) c.src.pop_back();
  }
  return cases;
}

// The case's source and input as bytes: expanded only for the case that runs.
Case& Ready(Case& c) {
  c.src = Expand(c.src);
  c.input = c.input == "src\n" ? c.src : c.input;
  return c;
}

void Check(const Case& c, const run::Result& r) {
  if (r.timedOut) return Fail("timed out");
  const Lines out = OutputLines(r.out, "stdout"), err = OutputLines(r.err, "stderr");
  if (r.status != c.status)
    Fail("status " + std::to_string(r.status) + ", expected " + std::to_string(c.status));
  // Besides the one error line, stderr holds only trace lines, and a run
  // that stops before executing lists nothing.
  const bool failed = !c.error.empty();
  for (size_t i = 0; (c.status == 0 || failed) && i + failed < err.size(); ++i)
    if (!err[i].starts_with("Gen.Dbg: ") && !err[i].starts_with("Comp.Dbg: "))
      return Fail("stderr line " + std::to_string(i + 1) + " is no trace: " + err[i]);
  if (failed && (err.empty() || err.back() != c.error))
    Fail("error line " + (err.empty() ? "(none)" : run::Show(err.back())) + ", expected " +
         c.error);
  if (failed && !out.empty() &&
      std::none_of(err.begin(), err.end(), [](auto& l) { return l.starts_with("Comp.Dbg"); }))
    Fail("a failed run listed: " + out[0]);
  const Lines prog = ProgramOutput(out), list(out.begin(), out.end() - prog.size());
  for (const auto& [kind, want] : c.expect) {
    const bool part = kind == "list" || kind == "trace";
    if (kind == "out" || kind == "list" || kind == "stdout")
      Match(kind, want, kind == "out" ? prog : kind == "list" ? list : out, part);
    else if (kind == "trace" || kind == "stderr")
      Match(kind, want, err, part);
    else
      Fail("unknown section " + kind);
  }
}

run::Result RunCase(const Case& c) {
  what = c.name;
  WriteFile(scratch / (c.name + ".tov"), c.src);
  return Run(c.args, c.input);
}

int OneCase(const std::string& file, const std::string& name) {
  for (Case& c : Parse(ReadFile(file)))
    if (c.name == name) return Check(c, RunCase(Ready(c))), failures != 0;
  what = file;
  Fail("no case " + name);  // a case that cannot run fails
  return 1;
}

// Writes a group of goldens anew, each case with its whole output, after a
// deliberate change; the difference is then reviewed.
int Update(const std::string& file) {
  const std::string text = ReadFile(file);
  std::string updated = text.substr(0, text.find("=== "));
  for (Case& c : Parse(text)) {
    const run::Result r = RunCase(Ready(c));
    std::string setup = c.setup;
    while (setup.ends_with("\n\n"))
      setup.pop_back();
    updated += setup + (r.status ? "--- status " + std::to_string(r.status) + "\n" : "");
    updated += "--- stdout\n" + r.out + "--- stderr\n" + r.err + "\n";
  }
  std::erase(updated, '\r');  // the case file has bare line ends; the check adds CR
  WriteFile(file, updated.substr(0, updated.size() - 1));
  return 0;
}

// Markdown: "<!-- program NAME -->" before a code block defines a program;
// "<!-- stdout of: tov ARGS -->" (or stderr, or output for the program's own
// lines; "stdout part of" for a run of lines) before a block checks it;
// "<!-- error lines are cases -->" before a table says the last cell of each
// row is the error line of some case.
int Docs(const std::string& md, const std::vector<std::string>& caseFiles) {
  Lines errors;
  for (const std::string& f : caseFiles)
    for (const Case& c : Parse(ReadFile(f)))
      errors.push_back(c.error);
  const Lines lines = Cut(ReadFile(md), "\n");
  int checks = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    what = md + ":" + std::to_string(i + 1);
    const size_t open = lines[i].find("<!-- "), close = lines[i].find(" -->");
    if (open == std::string::npos) continue;
    // "program NAME", "error lines are cases" or "STREAM[ part] of: tov ARGS"
    const std::string check = lines[i].substr(open + 5, close - std::min(close, open + 5));
    const size_t of = check.find(" of: tov ");
    const std::string program = check.starts_with("program ") ? check.substr(8) : "";
    const bool part = of != std::string::npos && check.substr(0, of).ends_with(" part");
    const std::string stream = of == std::string::npos ? "" : check.substr(0, part ? of - 5 : of);
    if (close == std::string::npos ||
        (check != "error lines are cases" &&
         (program.empty() || program.find(' ') != std::string::npos) && stream != "stdout" &&
         stream != "stderr" && stream != "output")) {
      Fail("not a check: " + lines[i]);  // a mistyped check would check nothing
      continue;
    }
    ++checks;
    if (check == "error lines are cases") {
      for (i += 3; i < lines.size() && lines[i].starts_with("|"); ++i) {
        const std::string row = lines[i].substr(0, lines[i].rfind("`"));
        const std::string cell = row.substr(row.rfind("| `") + 3);
        if (std::find(errors.begin(), errors.end(), cell) == errors.end())
          Fail("line " + std::to_string(i + 1) + ": no case has the error line " + cell);
      }
      continue;
    }
    size_t b = i + 1;
    while (b < lines.size() && lines[b].find("```") == std::string::npos)
      ++b;
    if (b == lines.size()) {
      Fail("no code block after " + lines[i]);
      break;
    }
    const size_t indent = lines[b].find("```");
    Lines block;
    std::string text;
    for (size_t k = b + 1; k < lines.size() && lines[k].find("```") == std::string::npos; ++k) {
      block.push_back(lines[k].substr(std::min(indent, lines[k].size())));
      text += block.back() + "\n";
    }
    if (!program.empty()) {
      WriteFile(scratch / program, text);
      continue;
    }
    const run::Result r = Run(Cut(check.substr(of + 9), " "));
    const Lines got = OutputLines(stream == "stderr" ? r.err : r.out, stream);
    Match("block", block, stream == "output" ? ProgramOutput(got) : got, part);
  }
  what = md;
  if (checks == 0) Fail("nothing to check");
  return failures != 0;
}

// An example states its WRITE lines in its last comment, "(* Output: ...", as
// words separated by blanks, and an expected error line after "Error: ".
int Example(const fs::path& src) {
  Case c;
  c.name = src.stem();
  c.args = {"-x", c.name + ".tov"};
  c.src = ReadFile(src);
  const size_t at = c.src.rfind("(* Output:");
  what = c.name;
  if (at == std::string::npos) return Fail("no (* Output: comment"), 1;
  std::string stated = c.src.substr(at + 10, c.src.find("*)", at) - at - 10);
  if (size_t e = stated.find("Error: "); e != std::string::npos) {
    c.error = stated.substr(e + 7, stated.find('\n', e) - e - 7);
    c.status = 9;
    stated.erase(e);
  }
  Lines want, got;  // WRITE pads a BOOLEAN to the width of FALSE
  std::istringstream words(stated);
  for (std::string w; words >> w;)
    want.push_back(w);
  const run::Result r = RunCase(c);
  Check(c, r);
  for (const std::string& l : ProgramOutput(OutputLines(r.out, "stdout")))
    got.push_back(l.substr(0, l.find_last_not_of(' ') + 1));
  Match("program output", want, got);
  return failures != 0;
}

// A JSON string of bytes: each control byte, byte above 7EH, quote and
// backslash as the code point of its value (a reader takes it as Latin-1).
std::string Json(const std::string& s) {
  std::string j = "\"";
  for (unsigned char c : s) {
    char esc[8] = {char(c)};
    if (c < 0x20 || c > 0x7e || c == '"' || c == '\\') snprintf(esc, sizeof esc, "\\u%04x", c);
    j += esc;
  }
  return j + "\"";
}

int Export(const Lines& files) {
  for (const std::string& f : files) {
    for (Case& c : Parse(ReadFile(f))) {
      Ready(c);
      printf("{\"name\":%s,\"args\":[", Json(fs::path(f).stem().string() + "/" + c.name).c_str());
      for (size_t i = 0; i < c.args.size(); ++i)
        printf("%s%s", i ? "," : "", Json(c.args[i]).c_str());
      printf("],\"stdin\":%s,", Json(c.input).c_str());
      printf("\"file\":%s,\"src\":%s}\n", Json(c.name + ".tov").c_str(), Json(c.src).c_str());
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: e2e TOV cases|update|docs|example|export ...\n");
    return 2;
  }
  run::tov = fs::absolute(argv[1]);
  char dir[] = "/tmp/tov-e2e-XXXXXX";
  scratch = mkdtemp(dir);
  const std::string mode = argv[2];
  int rc = 2;
  if (mode == "cases" && argc > 4) rc = OneCase(argv[3], argv[4]);
  if (mode == "update") rc = Update(argv[3]);
  if (mode == "docs") rc = Docs(argv[3], Lines(argv + 4, argv + argc));
  if (mode == "example") rc = Example(fs::absolute(argv[3]));
  if (mode == "export") rc = Export(Lines(argv + 3, argv + argc));
  fs::remove_all(scratch);
  return rc;
}
