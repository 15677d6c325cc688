// Web: the page's side of the program, built to WebAssembly only. The page
// calls the program's main as the console does; each run ends in Fio::Exit,
// which throws to the page instead of ending a process. Everything the web
// build adds is here, at one seam: it stands in for the console's platform
// files (Fio.cpp, ConSigs.cpp), so that the output goes to the page, a run
// ends by a throw and no console is guarded; and it sets who watches the
// generator (Gen::watch) and the parser (Prsr::watch), and the bound of a run
// (Comp::bound). Besides runs, it hands the page records, never text to parse:
// the constants and names it needs (what each command does among them), the
// generator's events with the parser's rules, the commands in the store, the
// declared names, and a run taken step by step.
#include <emscripten.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Comp.h"
#include "Comp0.h"
#include "ConSigs.h"
#include "Fio.h"
#include "FioText.h"
#include "Gen.h"
#include "Prsr.h"
#include "Scnr.h"
#include "Start.h"

#ifndef TOV_WEB
#error "build with -DTOV_WEB"
#endif

// The page's handlers (tov.mjs). Output, events and commands are handed over
// while the run goes on; the end of a run throws, so that the page's call
// returns with the status.
EM_JS(void, tovSink, (int s, const char* p, uint32_t n), { Module.tovSink(s, p, n); });
EM_JS(void, tovEnd, (int status), { throw Module.tovEnd(status); });
// A named number of a group of constants; a name with value -1 is one of a list.
EM_JS(void, tovConst, (const char* group, const char* name, uint32_t n, double value),
      { Module.tovConst(group, name, n, value); });
// A command: in the store with its bytes (tovCommands), or emitted (an
// event, bytes null) with the token it comes from.
EM_JS(void, tovCmd,
      (uint32_t adr, int fct, uint32_t opd, uint32_t len, const uint8_t* bytes, const char* text,
       uint32_t tn, uint32_t fline, uint32_t fcol),
      { Module.tovCmd(adr, fct, opd, len, bytes, text, tn, fline, fcol); });
// An event, with the grammar rules the parser is in (nr numbers of the
// constants' "rules", outermost first).
EM_JS(void, tovEvent,
      (int kind, const char* text, uint32_t n, uint32_t lck, uint32_t at, uint32_t value,
       const char* fixed, uint32_t fn, uint32_t fline, uint32_t fcol, uint32_t lline, uint32_t lcol,
       uint32_t nline, uint32_t ncol, const uint8_t* rules, uint32_t nr),
      {
        Module.tovEvent(kind, text, n, lck, at, value, fixed, fn, fline, fcol, lline, lcol, nline,
                        ncol, rules, nr);
      });
// What command number i of a group does: to the stack, the condition, the pc.
EM_JS(void, tovEffect,
      (const char* group, uint32_t i, const char* stack, const char* cond, const char* pc),
      { Module.tovEffect(group, i, stack, cond, pc); });
EM_JS(void, tovName, (const char* name, uint32_t n, uint32_t cls, uint32_t typ, int32_t val),
      { Module.tovName(name, n, cls, typ, val); });

namespace {

// A bound that no run reaches, yet counted: the page always wants the steps.
constexpr uint64_t noBound = Comp::unbounded - 1;

// The classes of a run's end, as the constants name them: ended, stopped at
// the bound, failed in a way no other class names; a compile or command line
// error by the module that reports it (the head of its line); the machine's
// run-time errors by message (Comp::errTexts), after these.
const char* const ends[] = {"ok", "stopped", "error", "Scnr", "Prsr", "Gen", "Comp", "Comp0", "tov"};
constexpr uint32_t firstModule = 3;
constexpr uint32_t endCnt = sizeof ends / sizeof ends[0];
uint32_t endClass;  // of the last run

bool recording;          // events go to the page
Scnr::TPosDesc errPos;   // the current token when the run ended
int endStatus;           // how the last run ended, before the page's mapping
Comp::TMachine machine;  // what tovGet and tovSet exchange, and the state at the end of a run
uint32_t predeclared;    // the symbol table's entries before the program's

// The rules the parser is in, outermost first. Nesting is bounded by the
// parser (a few rules per level of its depth limit); deeper ones are counted
// but not kept.
constexpr uint32_t ruleMax = 8192;
uint8_t rules[ruleMax];
uint32_t ruleDepth;

void Rule(Prsr::TRule r, bool enter) {
  if (!enter) {
    --ruleDepth;
    return;
  }
  if (ruleDepth < ruleMax) rules[ruleDepth] = r;
  ++ruleDepth;
}

[[noreturn]] void Ended(int status) {
  errPos = Scnr::pos;
  endStatus = status;
  Comp::Get(machine);  // a failed command's address stays in cmdPc
  tovEnd(status);
  __builtin_unreachable();
}

// The command at address adr of the store, read into b through the store's
// cursor, which is put back; its length, or 0 when there is none.
uint32_t CmdAt(uint32_t adr, uint8_t (&b)[Comp0::cmdMax], Comp0::TCmdDesc& cmd) {
  uint32_t pos;
  Comp::GetPos(pos);
  Comp::SetPos(adr);
  Comp::Read(b, 1);
  const uint32_t n = Comp0::Length(b[0]);
  if (n > 1) Comp::Read(b + 1, n - 1);
  Comp::SetPos(pos);
  return n > 0 ? Comp0::Decode(b, cmd) : 0;
}

// Each event with the token it comes from (a command's own; otherwise the
// token being looked at, which closes what the event ends), the token
// consumed last and the one being looked at. A fix-up also with the text of
// its jump once patched.
void Watch(const Gen::TEvent& e) {
  if (!recording) return;
  Scnr::TPosDesc from = Scnr::pos;
  Comp0::TCmdStr fixed;
  uint32_t fn = 0;
  uint8_t b[Comp0::cmdMax] = {};
  if (e.kind == Gen::evCmd) {
    from = e.tok;
    Comp0::TCmdStr text;
    const uint32_t tn = Comp0::Convert(e.cmd, text);
    const uint32_t len = Comp0::Encode(e.cmd, b);
    tovCmd(e.pos, e.cmd.fct, e.cmd.opd, len, b, text, tn, e.tok.l, e.tok.c);
  } else if (e.kind == Gen::evFix || e.kind == Gen::evJoin) {
    Comp0::TCmdDesc jump;
    const uint32_t adr = e.at - Comp0::fieldAt;
    if (e.at >= Comp0::fieldAt && CmdAt(adr, b, jump) > 0) {
      jump.opd = e.value;
      fn = Comp0::Convert(jump, fixed);
      tovCmd(adr, jump.fct, jump.opd, Comp0::Encode(jump, b), b, fixed, fn, 0, 0);
    }
  }
  tovEvent(e.kind, e.text, e.n, e.lck, e.at, e.value, fixed, fn, from.l, from.c, Scnr::last.l,
           Scnr::last.c, Scnr::pos.l, Scnr::pos.c, rules,
           ruleDepth < ruleMax ? ruleDepth : ruleMax);
}

void Const(const char* group, const char* name, double value) {
  uint32_t n = 0;
  while (name[n] != 0 && name[n] != ' ')
    ++n;
  tovConst(group, name, n, value);
}

// The texts of a list, in the order of their numbers.
void List(const char* group, const char* const* names, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i)
    Const(group, names[i], -1);
}

}  // namespace

// The console's platform files, as the page has them: the source comes from
// the module's file system, each flush of a stream goes to the page, and the
// end of a run throws to it. No event reaches a run (Post and Watch have no
// user here): the page stops a run from outside.
namespace Fio {

TFile stdIn = 0;
const uint8_t* inCur = nullptr;
const uint8_t* inEnd = nullptr;

namespace {

uint64_t flushed[2];  // bytes handed to the page, per stream
uint32_t errFrom;     // where the last line on standard error begins in its buffer

// The class of a run that ends with the status: a failure by the module whose
// report is the last line.
uint32_t ClassOf(int status) {
  if (status == 0) return 0;
  if (status == Comp::stopped) return 1;
  if (Comp::failed != Comp::errCnt) return endCnt + Comp::failed;
  if (cur != stdErr) return 2;
  const char* line = bufs[stdErr].data + errFrom;
  const char* end = bufs[stdErr].data + bufs[stdErr].used;
  for (uint32_t k = firstModule; k < endCnt; ++k) {
    const uint32_t n = uint32_t(strlen(ends[k]));
    if (uint32_t(end - line) > n && memcmp(line, ends[k], n) == 0 &&
        (line[n] == ' ' || line[n] == '.' || line[n] == ':')) {
      return k;
    }
  }
  return 2;
}

void FlushBuf(TStream s) {
  tovSink(s, bufs[s].data, bufs[s].used);
  flushed[s] += bufs[s].used;
  bufs[s].used = 0;
}

// Where each stream stood when the run's first command started: the ends of
// the listing and of the generator trace, taken from the run itself. Until
// then (no -x, or a compile error), the streams' ends.
uint64_t compiled[2];
bool executing;

void Stand() {
  for (int s = 0; s < 2; ++s)
    compiled[s] = flushed[s] + bufs[s].used;
}

}  // namespace

TOpen Open(const char* name, TFile& f) {
  struct stat st;
  if (stat(name, &st) != 0) return errno == EACCES ? opUnreadable : opMissing;
  if (S_ISDIR(st.st_mode)) return opUnreadable;
  const int fd = open(name, O_RDONLY);
  if (fd < 0) return opUnreadable;
  f = fd;
  return opOk;
}

int Refill(TFile f) {
  const ssize_t n = read(f, inBuf, inSize);
  if (n < 0) return err;
  if (n == 0) return eof;
  return Filled(uint32_t(n));
}

char* Begin(TStream s) {
  if (!executing && Comp::steps != 0) {  // the first line of the execution trace
    Stand();
    executing = true;
  }
  char* const p = Room(s);
  if (s == stdErr) errFrom = bufs[s].used;
  return p;
}

void End(TStream s, char* p) { Close(s, p); }

void Flush() { FlushBuf(cur); }

void Exit(int status) {
  if (!executing) Stand();
  endClass = ClassOf(status);
  FlushBuf(cur);
  Ended(status);
}

void CommandLine(int&, char**&) {}

void Init() {
  Reset();
  flushed[stdOut] = flushed[stdErr] = 0;
  executing = false;
  stdIn = 0;
  inCur = inEnd = nullptr;
}

}  // namespace Fio

// The page has no console to guard.
void ConSigs::Init() {}

extern "C" {

// Once, before the first run.
EMSCRIPTEN_KEEPALIVE void tovInit() {
  Gen::watch = Watch;
  Prsr::watch = Rule;
  Start::Modules();
  Prsr::Objs(predeclared);
}

// The constants and names the page needs, by name, so that it keeps no list
// of its own.
EMSCRIPTEN_KEEPALIVE void tovConstants() {
  Const("store", "size", Comp::prgSize);
  Const("store", "stack", Comp::stackSize);
  Const("store", "cells", Comp::varCnt);
  Const("store", "endMark", Comp0::endMark);
  Const("store", "cmdMax", Comp0::cmdMax);
  Const("store", "fieldAt", Comp0::fieldAt);
  Const("machine", "size", sizeof(Comp::TMachine));
  Const("machine", "pc", offsetof(Comp::TMachine, pc));
  Const("machine", "cmdPc", offsetof(Comp::TMachine, cmdPc));
  Const("machine", "cond", offsetof(Comp::TMachine, cond));
  Const("machine", "height", offsetof(Comp::TMachine, height));
  Const("machine", "stack", offsetof(Comp::TMachine, stack));
  Const("machine", "vars", offsetof(Comp::TMachine, vars));
  Const("status", "ok", 0);
  Const("status", "error", 9);
  Const("status", "stopped", Comp::stopped);
  for (const char* e : ends)
    tovConst("ends", e, uint32_t(strlen(e)), -1);
  for (const char* e : Comp::errTexts)
    tovConst("ends", e, uint32_t(strlen(e)), -1);
  for (uint32_t f = 0; f < Comp0::fctCnt; ++f)
    Const("functions", Comp0::FctName(Comp0::TFunction(f)), -1);
  for (uint32_t o = 0; o < Comp0::oprCnt; ++o)
    Const("operations", Comp0::OprName(Comp0::TOperation(o)), -1);
  for (uint32_t f = 0; f < Comp0::fctCnt; ++f) {
    const Comp0::TEffect& e = Comp0::FctEffect(Comp0::TFunction(f));
    tovEffect("functionEffects", f, e.stack, e.cond, e.pc);
    Const("changes", e.changes, -1);
  }
  for (uint32_t o = 0; o < Comp0::oprCnt; ++o) {
    const Comp0::TEffect& e = Comp0::OprEffect(Comp0::TOperation(o));
    tovEffect("operationEffects", o, e.stack, e.cond, e.pc);
    Const("operationChanges", e.changes, -1);
  }
  for (uint32_t r = 0; r < Prsr::ruleCnt; ++r)
    Const("rules", Prsr::RuleName(Prsr::TRule(r)), -1);
  for (uint32_t f = 0; f < Comp0::fctCnt; ++f) {
    static const char* const kinds[] = {"none", "value", "cell", "operation", "address"};
    Const("operands", kinds[Comp0::Operand(Comp0::TFunction(f))], -1);
  }
  // when each function jumps, so that the page tells conditional jumps apart
  for (uint32_t f = 0; f < Comp0::fctCnt; ++f) {
    const char* when = "never";
    if (f == Comp0::fJmp) when = "always";
    if (f == Comp0::fJpf) when = "false";
    if (f == Comp0::fJpt) when = "true";
    Const("jumps", when, -1);
  }
  static const char* const events[] = {"head", "cmd", "fixup", "lock", "unlock", "join"};
  static_assert(Gen::evJoin == 5);
  List("events", events, 6);
  static const char* const types[] = {"BOOLEAN", "INTEGER"};
  static_assert(Gen::tBool == 0 && Gen::tInt == 1);
  List("types", types, 2);
  static const char* const classes[] = {"CONST", "VAR", "TYPE"};
  static_assert(Prsr::cConst == 0 && Prsr::cVar == 1 && Prsr::cType == 2);
  List("classes", classes, 3);
  uint32_t n;
  for (uint32_t k = 0; const char* s = Scnr::Keyword(k, n); ++k)
    tovConst("keywords", s, n, -1);
  const Prsr::TObjDesc* o = Prsr::Objs(n);
  for (uint32_t i = 0; i < predeclared; ++i) {
    uint32_t k;
    const char* s = Scnr::Text(o[i].id, k);
    tovConst(o[i].cls == Prsr::cType ? "typeNames" : "constNames", s, k, o[i].val);
  }
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
  ruleDepth = 0;  // a compile error leaves its rules behind
  Comp::bound = bound >= 1 ? uint64_t(bound) : noBound;
  endStatus = 0;
}

// How the last run ended: 0, 9, or Comp::stopped at the bound.
EMSCRIPTEN_KEEPALIVE int tovStatus() { return endStatus; }
// The class of the last run's end: its number in the constants' "ends".
EMSCRIPTEN_KEEPALIVE uint32_t tovEndClass() { return endClass; }
EMSCRIPTEN_KEEPALIVE double tovSteps() { return double(Comp::steps); }
EMSCRIPTEN_KEEPALIVE uint32_t tovErrLine() { return errPos.l; }
EMSCRIPTEN_KEEPALIVE uint32_t tovErrCol() { return errPos.c; }
// Where the listing ends on standard output and the generator trace on
// standard error, in the last run.
EMSCRIPTEN_KEEPALIVE double tovListingEnd() { return double(Fio::compiled[Fio::stdOut]); }
EMSCRIPTEN_KEEPALIVE double tovTraceEnd() { return double(Fio::compiled[Fio::stdErr]); }
// The command that failed in the last run: started, and the run ended in an error.
EMSCRIPTEN_KEEPALIVE double tovFailPc() {
  return endStatus == 9 && Comp::steps > 0 ? double(machine.cmdPc) : -1;
}

// After a compilation: every command in the store, in address order, read
// through the store's own cursor as the code generator reads it.
EMSCRIPTEN_KEEPALIVE void tovCommands() {
  uint32_t len;
  Comp::GetPos(len);  // the code generator leaves the cursor at the end
  for (uint32_t adr = 0; adr < len;) {
    Comp0::TCmdDesc cmd;
    uint8_t b[Comp0::cmdMax] = {};
    const uint32_t n = CmdAt(adr, b, cmd);
    if (n == 0) break;
    Comp0::TCmdStr text;
    const uint32_t tn = Comp0::Convert(cmd, text);
    tovCmd(adr, cmd.fct, cmd.opd, n, b, text, tn, 0, 0);
    adr += n;
  }
}

// After a compilation: the program's own names (not the predeclared ones).
EMSCRIPTEN_KEEPALIVE void tovNames() {
  uint32_t n;
  const Prsr::TObjDesc* o = Prsr::Objs(n);
  for (uint32_t i = predeclared; i < n; ++i) {
    uint32_t k;
    const char* s = Scnr::Text(o[i].id, k);
    tovName(s, k, o[i].cls, o[i].typ, o[i].cls == Prsr::cVar ? int32_t(o[i].idx) : o[i].val);
  }
}

// A run step by step, on a program the last run compiled.
EMSCRIPTEN_KEEPALIVE void tovStart() { Comp::Rewind(); }

// Runs up to n commands, as Exec does, and returns how many started; an error
// throws, with tovSteps telling how far it got (the failed command counts).
EMSCRIPTEN_KEEPALIVE double tovStep(double n) {
  const uint64_t ran = Comp::Run(uint64_t(n));
  Fio::Flush();
  return double(ran);
}

// The machine's state, in a fixed place the page reads and writes.
EMSCRIPTEN_KEEPALIVE Comp::TMachine* tovGet() {
  Comp::Get(machine);
  return &machine;
}

EMSCRIPTEN_KEEPALIVE void tovSet(double steps) {
  Comp::Set(machine);
  Comp::steps = uint64_t(steps);
}

}  // extern "C"
