#include "Comp.h"

#include <cstring>

#include "Comp0.h"
#include "Fio.h"

namespace Comp {

namespace {

using Comp0::TCmdDesc;

uint8_t prg[prgSize];
uint32_t len;  // the highest position any write has reached
uint32_t pos;  // where the next Write or Read starts; pos <= len <= prgSize
uint32_t pc;   // the next byte the fetch takes
uint32_t pc0;  // the address of the command fetched last
TCmdDesc cmd;  // the command fetched last

int32_t args[stackSize];
uint32_t ac;
int32_t vars[varCnt];
bool cond;
const char strs[2][6] = {"FALSE", "TRUE "};
bool first;

[[noreturn]] void Err(const char* s) {
  char* p = Fio::Begin(Fio::stdErr);
  p = Fio::Str(p, "Comp: ");
  p = Fio::Str(p, s);
  *p++ = '.';
  Fio::End(Fio::stdErr, p);
  Fio::Exit(9);
}

[[noreturn]] void ErrCard(const char* s, uint32_t x) {
  char* p = Fio::Begin(Fio::stdErr);
  p = Fio::Str(p, "Comp: ");
  p = Fio::Str(p, s);
  *p++ = ' ';
  p = Fio::Card(p, x);
  *p++ = '.';
  Fio::End(Fio::stdErr, p);
  Fio::Exit(9);
}

// Copies n bytes of the program at pc into x and advances pc.
void FetchRead(void* x, uint32_t n) {
  if (pc + n > len) Err("Bug: End of program");
  memcpy(x, prg + pc, n);
  pc += n;
}

uint32_t Word() {
  uint8_t b[4];
  FetchRead(b, 4);
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

// Decodes the command at pc into cmd.
void FetchCmd() {
  pc0 = pc;
  uint8_t f;
  FetchRead(&f, 1);
  cmd.fct = Comp0::TFunction(f);
  switch (f) {
    case Comp0::fHlt: break;
    case Comp0::fVal: cmd.val = int32_t(Word()); break;
    case Comp0::fLod:
    case Comp0::fSto: cmd.idx = Word(); break;
    case Comp0::fOpr: {
      uint8_t o;
      FetchRead(&o, 1);
      cmd.opr = Comp0::TOperation(o);
      break;
    }
    case Comp0::fJmp:
    case Comp0::fJpf:
    case Comp0::fJpt: cmd.adr = Word(); break;
    default: ErrCard("Invalid function", f);
  }
}

void Push(int32_t x) {
  if (ac == stackSize) Err("Stack overflow");
  args[ac++] = x;
}

int32_t Pop() {
  if (ac == 0) Err("Stack underflow");
  return args[--ac];
}

void ChkIdx() {
  if (cmd.idx >= varCnt) ErrCard("Invalid index", cmd.idx);
}

void ChkAdr() {
  if (cmd.adr > len) ErrCard("Invalid address", cmd.adr);
}

// Execution never goes on with a wrapped value.
void Checked(bool overflow, const int32_t& r) {
  if (overflow) Err("Arithmetic overflow");
  Push(r);
}

// Floored division by a positive divisor d of n.
int32_t Quot(int32_t n, int32_t d) {
  if (d == 0) Err("Division by zero");
  if (d < 0) Err("Negative divisor");
  int32_t q = n / d;
  if (n % d < 0) --q;
  return q;
}

// The header comes with the first trace line; the line shows the state in
// which the command starts.
void Dbg() {
  Comp0::TCmdStr text;
  const uint32_t n = Comp0::Convert(cmd, text);
  if (first) {
    Fio::Line(Fio::stdErr, "Comp.Dbg:   pc  cond  ac       top-1         top");
    first = false;
  }
  char* p = Fio::Begin(Fio::stdErr);
  p = Fio::Mem(p, "Comp.Dbg: ", 10);
  p = Fio::CardRight(p, pc0, 4);
  p = Fio::Mem(p, ": ", 2);
  p = Fio::Mem(p, strs[cond], 5);
  *p++ = ' ';
  p = Fio::CardRight(p, ac, 2);
  *p++ = ' ';
  if (ac == 0) {
    memset(p, ' ', 23);
    p += 23;
  } else if (ac == 1) {
    memset(p, ' ', 12);
    p = Fio::IntRight(p + 12, args[0], 11);
  } else {
    p = Fio::IntRight(p, args[ac - 2], 11);
    *p++ = ' ';
    p = Fio::IntRight(p, args[ac - 1], 11);
  }
  p = Fio::Mem(p, ":  ", 3);
  p = Fio::Mem(p, text, n);
  Fio::End(Fio::stdErr, p);
}

void WriteInt(int32_t x) {
  char* p = Fio::Begin(Fio::stdOut);
  Fio::End(Fio::stdOut, Fio::Int(p, x));
}

void Operate() {
  int32_t x, y, r = 0;
  switch (cmd.opr) {
    case Comp0::oWrt: WriteInt(Pop()); break;
    case Comp0::oWrC: Fio::Line(Fio::stdOut, strs[cond]); break;
    case Comp0::oNeg:
      x = Pop();
      Checked(__builtin_sub_overflow(0, x, &r), r);
      break;
    case Comp0::oAdd:
      y = Pop();
      x = Pop();
      Checked(__builtin_add_overflow(x, y, &r), r);
      break;
    case Comp0::oSub:
      y = Pop();
      x = Pop();
      Checked(__builtin_sub_overflow(x, y, &r), r);
      break;
    case Comp0::oMul:
      y = Pop();
      x = Pop();
      Checked(__builtin_mul_overflow(x, y, &r), r);
      break;
    case Comp0::oDiv:
      y = Pop();
      x = Pop();
      Push(Quot(x, y));
      break;
    case Comp0::oBus:
      y = Pop();
      x = Pop();
      Checked(__builtin_sub_overflow(y, x, &r), r);
      break;
    case Comp0::oVid:
      y = Pop();
      x = Pop();
      Push(Quot(y, x));
      break;
    case Comp0::oEql: y = Pop(); x = Pop(); cond = x == y; break;
    case Comp0::oNeq: y = Pop(); x = Pop(); cond = x != y; break;
    case Comp0::oLss: y = Pop(); x = Pop(); cond = x < y; break;
    case Comp0::oLeq: y = Pop(); x = Pop(); cond = x <= y; break;
    case Comp0::oGtr: y = Pop(); x = Pop(); cond = x > y; break;
    case Comp0::oGeq: y = Pop(); x = Pop(); cond = x >= y; break;
    case Comp0::oNot: Push(~Pop()); break;
    case Comp0::oOr:
      y = Pop();
      x = Pop();
      Push(x | y);
      break;
    case Comp0::oAnd:
      y = Pop();
      x = Pop();
      Push(x & y);
      break;
    default: ErrCard("Invalid operation", cmd.opr);
  }
}

void ExecCmd() {
  switch (cmd.fct) {
    case Comp0::fHlt: pc = len; break;
    case Comp0::fVal: Push(cmd.val); break;
    case Comp0::fLod:
      ChkIdx();
      Push(vars[cmd.idx]);
      break;
    case Comp0::fSto:
      ChkIdx();
      vars[cmd.idx] = Pop();
      break;
    case Comp0::fOpr: Operate(); break;
    case Comp0::fJmp:
      ChkAdr();
      pc = cmd.adr;
      break;
    case Comp0::fJpf:
      ChkAdr();
      if (!cond) pc = cmd.adr;
      break;
    case Comp0::fJpt:
      ChkAdr();
      if (cond) pc = cmd.adr;
      break;
  }
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
    p = Fio::CardRight(p, pc0, 4);
    p = Fio::Mem(p, ": ", 2);
    p = Fio::Mem(p, text, n);
    Fio::End(Fio::stdOut, p);
  }
}

void Exec() {
  pc = 0;
#ifdef TOV_FUZZ_STEPS
  // the fuzzing harness bounds programs that loop by design
  for (uint32_t steps = 0; pc < len; ++steps) {
    if (steps == TOV_FUZZ_STEPS) Fio::Exit(0);
#else
  while (pc < len) {
#endif
    FetchCmd();
    Dbg();
    ExecCmd();
  }
}

void Init() {
  memset(prg, 0, sizeof prg);
  len = pos = pc = pc0 = 0;
  memset(&cmd, 0, sizeof cmd);
  memset(args, 0, sizeof args);
  memset(vars, 0, sizeof vars);
  ac = 0;
  cond = false;
  first = true;
}

}  // namespace Comp
