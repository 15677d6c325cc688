#include "ConSigs.h"

#include <csignal>

#include "Fio.h"

namespace ConSigs {

namespace {

// Stops the program for every event up to 6 but the logoff; any other event
// is passed on (false).
bool Handler(CTRL_TYPE ct) {
  if (ct <= CTRL_SHUTDOWN_EVENT && ct != CTRL_LOGOFF_EVENT) {
    Fio::Line(Fio::stdOut, "ConSigs: Signal received, terminating.");
    Fio::Exit(9);
  }
  return false;
}

void Deliver(uint32_t ev) { (void)Handler(CTRL_TYPE(ev)); }

// The system's signals in the console's terms.
struct TMap {
  int sig;
  CTRL_TYPE ct;
};
const TMap map[] = {{SIGINT, CTRL_C_EVENT},
                    {SIGQUIT, CTRL_BREAK_EVENT},
                    {SIGHUP, CTRL_CLOSE_EVENT},
                    {SIGTERM, CTRL_SHUTDOWN_EVENT}};

// Runs as a signal handler: it only posts the event (async-signal-safe); the
// main thread acts on it between two lines.
void OnSignal(int sig) {
  for (const TMap& m : map) {
    if (m.sig == sig) Fio::Post(m.ct);
  }
}

bool Install() {
  if (!Fio::Watch(Deliver)) return false;
  struct sigaction sa = {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  for (const TMap& m : map)
    sigaddset(&sa.sa_mask, m.sig);
  sa.sa_flags = 0;  // no restart: a waiting read or write returns to look at the event
  for (const TMap& m : map) {
    if (sigaction(m.sig, &sa, nullptr) != 0) return false;
  }
  return true;
}

}  // namespace

void Init() {
  if (!Install()) {
    Fio::Line(Fio::stdOut, "ConSigs: Installation failed.");
    Fio::Exit(9);
  }
}

}  // namespace ConSigs
