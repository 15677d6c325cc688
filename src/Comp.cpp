#include "Comp.h"

#include <bit>
#include <cstring>

#include "Comp0.h"
#include "Fio.h"

namespace Comp {

uint64_t bound = unbounded;
uint64_t steps;
const char* const errTexts[errCnt] = {"Bug: End of program", "Invalid function", "Stack overflow",
                                      "Stack underflow",     "Invalid index",    "Invalid address",
                                      "Arithmetic overflow", "Division by zero", "Negative divisor"};
TErr failed;

namespace {

using Comp0::TCmdDesc;

uint8_t prg[prgSize + Comp0::cmdMax];  // Decode's room after the last byte
uint32_t len;    // the highest position any write has reached
uint32_t pos;    // where the next Write or Read starts; pos <= len <= prgSize
uint32_t pc;     // the next byte the fetch takes
uint32_t cmdPc;  // the address of the command fetched last
TCmdDesc cmd;    // the command fetched last

int32_t stack[stackSize];
uint32_t height;  // entries on the stack
int32_t vars[varCnt];
bool cond;
const char boolTexts[2][8] = {"FALSE", "TRUE "};  // padded: the trace copies 8 bytes
bool first;

[[noreturn]] void Err(const char* s) { Fio::Fail(Fio::Str(Fio::ErrLine("Comp: "), s)); }

[[noreturn]] void ErrCard(const char* s, uint32_t x) {
  char* p = Fio::Str(Fio::ErrLine("Comp: "), s);
  *p++ = ' ';
  Fio::Fail(Fio::Card(p, x));
}

// A run-time error of the machine.
[[noreturn]] void Fail(TErr e) {
  failed = e;
  Err(errTexts[e]);
}

[[noreturn]] void FailCard(TErr e, uint32_t x) {
  failed = e;
  ErrCard(errTexts[e], x);
}

// Makes sure n more bytes of the program lie at pc.
inline void Need(uint32_t n) {
  if (pc + n > len) Fail(eEnd);
}

// Decodes the command at pc into cmd, afresh each time it runs. Decode may
// look past the program's end, into the store's spare bytes; Need then
// refuses a command cut off there.
inline void FetchCmd() {
  cmdPc = pc;
  const uint32_t n = Comp0::Decode(prg + pc, cmd);
  if (n == 0) FailCard(eFunction, prg[pc]);
  Need(n);
  pc += n;
}

void Push(int32_t x) {
  if (height == stackSize) Fail(eStackOver);
  stack[height++] = x;
}

int32_t Pop() {
  if (height == 0) Fail(eStackUnder);
  return stack[--height];
}

void ChkIdx() {
  if (cmd.opd >= varCnt) FailCard(eIndex, cmd.opd);
}

void ChkAdr() {
  if (cmd.opd > len) FailCard(eAddress, cmd.opd);
}

// Execution never goes on with a wrapped value.
int32_t Sum(int32_t x, int32_t y) {
  int32_t r;
  if (__builtin_add_overflow(x, y, &r)) Fail(eOverflow);
  return r;
}

int32_t Difference(int32_t x, int32_t y) {
  int32_t r;
  if (__builtin_sub_overflow(x, y, &r)) Fail(eOverflow);
  return r;
}

int32_t Product(int32_t x, int32_t y) {
  int32_t r;
  if (__builtin_mul_overflow(x, y, &r)) Fail(eOverflow);
  return r;
}

// Floored division by a positive divisor d of n.
int32_t Quot(int32_t n, int32_t d) {
  if (d == 0) Fail(eDivZero);
  if (d < 0) Fail(eNegDiv);
  int32_t q = n / d;
  if (n % d < 0) --q;
  return q;
}

// The fixed parts of a command's trace line, made the first time the command
// runs: the store does not change while the program runs.
struct TTrace {
  char head[16];  // "Comp.Dbg: ", the address in 4 columns, ": "
  char tail[32];  // ":  " and the command's text
  uint32_t n;     // length of tail
  bool made;
};
TTrace traces[prgSize];

void MakeTrace(TTrace& t) {
  Comp0::TCmdStr text;
  const uint32_t n = Comp0::Convert(cmd, text);
  char* p = Fio::Mem(t.head, "Comp.Dbg: ", 10);
  p = Fio::CardRight(p, cmdPc, 4);
  Fio::Mem(p, ": ", 2);
  memset(t.tail, ' ', sizeof t.tail);
  Fio::Mem(Fio::Mem(t.tail, ":  ", 3), text, n);
  t.n = 3 + n;
  t.made = true;
}

// The trace line of cmd, showing the state in which it starts. Columns:
// 1-10 "Comp.Dbg: ", 11-14 cmdPc, 15-16 ": ", 17-21 cond, 23-24 height (the
// header's "ac"), 26-36 the entry below the top, 38-48 the top, 49-51 ":  ", then the text.
inline void Dbg() {
  TTrace& t = traces[cmdPc];
  if (!t.made) MakeTrace(t);  // converts before the header, as an unknown code must stop first
  if (first) {
    Fio::Line(Fio::stdErr, "Comp.Dbg:   pc  cond  ac       top-1         top");
    first = false;
  }
  char* p = Fio::Begin(Fio::stdErr);  // room for lineMax bytes: the fixed copies fit
  memcpy(p, t.head, 16);
  memcpy(p + 16, boolTexts[cond], 8);
  memset(p + 21, ' ', 27);
  p[22] = height >= 10 ? char('0' + height / 10) : ' ';
  p[23] = char('0' + height % 10);
  if (height >= 1) Fio::IntBack(p + 48, stack[height - 1]);
  if (height >= 2) Fio::IntBack(p + 36, stack[height - 2]);
  memcpy(p + 48, t.tail, sizeof t.tail);
  Fio::End(Fio::stdErr, p + 48 + t.n);
}

void WriteInt(int32_t x) {
  char* p = Fio::Begin(Fio::stdOut);
  Fio::End(Fio::stdOut, Fio::Int(p, x));
}

// An operation with two operands takes y from the top, then x from beneath
// it; one with one operand takes x only.
void Operate() {
  using namespace Comp0;
  // An unknown operation never gets here: its trace line, made before it
  // runs, has already ended the run.
  const TOperation o = TOperation(cmd.opd);
  if (o == oWrC) {
    Fio::Line(Fio::stdOut, boolTexts[cond]);
    return;
  }
  const bool two = o >= oAdd && o != oNot;
  const int32_t y = two ? Pop() : 0;
  const int32_t x = Pop();
  switch (o) {
    case oWrt: WriteInt(x); break;
    case oNeg: Push(Difference(0, x)); break;
    case oAdd: Push(Sum(x, y)); break;
    case oSub: Push(Difference(x, y)); break;
    case oMul: Push(Product(x, y)); break;
    case oDiv: Push(Quot(x, y)); break;
    case oBus: Push(Difference(y, x)); break;
    case oVid: Push(Quot(y, x)); break;
    case oEql: cond = x == y; break;
    case oNeq: cond = x != y; break;
    case oLss: cond = x < y; break;
    case oLeq: cond = x <= y; break;
    case oGtr: cond = x > y; break;
    case oGeq: cond = x >= y; break;
    case oNot: Push(~x); break;
    case oOr: Push(x | y); break;
    case oAnd: Push(x & y); break;
    default: break;  // oWrC is done above
  }
}

[[gnu::always_inline]] inline void ExecCmd() {
  switch (cmd.fct) {
    case Comp0::fHlt: pc = len; break;
    case Comp0::fVal: Push(std::bit_cast<int32_t>(cmd.opd)); break;
    case Comp0::fLod:
      ChkIdx();
      Push(vars[cmd.opd]);
      break;
    case Comp0::fSto:
      ChkIdx();
      vars[cmd.opd] = Pop();
      break;
    case Comp0::fOpr: Operate(); break;
    case Comp0::fJmp:
      ChkAdr();
      pc = cmd.opd;
      break;
    case Comp0::fJpf:
      ChkAdr();
      if (!cond) pc = cmd.opd;
      break;
    case Comp0::fJpt:
      ChkAdr();
      if (cond) pc = cmd.opd;
      break;
  }
}

// The one loop of every run: the console's Exec and a tool's steps. Runs
// commands with their trace lines until the program ends or, when bounded,
// n have started; returns how many started. A bounded loop counts them in
// steps as it goes, so that the count stands when a command ends the run.
// Each form is a function of its own with a command's whole work inlined
// into it: the console's speed (bench/run) depends on that.
template <bool bounded>
[[gnu::noinline]] uint64_t Loop(uint64_t n) {
  uint64_t k = 0;
  while (pc < len) {
    if constexpr (bounded) {
      if (k == n) break;
      ++k;
      ++steps;
    }
    FetchCmd();
    Dbg();
    ExecCmd();
  }
  return k;
}

}  // namespace

void Write(const void* x, uint32_t n) {
  if (pos + n > prgSize) Err("Program too large");
  memcpy(prg + pos, x, n);
  pos += n;
  if (pos > len) len = pos;
}

void GetPos(uint32_t& x) { x = pos; }

void SetPos(uint32_t x) {
  if (x > len) Err("Invalid position");
  pos = x;
}

void Read(void* x, uint32_t n) {
  if (pos + n > len) Err("Nothing to read");
  memcpy(x, prg + pos, n);
  pos += n;
}

void List() {
  pc = 0;
  while (pc < len) {
    FetchCmd();
    Comp0::TCmdStr text;
    const uint32_t n = Comp0::Convert(cmd, text);
    char* p = Fio::Begin(Fio::stdOut);
    p = Fio::CardRight(p, cmdPc, 4);
    p = Fio::Mem(p, ": ", 2);
    memcpy(p, text, sizeof text);  // Begin leaves room; only n bytes count
    p += n;
    Fio::End(Fio::stdOut, p);
  }
}

void Exec() {
  Rewind();
  if (bound == unbounded) {
    Loop<false>(0);  // the console's run: no count to keep
  } else if (Loop<true>(bound) == bound && pc < len) {
    Fio::Exit(stopped);
  }
}

void Rewind() {
  // the trace texts are made afresh for the program in the store
  for (uint32_t a = 0; a < len; ++a)
    traces[a].made = false;
  pc = 0;
  steps = 0;
}

uint64_t Run(uint64_t n) { return Loop<true>(n); }

void Get(TMachine& m) {
  m.pc = pc;
  m.cmdPc = cmdPc;
  m.cond = cond;
  m.height = height;
  memcpy(m.stack, stack, sizeof stack);
  memcpy(m.vars, vars, sizeof vars);
}

void Set(const TMachine& m) {
  pc = m.pc;
  cmdPc = m.cmdPc;
  cond = m.cond;
  height = m.height;
  memcpy(stack, m.stack, sizeof stack);
  memcpy(vars, m.vars, sizeof vars);
}

void Init() {
  memset(prg, 0, sizeof prg);
  len = pos = pc = cmdPc = 0;
  memset(&cmd, 0, sizeof cmd);
  memset(stack, 0, sizeof stack);
  memset(vars, 0, sizeof vars);
  height = 0;
  cond = false;
  first = true;
  steps = 0;  // the bound is the tool's and stays
  failed = errCnt;
}

}  // namespace Comp
