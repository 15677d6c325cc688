// Runs one end-to-end case of tov and compares standard output, standard
// error and the exit status with the case's expectations, byte for byte.
//
//   e2e_run TOV DIR NAME
//
// In DIR: NAME.tov (source), NAME.args (one argument a line, "{src}" stands for
// NAME.tov, "{none}" alone for no arguments; default "-x" and NAME.tov),
// NAME.stdin (default: empty), NAME.out, NAME.err (default: empty),
// NAME.status (default: 0). The program runs with DIR as working directory.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/show.h"

namespace {

bool ReadFile(const std::string& name, std::string& data) {
  std::ifstream f(name, std::ios::binary);
  if (!f) return false;
  std::ostringstream s;
  s << f.rdbuf();
  data = s.str();
  return true;
}

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> v;
  size_t b = 0;
  while (b < s.size()) {
    size_t e = s.find('\n', b);
    if (e == std::string::npos) e = s.size() - 1;
    v.push_back(s.substr(b, e - b + 1));
    b = e + 1;
  }
  return v;
}

bool Compare(const char* what, const std::string& want, const std::string& got) {
  if (want == got) return true;
  const std::vector<std::string> w = Lines(want), g = Lines(got);
  size_t i = 0;
  while (i < w.size() && i < g.size() && w[i] == g[i]) ++i;
  printf("%s differs at line %zu (expected %zu lines, got %zu)\n", what, i + 1, w.size(), g.size());
  printf("  expected: %s\n", i < w.size() ? Show(w[i]).c_str() : "(end)");
  printf("  got:      %s\n", i < g.size() ? Show(g[i]).c_str() : "(end)");
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: e2e_run TOV DIR NAME\n");
    return 2;
  }
  const std::string tov = argv[1], name = argv[3];
  if (chdir(argv[2]) != 0) {
    perror(argv[2]);
    return 2;
  }
  std::vector<std::string> args;
  std::string text;
  if (ReadFile(name + ".args", text)) {
    for (std::string& l : Lines(text)) {
      while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
      if (l == "{none}") continue;
      for (size_t p; (p = l.find("{src}")) != std::string::npos;) l.replace(p, 5, name + ".tov");
      args.push_back(l);
    }
  } else {
    args = {"-x", name + ".tov"};
  }
  std::string wantOut, wantErr, statusText = "0";
  ReadFile(name + ".out", wantOut);
  ReadFile(name + ".err", wantErr);
  ReadFile(name + ".status", statusText);
  const int wantStatus = std::stoi(statusText);

  std::string inName = name + ".stdin";
  if (access(inName.c_str(), R_OK) != 0) inName = "/dev/null";

  int po[2], pe[2];
  if (pipe(po) != 0 || pipe(pe) != 0) return 2;
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open(inName.c_str(), O_RDONLY);
    dup2(in, 0);
    dup2(po[1], 1);
    dup2(pe[1], 2);
    close(po[0]);
    close(pe[0]);
    std::vector<char*> av;
    av.push_back(const_cast<char*>(tov.c_str()));
    for (std::string& a : args) av.push_back(a.data());
    av.push_back(nullptr);
    execv(tov.c_str(), av.data());
    _exit(127);
  }
  close(po[1]);
  close(pe[1]);
  std::string gotOut, gotErr;
  pollfd p[2] = {{po[0], POLLIN, 0}, {pe[0], POLLIN, 0}};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(240);
  int open = 2;
  while (open > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      kill(pid, SIGKILL);
      printf("timed out\n");
      return 1;
    }
    if (poll(p, 2, int(left)) < 0) continue;
    for (int k = 0; k < 2; ++k) {
      if (p[k].fd < 0 || p[k].revents == 0) continue;
      char buf[65536];
      const ssize_t n = read(p[k].fd, buf, sizeof buf);
      if (n > 0) {
        (k == 0 ? gotOut : gotErr).append(buf, size_t(n));
      } else {
        close(p[k].fd);
        p[k].fd = -1;
        --open;
      }
    }
  }
  int st = 0;
  waitpid(pid, &st, 0);
  const int gotStatus = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);

  bool ok = Compare("stdout", wantOut, gotOut);
  ok = Compare("stderr", wantErr, gotErr) && ok;
  if (gotStatus != wantStatus) {
    printf("status: expected %d, got %d\n", wantStatus, gotStatus);
    ok = false;
  }
  return ok ? 0 : 1;
}
