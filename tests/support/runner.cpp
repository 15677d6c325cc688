#include "runner.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace run {

std::string tov;

namespace {

int Open(const char* path, int flags) { return open(path, flags | O_CLOEXEC); }

// A socket that listens and is never connected to: reading it never succeeds.
int Listening() {
  const sockaddr_un a{AF_UNIX, {}};  // an abstract name of the system's choosing
  const int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof(sa_family_t));
  listen(s, 1);
  return s;
}

}  // namespace

Child::Child(const Opts& o)
    : input(o.input), deadline(Clock::now() + std::chrono::seconds(o.seconds)) {
  signal(SIGPIPE, SIG_IGN);  // a reader that goes away is a result, not our end
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
  if (o.in == In::Bytes || o.in == In::Open || o.in == In::WriteEnd) pipe2(in, O_CLOEXEC);
  if (o.out == Out::Pipe || o.out == Out::Broken) pipe2(out, O_CLOEXEC);
  if (o.err == Out::Pipe) pipe2(err, O_CLOEXEC);
  int want[3] = {o.in == In::Null        ? Open("/dev/null", O_RDONLY)
                 : o.in == In::WriteEnd  ? in[1]
                 : o.in == In::Listening ? Listening()
                                         : in[0]};
  for (int k = 1; k <= 2; ++k) {
    const Out x = k == 1 ? o.out : o.err;
    want[k] = x == Out::Merged ? fcntl(want[1], F_DUPFD_CLOEXEC, 3)
              : x == Out::Null ? Open("/dev/null", O_WRONLY)
              : x == Out::Full ? Open("/dev/full", O_WRONLY)
                               : (k == 1 ? out : err)[1];
  }
  if (o.out == Out::Broken) close(out[0]);           // nobody reads: every write fails
  std::string exe = std::filesystem::absolute(tov);  // found from any working directory
  std::vector<std::string> args = o.args;
  pid = fork();
  if (pid == 0) {
    // Out of the way of 0 to 2 first, so that one dup2 never overwrites
    // another; tov gets the three and nothing more.
    for (int& w : want)
      w = w >= 0 ? fcntl(w, F_DUPFD_CLOEXEC, 10) : -1;
    for (int k = 0; k < 3; ++k)
      want[k] >= 0 ? dup2(want[k], k) : close(k);
    // tov's own choices are tested, not what the test runner left us
    for (int s = 1; s < NSIG; ++s)
      signal(s, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (!o.cwd.empty() && chdir(o.cwd.c_str()) != 0) _exit(126);
    if (o.nobody && geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
      _exit(126);
    // TOV_EMULATOR (such as wine) runs a program built for another system
    std::vector<char*> av{getenv("TOV_EMULATOR"), exe.data()};
    if (av[0] == nullptr || *av[0] == 0) av.erase(av.begin());
    for (std::string& a : args)
      av.push_back(a.data());
    av.push_back(nullptr);
    execvp(av[0], av.data());
    _exit(127);
  }
  for (int w : want)
    if (w >= 0) close(w);
  // Open: the input is there before tov looks (it must fit the pipe), and
  // the pipe stays open and unwritten after it.
  if (o.in == In::Open && write(in[1], input.data(), input.size()) != ssize_t(input.size()))
    abort();
  heldOpen = o.in == In::Open ? in[1] : o.in == In::WriteEnd ? in[0] : -1;
  fd[0] = o.in == In::Bytes ? in[1] : -1;
  if (fd[0] >= 0) fcntl(fd[0], F_SETFL, O_NONBLOCK);
  fd[1] = o.out == Out::Pipe ? out[0] : -1;
  fd[2] = err[0];
}

Child::~Child() {
  if (pid > 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  for (int f : fd)
    if (f >= 0) close(f);
  if (heldOpen >= 0) close(heldOpen);
}

bool Child::Late() {
  if (Clock::now() < deadline) return false;
  if (!r.timedOut && pid > 0) kill(pid, SIGKILL);
  r.timedOut = true;
  return true;
}

void Child::Pump(const std::function<bool()>& done) {
  static char buf[1 << 16];
  while (!(done && done()) && !Late()) {
    pollfd p[3];
    int n = 0;
    for (int k = 0; k < 3; ++k)
      if (fd[k] >= 0 && !held[k]) p[n++] = {fd[k], short(k == 0 ? POLLOUT : POLLIN), 0};
    if (n == 0) return;
    if (poll(p, nfds_t(n), 50) <= 0) continue;
    for (int i = 0; i < n; ++i) {
      if (p[i].revents == 0) continue;
      const int k = p[i].fd == fd[0] ? 0 : p[i].fd == fd[1] ? 1 : 2;
      std::string& to = k == 1 ? r.out : r.err;
      const ssize_t got = k == 0 ? write(fd[0], input.data() + off, input.size() - off)
                                 : read(fd[k], buf, sizeof buf);
      if (got > 0 && k == 0) off += size_t(got);
      if (got > 0 && k > 0 && to.size() < (64u << 20)) to.append(buf, size_t(got));
      // the end of input, of an output, or tov stopped reading
      if ((k == 0 ? off == input.size() : got == 0) ||
          (got < 0 && errno != EAGAIN && errno != EINTR)) {
        close(fd[k]);
        fd[k] = -1;
      }
    }
  }
}

void Child::ReadSome(int k, size_t n) {
  std::string buf(n, '\0');
  pollfd p = {fd[k], POLLIN, 0};
  while (!Late() && poll(&p, 1, 50) == 0) {
  }
  const ssize_t got = p.revents != 0 ? read(fd[k], buf.data(), n) : 0;
  if (got > 0) (k == 1 ? r.out : r.err).append(buf, 0, size_t(got));
}

// Linux: state 'S' in /proc/PID/stat. The first pause gives tov time to set
// up its handlers; returns at once once tov has ended.
void Child::AwaitSleep() {
  usleep(50 * 1000);
  while (!Late()) {
    std::ifstream st("/proc/" + std::to_string(pid) + "/stat");
    std::string s;
    std::getline(st, s);
    const size_t rp = s.rfind(')');
    if (rp == s.npos || rp + 2 >= s.size() || s[rp + 2] == 'S' || s[rp + 2] == 'Z') return;
    usleep(2000);
  }
}

Result Child::Finish() {
  held[1] = held[2] = false;
  Pump();
  int st = 0;
  while (waitpid(pid, &st, WNOHANG) == 0) {
    Late();
    usleep(1000);
  }
  pid = -1;
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

Result Run(const Opts& o) { return Child(o).Finish(); }

std::string Show(const std::string& s, size_t max) {
  std::string t;
  for (unsigned char c : s.substr(0, max)) {
    char e[8];
    snprintf(e, sizeof e, c >= 0x20 && c < 0x7f ? "%c" : "\\x%02X", c);
    t += c == '\r' ? "\\r" : c == '\n' ? "\\n" : e;
  }
  return s.size() > max ? t + "..." : t;
}

}  // namespace run
