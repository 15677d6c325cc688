#include "Comp0.h"

#include <bit>
#include <cstring>

#include "Fio.h"

namespace Comp0 {

namespace {

char* text;       // the text being filled by the conversion in progress
uint32_t length;  // its length so far

const char oprTexts[][4] = {"Wrt", "WrC", "Neg", "Add", "Sub", "Mul", "Div", "Bus", "Vid",
                            "Eql", "Neq", "Lss", "Leq", "Gtr", "Geq", "Not", "Or ", "And"};
static_assert(sizeof oprTexts / sizeof oprTexts[0] == oprCnt);

// Per function: its name in the text form and what its operand is.
struct TFctDesc {
  char name[4];
  TOperand operand;
};
const TFctDesc fcts[] = {{"Hlt", opNone},  {"Val", opValue},     {"Lod", opCell},
                         {"Sto", opCell},  {"Opr", opOperation}, {"Jmp", opAddress},
                         {"Jpf", opAddress}, {"Jpt", opAddress}};
static_assert(sizeof fcts / sizeof fcts[0] == fctCnt);

[[noreturn]] void Bug(const char* s, uint32_t x) {
  char* p = Fio::ErrLine("Comp0.Bug: Unknown ");
  p = Fio::Str(p, s);
  *p++ = ' ';
  Fio::Fail(Fio::Card(p, x));
}

void Init(TCmdStr& str) {
  text = str;
  length = 0;
}

// Appends a text of fixed length: each call site knows its size.
template <size_t n>
void WrStr(const char (&s)[n]) {
  memcpy(text + length, s, n - 1);
  length += uint32_t(n - 1);
}

// The longest text, "Val -2147483648", has 15 characters: numbers are
// written straight into the text.
void WrVal(int32_t v) { length = uint32_t(Fio::Int(text + length, v) - text); }

void WrCard(uint32_t x) { length = uint32_t(Fio::Card(text + length, x) - text); }

void WrIdx(uint32_t i) { WrCard(i); }

void WrAdr(uint32_t a) {
  if (a == endMark) {
    WrStr("<fixme>");
  } else {
    WrCard(a);
  }
}

void WrOpr(uint32_t o) {
  if (o >= oprCnt) Bug("operation", o);
  memcpy(text + length, oprTexts[o], 3);
  length += 3;
}

}  // namespace

TOperand Operand(TFunction f) { return f < fctCnt ? fcts[f].operand : opNone; }

const char* FctName(TFunction f) { return f < fctCnt ? fcts[f].name : ""; }

const char* OprName(TOperation o) { return o < oprCnt ? oprTexts[o] : ""; }

uint32_t Encode(TCmdDesc cmd, uint8_t* b) {
  const uint32_t n = Length(cmd.fct);
  b[0] = cmd.fct;
  if (n == 2) b[fieldAt] = uint8_t(cmd.opd);
  if (n == 5) PutWord(b + fieldAt, cmd.opd);
  return n;
}

uint32_t Convert(TCmdDesc cmd, TCmdStr& str) {
  Init(str);
  switch (cmd.fct) {
    case fHlt: WrStr("Hlt"); break;
    case fVal:
      WrStr("Val ");
      WrVal(std::bit_cast<int32_t>(cmd.opd));
      break;
    case fLod:
      WrStr("Lod ");
      WrIdx(cmd.opd);
      break;
    case fSto:
      WrStr("Sto ");
      WrIdx(cmd.opd);
      break;
    case fOpr: WrOpr(cmd.opd); break;
    case fJmp:
      WrStr("Jmp ");
      WrAdr(cmd.opd);
      break;
    case fJpf:
      WrStr("Jpf ");
      WrAdr(cmd.opd);
      break;
    case fJpt:
      WrStr("Jpt ");
      WrAdr(cmd.opd);
      break;
    default: Bug("function", cmd.fct);
  }
  if (length < sizeof(TCmdStr)) text[length] = 0;
  return length;
}

void Init() {
  text = nullptr;
  length = 0;
}

}  // namespace Comp0
