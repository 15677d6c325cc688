// Web: the page's side of the program, built to WebAssembly only. The page
// calls the program's main as the console does; each run ends in Fio::Exit,
// which throws to the page instead of ending a process. Besides runs, it
// reports what the page shows: the generator's events, the commands in the
// store, the declared names, and a run taken step by step.
#include <emscripten.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "Comp.h"
#include "Comp0.h"
#include "Fio.h"
#include "Gen.h"
#include "Prsr.h"
#include "Scnr.h"

#ifndef TOV_WEB
#error "build with -DTOV_WEB"
#endif

// The page's handlers (tov.mjs). Output, events and commands are handed over
// while the run goes on; the end of a run throws, so that the page's call
// returns with the status.
EM_JS(void, tovSink, (int s, const char* p, uint32_t n), { Module.tovSink(s, p, n); });
EM_JS(void, tovEnd, (int status), { throw Module.tovEnd(status); });
EM_JS(void, tovEvent,
      (int kind, const char* text, uint32_t n, uint32_t lck, uint32_t pos, uint32_t at,
       uint32_t value, uint32_t line, uint32_t col, uint32_t nline, uint32_t ncol, uint32_t fline,
       uint32_t fcol),
      {
        Module.tovEvent(kind, text, n, lck, pos, at, value, line, col, nline, ncol, fline, fcol);
      });
EM_JS(void, tovCommand,
      (uint32_t adr, const uint8_t* bytes, uint32_t n, const char* text, uint32_t tn),
      { Module.tovCommand(adr, bytes, n, text, tn); });
EM_JS(void, tovName, (const char* name, uint32_t n, uint32_t cls, uint32_t typ, int32_t val),
      { Module.tovName(name, n, cls, typ, val); });

// tov.mjs reads and writes the machine's state at these offsets.
static_assert(offsetof(Comp::TMachine, cmdPc) == 4 && offsetof(Comp::TMachine, cond) == 8 &&
              offsetof(Comp::TMachine, height) == 12 && offsetof(Comp::TMachine, stack) == 16 &&
              offsetof(Comp::TMachine, vars) == 144 && sizeof(Comp::TMachine) == 400);

namespace {

bool recording;          // events go to the page
Scnr::TPosDesc errPos;   // the current token when the run ended
uint64_t stepped;        // commands started by tovStep since tovStart
Comp::TMachine machine;  // what tovGet and tovSet exchange

void Sink(Fio::TStream s, const char* p, uint32_t n) { tovSink(s, p, n); }

[[noreturn]] void End(int status) {
  errPos = Scnr::pos;
  tovEnd(status);
  __builtin_unreachable();
}

// Each event with the parser's place: the token consumed last and the one it
// looks at; a command also with the token it comes from.
void Watch(const Gen::TEvent& e) {
  if (!recording) return;
  tovEvent(e.kind, e.text, e.n, e.lck, e.pos, e.at, e.value, Scnr::last.l, Scnr::last.c,
           Scnr::pos.l, Scnr::pos.c, e.tok.l, e.tok.c);
}

uint32_t Word(const uint8_t* b) {
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

}  // namespace

extern "C" {

// Once, before the first run.
EMSCRIPTEN_KEEPALIVE void tovInit() {
  Fio::exitHook = End;
  Fio::sink = Sink;
  Gen::watch = Watch;
}

// Before a run: standard input is the file at path, events are reported or
// not, and a run with -x stops before command number bound + 1 (0: never).
EMSCRIPTEN_KEEPALIVE void tovPrepare(const char* path, int events, double bound) {
  const int fd = open(path, O_RDONLY);
  if (fd >= 0 && fd != 0) {
    dup2(fd, 0);
    close(fd);
  }
  recording = events != 0;
  Comp::bound = bound > 0 ? uint64_t(bound) : UINT64_MAX;
  Comp::steps = 0;
}

EMSCRIPTEN_KEEPALIVE double tovSteps() { return double(Comp::steps); }
EMSCRIPTEN_KEEPALIVE uint32_t tovErrLine() { return errPos.l; }
EMSCRIPTEN_KEEPALIVE uint32_t tovErrCol() { return errPos.c; }

// After a compilation: every command in the store, in address order, read
// through the store's own cursor as the code generator reads it.
EMSCRIPTEN_KEEPALIVE void tovCommands() {
  uint32_t len;
  Comp::GetPos(len);  // the code generator leaves the cursor at the end
  uint32_t adr = 0;
  while (adr < len) {
    uint8_t b[5];
    Comp::SetPos(adr);
    Comp::Read(b, 1);
    const uint32_t n = b[0] == Comp0::fHlt ? 1 : b[0] == Comp0::fOpr ? 2 : 5;
    if (n > 1) Comp::Read(b + 1, n - 1);
    const Comp0::TCmdDesc cmd{Comp0::TFunction(b[0]), n == 5 ? Word(b + 1) : n == 2 ? b[1] : 0u};
    Comp0::TCmdStr text;
    const uint32_t tn = Comp0::Convert(cmd, text);
    tovCommand(adr, b, n, text, tn);
    adr += n;
  }
  Comp::SetPos(len);
}

// After a compilation: the program's own names (not the predeclared ones).
EMSCRIPTEN_KEEPALIVE void tovNames() {
  uint32_t n;
  const Prsr::TObjDesc* o = Prsr::Objs(n);
  for (uint32_t i = 4; i < n; ++i) {
    uint32_t k;
    const char* s = Scnr::Text(o[i].id, k);
    tovName(s, k, o[i].cls, o[i].typ, o[i].cls == Prsr::cVar ? int32_t(o[i].idx) : o[i].val);
  }
}

// A run step by step, on a program the last run compiled.
EMSCRIPTEN_KEEPALIVE void tovStart() {
  Comp::Rewind();
  stepped = 0;
}

// Runs up to n commands and returns how many ran; an error throws, with
// tovStepped telling how far it got.
EMSCRIPTEN_KEEPALIVE double tovStep(double n) {
  const uint64_t want = uint64_t(n);
  const uint64_t from = stepped;
  while (stepped - from < want) {
    ++stepped;  // the command that fails counts as started
    if (!Comp::Step()) {
      --stepped;
      break;
    }
  }
  Fio::Flush();
  return double(stepped - from);
}

EMSCRIPTEN_KEEPALIVE double tovStepped() { return double(stepped); }

// The machine's state, in a fixed place the page reads and writes.
EMSCRIPTEN_KEEPALIVE Comp::TMachine* tovGet() {
  Comp::Get(machine);
  return &machine;
}

EMSCRIPTEN_KEEPALIVE void tovSet(double steps) {
  Comp::Set(machine);
  stepped = uint64_t(steps);
}

}  // extern "C"
