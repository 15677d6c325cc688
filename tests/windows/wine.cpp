// The tests that only Windows surroundings can make, run under Wine (the
// runner starts each program through TOV_EMULATOR). One check per run;
// it prints what failed and exits non-zero.
//
//   wine_tests interrupt TOV.EXE SITUATION   SIGINT, which Wine hands to the
//       console handler as CTRL_C_EVENT, in the situations of the POSIX
//       signal tests: the guard's line last, status 9, no torn line
//   wine_tests events TOV_CTRL.EXE          every CTRL_TYPE value through the
//       system's own control routine: stop or pass on
//   wine_tests hostile TOV.EXE KIND          standard handles and files that
//       cannot be used: input, output, held
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "runner.h"

namespace {

using run::In;
using run::Out;

const std::string kMessage = "ConSigs: Signal received, terminating.\r\n";
bool failed = false;

void Failed(const std::string& what, const run::Result& r) {
  printf("%s: status %d%s\n  stdout ends: %s\n  stderr ends: %s\n", what.c_str(), r.status,
         r.timedOut ? " (timed out)" : "",
         run::Show(r.out.substr(r.out.size() - std::min<size_t>(r.out.size(), 200))).c_str(),
         run::Show(r.err.substr(r.err.size() - std::min<size_t>(r.err.size(), 200))).c_str());
  failed = true;
}

// Whole lines that begin `all`; `exact`: all of it.
bool Prefix(const std::string& part, const std::string& all, bool exact) {
  return (part.empty() || part.ends_with("\r\n")) && all.starts_with(part) &&
         (!exact || part.size() == all.size());
}

run::Opts Start(const std::string& s) {
  run::Opts o{.args = {"-x"}, .in = s == "waiting" ? In::Open : In::Bytes};
  o.err = s == "stdout_blocked" ? Out::Null : s == "merged" ? Out::Merged : Out::Pipe;
  // compiling: a source longer than any wait, dead code traced but never
  // stored; waiting: enough of it to flush the trace before tov waits for
  // more, which shows that it runs (Wine takes a while to start a program)
  std::string dead;
  for (int i = 0; i < (s == "compiling" ? 200000 : s == "waiting" ? 1500 : 0); ++i)
    dead += "IF FALSE THEN x := x + 1 END;\n";
  o.input = s == "waiting" || s == "compiling" ? "VAR x: INTEGER; BEGIN " + dead
            : s == "stdout_blocked"
                ? "VAR i: INTEGER; BEGIN WHILE TRUE DO WRITE i; i := i + 1 END END."
                : "VAR i: INTEGER; BEGIN WHILE TRUE DO i := i + 1; IF i > 1000 "
                  "THEN i := 0 END END END.";
  return o;
}

void Interrupt(const std::string& s) {
  // What the run writes without the signal, longer than the signalled run
  // can be: Wine takes some milliseconds to hand the signal over. Held
  // standard output stops the signalled run early.
  const uint32_t limit = s == "stdout_blocked" ? 1 : 24;
  run::Opts o = Start(s);
  o.in = In::Bytes;
  run::Child ref(o);
  ref.Pump([&] { return ref.r.out.size() + ref.r.err.size() > (limit << 20); });
  ref.Kill(SIGKILL);
  run::Result want = ref.Finish();
  if (s == "waiting") want.err.erase(want.err.rfind("\r\n", want.err.size() - 3) + 2);

  run::Child c(Start(s));
  if (s == "waiting") {
    c.Pump([&] { return !c.r.err.empty(); });
    c.AwaitSleep();
  } else if (s == "stdout_blocked") {
    c.Hold(1);
    c.Pump();          // the source goes in
    c.ReadSome(1, 1);  // tov runs: its first block of output has come
    c.AwaitSleep();
  } else {
    c.Pump([&] { return c.r.out.size() + c.r.err.size() >= 100 * 1024; });
  }
  c.Kill(SIGINT);
  const run::Result r = c.Finish();
  const size_t m = r.out.size() - std::min(r.out.size(), kMessage.size());
  if (r.timedOut || r.status != 9 || r.out.compare(m, kMessage.size(), kMessage) != 0 ||
      !Prefix(r.out.substr(0, m), want.out, s == "waiting") ||
      !Prefix(r.err, want.err, s == "waiting")) {
    Failed("interrupt, " + s, r);
  }
}

// The stopping set is every value up to 6 but the logoff (5).
void Events() {
  for (unsigned ev : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 100u}) {
    const run::Result r = run::Run({.args = {"event", std::to_string(ev)}, .seconds = 30});
    std::string lines = r.out;
    bool ok = lines.starts_with("before\r\n");
    if (ev <= 6 && ev != 5) {
      ok = ok && r.status == 9 && lines.ends_with(kMessage);
      lines.erase(0, 8);
      lines.erase(lines.size() - std::min(lines.size(), kMessage.size()));
    } else {
      ok = ok && r.status == 0 && lines.ends_with("passed on\r\n");
      lines.erase(0, 8);
      lines.erase(lines.size() - std::min(lines.size(), size_t(11)));
    }
    for (size_t i = 0; ok && i < lines.size(); i += 6)
      ok = lines.compare(i, 6, "line\r\n") == 0;
    if (!ok || !r.err.empty()) Failed("event " + std::to_string(ev), r);
  }
}

// The one line on standard error besides trace, last; status 9.
void Expect(const run::Opts& o, const std::string& line, const std::string& what) {
  const run::Result r = run::Run(o);
  std::string rest;
  for (size_t b = 0, e; b < r.err.size(); b = e + 1) {
    e = r.err.find('\n', b);
    const std::string l = r.err.substr(b, e - b + 1);
    if (!l.starts_with("Gen.Dbg: ") && !l.starts_with("Comp.Dbg: ")) rest += l;
  }
  if (r.status != 9 || rest != line || !r.err.ends_with(line)) Failed(what, r);
}

void Hostile(const std::string& kind, const std::string& ctrl) {
  const char* const once = "BEGIN WRITE 1 END.";
  const char* const loop = "VAR i: INTEGER; BEGIN WHILE TRUE DO WRITE i; i := i + 1 END END.";
  if (kind == "input") {
    // no standard input, or one that cannot be read: a read error at once
    for (In in : {In::Closed, In::WriteEnd, In::Listening})
      for (const char* arg : {"-x", "-"})
        Expect({.args = {arg}, .in = in, .seconds = 20}, "Scnr (0,0): Read error.\r\n",
               "stdin " + std::to_string(int(in)) + " " + arg);
  } else if (kind == "output") {
    // a full disk or a pipe nobody reads: the write error; standard error
    // that cannot be written: status 9 without a line
    for (Out out : {Out::Full, Out::Broken})
      for (auto [arg, src] : {std::pair{"-x", once}, {"-", once}, {"-x", loop}})
        Expect({.args = {arg}, .in = In::Bytes, .input = src, .out = out}, "tov: Write error.\r\n",
               std::string("stdout ") + (out == Out::Full ? "full " : "broken ") + arg);
    Expect({.args = {"-"}, .in = In::Bytes, .input = once, .err = Out::Full}, "", "stderr full");
  } else if (kind == "held") {
    // Windows' counterpart of a file another user may not read: one that
    // another process holds open without sharing
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("tov-wine-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "held.tov") << once;
    const std::string tov = run::tov;
    run::tov = ctrl;
    // A program that Wine starts in a new prefix while the other tests start
    // theirs has now and then ended at once, without a word: the holder gets
    // three tries.
    std::unique_ptr<run::Child> holder;
    for (int i = 0; i < 3 && (holder == nullptr || holder->r.out != "held\r\n"); ++i) {
      if (holder != nullptr) Failed("holder, try " + std::to_string(i), holder->Finish());
      holder = std::make_unique<run::Child>(
          run::Opts{.args = {"hold", "held.tov"}, .in = In::Open, .cwd = dir});
      holder->Pump([&] { return holder->r.out == "held\r\n"; });
    }
    run::tov = tov;
    failed = false;  // the tries before
    if (holder->r.out != "held\r\n") Failed("holder did not hold the file", holder->Finish());
    Expect({.args = {"-x", "held.tov"}, .cwd = dir}, "tov: Cannot open file: 'held.tov'\r\n",
           "held file");
    fs::remove_all(dir);
  } else {
    printf("no such kind: %s\n", kind.c_str());
    failed = true;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: wine_tests interrupt|events|hostile EXE [SITUATION|KIND [CTRL.EXE]]\n");
    return 2;
  }
  run::tov = argv[2];
  const std::string mode = argv[1];
  if (mode == "interrupt" && argc == 4)
    Interrupt(argv[3]);
  else if (mode == "events")
    Events();
  else if (mode == "hostile" && argc >= 4)
    Hostile(argv[3], argc > 4 ? argv[4] : "");
  else
    return 2;
  return failed ? 1 : 0;
}
