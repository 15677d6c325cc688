// A Windows helper for the tests under Wine (tests/windows/wine.cpp).
//
//   tov_ctrl event N   tov's modules and console guard, then the console
//                      control event N, delivered by the system's own routine
//                      on a thread of its own, while the main thread writes
//                      lines; "passed on" when the guard passed N on
//   tov_ctrl hold FILE opens FILE without sharing, writes "held" and keeps it
//                      so until standard input ends
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ConSigs.h"
#include "Fio.h"
#include "Start.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

volatile LONG passedOn = 0;

// Installed before the guard, so the system calls it after the guard: it sees
// only what the guard passed on, and claims it, so that no default action
// ends the process.
BOOL WINAPI Next(DWORD) {
  InterlockedExchange(&passedOn, 1);
  return TRUE;
}

int Event(DWORD ev) {
  SetConsoleCtrlHandler(Next, TRUE);
  Start::Modules();
  ConSigs::Init();
  const auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CtrlRoutine")));
  if (routine == nullptr) {
    Fio::Line(Fio::stdErr, "no CtrlRoutine in kernel32");
    Fio::Exit(2);
  }
  Fio::Line(Fio::stdOut, "before");
  if (CreateThread(nullptr, 0, routine, reinterpret_cast<void*>(uintptr_t(ev)), 0, nullptr) ==
      nullptr)
    Fio::Exit(2);
  // Lines go on until the guard stops the run, or for 10 seconds.
  for (int i = 0; i < 10000 && InterlockedCompareExchange(&passedOn, 0, 0) == 0; ++i) {
    Fio::Line(Fio::stdOut, "line");
    Sleep(1);
  }
  Fio::Line(Fio::stdOut, InterlockedCompareExchange(&passedOn, 0, 0) ? "passed on" : "nothing");
  Fio::Exit(0);
}

int Hold(const char* name) {
  wchar_t w[1024];
  MultiByteToWideChar(CP_UTF8, 0, name, -1, w, 1024);
  const HANDLE h = CreateFileW(w, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 2;
  DWORD n = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "held\r\n", 6, &n, nullptr);
  char b[64];
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), b, sizeof b, &n, nullptr) && n > 0) {
  }
  CloseHandle(h);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "event") == 0)
    return Event(DWORD(strtoul(argv[2], nullptr, 10)));
  if (argc == 3 && strcmp(argv[1], "hold") == 0) return Hold(argv[2]);
  return 2;
}
