#include "Comp0.h"

#include <bit>
#include <cstring>

#include "Fio.h"

namespace Comp0 {

namespace {

char* text;       // the text being filled by the conversion in progress
uint32_t length;  // its length so far

// The one table of the commands: per function its name in the text form, what
// its operand is, what it does and what a step by it changes; per operation the
// same. "top" is the value on
// top of the stack, "below" the one beneath it.
constexpr const char* same = "unchanged";
constexpr const char* next = "the next command";
constexpr const char* popTwo = "pop top and below";

struct TFctDesc {
  char name[4];
  TOperand operand;
  TEffect effect;
};
const TFctDesc fcts[] = {
    {"Hlt", opNone, {same, same, "the end of the program: the run stops", "end"}},
    {"Val", opValue, {"push v", same, next, "stack"}},
    {"Lod", opCell, {"push the value of cell i", same, next, "stack"}},
    {"Sto", opCell, {"pop top into cell i", same, next, "cell"}},
    {"Opr", opOperation, {"the operation's", "the operation's", next, "operation"}},
    {"Jmp", opAddress, {same, same, "a", "pc"}},
    {"Jpf", opAddress, {same, same, "a if cond is FALSE, else the next command", "pc"}},
    {"Jpt", opAddress, {same, same, "a if cond is TRUE, else the next command", "pc"}}};
static_assert(sizeof fcts / sizeof fcts[0] == fctCnt);

struct TOprDesc {
  char name[4];
  TEffect effect;
};
const TOprDesc oprs[] = {
    {"Wrt", {"pop top and write it as one line", same, next, "output"}},
    {"WrC", {same, "unchanged; written as one line, TRUE or FALSE", next, "output"}},
    {"Neg", {"replace top by its negation", same, next, "stack"}},
    {"Add", {"pop top and below, push below + top", same, next, "stack"}},
    {"Sub", {"pop top and below, push below - top", same, next, "stack"}},
    {"Mul", {"pop top and below, push below * top", same, next, "stack"}},
    {"Div", {"pop top and below, push below / top rounded down", same, next, "stack"}},
    {"Bus", {"pop top and below, push top - below (Sub reversed)", same, next, "stack"}},
    {"Vid", {"pop top and below, push top / below rounded down (Div reversed)", same, next, "stack"}},
    {"Eql", {popTwo, "set to below = top", next, "cond"}},
    {"Neq", {popTwo, "set to below # top", next, "cond"}},
    {"Lss", {popTwo, "set to below < top", next, "cond"}},
    {"Leq", {popTwo, "set to below <= top", next, "cond"}},
    {"Gtr", {popTwo, "set to below > top", next, "cond"}},
    {"Geq", {popTwo, "set to below >= top", next, "cond"}},
    {"Not", {"replace top by its bitwise complement", same, next, "stack"}},
    {"Or ", {"pop top and below, push below OR top, bit by bit", same, next, "stack"}},
    {"And", {"pop top and below, push below AND top, bit by bit", same, next, "stack"}}};
static_assert(sizeof oprs / sizeof oprs[0] == oprCnt);

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
  memcpy(text + length, oprs[o].name, 3);
  length += 3;
}

}  // namespace

TOperand Operand(TFunction f) { return f < fctCnt ? fcts[f].operand : opNone; }

const char* FctName(TFunction f) { return f < fctCnt ? fcts[f].name : ""; }

const char* OprName(TOperation o) { return o < oprCnt ? oprs[o].name : ""; }

const TEffect& FctEffect(TFunction f) { return fcts[f].effect; }

const TEffect& OprEffect(TOperation o) { return oprs[o].effect; }

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
