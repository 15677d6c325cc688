#include "runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

extern char** environ;

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

// Descriptors 0 to 2 are taken, so that none of ours can be one of them.
[[maybe_unused]] const bool stdioTaken = [] {
  for (int k = 0; k < 3; ++k)
    if (fcntl(k, F_GETFD) < 0) open("/dev/null", O_RDWR);
  return true;
}();

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
  if (o.out == Out::Broken) close(out[0]);  // nobody reads: every write fails
  // Spawned rather than forked: starting a process is most of a case's cost.
  posix_spawn_file_actions_t acts;
  posix_spawn_file_actions_init(&acts);
  for (int k = 0; k < 3; ++k)  // ours are all above 2, so no dup2 undoes another
    want[k] >= 0 ? posix_spawn_file_actions_adddup2(&acts, want[k], k)
                 : posix_spawn_file_actions_addclose(&acts, k);
  if (!o.cwd.empty()) posix_spawn_file_actions_addchdir_np(&acts, o.cwd.c_str());
  // tov's own choices are tested, not what the test runner left us
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t all, none;
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  std::vector<std::string> args = o.args;
  std::string exe = std::filesystem::absolute(tov);  // found from any working directory
  if (o.nobody && geteuid() == 0) {
    args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", exe});
    exe = "/usr/bin/setpriv";
  }
  // TOV_EMULATOR (such as wine) runs a program built for another system
  if (const char* emu = getenv("TOV_EMULATOR"); emu != nullptr && *emu != 0) {
    args.insert(args.begin(), exe);
    exe = emu;
  }
  std::vector<char*> av{exe.data()};
  for (std::string& a : args)
    av.push_back(a.data());
  av.push_back(nullptr);
  if (posix_spawnp(&pid, exe.c_str(), &acts, &attr, av.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&acts);
  posix_spawnattr_destroy(&attr);
  if (pid < 0) r.status = 127;
  exited = pid > 0 ? int(syscall(SYS_pidfd_open, pid, 0)) : -1;
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
  if (exited >= 0) close(exited);
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

// Linux: /proc/PID/status. First until tov catches SIGINT (its guard is
// up), then until its state is 'S'; returns at once once tov has ended.
void Child::AwaitSleep() {
  const std::string status = "/proc/" + std::to_string(pid) + "/status";
  for (bool guarded = false; !Late(); usleep(1000)) {
    std::ifstream st(status);
    std::string line, state;
    unsigned long long caught = 0;
    while (std::getline(st, line)) {
      if (line.starts_with("State:")) state = line.substr(line.find_first_not_of(" \t", 6), 1);
      if (line.starts_with("SigCgt:")) caught = std::stoull(line.substr(7), nullptr, 16);
    }
    guarded = guarded || (caught >> (SIGINT - 1) & 1) != 0;
    if (state.empty() || state == "Z" || (guarded && state == "S")) return;
  }
}

Result Child::Finish() {
  held[1] = held[2] = false;
  Pump();
  int st = 0;
  while (pid > 0 && waitpid(pid, &st, WNOHANG) == 0) {
    // woken when tov ends; without a pidfd, every millisecond
    pollfd p = {exited, POLLIN, 0};
    if (Late() || exited < 0 || poll(&p, 1, 50) < 0) usleep(1000);
  }
  if (pid > 0) r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  pid = -1;
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
