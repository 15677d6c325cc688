#include "Comp.h"

#include <bit>
#include <cstring>

#include "Comp0.h"
#include "Fio.h"

namespace Comp {

#ifdef TOV_WEB
uint64_t bound = UINT64_MAX;
uint64_t steps;
#endif

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
const char strs[2][8] = {"FALSE", "TRUE "};  // padded: the trace copies 8 bytes
bool first;

[[noreturn]] void Err(const char* s) {
  char* p = Fio::Begin(Fio::stdErr);
  p = Fio::Str(p, "Comp: ");
  Fio::Fail(Fio::Str(p, s));
}

[[noreturn]] void ErrCard(const char* s, uint32_t x) {
  char* p = Fio::Begin(Fio::stdErr);
  p = Fio::Str(p, "Comp: ");
  p = Fio::Str(p, s);
  *p++ = ' ';
  Fio::Fail(Fio::Card(p, x));
}

// Makes sure n more bytes of the program lie at pc.
inline void Need(uint32_t n) {
  if (pc + n > len) Err("Bug: End of program");
}

// Operands are stored least significant byte first.
inline uint32_t Word(uint32_t at) {
  if constexpr (std::endian::native == std::endian::little) {
    uint32_t w;
    memcpy(&w, prg + at, 4);
    return w;
  } else {
    return uint32_t(prg[at]) | uint32_t(prg[at + 1]) << 8 | uint32_t(prg[at + 2]) << 16 |
           uint32_t(prg[at + 3]) << 24;
  }
}

// Decodes the command at pc into cmd, afresh each time it runs.
inline void FetchCmd() {
  pc0 = pc;
  Need(1);
  const uint8_t f = prg[pc++];
  cmd.fct = Comp0::TFunction(f);
  switch (f) {
    case Comp0::fHlt: break;
    case Comp0::fOpr:
      Need(1);
      cmd.opr = Comp0::TOperation(prg[pc++]);
      break;
    case Comp0::fVal:
    case Comp0::fLod:
    case Comp0::fSto:
    case Comp0::fJmp:
    case Comp0::fJpf:
    case Comp0::fJpt:
      Need(4);
      cmd.adr = Word(pc);  // the 4-byte operands share one place
      pc += 4;
      break;
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
  p = Fio::CardRight(p, pc0, 4);
  Fio::Mem(p, ": ", 2);
  memset(t.tail, ' ', sizeof t.tail);
  Fio::Mem(Fio::Mem(t.tail, ":  ", 3), text, n);
  t.n = 3 + n;
  t.made = true;
}

// The trace line of cmd, showing the state in which it starts. Columns:
// 1-10 "Comp.Dbg: ", 11-14 pc0, 15-16 ": ", 17-21 cond, 23-24 ac, 26-36 the
// entry below the top, 38-48 the top, 49-51 ":  ", then the text.
inline void Dbg() {
  TTrace& t = traces[pc0];
  if (!t.made) MakeTrace(t);  // converts before the header, as an unknown code must stop first
  if (first) {
    Fio::Line(Fio::stdErr, "Comp.Dbg:   pc  cond  ac       top-1         top");
    first = false;
  }
  char* p = Fio::Begin(Fio::stdErr);  // room for lineMax bytes: the fixed copies fit
  memcpy(p, t.head, 16);
  memcpy(p + 16, strs[cond], 8);
  memset(p + 21, ' ', 27);
  p[22] = ac >= 10 ? char('0' + ac / 10) : ' ';
  p[23] = char('0' + ac % 10);
  if (ac >= 1) Fio::IntBack(p + 48, args[ac - 1]);
  if (ac >= 2) Fio::IntBack(p + 36, args[ac - 2]);
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
  const TOperation o = cmd.opr;
  if (o > oAnd) ErrCard("Invalid operation", o);
  if (o == oWrC) {
    Fio::Line(Fio::stdOut, strs[cond]);
    return;
  }
  const bool two = o >= oAdd && o != oNot;
  const int32_t y = two ? Pop() : 0;
  const int32_t x = Pop();
  int32_t r = 0;
  switch (o) {
    case oWrt: WriteInt(x); break;
    case oNeg: Checked(__builtin_sub_overflow(0, x, &r), r); break;
    case oAdd: Checked(__builtin_add_overflow(x, y, &r), r); break;
    case oSub: Checked(__builtin_sub_overflow(x, y, &r), r); break;
    case oMul: Checked(__builtin_mul_overflow(x, y, &r), r); break;
    case oDiv: Push(Quot(x, y)); break;
    case oBus: Checked(__builtin_sub_overflow(y, x, &r), r); break;
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
    memcpy(p, text, sizeof text);  // Begin leaves room; only n bytes count
    p += n;
    Fio::End(Fio::stdOut, p);
  }
}

void Exec() {
  Start();
#ifdef TOV_WEB
  // the page bounds a run by its step limit
  for (steps = 0; pc < len; ++steps) {
    if (steps == bound) Fio::Exit(9);
#elif defined(TOV_FUZZ_STEPS)
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

void Start() {
  // the trace texts are made afresh for the program in the store
  for (uint32_t a = 0; a < len; ++a)
    traces[a].made = false;
  pc = 0;
}

bool Step() {
  if (pc >= len) return false;
  FetchCmd();
  Dbg();
  ExecCmd();
  return true;
}

void Get(TMachine& m) {
  m.pc = pc;
  m.pc0 = pc0;
  m.cond = cond;
  m.ac = ac;
  memcpy(m.args, args, sizeof args);
  memcpy(m.vars, vars, sizeof vars);
}

void Set(const TMachine& m) {
  pc = m.pc;
  pc0 = m.pc0;
  cond = m.cond;
  ac = m.ac;
  memcpy(args, m.args, sizeof args);
  memcpy(vars, m.vars, sizeof vars);
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
