// Comp0: the command set. What the commands are, how they are encoded in the
// program store and their one text form; the machine that runs them is Comp.
#pragma once
#include <cstdint>

namespace Comp0 {

// A command's function; it decides the operand and the command's length:
// fHlt 1 byte, fOpr 2 bytes, all others 5 (operand least significant byte first).
enum TFunction : uint8_t { fHlt, fVal, fLod, fSto, fOpr, fJmp, fJpf, fJpt };

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

// Overwrites str with the text form of cmd and returns its length. An unknown
// function or operation ends the process with the "Comp0.Bug" line.
uint32_t Convert(TCmdDesc cmd, TCmdStr& str);

void Init();

}  // namespace Comp0
