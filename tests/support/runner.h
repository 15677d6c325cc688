// The one way tests start tov: arguments, standard input as bytes, a file or
// an odd descriptor, the three results captured, a time limit, and hooks for
// signal tests (hold a stream unread, wait until tov sleeps, send a signal).
#pragma once
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace run {

enum class In { Null, Bytes, Open, File, Closed, WriteEnd, WriteOnly, Listening };
enum class Out { Pipe, Merged, Null, Full, Broken, Closed };

struct Opts {
  std::vector<std::string> args;
  // Null: empty; Bytes: `input`, then end of input; Open: `input` (at most
  // 64 KiB), and the pipe stays open until tov has ended; File: the file
  // named by `input`; WriteEnd: the write end of a pipe; WriteOnly:
  // /dev/null opened for writing; Listening: a listening socket nobody
  // connects to. Out: Merged is stderr into stdout's pipe; Broken is a pipe
  // nobody reads.
  In in = In::Null;
  std::string input;
  std::function<bool(std::string& chunk)> feed;  // Bytes: more input after `input`
  Out out = Out::Pipe, err = Out::Pipe;
  std::string cwd;
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
  explicit Child(Opts opts);
  ~Child();
  // Moves bytes until done() holds or every stream has ended.
  void Pump(const std::function<bool()>& done = nullptr);
  void Hold(int fd, bool held);  // 1 or 2: leave that stream unread
  void ReadSome(int fd, size_t n);
  // Waits until tov sleeps, in a read or a write.
  void AwaitSleep();
  void Kill(int sig);
  Result Finish();  // pumps to the end and reaps

  Result r;
  pid_t pid = -1;

 private:
  bool Late();
  Opts o;
  int fd[3] = {-1, -1, -1};  // our ends: stdin feed, stdout, stderr
  int heldOpen = -1;
  bool held[3] = {};
  std::string chunk;
  size_t off = 0;
  long deadline;
};

Result Run(const Opts& o);
inline Result Run(std::vector<std::string> args, std::string input = "") {
  Opts o;
  o.args = std::move(args);
  o.in = In::Bytes;
  o.input = std::move(input);
  return Run(o);
}

// Bytes as a report shows them: CR, LF and other control bytes escaped.
std::string Show(const std::string& s, size_t max = 300);
// The tov binary under test: argv[1] of the test program, set by main.
extern std::string tov;

}  // namespace run
