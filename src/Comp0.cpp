#include "Comp0.h"

#include <cstring>

#include "Fio.h"

namespace Comp0 {

namespace {

char* ptcs;   // the text being filled by the conversion in progress
uint32_t pl;  // its length so far

const char oprs[][4] = {"Wrt", "WrC", "Neg", "Add", "Sub", "Mul", "Div", "Bus", "Vid",
                        "Eql", "Neq", "Lss", "Leq", "Gtr", "Geq", "Not", "Or ", "And"};
constexpr uint32_t oprCnt = sizeof oprs / sizeof oprs[0];

[[noreturn]] void Bug(const char* s, uint32_t x) {
  char* p = Fio::Begin(Fio::stdErr);
  p = Fio::Str(p, "Comp0.Bug: Unknown ");
  p = Fio::Str(p, s);
  *p++ = ' ';
  Fio::Fail(Fio::Card(p, x));
}

void Init(TCmdStr& str) {
  ptcs = str;
  pl = 0;
}

// Appends a text of fixed length: each call site knows its size.
template <size_t n>
void WrStr(const char (&s)[n]) {
  memcpy(ptcs + pl, s, n - 1);
  pl += uint32_t(n - 1);
}

// The longest text, "Val -2147483648", has 15 characters: numbers are
// written straight into the text.
void WrVal(int32_t v) { pl = uint32_t(Fio::Int(ptcs + pl, v) - ptcs); }

void WrCard(uint32_t x) { pl = uint32_t(Fio::Card(ptcs + pl, x) - ptcs); }

void WrIdx(uint32_t i) { WrCard(i); }

void WrAdr(uint32_t a) {
  if (a == endMark) {
    WrStr("<fixme>");
  } else {
    WrCard(a);
  }
}

void WrOpr(TOperation o) {
  if (o >= oprCnt) Bug("operation", o);
  memcpy(ptcs + pl, oprs[o], 3);
  pl += 3;
}

}  // namespace

uint32_t Convert(TCmdDesc cmd, TCmdStr& str) {
  Init(str);
  switch (cmd.fct) {
    case fHlt: WrStr("Hlt"); break;
    case fVal:
      WrStr("Val ");
      WrVal(cmd.val);
      break;
    case fLod:
      WrStr("Lod ");
      WrIdx(cmd.idx);
      break;
    case fSto:
      WrStr("Sto ");
      WrIdx(cmd.idx);
      break;
    case fOpr: WrOpr(cmd.opr); break;
    case fJmp:
      WrStr("Jmp ");
      WrAdr(cmd.adr);
      break;
    case fJpf:
      WrStr("Jpf ");
      WrAdr(cmd.adr);
      break;
    case fJpt:
      WrStr("Jpt ");
      WrAdr(cmd.adr);
      break;
    default: Bug("function", cmd.fct);
  }
  if (pl < sizeof(TCmdStr)) ptcs[pl] = 0;
  return pl;
}

void Init() {
  ptcs = nullptr;
  pl = 0;
}

}  // namespace Comp0
