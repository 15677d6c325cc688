// Hostile inputs that are too big or too odd for a case file: sources made at
// test time (streamed into standard input or written to a scratch directory)
// and standard streams that are closed, full or broken. Every run must end
// with status 0 or 9 and the exact line that the situation calls for; any
// line before an error line may only be trace.
//
//   hostile TOV CASE
//
// Exit status 0 when the case holds, 1 when not, 77 when it cannot be set up
// here (CTest reports it as skipped).
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../support/show.h"

namespace {

const char* tov;
bool failed = false;
constexpr int skip = 77;

// ---- Sources with known positions --------------------------------------

// Builds a source text and tracks the position of the next byte the way the
// scanner counts it: every byte one column, a line feed starts a new line.
struct Src {
  std::string text;
  uint32_t l = 1, c = 1;

  Src& operator<<(const std::string& s) {
    for (unsigned char ch : s) {
      if (ch == '\n') {
        ++l;
        c = 1;
      } else {
        ++c;
      }
    }
    text += s;
    return *this;
  }
  Src& Rep(const std::string& s, size_t n) {
    for (size_t i = 0; i < n; ++i) *this << s;
    return *this;
  }
  std::string At() const { return "(" + std::to_string(l) + "," + std::to_string(c) + ")"; }
};

// ---- Running tov -----------------------------------------------------------

// Hands out the source in chunks; false when it has ended.
using Feed = std::function<bool(std::string& chunk)>;

struct Spec {
  std::vector<std::string> args;
  // inWriteEnd: the write end of a pipe whose read end the test holds open;
  // inWriteOnly: /dev/null opened for writing only; inListening: a listening
  // socket, which nobody connects to.
  enum { inNull, inFeed, inPath, inClosed, inWriteEnd, inWriteOnly, inListening } in = inNull;
  Feed feed;
  std::string inFile;
  enum { outPipe, outFull, outBrokenPipe, outClosed } out = outPipe;
  enum { errPipe, errFull, errClosed } err = errPipe;
  bool nobody = false;  // run as an unprivileged user, so that permissions count
  std::string cwd;
  int limit = 250;  // seconds before tov is taken for hung and killed
};

struct Result {
  int status = -1;
  std::string out, err;
  long maxRssKb = 0;
};

Feed Text(const std::string& s) {
  auto done = std::make_shared<bool>(false);
  return [s, done](std::string& chunk) {
    if (*done) return false;
    chunk = s;
    *done = true;
    return true;
  };
}

void Nonblock(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

Result Run(const Spec& sp) {
  Result r;
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
  if ((sp.in == Spec::inFeed || sp.in == Spec::inWriteEnd) && pipe2(in, O_CLOEXEC) != 0) exit(2);
  if ((sp.out == Spec::outPipe || sp.out == Spec::outBrokenPipe) && pipe2(out, O_CLOEXEC) != 0) exit(2);
  if (sp.err == Spec::errPipe && pipe2(err, O_CLOEXEC) != 0) exit(2);
  if (sp.out == Spec::outBrokenPipe) {
    close(out[0]);  // nobody will ever read: every write fails
    out[0] = -1;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);
    int fd0 = -1, fd1 = -1, fd2 = -1;
    switch (sp.in) {
      case Spec::inNull: fd0 = open("/dev/null", O_RDONLY); break;
      case Spec::inFeed: fd0 = in[0]; break;
      case Spec::inPath: fd0 = open(sp.inFile.c_str(), O_RDONLY); break;
      case Spec::inClosed: break;
      case Spec::inWriteEnd: fd0 = in[1]; break;
      case Spec::inWriteOnly: fd0 = open("/dev/null", O_WRONLY); break;
      case Spec::inListening: {
        // bound to an abstract name of the system's choosing: nothing on disk
        const sockaddr_un a{AF_UNIX, {}};
        fd0 = socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd0 < 0 || bind(fd0, reinterpret_cast<const sockaddr*>(&a), sizeof(sa_family_t)) != 0 ||
            listen(fd0, 1) != 0) {
          _exit(126);
        }
        break;
      }
    }
    switch (sp.out) {
      case Spec::outPipe:
      case Spec::outBrokenPipe: fd1 = out[1]; break;
      case Spec::outFull: fd1 = open("/dev/full", O_WRONLY); break;
      case Spec::outClosed: break;
    }
    switch (sp.err) {
      case Spec::errPipe: fd2 = err[1]; break;
      case Spec::errFull: fd2 = open("/dev/full", O_WRONLY); break;
      case Spec::errClosed: break;
    }
    // Move the three out of the way first, so that dup2 never overwrites one.
    fd0 = fd0 >= 0 ? fcntl(fd0, F_DUPFD, 10) : -1;
    fd1 = fd1 >= 0 ? fcntl(fd1, F_DUPFD, 10) : -1;
    fd2 = fd2 >= 0 ? fcntl(fd2, F_DUPFD, 10) : -1;
    const int want[3] = {fd0, fd1, fd2};
    for (int k = 0; k < 3; ++k) {
      if (want[k] >= 0) {
        dup2(want[k], k);
        close(want[k]);
      } else {
        close(k);
      }
    }
    if (!sp.cwd.empty() && chdir(sp.cwd.c_str()) != 0) _exit(126);
    if (sp.nobody && geteuid() == 0) {
      if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(126);
    }
    std::vector<char*> av;
    av.push_back(const_cast<char*>(tov));
    for (const std::string& a : sp.args) av.push_back(const_cast<char*>(a.c_str()));
    av.push_back(nullptr);
    execv(tov, av.data());
    _exit(127);
  }
  // the read end of tov's write-only input stays open until tov has ended
  const int heldOpen = sp.in == Spec::inWriteEnd ? in[0] : -1;
  if (sp.in == Spec::inWriteEnd) {
    close(in[1]);
    in[1] = -1;
  } else if (in[0] >= 0) {
    close(in[0]);
  }
  if (out[1] >= 0) close(out[1]);
  if (err[1] >= 0) close(err[1]);

  int feedFd = in[1];
  if (feedFd >= 0) Nonblock(feedFd);
  std::string chunk;
  size_t off = 0;
  bool more = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(sp.limit);
  for (;;) {
    pollfd p[3];
    int n = 0;
    if (feedFd >= 0) p[n++] = {feedFd, POLLOUT, 0};
    if (out[0] >= 0) p[n++] = {out[0], POLLIN, 0};
    if (err[0] >= 0) p[n++] = {err[0], POLLIN, 0};
    if (n == 0) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      printf("tov did not end within %d s\n", sp.limit);
      failed = true;
      break;
    }
    if (poll(p, nfds_t(n), 1000) < 0) continue;
    for (int k = 0; k < n; ++k) {
      if (p[k].revents == 0) continue;
      if (p[k].fd == feedFd) {
        if (off == chunk.size()) {
          off = 0;
          chunk.clear();
          more = more && sp.feed(chunk);
          if (!more) {
            close(feedFd);
            feedFd = -1;
            continue;
          }
        }
        const ssize_t w = write(feedFd, chunk.data() + off, chunk.size() - off);
        if (w > 0) {
          off += size_t(w);
        } else if (w < 0 && errno != EAGAIN && errno != EINTR) {
          close(feedFd);  // tov stopped reading: the rest is never needed
          feedFd = -1;
        }
        continue;
      }
      char buf[65536];
      const ssize_t got = read(p[k].fd, buf, sizeof buf);
      std::string& to = p[k].fd == out[0] ? r.out : r.err;
      if (got > 0 && to.size() < (64u << 20)) {
        to.append(buf, size_t(got));
      } else if (got <= 0) {
        close(p[k].fd);
        (p[k].fd == out[0] ? out[0] : err[0]) = -1;
      }
    }
  }
  if (feedFd >= 0) close(feedFd);
  int st = 0;
  rusage ru{};
  wait4(pid, &st, 0, &ru);
  if (heldOpen >= 0) close(heldOpen);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  r.maxRssKb = ru.ru_maxrss;
  return r;
}

// ---- Checks ----------------------------------------------------------------

void Fail(const std::string& what, const std::string& msg) {
  printf("%s: %s\n", what.c_str(), msg.c_str());
  failed = true;
}

bool IsTrace(const std::string& line) {
  return line.rfind("Gen.Dbg: ", 0) == 0 || line.rfind("Comp.Dbg: ", 0) == 0;
}

// Standard error: trace lines only, then the line last (none when last is
// empty). Every line ends with CR LF.
void ExpectErr(const std::string& what, const Result& r, const std::string& last) {
  std::vector<std::string> lines;
  size_t b = 0;
  while (b < r.err.size()) {
    size_t e = r.err.find('\n', b);
    if (e == std::string::npos) {
      Fail(what, "standard error ends without a line end: " + Show(r.err.substr(b)));
      return;
    }
    if (e == b || r.err[e - 1] != '\r') {
      Fail(what, "a line of standard error does not end with CR LF: " + Show(r.err.substr(b, e - b + 1)));
      return;
    }
    lines.push_back(r.err.substr(b, e - 1 - b));
    b = e + 1;
  }
  size_t n = lines.size();
  if (!last.empty()) {
    if (n == 0 || lines[n - 1] != last) {
      Fail(what, "last line of standard error: expected \"" + last + "\", got \"" +
                     (n == 0 ? std::string("(none)") : Show(lines[n - 1])) + "\"");
      return;
    }
    --n;
  }
  for (size_t i = 0; i < n; ++i) {
    if (!IsTrace(lines[i])) {
      Fail(what, "standard error line " + std::to_string(i + 1) + " is not trace: " + Show(lines[i]));
      return;
    }
  }
}

void ExpectStatus(const std::string& what, const Result& r, int status) {
  if (r.status != status) {
    Fail(what, "status " + std::to_string(r.status) + ", expected " + std::to_string(status));
  }
}

void ExpectOut(const std::string& what, const Result& r, const std::string& out) {
  if (r.out != out) Fail(what, "standard output: expected \"" + Show(out) + "\", got \"" + Show(r.out) + "\"");
}

// A compile-time or command-line error: status 9, nothing on standard
// output, trace and then the line.
void ExpectError(const std::string& what, const Result& r, const std::string& line) {
  ExpectStatus(what, r, 9);
  ExpectOut(what, r, "");
  ExpectErr(what, r, line);
}

Result RunStdin(const std::string& src, std::vector<std::string> args = {"-x"}) {
  Spec sp;
  sp.args = std::move(args);
  sp.in = Spec::inFeed;
  sp.feed = Text(src);
  return Run(sp);
}

// A scratch directory, removed at the end.
struct Scratch {
  std::string dir;
  Scratch() {
    const char* t = getenv("TMPDIR");
    std::string tmpl = std::string(t != nullptr && *t != 0 ? t : "/tmp") + "/tov-hostile.XXXXXX";
    std::vector<char> b(tmpl.begin(), tmpl.end());
    b.push_back(0);
    if (mkdtemp(b.data()) == nullptr) exit(2);
    dir = b.data();
    chmod(dir.c_str(), 0755);
  }
  ~Scratch() {
    const std::string cmd = "chmod -R u+rwx '" + dir + "' && rm -rf '" + dir + "'";
    if (system(cmd.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir.c_str());
  }
  std::string Put(const std::string& name, const std::string& text) const {
    const std::string path = dir + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr || fwrite(text.data(), 1, text.size(), f) != text.size() || fclose(f) != 0) exit(2);
    return path;
  }
};

// ---- Cases -------------------------------------------------------------------

// 1 GiB of white space of every kind (all control bytes but 1AH, the blank,
// DEL and every byte above 7FH) through a pipe: the scanner holds nothing of
// it, so peak memory is that of a small input, and the end of input is
// reported where it lies.
void WhiteSpaceGiB() {
  constexpr size_t block = 1 << 16;
  std::string pattern;
  std::string kinds;
  for (int b = 0; b <= 0x20; ++b) {
    if (b != 0x1A && b != '\n') kinds += char(b);
  }
  for (int b = 0x7F; b <= 0xFF; ++b) kinds += char(b);
  for (size_t i = 0; i < block; ++i) pattern += (i % 4099 == 4098) ? '\n' : kinds[i % kinds.size()];

  // Where the end lies: after the last line feed, one line per line feed.
  uint64_t perBlock = 0, tail = 0;
  for (char ch : pattern) {
    if (ch == '\n') {
      ++perBlock;
      tail = 0;
    } else {
      ++tail;
    }
  }
  const auto streamed = [&](size_t blocks) {
    auto left = std::make_shared<size_t>(blocks);
    Spec sp;
    sp.args = {"-x"};
    sp.in = Spec::inFeed;
    sp.feed = [left, &pattern](std::string& chunk) {
      if (*left == 0) return false;
      --*left;
      chunk = pattern;
      return true;
    };
    const Result r = Run(sp);
    const std::string want = "Prsr (" + std::to_string(perBlock * blocks + 1) + "," +
                             std::to_string(tail + 1) + "): Expected \"BEGIN\".";
    const std::string what = "white space, " + std::to_string(blocks * block) + " bytes";
    ExpectError(what, r, want);
    return r.maxRssKb;
  };
  const long small = streamed(16);      // 1 MiB
  const long big = streamed(16 << 10);  // 1 GiB
  printf("peak memory: %ld KiB for 1 MiB of input, %ld KiB for 1 GiB\n", small, big);
  if (big > small + 8 * 1024 || big > 64 * 1024) {
    Fail("white space, 1 GiB", "peak memory grew by " + std::to_string(big - small) + " KiB");
  }
}

// One line of a million characters, and the columns beyond it.
void MillionCharLine() {
  Src ok;
  ok << "BEGIN WRITE 1;";
  ok.Rep(" ", 1000000);
  ok << "WRITE 2 END.";
  const Result r = RunStdin(ok.text);
  ExpectStatus("program on one long line", r, 0);
  ExpectOut("program on one long line", r,
            "   0: Val 1\r\n   5: Wrt\r\n   7: Val 2\r\n  12: Wrt\r\n  14: Hlt\r\n1\r\n2\r\n");
  ExpectErr("program on one long line", r, "");

  Src bad;
  bad << "BEGIN WRITE 1;";
  bad.Rep("\t", 1000000);
  bad << "WRITE ";
  const std::string at = bad.At();
  bad << "? END.";
  ExpectError("invalid character after a million tabs", RunStdin(bad.text),
              "Scnr " + at + ": Invalid character.");
}

// An identifier of a million letters is refused at its first letter, in any
// place a name can stand.
void MillionLetterIdentifier() {
  const std::string name(1000000, 'a');
  {
    Src s;
    s << "VAR\n  ";
    const std::string at = s.At();
    s << name << ": INTEGER;\nBEGIN END.";
    ExpectError("declared name", RunStdin(s.text), "Scnr " + at + ": Identifier too long.");
  }
  {
    Src s;
    s << "BEGIN WRITE 1 + ";
    const std::string at = s.At();
    s << "Z" << name << " END.";
    ExpectError("operand", RunStdin(s.text), "Scnr " + at + ": Identifier too long.");
  }
  {
    // a keyword followed by more letters is one word, too long as well
    Src s;
    const std::string at = s.At();
    s << "BEGIN" << name;
    ExpectError("keyword prefix", RunStdin(s.text), "Scnr " + at + ": Identifier too long.");
  }
}

// Numbers of 10,000 digits: too large at the first digit, unless all but the
// last few are leading zeros.
void TenThousandDigits() {
  {
    Src s;
    s << "BEGIN\n  WRITE ";
    const std::string at = s.At();
    s.Rep("9", 10000);
    s << "\nEND.";
    ExpectError("10,000 nines", RunStdin(s.text), "Scnr " + at + ": Number too large.");
  }
  {
    Src s;
    s << "CONST n = ";
    s.Rep("0", 9990);
    s << "2147483647; BEGIN WRITE n END.";
    const Result r = RunStdin(s.text);
    ExpectStatus("largest integer after 9,990 zeros", r, 0);
    ExpectOut("largest integer after 9,990 zeros", r,
              "   0: Val 2147483647\r\n   5: Wrt\r\n   7: Hlt\r\n2147483647\r\n");
    ExpectErr("largest integer after 9,990 zeros", r, "");
  }
  {
    // the scanner takes it; the parser refuses it as an integer
    Src s;
    s << "CONST n = ";
    const std::string at = s.At();
    s.Rep("0", 9990);
    s << "4294967295; BEGIN END.";
    ExpectError("scanner's largest number after 9,990 zeros", RunStdin(s.text),
                "Prsr " + at + ": Number too large.");
  }
  {
    Src s;
    s << "BEGIN WRITE ";
    const std::string at = s.At();
    s.Rep("0", 9990);
    s << "4294967296 END.";
    ExpectError("above the scanner's largest after 9,990 zeros", RunStdin(s.text),
                "Scnr " + at + ": Number too large.");
  }
}

// Nesting 100,000 deep. The bound is 1000 levels of factors and statement
// sequences together, the program body being level 1; the error stands at the
// token that would open level 1001, before anything of it is read.
constexpr size_t deep = 100000;
constexpr size_t maxLevel = 1000;

void NestedParentheses() {
  Src s;
  s << "BEGIN WRITE ";
  std::string at;
  for (size_t k = 1; k <= deep; ++k) {
    if (k + 1 == maxLevel + 1) at = s.At();  // the k-th factor is level k + 1
    s << "(";
  }
  s << "1";
  s.Rep(")", deep);
  s << " END.";
  ExpectError("parentheses", RunStdin(s.text), "Prsr " + at + ": Nesting too deep.");
}

void NestedNot() {
  Src s;
  s << "VAR b: BOOLEAN;\nBEGIN\n  b := ";
  std::string at;
  for (size_t k = 1; k <= deep; ++k) {
    if (k % 7 == 0) s << "\n";
    if (k + 1 == maxLevel + 1) at = s.At();
    s << "~";
  }
  s << "TRUE\nEND.";
  ExpectError("negations", RunStdin(s.text), "Prsr " + at + ": Nesting too deep.");
}

void NestedMixedFactors() {
  Src s;
  s << "VAR b: BOOLEAN; BEGIN b := ";
  std::string at;
  for (size_t k = 1; k <= deep; ++k) {
    if (k + 1 == maxLevel + 1) at = s.At();
    s << (k % 2 ? "~" : "(");
  }
  s << "TRUE";
  for (size_t k = deep; k >= 1; --k) {
    if (k % 2 == 0) s << ")";
  }
  s << " END.";
  ExpectError("negations and parentheses", RunStdin(s.text), "Prsr " + at + ": Nesting too deep.");
}

// Statements nested 100,000 deep, each opener on its own line. Constant
// conditions keep the code out of the store, so that only the nesting counts.
// The k-th opener stands in the statement sequence of level k; its condition
// and the sequence it opens are level k + 1. With first = 0 the 1000th opener
// is a REPEAT, refused at the first token of its body; with first = 1 it is an
// IF, refused at its condition.
void NestedStatements(size_t first) {
  struct {
    const char* head;  // up to the condition
    const char* cond;  // none for REPEAT
    const char* tail;  // after the condition
  } const openers[] = {{"REPEAT", "", ""},
                       {"IF ", "FALSE", " THEN ELSE"},
                       {"WHILE ", "TRUE", " DO"},
                       {"IF ", "TRUE", " THEN ELSIF FALSE THEN"},
                       {"IF ", "FALSE", " THEN"},
                       {"IF ", "TRUE", " THEN"}};
  constexpr size_t n = sizeof openers / sizeof openers[0];
  Src s;
  s << "BEGIN\n";
  std::string at;
  bool atNext = false;
  for (size_t k = 1; k <= deep; ++k) {
    const auto& o = openers[(k - maxLevel + first + n * maxLevel) % n];
    if (atNext) {
      at = s.At();
      atNext = false;
    }
    s << o.head;
    if (k == maxLevel && *o.cond != 0) at = s.At();
    s << o.cond << o.tail << "\n";
    if (k == maxLevel && *o.cond == 0) atNext = true;
  }
  s << "END.";
  ExpectError(std::string("statements, the 1000th opener ") + openers[first].head, RunStdin(s.text),
              "Prsr " + at + ": Nesting too deep.");
}

void NestedStatements() {
  NestedStatements(0);
  NestedStatements(1);
}

// The program store holds 1024 bytes. An assignment of a constant takes 10
// bytes, WRITE of a constant 7, the final halt 1.
std::string Program(size_t assignments, size_t writes) {
  std::string s = "VAR x: INTEGER;\nBEGIN\n";
  for (size_t i = 0; i < assignments; ++i) s += "  x := 1;\n";
  for (size_t i = 0; i < writes; ++i) s += "  WRITE 1;\n";
  return s + "END.\n";
}

void StoreOverflow() {
  {
    // 96 * 10 + 9 * 7 + 1 = 1024: fits exactly
    const Result r = RunStdin(Program(96, 9));
    ExpectStatus("exactly 1024 bytes", r, 0);
    ExpectErr("exactly 1024 bytes", r, "");
    const std::string tail = "1023: Hlt\r\n";
    const size_t hlt = r.out.find(tail);
    if (hlt == std::string::npos) Fail("exactly 1024 bytes", "no halt at 1023 in the listing");
    std::string written;
    for (int i = 0; i < 9; ++i) written += "1\r\n";
    if (r.out.size() < written.size() || r.out.substr(r.out.size() - written.size()) != written ||
        hlt + tail.size() + written.size() != r.out.size()) {
      Fail("exactly 1024 bytes", "the nine WRITEs did not write their lines after the listing");
    }
  }
  {
    // one WRITE more: its Val no longer fits; the trace shows it first
    const Result r = RunStdin(Program(96, 10));
    ExpectError("a command past byte 1024", r, "Comp: Program too large.");
    if (r.err.find("Gen.Dbg:   0 1023: Val 1\r\nComp: Program too large.\r\n") == std::string::npos) {
      Fail("a command past byte 1024", "the trace line of the command that did not fit is missing");
    }
  }
  {
    // 101 * 10 + 2 * 7 = 1024: the final halt does not fit
    const Result r = RunStdin(Program(101, 2));
    ExpectError("the halt past byte 1024", r, "Comp: Program too large.");
    if (r.err.find("Gen.Dbg:   0 1024: Hlt\r\nComp: Program too large.\r\n") == std::string::npos) {
      Fail("the halt past byte 1024", "the trace line of the halt is missing");
    }
  }
  {
    // code that can never run takes no room, however much of it there is
    std::string s = "VAR x: INTEGER;\nBEGIN\n  IF FALSE THEN\n";
    for (int i = 0; i < 1000; ++i) s += "    x := x + 1;\n";
    s += "  END;\n  WRITE 7\nEND.\n";
    const Result r = RunStdin(s);
    ExpectStatus("10 KB of dead code", r, 0);
    ExpectOut("10 KB of dead code", r, "   0: Val 7\r\n   5: Wrt\r\n   7: Hlt\r\n7\r\n");
    ExpectErr("10 KB of dead code", r, "");
  }
}

// A directory as standard input cannot be read.
void DirectoryStdin() {
  Scratch tmp;
  Spec sp;
  sp.args = {"-x"};
  sp.in = Spec::inPath;
  sp.inFile = tmp.dir;
  ExpectError("directory as standard input", Run(sp), "Scnr (0,0): Read error.");
}

// Files that exist but cannot be read. Permission bits do not stop root, so
// tov runs as an unprivileged user here.
void UnreadableFiles() {
  Scratch tmp;
  tmp.Put("locked.tov", "BEGIN WRITE 1 END.");
  chmod((tmp.dir + "/locked.tov").c_str(), 0);
  mkdir((tmp.dir + "/shut").c_str(), 0755);
  tmp.Put("shut/inside.tov", "BEGIN WRITE 1 END.");
  chmod((tmp.dir + "/shut").c_str(), 0);
  {
    // a socket exists but cannot be opened as a file
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    const std::string path = tmp.dir + "/socket.tov";
    if (s < 0 || path.size() >= sizeof a.sun_path) exit(2);
    memcpy(a.sun_path, path.c_str(), path.size());
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) exit(2);
    close(s);
  }
  Spec sp;
  sp.cwd = tmp.dir;
  sp.nobody = true;
  for (const char* name : {"locked.tov", "shut/inside.tov", "socket.tov"}) {
    sp.args = {"-x", name};
    const Result r = Run(sp);
    if (r.status == 127 || r.status == 126) {
      printf("cannot run tov as an unprivileged user here\n");
      exit(skip);
    }
    ExpectError(name, r, std::string("tov: Cannot open file: '") + name + "'");
  }
}

// Standard output that cannot be written: status 9 and the report on standard
// error, whether the failure shows at the switch to the execution trace or at
// the final flush; a program that writes for ever stops at its first line.
void StdoutBroken() {
  Scratch tmp;
  tmp.Put("p.tov", "BEGIN WRITE 1 END.");
  tmp.Put("loop.tov", "VAR i: INTEGER; BEGIN WHILE TRUE DO WRITE i; i := i + 1 END END.");
  Spec sp;
  sp.cwd = tmp.dir;
  const struct {
    const char* what;
    decltype(sp.out) out;
  } sinks[] = {{"standard output /dev/full", Spec::outFull},
               {"standard output a closed pipe", Spec::outBrokenPipe},
               {"standard output closed", Spec::outClosed}};
  for (const auto& k : sinks) {
    sp.out = k.out;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-x", "p.tov"}, {"p.tov"}, {"-x", "loop.tov"}}) {
      sp.args = args;
      const Result r = Run(sp);
      std::string what = k.what;
      for (const std::string& a : args) what += " " + a;
      ExpectStatus(what, r, 9);
      ExpectErr(what, r, "tov: Write error.");
    }
  }
}

// Standard error that cannot be written: no report is possible, but the run
// still fails with status 9 instead of passing for a success.
void StderrBroken() {
  Spec sp;
  sp.args = {"-x"};
  sp.in = Spec::inFeed;
  for (auto err : {Spec::errFull, Spec::errClosed}) {
    sp.err = err;
    sp.feed = Text("BEGIN WRITE 1 END.");
    const Result r = Run(sp);
    ExpectStatus(err == Spec::errFull ? "standard error /dev/full" : "standard error closed", r, 9);
  }
}

// tov -x with standard input closed, open for writing only, or a socket that
// only listens: a read error, not an empty program, and at once, even when
// the descriptor is one that will never become readable (a pipe's write end,
// a listening socket).
void StdinUnreadable() {
  Spec sp;
  sp.limit = 10;
  const struct {
    const char* what;
    decltype(sp.in) in;
  } inputs[] = {{"standard input closed", Spec::inClosed},
                {"standard input /dev/null for writing", Spec::inWriteOnly},
                {"standard input the write end of a pipe", Spec::inWriteEnd},
                {"standard input a listening socket", Spec::inListening}};
  for (const auto& k : inputs) {
    sp.in = k.in;
    for (const std::vector<std::string>& args : {std::vector<std::string>{"-x"}, {"-x", "-"}}) {
      sp.args = args;
      ExpectError(std::string(k.what) + (args.size() > 1 ? ", named as -" : ""), Run(sp),
                  "Scnr (0,0): Read error.");
    }
  }
}

// Comments nested 100,000 deep are counted, not recursed into.
void DeepComments() {
  Src s;
  s.Rep("(*", deep);
  s << "\n";
  s.Rep("*)", deep);
  s << "\nBEGIN WRITE 3 END.";
  const Result r = RunStdin(s.text);
  ExpectStatus("comments nested 100,000 deep", r, 0);
  ExpectOut("comments nested 100,000 deep", r, "   0: Val 3\r\n   5: Wrt\r\n   7: Hlt\r\n3\r\n");

  Src u;
  u << "BEGIN\n  ";
  const std::string at = u.At();
  u.Rep("(*", deep);
  u.Rep("*)", deep - 1);
  ExpectError("one of 100,000 nested comments left open", RunStdin(u.text),
              "Scnr " + at + ": Unterminated comment (start pos).");
}

// Long chains that do not nest: 100,000 ELSIF parts, empty statements, terms
// of a folded sum and operands of "&" and "|" take constant room.
void LongChains() {
  const auto expect = [](const std::string& what, const Src& s, const std::string& out) {
    const Result r = RunStdin(s.text);
    ExpectStatus(what, r, 0);
    ExpectOut(what, r, out);
    ExpectErr(what, r, "");
  };
  Src elsif;
  elsif << "BEGIN IF FALSE THEN WRITE 0\n";
  elsif.Rep("ELSIF FALSE THEN WRITE 0\n", deep);
  elsif << "ELSE WRITE 1 END END.";
  expect("100,000 ELSIF parts", elsif, "   0: Val 1\r\n   5: Wrt\r\n   7: Hlt\r\n1\r\n");
  Src semi;
  semi << "BEGIN";
  semi.Rep(";", deep);
  semi << "WRITE 2 END.";
  expect("100,000 empty statements", semi, "   0: Val 2\r\n   5: Wrt\r\n   7: Hlt\r\n2\r\n");
  Src sum;
  sum << "BEGIN WRITE 0";
  sum.Rep(" + 1", deep);
  sum << " END.";
  expect("a sum of 100,000 terms", sum, "   0: Val 100000\r\n   5: Wrt\r\n   7: Hlt\r\n100000\r\n");
  Src andOr;
  andOr << "VAR b: BOOLEAN; BEGIN b := FALSE";
  andOr.Rep(" & b", deep);
  andOr << " | TRUE";
  andOr.Rep(" | b", deep);
  andOr << "; WRITE b END.";
  expect("100,000 operands of & and of |", andOr,
         "   0: Val 1\r\n   5: Sto 0\r\n  10: Lod 0\r\n  15: Val 0\r\n  20: Neq\r\n  22: WrC\r\n"
         "  24: Hlt\r\nTRUE \r\n");
}

struct Case {
  const char* name;
  void (*run)();
};

const Case cases[] = {
    {"white_space_1gib_stdin", WhiteSpaceGiB},
    {"million_char_line", MillionCharLine},
    {"million_letter_identifier", MillionLetterIdentifier},
    {"ten_thousand_digits", TenThousandDigits},
    {"parentheses_100000_deep", NestedParentheses},
    {"not_100000_deep", NestedNot},
    {"factors_100000_deep", NestedMixedFactors},
    {"statements_100000_deep", NestedStatements},
    {"comments_100000_deep", DeepComments},
    {"long_chains", LongChains},
    {"store_overflow", StoreOverflow},
    {"directory_stdin", DirectoryStdin},
    {"unreadable_files", UnreadableFiles},
    {"stdout_broken", StdoutBroken},
    {"stderr_broken", StderrBroken},
    {"stdin_unreadable", StdinUnreadable},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: hostile TOV CASE\n");
    return 2;
  }
  tov = argv[1];
  signal(SIGPIPE, SIG_IGN);
  for (const Case& c : cases) {
    if (strcmp(c.name, argv[2]) == 0) {
      c.run();
      return failed ? 1 : 0;
    }
  }
  fprintf(stderr, "hostile: no case %s\n", argv[2]);
  return 2;
}
