// The one way tests start tov: arguments, standard input as bytes or an odd
// descriptor, the three results captured, a time limit, and hooks for signal
// tests (hold a stream unread, wait until tov sleeps, send a signal).
#pragma once
#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace run {

// Standard input. Null: empty; Bytes: `input`, then its end; Open: `input`,
// and the pipe stays open until tov has ended; Closed: no descriptor 0;
// WriteEnd: the write end of a pipe; Listening: a listening socket nobody
// connects to.
enum class In { Null, Bytes, Open, Closed, WriteEnd, Listening };
// Standard output or error. Merged: stderr into stdout's pipe; Broken: a
// pipe nobody reads.
enum class Out { Pipe, Merged, Null, Full, Broken };

struct Opts {
  std::vector<std::string> args{};
  In in = In::Null;
  std::string input{};
  Out out = Out::Pipe, err = Out::Pipe;
  std::string cwd{};
  bool nobody = false;  // as an unprivileged user, so that file permissions count
  int seconds = 60;     // then tov is killed and the run counts as timed out
};

struct Result {
  int status = -1;  // exit status, or 128 + signal
  std::string out, err;
  bool timedOut = false;
};

// A running tov. Pump and the waits fail the run (timedOut) at the deadline.
struct Child {
  explicit Child(const Opts& o);
  ~Child();
  // Moves bytes until done() holds or every stream has ended.
  void Pump(const std::function<bool()>& done = nullptr);
  void Hold(int k) { held[k] = true; }  // 1 or 2: leave that stream unread until Finish
  void ReadSome(int k, size_t n);
  void AwaitSleep();  // until tov sleeps, in a read or a write
  void Kill(int sig) { kill(pid, sig); }
  Result Finish();  // pumps to the end and reaps

  Result r;

 private:
  bool Late();
  pid_t pid = -1;
  int fd[3] = {-1, -1, -1};  // our ends: stdin feed, stdout, stderr
  int heldOpen = -1;         // kept open for tov's sake, never used
  int exited = -1;           // readable once tov has ended (a pidfd)
  bool held[3] = {};
  std::string input;
  size_t off = 0;
  using Clock = std::chrono::steady_clock;
  Clock::time_point deadline;
};

Result Run(const Opts& o);
inline Result Run(std::vector<std::string> args, std::string input = "") {
  return Run({.args = std::move(args), .in = In::Bytes, .input = std::move(input)});
}

// Bytes as a report shows them: CR, LF and other control bytes escaped.
std::string Show(const std::string& s, size_t max = 300);
// The tov binary under test: argv[1] of the test program, set by main. When
// the environment names TOV_EMULATOR, tov is started through it.
extern std::string tov;

}  // namespace run
