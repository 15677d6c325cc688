#include "Fio.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "FioText.h"

namespace Fio {

TFile stdIn = 0;
const uint8_t* inCur = nullptr;
const uint8_t* inEnd = nullptr;

namespace {

bool inKnown = false;       // inWait has been decided for the source
bool inWait = false;        // the source may block (pipe, terminal): wait with poll

const int fds[2] = {1, 2};  // the streams' files

volatile sig_atomic_t pending = 0;  // posted event + 1; 0 when none
int wakeRd = -1;
int wakeWr = -1;
void (*watcher)(uint32_t) = nullptr;
bool delivering = false;

void Drain() {
  char tmp[64];
  while (read(wakeRd, tmp, sizeof tmp) > 0) {
  }
}

// Hands a posted event to the watcher; runs only between lines.
void Deliver() {
  if (delivering || pending == 0) return;
  const uint32_t ev = uint32_t(pending - 1);
  pending = 0;
  if (wakeRd >= 0) Drain();
  if (watcher != nullptr) {
    delivering = true;
    watcher(ev);
    delivering = false;
  }
}

void WriteRaw(int fd, const char* p, size_t n) {
  while (n > 0) {
    const ssize_t k = write(fd, p, n);
    if (k > 0) {
      p += k;
      n -= size_t(k);
    } else if (k < 0 && errno == EINTR) {
      continue;
    } else {
      return;
    }
  }
}

// A stream could not be written: the run fails. Standard error still gets
// the report when only standard output broke.
[[noreturn]] void Failed(TStream s) {
  if (s == stdOut) {
    static const char msg[] = "tov: Write error.\r\n";
    WriteRaw(fds[stdErr], msg, sizeof msg - 1);
  }
  _exit(9);
}

void FlushBuf(TStream s) {
  TBuf& b = bufs[s];
  uint32_t off = 0;
  while (off < b.used) {
    const ssize_t n = write(fds[s], b.data + off, b.used - off);
    if (n > 0) {
      off += uint32_t(n);
    } else if (n < 0 && errno == EINTR) {
      if (pending != 0 && !delivering) {
        // keep what is still unwritten in front, so that the event's own
        // output comes after it
        memmove(b.data, b.data + off, b.used - off);
        b.used -= off;
        off = 0;
        Deliver();
      }
    } else {
      Failed(s);
    }
  }
  b.used = 0;
}

// Whether a read of f may wait for input (a pipe, a terminal, a connected
// socket), so that the wait must also watch for events. Where a read fails
// at once (a pipe's write end, a listening socket, a closed descriptor),
// waiting for input would never end.
bool MayBlock(int f) {
  struct stat st;
  if (fstat(f, &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) return false;
  const int fl = fcntl(f, F_GETFL);
  if (fl == -1 || (fl & O_ACCMODE) == O_WRONLY) return false;
  if (S_ISSOCK(st.st_mode)) {
    int listening = 0;
    socklen_t n = sizeof listening;
    if (getsockopt(f, SOL_SOCKET, SO_ACCEPTCONN, &listening, &n) == 0 && listening != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

TOpen Open(const char* name, TFile& f) {
  struct stat st;
  if (stat(name, &st) != 0) return errno == EACCES ? opUnreadable : opMissing;
  if (S_ISDIR(st.st_mode)) return opUnreadable;
  for (;;) {
    const int fd = open(name, O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
      f = fd;
      return opOk;
    }
    if (errno != EINTR) return opUnreadable;
    Deliver();  // opening a pipe waits for its writer
  }
}

int Refill(TFile f) {
  if (!inKnown) {
    inWait = MayBlock(f);
    inKnown = true;
  }
  for (;;) {
    Deliver();
    if (inWait && wakeRd >= 0) {
      // wait for input or for an event, whichever comes first
      pollfd p[2] = {{f, POLLIN, 0}, {wakeRd, POLLIN, 0}};
      if (poll(p, 2, -1) < 0) continue;
      if (p[1].revents != 0 && p[0].revents == 0) {
        if (pending == 0) Drain();
        continue;
      }
    }
    const ssize_t n = read(f, inBuf, inSize);
    if (n > 0) return Filled(uint32_t(n));
    if (n == 0) return eof;
    if (errno != EINTR) return err;
  }
}

char* Begin(TStream s) { return Room(s); }

void End(TStream s, char* p) {
  Close(s, p);
  if (pending != 0) Deliver();
}

void Flush() { FlushBuf(cur); }

#if defined(TOV_FUZZ)
void (*exitHook)(int status) = nullptr;
#endif

void Exit(int status) {
  Deliver();
  FlushBuf(cur);
#if defined(TOV_FUZZ)
  if (exitHook != nullptr) exitHook(status);
#endif
  _exit(status);
}

void Post(uint32_t ev) {
  const int saved = errno;
  pending = sig_atomic_t(ev + 1);
  if (wakeWr >= 0) {
    const char b = 1;
    (void)!write(wakeWr, &b, 1);
  }
  errno = saved;
}

bool Watch(void (*deliver)(uint32_t ev)) {
  int fds[2];
  if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return false;
  wakeRd = fds[0];
  wakeWr = fds[1];
  watcher = deliver;
  return true;
}

void CommandLine(int&, char**&) {}

void Init() {
  // A closed standard stream is taken by /dev/null opened the wrong way round,
  // so that using it fails as a closed stream would, and no file opened later
  // can take its number and receive the listing by mistake.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      if (open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY) != fd) _exit(9);
    }
  }
  // A closed pipe is a write error that is reported, not a silent death.
  signal(SIGPIPE, SIG_IGN);
  Reset();
  stdIn = 0;
  inCur = inEnd = nullptr;
  inKnown = false;
}

}  // namespace Fio
