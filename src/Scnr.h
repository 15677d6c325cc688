// Scnr: the scanner. Turns the source bytes into tokens with their positions
// and keeps the texts of identifiers in a fixed identifier store.
#pragma once
#include <cstdint>

#include "Fio.h"

namespace Scnr {

// The values are part of the interface: the parser tests ranges of them
// (sMul..sAnd, sPlus..sOr, sEql..sGeq) and the code generator takes
// operators as these values.
enum TSymbol : uint8_t {
  sNull,
  sNum,
  sId,
  sCol,
  sBec,
  sLPar,
  sNot,
  sMul,
  sDiv,
  sAnd,
  sPlus,
  sMinus,
  sOr,
  sEql,
  sNeq,
  sLss,
  sLeq,
  sGtr,
  sGeq,
  sRPar,
  sSemi,
  sDot,
  sConst,
  sVar,
  sBeg,
  sEnd,
  sWrt,
  sRepeat,
  sUntil,
  sIf,
  sThen,
  sElse,
  sElsif,
  sWhile,
  sDo,
  sEOF
};

// A source position, counted from 1; (0, 0) before the first character.
struct TPosDesc {
  uint32_t l;
  uint32_t c;
};

extern Fio::TFile src;  // where the source bytes come from
extern TSymbol sym;     // the current token
extern uint32_t num;    // its value when it is sNum
extern uint32_t id;     // the handle of the current word; where the next one goes
extern TPosDesc pos;    // the position of the current token's first character
extern TPosDesc last;   // the same of the token before it, the last one consumed

// Advances to the next token.
void Read();
// Writes "(line,column)" of the current token at p; returns the end.
char* PosText(char* p);
// Enters the text s as the current entry at id, like a word just read.
void Put(const char* s);
// Keeps the current entry: later words go after it.
void KeepId();
// The text of entry i: its first character, its length in n.
const char* Text(uint32_t i, uint32_t& n);
// The text of keyword k (n its length), for tools that colour sources; null
// past the last.
const char* Keyword(uint32_t k, uint32_t& n);
// Compares the entries i and j: 0 for the same text, else the sign of their order.
int32_t Diff(uint32_t i, uint32_t j);

void Init();

}  // namespace Scnr
