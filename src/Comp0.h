// Comp0: the command set. What the commands are, how they are encoded in the
// program store and their one text form; the machine that runs them is Comp.
#pragma once
#include <cstdint>

namespace Comp0 {

// A command's function; it decides the operand and the command's length:
// fHlt 1 byte, fOpr 2 bytes, all others 5 (operand least significant byte first).
enum TFunction : uint8_t { fHlt, fVal, fLod, fSto, fOpr, fJmp, fJpf, fJpt };
constexpr uint32_t fctCnt = 8;

// oBus and oVid are Sub and Div with the operands taken the other way round:
// the code generator needs them when the right operand was pushed first.
enum TOperation : uint8_t {
  oWrt,
  oWrC,
  oNeg,
  oAdd,
  oSub,
  oMul,
  oDiv,
  oBus,
  oVid,
  oEql,
  oNeq,
  oLss,
  oLeq,
  oGtr,
  oGeq,
  oNot,
  oOr,
  oAnd
};
constexpr uint32_t oprCnt = 18;

// One operand word for every function, read as the type it holds: the value
// of fVal (std::bit_cast<int32_t>), the cell of fLod and fSto, the operation
// of fOpr (TOperation), the address of fJmp, fJpf and fJpt. fHlt has none.
struct TCmdDesc {
  TFunction fct;
  uint32_t opd;
};

// The text of one command, NUL-terminated when shorter than 16 characters.
using TCmdStr = char[16];

constexpr uint32_t endMark = 0xFFFFFFFFu;  // an address field not resolved yet

// ---- The encoding: the only place that knows how a command lies in bytes ----

// What a function's operand word holds.
enum TOperand : uint8_t { opNone, opValue, opCell, opOperation, opAddress };

constexpr uint32_t cmdMax = 5;   // bytes of the longest command
constexpr uint32_t fieldAt = 1;  // the operand (a jump's address field) follows the function byte

// The length of a command whose first byte is f; 0 when f is no function.
constexpr uint32_t Length(uint8_t f) { return f == fHlt ? 1 : f == fOpr ? 2 : f < fctCnt ? 5 : 0; }

TOperand Operand(TFunction f);

// The operand word at p, least significant byte first.
inline uint32_t GetWord(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void PutWord(uint8_t* p, uint32_t x) {
  p[0] = uint8_t(x);
  p[1] = uint8_t(x >> 8);
  p[2] = uint8_t(x >> 16);
  p[3] = uint8_t(x >> 24);
}

// Decodes the command at b into cmd and returns its length, or 0 (cmd
// untouched) when b[0] is no function. Reads up to cmdMax bytes at b
// whatever the length: a store keeps that room after its last byte.
inline uint32_t Decode(const uint8_t* b, TCmdDesc& cmd) {
  switch (b[0]) {
    case fHlt: cmd = TCmdDesc{fHlt, 0}; return 1;
    case fOpr: cmd = TCmdDesc{fOpr, b[fieldAt]}; return 2;
    case fVal:
    case fLod:
    case fSto:
    case fJmp:
    case fJpf:
    case fJpt: cmd = TCmdDesc{TFunction(b[0]), GetWord(b + fieldAt)}; return 5;
    default: return 0;
  }
}
static_assert(Length(fHlt) == 1 && Length(fOpr) == 2 && Length(fVal) == 5 && Length(fJpt) == 5 &&
              Length(fctCnt) == 0);

// Writes cmd into b (room for cmdMax bytes); returns its length.
uint32_t Encode(TCmdDesc cmd, uint8_t* b);

// The names in the text form: "Val", "Add" (3 characters, NUL-terminated).
// fOpr has none of its own: its text is the operation's.
const char* FctName(TFunction f);
const char* OprName(TOperation o);

// What a command does to the machine, in words for a reader (the page, the
// guide's table of commands): to the stack, to the condition flag, to the pc.
// fOpr's are "the operation's": each operation has its own. For a function
// below fctCnt and an operation below oprCnt only. `changes` names the one
// thing a step by the command changes that a learner can predict: "stack"
// (its top), "cond", "cell", "pc" (a jump taken or not), "output", "end", or
// "operation" for fOpr.
struct TEffect {
  const char* stack;
  const char* cond;
  const char* pc;
  const char* changes;
};
const TEffect& FctEffect(TFunction f);
const TEffect& OprEffect(TOperation o);

// Overwrites str with the text form of cmd and returns its length. An unknown
// function or operation ends the process with the "Comp0.Bug" line.
uint32_t Convert(TCmdDesc cmd, TCmdStr& str);

void Init();

}  // namespace Comp0
