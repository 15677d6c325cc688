// The console signal guard as one table: each situation times the four
// stopping signals. Every signalled run ends with status 9 and the guard's
// message as the last line of standard output; before it, both streams hold
// whole lines that a run without the signal writes too, in the same order.
// A signal outside the guard keeps its default action.
//
//   signals TOV SITUATION
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "runner.h"

namespace {

using run::Child;

const std::string kMessage = "ConSigs: Signal received, terminating.\r\n";
const std::string kLoop =
    "VAR i: INTEGER; BEGIN WHILE TRUE DO i := i + 1; IF i > 1000 THEN i := 0 END END END.";
const std::string kWriter = "VAR i: INTEGER; BEGIN WHILE TRUE DO WRITE i; i := i + 1 END END.";
const size_t kFlowing = 100 * 1024;  // trace seen before the signal

struct Situation {
  const char* name;
  run::Opts opts;
  std::function<void(Child&, int sig)> signal;  // brings tov there, then signals
};

run::Opts Source(const std::string& src, run::Out err = run::Out::Pipe) {
  run::Opts o;
  o.args = {"-x"};
  o.in = run::In::Bytes;
  o.input = src;
  o.err = err;
  o.seconds = 20;
  return o;
}

// A source that never ends: dead code, traced but never stored.
run::Opts Endless() {
  run::Opts o = Source("VAR x: INTEGER; BEGIN ");
  o.feed = [](std::string& chunk) {
    for (int i = 0; i < 100; ++i)
      chunk += "IF FALSE THEN x := x + 1 END;\n";
    return true;
  };
  return o;
}

void Flowing(Child& c) {
  c.Pump([&] { return c.r.err.size() >= kFlowing; });
}

const Situation kSituations[] = {
    {"waiting",
     [] {
       // the source so far is compiled and traced; tov waits for more
       run::Opts o = Source("VAR i: INTEGER; BEGIN i := 1; WRITE i;\n");
       o.in = run::In::Open;
       return o;
     }(),
     [](Child& c, int sig) {
       c.AwaitSleep(sig);
       c.Kill(sig);
     }},
    {"compiling", Endless(),
     [](Child& c, int sig) {
       Flowing(c);
       c.Kill(sig);
     }},
    {"looping", Source(kLoop),
     [](Child& c, int sig) {
       Flowing(c);
       c.Kill(sig);
     }},
    {"stdout_blocked", Source(kWriter, run::Out::Null),
     [](Child& c, int sig) {
       c.Hold(1, true);
       c.Pump();  // the source goes in
       c.AwaitSleep(sig);
       c.Kill(sig);
     }},
    // Taking 8 KB lets the blocked write move part of its buffer and wait
    // again; the signal cuts it short, the write of the rest waits once more,
    // and a second signal comes before it moves a byte.
    {"interrupted_write", Source(kLoop),
     [](Child& c, int sig) {
       Flowing(c);
       c.Hold(2, true);
       c.AwaitSleep(sig);
       c.ReadSome(2, 8192);
       c.AwaitSleep(sig);
       c.Kill(sig);
       c.AwaitSleep(sig);
       c.Kill(sig);
     }},
};

// What the same run writes without a signal, while it writes anything: cut
// off after some megabytes, or (waiting) the run once its input ends.
run::Result Reference(const Situation& s) {
  const bool waiting = s.opts.in == run::In::Open;
  run::Opts o = s.opts;
  o.in = run::In::Bytes;
  Child c(o);
  c.Pump([&] { return c.r.out.size() + c.r.err.size() > (4u << 20); });
  c.Kill(SIGKILL);
  run::Result r = c.Finish();
  if (waiting) r.err.erase(r.err.rfind("\r\n", r.err.size() - 3) + 2);  // the early end's line
  return r;
}

// Whole lines that begin `all`; `exact`: all of it.
bool Prefix(const std::string& part, const std::string& all, bool exact) {
  const bool whole = part.empty() || part.compare(part.size() - 2, 2, "\r\n") == 0;
  return whole && all.compare(0, part.size(), part) == 0 && (!exact || part.size() == all.size());
}

bool Check(const Situation& s, const run::Result& ref, int sig) {
  Child c(s.opts);
  s.signal(c, sig);
  const run::Result r = c.Finish();
  std::string why;
  const size_t m = r.out.size() - std::min(r.out.size(), kMessage.size());
  const bool waiting = s.opts.in == run::In::Open;
  if (r.timedOut) {
    why = "did not end";
  } else if (sig == SIGUSR1) {
    if (r.status != 128 + SIGUSR1 || r.out.find(kMessage) != r.out.npos) why = "not killed by it";
  } else if (r.status != 9) {
    why = "status " + std::to_string(r.status);
  } else if (r.out.compare(m, kMessage.size(), kMessage) != 0) {
    why = "standard output does not end with the message";
  } else if (!Prefix(r.out.substr(0, m), ref.out, waiting)) {
    why = "standard output before the message is not what a run without the signal writes";
  } else if (!Prefix(r.err, ref.err, waiting)) {
    why = "standard error is not what a run without the signal writes";
  }
  if (why.empty()) return true;
  printf("%s, %s: %s\n  stdout ends: %s\n  stderr ends: %s\n", s.name, strsignal(sig), why.c_str(),
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
  for (const Situation& s : kSituations) {
    if (strcmp(s.name, argv[2]) != 0) continue;
    const run::Result ref = Reference(s);
    bool ok = true;
    for (int sig : {SIGINT, SIGQUIT, SIGHUP, SIGTERM})
      ok = Check(s, ref, sig) && ok;
    if (strcmp(s.name, "looping") == 0) ok = Check(s, ref, SIGUSR1) && ok;
    return ok ? 0 : 1;
  }
  fprintf(stderr, "signals: no situation %s\n", argv[2]);
  return 2;
}
