// Fio on Windows: the same guarantees as the POSIX file (Fio.cpp) through
// Win32 alone. Standard handles are written with WriteFile, so no C runtime
// text mode turns CR LF into CR CR LF; file names travel as UTF-8 inside and
// as UTF-16 to the system, so that every name Windows gives opens.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <atomic>

#include "Fio.h"
#include "FioText.h"

namespace Fio {

TFile stdIn = 0;
const uint8_t* inCur = nullptr;
const uint8_t* inEnd = nullptr;

namespace {

// An input is a small number, as on POSIX: 0 is standard input, 3 the one
// file a run opens.
constexpr TFile fileNo = 3;
HANDLE inHandle[fileNo + 1];

bool inKnown = false;       // inWait has been decided for the source
bool inWait = false;        // the source may block (pipe, console): read on the reader thread
bool inConsole = false;     // the source is a console window's keyboard

HANDLE handles[2];  // the streams' files

// The console's handler runs on a thread of the system's: it posts the event
// here and the main thread takes it between two lines or while it waits for
// input, so no line is ever torn and the output so far is flushed.
std::atomic<uint32_t> pending{0};  // posted event + 1; 0 when none
HANDLE wake = nullptr;             // set while an event is pending
void (*watcher)(uint32_t) = nullptr;
bool delivering = false;

// A read from a pipe or the console may wait for ever, and Windows cannot
// always cut it short from another thread (a pipe under Wine cannot be), so
// such reads run on a thread of their own while the main thread waits for
// the read or an event, whichever comes first.
HANDLE readAsk = nullptr;
HANDLE readDone = nullptr;
HANDLE readFrom = nullptr;
DWORD readGot = 0;
DWORD readErr = 0;  // the reader's own last error; 0 when the read succeeded

void Deliver() {
  if (delivering || pending.load() == 0) return;
  const uint32_t ev = pending.exchange(0) - 1;
  ResetEvent(wake);
  if (watcher != nullptr) {
    delivering = true;
    watcher(ev);
    delivering = false;
  }
}

// Ends the process at once, as _exit does: every byte has been written
// already, and no library's clean-up has to wait for another thread (the
// console's may be in the middle of its own).
[[noreturn]] void Quit(UINT status) {
  TerminateProcess(GetCurrentProcess(), status);
  ExitProcess(status);  // not reached
}

void WriteRaw(HANDLE h, const char* p, DWORD n) {
  DWORD done = 0;
  while (n > 0 && WriteFile(h, p, n, &done, nullptr) && done > 0) {
    p += done;
    n -= done;
  }
}

[[noreturn]] void Failed(TStream s) {
  if (s == stdOut) {
    static const char msg[] = "tov: Write error.\r\n";
    WriteRaw(handles[stdErr], msg, sizeof msg - 1);
  }
  Quit(9);
}

void FlushBuf(TStream s) {
  TBuf& b = bufs[s];
  uint32_t off = 0;
  while (off < b.used) {
    DWORD n = 0;
    if (!WriteFile(handles[s], b.data + off, b.used - off, &n, nullptr) || n == 0) Failed(s);
    off += n;
  }
  b.used = 0;
}

DWORD WINAPI Reader(void*) {
  for (;;) {
    WaitForSingleObject(readAsk, INFINITE);
    readErr = ReadFile(readFrom, inBuf, inSize, &readGot, nullptr) ? 0 : GetLastError();
    SetEvent(readDone);
  }
}

// One ReadFile of h into inBuf, on the reader thread when h may wait;
// returns the system's error, 0 when the read succeeded.
DWORD ReadBlock(HANDLE h, DWORD& got) {
  if (inWait && readAsk == nullptr) {
    readAsk = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    readDone = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (readAsk == nullptr || readDone == nullptr ||
        CreateThread(nullptr, 0, Reader, nullptr, 0, nullptr) == nullptr) {
      inWait = false;  // then at least read without a watch for events
    }
  }
  if (!inWait) return ReadFile(h, inBuf, inSize, &got, nullptr) ? 0 : GetLastError();
  readFrom = h;
  SetEvent(readAsk);
  const HANDLE both[2] = {readDone, wake};
  for (;;) {
    const DWORD w = WaitForMultipleObjects(wake != nullptr ? 2 : 1, both, FALSE, INFINITE);
    if (w == WAIT_OBJECT_0) break;
    if (w != WAIT_OBJECT_0 + 1) return GetLastError();
    Deliver();
  }
  got = readGot;
  return readErr;
}

// A wide-character copy of the UTF-8 text s, or false when it does not fit.
bool Wide(const char* s, wchar_t* w, int room) {
  return MultiByteToWideChar(CP_UTF8, 0, s, -1, w, room) > 0;
}

}  // namespace

TOpen Open(const char* name, TFile& f) {
  // A relative name longer than the old path limit still opens: made whole,
  // it takes the prefix that lifts the limit.
  static wchar_t given[32768], full[32768 + 8];
  if (!Wide(name, given, 32768)) return opMissing;
  wchar_t* const path = full + 8;
  const DWORD n = GetFullPathNameW(given, 32768, path, nullptr);
  const wchar_t* use = given;
  if (n > 0 && n < 32768) {
    use = path;
    if (n >= MAX_PATH - 12 && path[0] == L'\\' && path[1] == L'\\') {
      use = path - 6;  // \\server\share becomes \\?\UNC\server\share
      memcpy(full + 2, L"\\\\?\\UNC", 7 * sizeof(wchar_t));
    } else if (n >= MAX_PATH - 12) {
      use = path - 4;
      memcpy(full + 4, L"\\\\?\\", 4 * sizeof(wchar_t));
    }
  }
  const DWORD attr = GetFileAttributesW(use);
  if (attr == INVALID_FILE_ATTRIBUTES) {
    const DWORD e = GetLastError();
    return e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION ? opUnreadable : opMissing;
  }
  if ((attr & FILE_ATTRIBUTE_DIRECTORY) != 0) return opUnreadable;
  const HANDLE h =
      CreateFileW(use, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return opUnreadable;
  inHandle[fileNo] = h;
  f = fileNo;
  return opOk;
}

int Refill(TFile f) {
  const HANDLE h = inHandle[f == fileNo ? fileNo : 0];
  if (!inKnown) {
    const DWORD type = GetFileType(h);
    DWORD mode = 0;
    inWait = type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR;
    inConsole = GetConsoleMode(h, &mode) != 0;
    inKnown = true;
  }
  for (;;) {
    Deliver();
    DWORD n = 0;
    const DWORD e = ReadBlock(h, n);
    // Ctrl+C cuts a console read short (nothing read, or the read aborted)
    // just before its event comes: the event is waited for, so that the
    // run stops with the guard's line, not with the end of its source.
    if (inConsole && (n == 0 || e == ERROR_OPERATION_ABORTED) && wake != nullptr &&
        WaitForSingleObject(wake, 200) == WAIT_OBJECT_0)
      continue;
    if (e == ERROR_OPERATION_ABORTED && inConsole) continue;
    // a pipe whose writer has gone has ended, as on POSIX
    if (e != 0) return e == ERROR_BROKEN_PIPE || e == ERROR_HANDLE_EOF ? eof : err;
    if (n == 0) return eof;
    return Filled(n);
  }
}

char* Begin(TStream s) { return Room(s); }

void End(TStream s, char* p) {
  Close(s, p);
  if (pending.load(std::memory_order_relaxed) != 0) Deliver();
}

void Flush() { FlushBuf(cur); }

void Exit(int status) {
  Deliver();
  FlushBuf(cur);
  Quit(UINT(status));
}

void Post(uint32_t ev) {
  pending.store(ev + 1);
  if (wake != nullptr) SetEvent(wake);
}

bool Watch(void (*deliver)(uint32_t ev)) {
  wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (wake == nullptr) return false;
  watcher = deliver;
  return true;
}

void CommandLine(int& argc, char**& argv) {
  // The arguments as Windows splits them, in UTF-8; the system's own copy of
  // them is given back at once.
  static char text[3 * 32768 + 16384];
  static char* ptrs[16384 + 1];
  int n = 0;
  wchar_t** w = CommandLineToArgvW(GetCommandLineW(), &n);
  if (w == nullptr) return;
  char* p = text;
  int k = 0;
  for (; k < n && k < 16384; ++k) {
    const int room = int(text + sizeof text - p);
    const int len = WideCharToMultiByte(CP_UTF8, 0, w[k], -1, p, room, nullptr, nullptr);
    if (len <= 0) break;
    ptrs[k] = p;
    p += len;
  }
  ptrs[k] = nullptr;
  LocalFree(w);
  argc = k;
  argv = ptrs;
}

void Init() {
  handles[stdOut] = GetStdHandle(STD_OUTPUT_HANDLE);
  handles[stdErr] = GetStdHandle(STD_ERROR_HANDLE);
  Reset();
  inHandle[0] = GetStdHandle(STD_INPUT_HANDLE);
  stdIn = 0;
  inCur = inEnd = nullptr;
  inKnown = false;
}

}  // namespace Fio
