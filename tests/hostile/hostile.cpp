// Hostile surroundings that no case file can describe: standard input that
// cannot be read, files that exist but cannot be opened, and standard output
// or error that cannot be written.
// Every run ends with status 9 and its one line last on standard error, after
// nothing but trace; every line ends with CR LF.
//
//   hostile TOV CASE
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runner.h"

namespace {

using run::In;
using run::Out;

bool failed = false;

// Status 9, the line last on standard error (none when empty), trace before it.
void Expect(const std::string& what, const run::Result& r, const std::string& line) {
  std::string why, err = r.err;
  if (!err.ends_with(line.empty() ? "" : line + "\r\n")) why = "the last line is not " + line;
  if (why.empty()) err.resize(err.size() - (line.empty() ? 0 : line.size() + 2));
  for (size_t b = 0, e; why.empty() && b < err.size(); b = e + 1) {
    e = err.find('\n', b);
    if (e == err.npos || e == b || err[e - 1] != '\r') why = "a line without CR LF";
    if (why.empty() && err.compare(b, 9, "Gen.Dbg: ") != 0 && err.compare(b, 10, "Comp.Dbg: ") != 0)
      why = "not trace: " + run::Show(err.substr(b, e - b));
  }
  if (r.status != 9) why = "status " + std::to_string(r.status);
  if (why.empty()) return;
  printf("%s: %s\n  stderr ends: %s\n", what.c_str(), why.c_str(),
         run::Show(r.err.substr(r.err.size() - std::min<size_t>(r.err.size(), 200))).c_str());
  failed = true;
}

// A scratch directory, removed at the end.
struct Scratch {
  std::string dir;
  Scratch() {
    char t[] = "/tmp/tov-hostile.XXXXXX";
    if (mkdtemp(t) == nullptr) exit(2);
    dir = t;
    chmod(t, 0755);
  }
  ~Scratch() {
    if (system(("chmod -R u+rwx " + dir + " && rm -rf " + dir).c_str()) != 0) exit(2);
  }
  void Put(const std::string& name, const std::string& text) const {
    FILE* f = fopen((dir + "/" + name).c_str(), "wb");
    if (f == nullptr || fwrite(text.data(), 1, text.size(), f) != text.size() || fclose(f) != 0)
      exit(2);
  }
};

// Standard input that is a directory, closed, open for writing only, the
// write end of a pipe or a listening socket: a read error at once, not an
// empty program, whether named as "-" or not.
void Stdin() {
  Scratch tmp;
  run::Opts o;
  o.seconds = 10;
  o.input = tmp.dir;
  for (In in : {In::File, In::Closed, In::WriteOnly, In::WriteEnd, In::Listening}) {
    o.in = in;
    for (const char* arg : {"-x", "-"}) {
      o.args = {arg};
      Expect("standard input kind " + std::to_string(int(in)) + ", " + arg, run::Run(o),
             "Scnr (0,0): Read error.");
    }
  }
}

// Files that exist but cannot be read. Permission bits do not stop root, so
// tov runs as an unprivileged user here.
void Files() {
  Scratch tmp;
  tmp.Put("locked.tov", "BEGIN WRITE 1 END.");
  chmod((tmp.dir + "/locked.tov").c_str(), 0);
  mkdir((tmp.dir + "/shut").c_str(), 0755);
  tmp.Put("shut/inside.tov", "BEGIN WRITE 1 END.");
  chmod((tmp.dir + "/shut").c_str(), 0);
  sockaddr_un a{AF_UNIX, {}};
  snprintf(a.sun_path, sizeof a.sun_path, "%s/socket.tov", tmp.dir.c_str());
  const int s = socket(AF_UNIX, SOCK_STREAM, 0);
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) exit(2);
  close(s);
  run::Opts o;
  o.cwd = tmp.dir;
  o.nobody = true;
  for (const char* name : {"locked.tov", "shut/inside.tov", "socket.tov"}) {
    o.args = {"-x", name};
    Expect(name, run::Run(o), std::string("tov: Cannot open file: '") + name + "'");
  }
}

// Standard output /dev/full, a pipe nobody reads or closed: the write error,
// whether it shows at the switch to the execution trace or at the final
// flush; a program that writes for ever stops at its first line. Standard
// error that cannot be written: no line is possible, but status 9.
void Outputs() {
  Scratch tmp;
  tmp.Put("p.tov", "BEGIN WRITE 1 END.");
  tmp.Put("loop.tov", "VAR i: INTEGER; BEGIN WHILE TRUE DO WRITE i; i := i + 1 END END.");
  run::Opts o;
  o.cwd = tmp.dir;
  for (Out out : {Out::Full, Out::Broken, Out::Closed}) {
    o.out = out;
    for (std::vector<std::string> args :
         {std::vector<std::string>{"-x", "p.tov"}, {"p.tov"}, {"-x", "loop.tov"}}) {
      o.args = args;
      Expect("standard output kind " + std::to_string(int(out)) + ", " + args.back(), run::Run(o),
             "tov: Write error.");
    }
  }
  o.out = Out::Pipe;
  o.args = {"p.tov"};
  for (Out err : {Out::Full, Out::Closed}) {
    o.err = err;
    Expect("standard error kind " + std::to_string(int(err)), run::Run(o), "");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: hostile TOV CASE\n");
    return 2;
  }
  run::tov = argv[1];
  const struct {
    const char* name;
    void (*run)();
  } cases[] = {{"stdin", Stdin}, {"files", Files}, {"outputs", Outputs}};
  for (const auto& c : cases) {
    if (strcmp(c.name, argv[2]) != 0) continue;
    c.run();
    return failed ? 1 : 0;
  }
  fprintf(stderr, "hostile: no case %s\n", argv[2]);
  return 2;
}
