// ConSigs on Windows: the console's own control handler, installed with
// SetConsoleCtrlHandler, decides on each CTRL_TYPE as the POSIX file does.
// ConSigs.h names the CTRL_TYPE values that windows.h defines as macros of
// the same values, so it comes first.
#include "ConSigs.h"
#include "Fio.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace ConSigs {

namespace {

// Every event up to 6 but the logoff stops the program.
bool Stops(DWORD ct) { return ct <= CTRL_SHUTDOWN_EVENT && ct != CTRL_LOGOFF_EVENT; }

// On the main thread, at a line end or while it waits for input.
void Deliver(uint32_t) {
  Fio::Line(Fio::stdOut, "ConSigs: Signal received, terminating.");
  Fio::Exit(9);
}

// Runs on the system's thread. A stopping event is handed to the main thread,
// which writes the line, flushes and ends the process; this thread never
// returns, so the system takes no action of its own meanwhile. Any other
// event goes on to the next handler (FALSE).
BOOL WINAPI Handler(DWORD ct) {
  if (!Stops(ct)) return FALSE;
  Fio::Post(ct);
  for (;;)
    Sleep(INFINITE);
}

}  // namespace

void Init() {
  if (!Fio::Watch(Deliver) || !SetConsoleCtrlHandler(Handler, TRUE)) {
    Fio::Line(Fio::stdOut, "ConSigs: Installation failed.");
    Fio::Exit(9);
  }
}

}  // namespace ConSigs
