// End-to-end tests of tov's console signal guard. Each run starts tov on
// pipes, sends one signal at a known point and checks what reached the pipes
// and how the process ended.
//
//   sigtest TOV LOOP.TOV CASE [SIGNAL]
//
// SIGNAL is INT, QUIT, HUP or TERM (the four stopping signals). Cases:
//   loop      tov -x LOOP.TOV runs for ever; the signal comes while its trace flows
//   merged    the same with standard output and error in one pipe (2>&1)
//   blocked   the same, but the test stops reading standard error first, so
//             that tov sits in a full-pipe write when the signal comes
//   wait      tov -x reads an empty standard input that stays open
//   waitpart  tov - has read part of a program from an open standard input
//   usr1      (no SIGNAL) SIGUSR1 is not ours: it kills the looping run
//   sigpipe   (no SIGNAL) standard output is a pipe nobody reads: a write error
//
// Every wait is bounded (20 s a case); on a timeout the child is killed and the
// case fails. Nothing here measures time.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../support/show.h"

namespace {

using Clock = std::chrono::steady_clock;

const char kMessage[] = "ConSigs: Signal received, terminating.";
const char kExecHeader[] = "Comp.Dbg:   pc  cond  ac       top-1         top";
const size_t kFlowing = 100 * 1024;     // trace seen before the signal is sent
const size_t kCap = 64u * 1024 * 1024;  // more output than this: tov did not stop

Clock::time_point deadline;
pid_t child = -1;

// ---- Reporting ------------------------------------------------------------

[[noreturn]] void Fail(const std::string& why) {
  fprintf(stderr, "FAIL: %s\n", why.c_str());
  if (child > 0) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
  }
  exit(1);
}

// The last n bytes of a stream, for the report.
std::string Tail(const std::string& s, size_t n = 300) {
  return Show(s.size() > n ? "..." + s.substr(s.size() - n) : s);
}

// ---- Running tov ----------------------------------------------------------

void Pipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) Fail(std::string("pipe: ") + strerror(errno));
}

int DevNull() {
  const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail(std::string("/dev/null: ") + strerror(errno));
  return fd;
}

// Starts tov with the three descriptors as its standard streams. The child
// gets the default handling of every signal and an empty mask, whatever the
// test runner left us: the cases test tov's own choices.
pid_t Spawn(const std::vector<std::string>& args, int in, int out, int err) {
  std::vector<char*> argv;
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) Fail(std::string("fork: ") + strerror(errno));
  if (pid == 0) {
    if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
    for (int s = 1; s < NSIG; ++s)
      signal(s, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

struct Sink {
  int fd;
  std::string data;
};

size_t Total(const std::vector<Sink*>& sinks) {
  size_t n = 0;
  for (const Sink* s : sinks)
    n += s->data.size();
  return n;
}

// Reads whatever arrives on the open sinks until done() holds or all of them
// have ended. A sink ends (fd -1) at end of file.
void Pump(const std::vector<Sink*>& sinks, const std::function<bool()>& done) {
  static char buf[1 << 16];
  for (;;) {
    if (done()) return;
    std::vector<pollfd> p;
    std::vector<Sink*> who;
    for (Sink* s : sinks) {
      if (s->fd >= 0) {
        p.push_back({s->fd, POLLIN, 0});
        who.push_back(s);
      }
    }
    if (p.empty()) return;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) Fail("timed out waiting for output of tov");
    const int k = poll(p.data(), p.size(), int(left.count()));
    if (k < 0 && errno != EINTR) Fail(std::string("poll: ") + strerror(errno));
    for (size_t i = 0; k > 0 && i < p.size(); ++i) {
      if (p[i].revents == 0) continue;
      const ssize_t n = read(p[i].fd, buf, sizeof buf);
      if (n > 0) {
        who[i]->data.append(buf, size_t(n));
      } else if (n == 0 || errno != EINTR) {
        close(who[i]->fd);
        who[i]->fd = -1;
      }
    }
    if (Total(sinks) > kCap) Fail("tov kept writing: more than 64 MB of output");
  }
}

// One read of at most n bytes from s (tov is known to have written them).
void ReadSome(Sink& s, size_t n) {
  std::string buf(n, '\0');
  pollfd p = {s.fd, POLLIN, 0};
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0 || poll(&p, 1, int(left.count())) != 1) Fail("timed out reading from tov");
  const ssize_t k = read(s.fd, &buf[0], n);
  if (k > 0) s.data.append(buf, 0, size_t(k));
}

void PumpToEnd(const std::vector<Sink*>& sinks) {
  Pump(sinks, [] { return false; });
}

// The status of the ended child; fails when it does not end in time.
int Reap(pid_t pid) {
  for (;;) {
    int st;
    const pid_t r = waitpid(pid, &st, WNOHANG);
    if (r == pid) {
      if (pid == child) child = -1;
      return st;
    }
    if (r < 0 && errno != EINTR) Fail(std::string("waitpid: ") + strerror(errno));
    if (Clock::now() >= deadline) Fail("timed out waiting for tov to end");
    usleep(2000);
  }
}

std::string Status(int st) {
  char b[64];
  if (WIFEXITED(st)) {
    snprintf(b, sizeof b, "exit status %d", WEXITSTATUS(st));
  } else if (WIFSIGNALED(st)) {
    snprintf(b, sizeof b, "killed by signal %d (%s)", WTERMSIG(st), strsignal(WTERMSIG(st)));
  } else {
    snprintf(b, sizeof b, "wait status 0x%x", st);
  }
  return b;
}

void ExpectExit(int st, int status) {
  if (!WIFEXITED(st) || WEXITSTATUS(st) != status) {
    Fail("tov ended with " + Status(st) + ", expected exit status " + std::to_string(status));
  }
}

// Best effort, Linux: waits until the child sleeps (in a read wait or a write
// to a full pipe) with a handler of its own for sig. Without /proc the short
// pause alone has to do; every outcome is still checked.
void AwaitSleep(pid_t pid, int sig) {
  usleep(200 * 1000);
  const std::string dir = "/proc/" + std::to_string(pid);
  for (;;) {
    std::ifstream stat(dir + "/stat");
    std::ifstream status(dir + "/status");
    if (!stat || !status) return;
    std::string s((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t rp = s.rfind(')');
    const char state = rp != std::string::npos && rp + 2 < s.size() ? s[rp + 2] : '?';
    if (state == 'Z') return;  // ended already: the checks will tell how
    const bool sleeping = state == 'S';
    bool caught = false;
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("SigCgt:", 0) == 0) {
        caught = (strtoull(line.c_str() + 7, nullptr, 16) >> (sig - 1)) & 1;
      }
    }
    if (sleeping && caught) return;
    if (Clock::now() >= deadline) {
      Fail(sleeping ? std::string("tov waits without a handler for ") + strsignal(sig)
                    : std::string("timed out waiting for tov to wait"));
    }
    usleep(2000);
  }
}

// ---- Lines ----------------------------------------------------------------

// Splits a stream into its lines; every line must end with CR LF and hold no
// other CR or LF (a torn line shows up as one of these).
std::vector<std::string> Lines(const std::string& what, const std::string& s) {
  std::vector<std::string> v;
  size_t b = 0;
  while (b < s.size()) {
    const size_t e = s.find("\r\n", b);
    if (e == std::string::npos) {
      Fail(what + ": the last line has no CR LF end: \"" + Show(s.substr(b, 200)) + "\"");
    }
    const std::string line = s.substr(b, e - b);
    if (line.find_first_of("\r\n") != std::string::npos) {
      Fail(what + ", line " + std::to_string(v.size() + 1) + ": stray CR or LF: \"" + Show(line) +
           "\"");
    }
    v.push_back(line);
    b = e + 2;
  }
  return v;
}

// A number right-aligned in a field of blanks; false for anything else.
bool Right(const std::string& f, long long& x) {
  size_t i = 0;
  while (i < f.size() && f[i] == ' ')
    ++i;
  size_t j = i;
  if (j < f.size() && f[j] == '-') ++j;
  if (j == f.size()) return false;
  for (size_t k = j; k < f.size(); ++k) {
    if (f[k] < '0' || f[k] > '9') return false;
  }
  x = strtoll(f.c_str() + i, nullptr, 10);
  return true;
}

bool Blank(const std::string& f) { return f.find_first_not_of(' ') == std::string::npos; }

// The listing: address -> command text, from lines "%4u: text".
std::map<long long, std::string> Listing(const std::vector<std::string>& lines) {
  std::map<long long, std::string> m;
  for (const std::string& l : lines) {
    long long a;
    if (l.size() < 7 || l.compare(4, 2, ": ") != 0 || !Right(l.substr(0, 4), a)) {
      Fail("reference listing line of unexpected shape: \"" + Show(l) + "\"");
    }
    m[a] = l.substr(6);
  }
  return m;
}

// Where the machine may go after the command at a.
std::vector<long long> Next(const std::map<long long, std::string>& code, long long a) {
  const std::string& t = code.at(a);
  auto it = code.upper_bound(a);
  const long long next = it == code.end() ? -1 : it->first;
  if (t == "Hlt") return {};
  if (t.rfind("Jmp ", 0) == 0) return {atoll(t.c_str() + 4)};
  if (t.rfind("Jpf ", 0) == 0 || t.rfind("Jpt ", 0) == 0) return {next, atoll(t.c_str() + 4)};
  return {next};
}

// Checks the execution trace of LOOP.TOV in lines[from..to): the header, then
// lines of the trace's column layout whose addresses and commands follow the
// listing step by step. The `Val 1` step shows i on top, which must count
// 0, 1, ..., 1000, 0, ...; so a lost stretch of trace is found, not only a
// torn line.
void CheckExecTrace(const std::string& what, const std::vector<std::string>& lines, size_t from,
                    size_t to, const std::map<long long, std::string>& code) {
  if (from >= to || lines[from] != kExecHeader) {
    Fail(what + ": no execution trace header where expected" +
         (from < to ? ": \"" + Show(lines[from]) + "\"" : std::string()));
  }
  if (to - from < 2) Fail(what + ": the execution trace has no step");
  long long prevPc = -1;
  long long count = -1;
  for (size_t n = from + 1; n < to; ++n) {
    const std::string& l = lines[n];
    const std::string at = what + ", line " + std::to_string(n + 1) + " \"" + Show(l) + "\": ";
    long long pc, ac, below = 0, top = 0;
    if (l.size() < 52 || l.size() > 67 || l.compare(0, 10, "Comp.Dbg: ") != 0 ||
        !Right(l.substr(10, 4), pc) || l.compare(14, 2, ": ") != 0 ||
        (l.compare(16, 5, "FALSE") != 0 && l.compare(16, 5, "TRUE ") != 0) || l[21] != ' ' ||
        !Right(l.substr(22, 2), ac) || l[24] != ' ' || l[36] != ' ' ||
        l.compare(48, 3, ":  ") != 0) {
      Fail(at + "not a whole execution trace line");
    }
    const std::string f1 = l.substr(25, 11), f2 = l.substr(37, 11);
    const bool stack = ac == 0   ? Blank(f1) && Blank(f2)
                       : ac == 1 ? Blank(f1) && Right(f2, top)
                                 : Right(f1, below) && Right(f2, top);
    if (!stack) Fail(at + "stack columns do not fit ac");
    const auto c = code.find(pc);
    if (c == code.end() || c->second != l.substr(51))
      Fail(at + "not the listed command at this address");
    if (prevPc < 0) {
      if (pc != 0) Fail(at + "the trace does not start at address 0");
    } else {
      bool ok = false;
      for (long long a : Next(code, prevPc))
        ok = ok || a == pc;
      if (!ok) Fail(at + "cannot follow the step before (a line lost?)");
    }
    prevPc = pc;
    if (l.substr(51) == "Val 1") {
      const long long want = count < 0 ? 0 : (count + 1) % 1001;
      if (ac != 1 || top != want) {
        Fail(at + "i should be " + std::to_string(want) + " here (a stretch of trace lost?)");
      }
      count = top;
    }
  }
}

// ---- Cases ----------------------------------------------------------------

int Signal(const std::string& name) {
  if (name == "INT") return SIGINT;
  if (name == "QUIT") return SIGQUIT;
  if (name == "HUP") return SIGHUP;
  if (name == "TERM") return SIGTERM;
  Fail("unknown signal " + name);
}

struct TRun {
  int status;
  std::string out, err;
};

// A run that must end by itself (the references): stdin from a pipe holding
// `input` (then closed), stdout and stderr to pipes, or both to one pipe.
TRun RunToEnd(const std::vector<std::string>& args, const std::string& input, bool merged) {
  int in[2], out[2], err[2];
  Pipe(in);
  Pipe(out);
  if (!merged) Pipe(err);
  if (write(in[1], input.data(), input.size()) != ssize_t(input.size()))
    Fail("cannot fill stdin pipe");
  close(in[1]);
  child = Spawn(args, in[0], out[1], merged ? out[1] : err[1]);
  close(in[0]);
  close(out[1]);
  Sink o{out[0], {}}, e{merged ? -1 : err[0], {}};
  if (!merged) close(err[1]);
  PumpToEnd({&o, &e});
  TRun r{Reap(child), o.data, e.data};
  return r;
}

// The listing and generator trace of LOOP.TOV, from a run without -x.
TRun Reference(const std::string& tov, const std::string& loop, bool merged) {
  TRun r = RunToEnd({tov, loop}, "", merged);
  if (!WIFEXITED(r.status) || WEXITSTATUS(r.status) != 0) {
    Fail("reference run of tov " + loop + " ended with " + Status(r.status) + ": " + Tail(r.err));
  }
  return r;
}

bool Flowing(const std::string& s) {
  return s.size() >= kFlowing && s.find("Comp.Dbg:") != std::string::npos;
}

// loop, blocked: the signal stops an executed program that never ends.
void Loop(const std::string& tov, const std::string& loop, int sig, bool block) {
  const TRun ref = Reference(tov, loop, false);
  int out[2], err[2];
  Pipe(out);
  Pipe(err);
  const int null = DevNull();
  child = Spawn({tov, "-x", loop}, null, out[1], err[1]);
  close(null);
  close(out[1]);
  close(err[1]);
  Sink o{out[0], {}}, e{err[0], {}};
  Pump({&o, &e}, [&] { return Flowing(e.data); });
  if (e.fd < 0) Fail("tov ended before the signal: " + Tail(e.data));
  if (block) {
    // Standard error stays unread: tov fills the pipe and waits in a write.
    // Taking 8 KB lets that write move part of its buffer and wait again; the
    // signal then cuts it short, the write of the rest waits once more, and a
    // second signal interrupts it before it moves a byte: the event comes with
    // a buffer that is partly written.
    AwaitSleep(child, sig);
    ReadSome(e, 8192);
    AwaitSleep(child, sig);
    kill(child, sig);
    AwaitSleep(child, sig);
  }
  kill(child, sig);
  PumpToEnd({&o, &e});
  ExpectExit(Reap(child), 9);

  const std::string msg = std::string(kMessage) + "\r\n";
  if (o.data != ref.out + msg) {
    Fail("stdout is not the listing followed by the message; its end: " + Tail(o.data));
  }
  const std::vector<std::string> el = Lines("stderr", e.data);
  const size_t gen = Lines("reference stderr", ref.err).size();
  if (e.data.compare(0, ref.err.size(), ref.err) != 0) {
    Fail("stderr does not begin with the whole generator trace");
  }
  CheckExecTrace("stderr", el, gen, el.size(), Listing(Lines("reference stdout", ref.out)));
}

// merged: both streams in one pipe; the message must still be the last line,
// after whole lines of both streams in their order.
void Merged(const std::string& tov, const std::string& loop, int sig) {
  const TRun ref = Reference(tov, loop, true);
  const TRun refSplit = Reference(tov, loop, false);
  int out[2];
  Pipe(out);
  const int null = DevNull();
  child = Spawn({tov, "-x", loop}, null, out[1], out[1]);
  close(null);
  close(out[1]);
  Sink o{out[0], {}};
  Pump({&o}, [&] { return Flowing(o.data); });
  if (o.fd < 0) Fail("tov ended before the signal: " + Tail(o.data));
  kill(child, sig);
  PumpToEnd({&o});
  ExpectExit(Reap(child), 9);

  const std::vector<std::string> l = Lines("output", o.data);
  if (o.data.compare(0, ref.out.size(), ref.out) != 0) {
    Fail("output does not begin with the generator trace and the listing");
  }
  if (l.back() != kMessage) Fail("the last line is not the message: \"" + Show(l.back()) + "\"");
  const size_t start = Lines("reference output", ref.out).size();
  CheckExecTrace("output", l, start, l.size() - 1,
                 Listing(Lines("reference stdout", refSplit.out)));
}

// wait, waitpart: the signal comes while tov waits for more source.
void Wait(const std::string& tov, int sig, bool part) {
  // Ends with a blank so that the scanner has finished the last token and the
  // generator has written its lines for it before it waits again.
  const std::string src = "VAR i: INTEGER; BEGIN i := 1; WRITE i;\n";
  std::string trace;  // what the generator writes for src
  if (part) {
    const TRun ref = RunToEnd({tov, "-"}, src, false);
    ExpectExit(ref.status, 9);  // the source ends too early
    const std::vector<std::string> l = Lines("reference stderr", ref.err);
    if (l.size() < 2) Fail("reference run wrote no generator trace: " + Tail(ref.err));
    trace = ref.err.substr(0, ref.err.size() - l.back().size() - 2);
  }
  int in[2], out[2], err[2];
  Pipe(in);
  Pipe(out);
  Pipe(err);
  if (part && write(in[1], src.data(), src.size()) != ssize_t(src.size()))
    Fail("cannot fill stdin pipe");
  child =
      part ? Spawn({tov, "-"}, in[0], out[1], err[1]) : Spawn({tov, "-x"}, in[0], out[1], err[1]);
  close(in[0]);  // in[1] stays open and unwritten until the end
  close(out[1]);
  close(err[1]);
  Sink o{out[0], {}}, e{err[0], {}};
  AwaitSleep(child, sig);
  kill(child, sig);
  PumpToEnd({&o, &e});
  const int st = Reap(child);
  close(in[1]);
  ExpectExit(st, 9);
  if (o.data != std::string(kMessage) + "\r\n")
    Fail("stdout is not the message alone: " + Tail(o.data));
  if (e.data != trace) {
    Fail("stderr is not " + std::string(part ? "the generator trace of the part read" : "empty") +
         ": " + Tail(e.data));
  }
}

// usr1: a signal outside the guard keeps its default action.
void Usr1(const std::string& tov, const std::string& loop) {
  int out[2], err[2];
  Pipe(out);
  Pipe(err);
  const int null = DevNull();
  child = Spawn({tov, "-x", loop}, null, out[1], err[1]);
  close(null);
  close(out[1]);
  close(err[1]);
  Sink o{out[0], {}}, e{err[0], {}};
  Pump({&o, &e}, [&] { return Flowing(e.data); });
  if (e.fd < 0) Fail("tov ended before the signal: " + Tail(e.data));
  kill(child, SIGUSR1);
  PumpToEnd({&o, &e});
  const int st = Reap(child);
  if (!WIFSIGNALED(st) || WTERMSIG(st) != SIGUSR1) {
    Fail("tov ended with " + Status(st) + ", expected to be killed by SIGUSR1");
  }
  if (o.data.find(kMessage) != std::string::npos) Fail("SIGUSR1 produced the guard's message");
}

// sigpipe: writing to a pipe without a reader is a reported write error.
void SigPipe(const std::string& tov, const std::string& loop) {
  int out[2], err[2];
  Pipe(out);
  Pipe(err);
  close(out[0]);
  const int null = DevNull();
  child = Spawn({tov, "-x", loop}, null, out[1], err[1]);
  close(null);
  close(out[1]);
  close(err[1]);
  Sink e{err[0], {}};
  PumpToEnd({&e});
  ExpectExit(Reap(child), 9);
  const std::vector<std::string> l = Lines("stderr", e.data);
  if (l.empty() || l.back() != "tov: Write error.")
    Fail("stderr does not end with the write error: " + Tail(e.data));
  for (size_t n = 0; n + 1 < l.size(); ++n) {
    if (l[n].rfind("Gen.Dbg: ", 0) != 0 && l[n].rfind("Comp.Dbg: ", 0) != 0) {
      Fail("stderr line " + std::to_string(n + 1) + " is not a trace line: \"" + Show(l[n]) + "\"");
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: sigtest TOV LOOP.TOV CASE [INT|QUIT|HUP|TERM]\n");
    return 2;
  }
  deadline = Clock::now() + std::chrono::seconds(20);
  // The test itself must survive a reader that goes away; the child gets
  // default handling back in Spawn.
  signal(SIGPIPE, SIG_IGN);
  const std::string tov = argv[1], loop = argv[2], c = argv[3];
  const std::string sig = argc > 4 ? argv[4] : "";
  if (c == "loop") {
    Loop(tov, loop, Signal(sig), false);
  } else if (c == "blocked") {
    Loop(tov, loop, Signal(sig), true);
  } else if (c == "merged") {
    Merged(tov, loop, Signal(sig));
  } else if (c == "wait") {
    Wait(tov, Signal(sig), false);
  } else if (c == "waitpart") {
    Wait(tov, Signal(sig), true);
  } else if (c == "usr1") {
    Usr1(tov, loop);
  } else if (c == "sigpipe") {
    SigPipe(tov, loop);
  } else {
    Fail("unknown case " + c);
  }
  printf("ok: %s %s\n", c.c_str(), sig.c_str());
  return 0;
}
