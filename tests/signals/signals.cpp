// The console signal guard: each situation times the four stopping signals.
// Every signalled run ends with status 9 and the guard's message as the last
// line of standard output; before it, both streams hold whole lines that a
// run without the signal writes too, in the same order. A signal outside the
// guard keeps its default action. Under Wine (TOV_EMULATOR) only SIGINT
// reaches the program, as the console's interrupt event.
//
//   signals TOV SITUATION
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runner.h"

namespace {

const std::string kMessage = "ConSigs: Signal received, terminating.\r\n";
std::string s;  // the situation
const bool wine = getenv("TOV_EMULATOR") != nullptr;

// How tov starts in the situation.
run::Opts Start() {
  run::Opts o{.args = {"-x"}, .in = s == "waiting" ? run::In::Open : run::In::Bytes};
  o.err = s == "stdout_blocked" ? run::Out::Null
          : s == "merged"       ? run::Out::Merged
                                : run::Out::Pipe;
  // Dead code is traced but never stored. compiling: a source longer than
  // any wait; waiting: a trace that flushes once (which shows that tov runs)
  // into the empty pipe, so that tov then waits for more source, not to write
  std::string dead;
  for (int i = 0; i < (s == "compiling" ? 200000 : s == "waiting" ? 600 : 0); ++i)
    dead += "IF FALSE THEN x := x + 1 END;\n";
  o.input = s == "waiting" || s == "compiling" ? "VAR x: INTEGER; BEGIN " + dead
            : s == "stdout_blocked"
                ? "VAR i: INTEGER; BEGIN WHILE TRUE DO WRITE i; i := i + 1 END END."
                : "VAR i: INTEGER; BEGIN WHILE TRUE DO i := i + 1; IF i > 1000 "
                  "THEN i := 0 END END END.";
  return o;
}

// Brings tov into the situation, then sends sig.
void Signal(run::Child& c, int sig) {
  if (s == "waiting") {
    c.Pump([&] { return !c.r.err.empty(); });
    c.AwaitSleep();
  } else if (s == "stdout_blocked") {
    c.Hold(1);
    c.Pump();          // the source goes in
    c.ReadSome(1, 1);  // tov runs: its first block of output has come
    c.AwaitSleep();
  } else {
    c.Pump([&] { return c.r.out.size() + c.r.err.size() >= 100 * 1024; });  // trace flows
  }
  if (s == "interrupted_write") {
    // Taking 8 KB lets the blocked write move part of its buffer and wait
    // again; the signal cuts it short, the write of the rest waits once
    // more, and the second signal comes before it moves a byte.
    c.Hold(2);
    c.AwaitSleep();
    c.ReadSome(2, 8192);
    c.AwaitSleep();
    c.Kill(sig);
    c.AwaitSleep();
  }
  c.Kill(sig);
}

// Whole lines that begin `all`; `exact`: all of it.
bool Prefix(const std::string& part, const std::string& all, bool exact) {
  return (part.empty() || part.ends_with("\r\n")) && all.starts_with(part) &&
         (!exact || part.size() == all.size());
}

bool Check(const run::Result& ref, int sig) {
  run::Child c(Start());
  Signal(c, sig);
  const run::Result r = c.Finish();
  const size_t m = r.out.size() - std::min(r.out.size(), kMessage.size());
  const char* why = nullptr;
  if (r.timedOut) {
    why = "did not end";
  } else if (sig == SIGUSR1) {
    if (r.status != 128 + SIGUSR1 || r.out.find(kMessage) != r.out.npos) why = "not killed by it";
  } else if (r.status != 9 || r.out.compare(m, kMessage.size(), kMessage) != 0) {
    why = "status not 9 or standard output does not end with the message";
  } else if (!Prefix(r.out.substr(0, m), ref.out, s == "waiting") ||
             !Prefix(r.err, ref.err, s == "waiting")) {
    why = "the streams before the message are not what a run without the signal writes";
  }
  if (why == nullptr) return true;
  printf("%s, %s: %s (status %d)\n  stdout ends: %s\n  stderr ends: %s\n", s.c_str(),
         strsignal(sig), why, r.status,
         run::Show(r.out.substr(m - std::min<size_t>(m, 200))).c_str(),
         run::Show(r.err.substr(r.err.size() - std::min<size_t>(r.err.size(), 200))).c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: signals TOV SITUATION\n");
    return 2;
  }
  run::tov = argv[1];
  s = argv[2];
  // What the same run writes without a signal: cut off after some megabytes
  // (more than a signalled run writes, and Wine takes a while to hand the
  // signal over), or (waiting) the trace before the line of the early end of
  // its source.
  run::Opts o = Start();
  o.in = run::In::Bytes;
  run::Child c(o);
  c.Pump([&] { return c.r.out.size() + c.r.err.size() > ((wine ? 24u : 4u) << 20); });
  c.Kill(SIGKILL);
  run::Result ref = c.Finish();
  if (s == "waiting") ref.err.erase(ref.err.rfind("\r\n", ref.err.size() - 3) + 2);
  bool ok = true;
  for (int sig : {SIGINT, SIGQUIT, SIGHUP, SIGTERM})
    if (!wine || sig == SIGINT) ok = Check(ref, sig) && ok;
  if (s == "looping" && !wine) ok = Check(ref, SIGUSR1) && ok;
  return ok ? 0 : 1;
}
