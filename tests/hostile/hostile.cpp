// Hostile surroundings that no case file can describe: standard input that
// cannot be read, files that exist but cannot be opened, and standard output
// or error that cannot be written. Every run ends with status 9 and its one
// line last on standard error, after nothing but trace. Under Wine
// (TOV_EMULATOR), a file another process holds open without sharing stands
// for the files another user may not read; CTRL.EXE holds it.
//
//   hostile TOV [CTRL.EXE]
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>

#include "runner.h"

namespace {

using run::In;
using run::Out;

bool failed = false;

// `line`, with its line end, is the one line besides trace on standard error
// and the last; the status is 9.
void Expect(const run::Opts& o, const std::string& line) {
  const run::Result r = run::Run(o);
  std::string rest;
  for (size_t b = 0, e; b < r.err.size(); b = e + 1) {
    e = r.err.find('\n', b);
    const std::string l = r.err.substr(b, e - b + 1);
    if (!l.starts_with("Gen.Dbg: ") && !l.starts_with("Comp.Dbg: ")) rest += l;
  }
  if (r.status == 9 && rest == line && r.err.ends_with(line)) return;
  printf("%s, stdin %d, stdout %d, stderr %d: status %d\n  stderr ends: %s\n",
         o.args.back().c_str(), int(o.in), int(o.out), int(o.err), r.status,
         run::Show(r.err.substr(r.err.size() - std::min<size_t>(r.err.size(), 200))).c_str());
  failed = true;
}

// Windows: a file that another process holds open without sharing, the
// counterpart of one whose permissions lock it.
void Held(const char* ctrl, const std::filesystem::path& dir) {
  const std::string tov = run::tov;
  run::tov = ctrl;
  // A program that Wine starts while it sets up a new prefix has now and then
  // ended at once, without a word: the holder gets three tries.
  std::unique_ptr<run::Child> holder;
  for (int i = 0; i < 3 && (holder == nullptr || holder->r.out != "held\r\n"); ++i) {
    holder = std::make_unique<run::Child>(
        run::Opts{.args = {"hold", "locked.tov"}, .in = In::Open, .cwd = dir});
    holder->Pump([&] { return holder->r.out == "held\r\n"; });
  }
  run::tov = tov;
  Expect({.args = {"-x", "locked.tov"}, .cwd = dir}, "tov: Cannot open file: 'locked.tov'\r\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    fprintf(stderr, "usage: hostile TOV [CTRL.EXE]\n");
    return 2;
  }
  run::tov = argv[1];

  // Standard input closed, the write end of a pipe or a listening socket: a
  // read error at once, not an empty program and not a wait for ever.
  for (In in : {In::Closed, In::WriteEnd, In::Listening})
    for (const char* arg : {"-x", "-"})
      Expect({.args = {arg}, .in = in, .seconds = 20}, "Scnr (0,0): Read error.\r\n");

  // Files that exist but cannot be read. Permission bits do not stop root, so
  // tov runs as an unprivileged user here, from a copy that user can reach
  // (the checkout may sit where only its owner can enter).
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("tov-hostile-" + std::to_string(getpid()));
  fs::create_directories(dir / "shut");
  chmod(dir.c_str(), 0755);
  std::ofstream(dir / "locked.tov") << "BEGIN WRITE 1 END.";
  std::ofstream(dir / "shut/inside.tov") << "BEGIN WRITE 1 END.";
  if (argc == 3) {
    Held(argv[2], dir);
  } else {
    const std::string tov = std::exchange(run::tov, dir / "tov");
    fs::copy_file(tov, run::tov);
    chmod((dir / "locked.tov").c_str(), 0);
    chmod((dir / "shut").c_str(), 0);
    mknod((dir / "socket.tov").c_str(), S_IFSOCK | 0644, 0);
    for (const char* name : {"locked.tov", "shut/inside.tov", "socket.tov"})
      Expect({.args = {"-x", name}, .cwd = dir, .nobody = true},
             std::string("tov: Cannot open file: '") + name + "'\r\n");
    chmod((dir / "shut").c_str(), 0755);
    run::tov = tov;
  }
  fs::remove_all(dir);

  // Standard output /dev/full or a pipe nobody reads: the write error, whether
  // it shows at the switch to the execution trace or at the final flush; a
  // program that writes for ever stops at its first line. Standard error that
  // cannot be written: no line is possible, but status 9.
  const char* const once = "BEGIN WRITE 1 END.";
  const char* const loop = "VAR i: INTEGER; BEGIN WHILE TRUE DO WRITE i; i := i + 1 END END.";
  for (Out out : {Out::Full, Out::Broken})
    for (auto [arg, src] : {std::pair{"-x", once}, {"-", once}, {"-x", loop}})
      Expect({.args = {arg}, .in = In::Bytes, .input = src, .out = out}, "tov: Write error.\r\n");
  Expect({.args = {"-"}, .in = In::Bytes, .input = once, .err = Out::Full}, "");
  return failed ? 1 : 0;
}
