// Gen: the code generator. Operands travel as items that cost no code until
// their value is needed; booleans are held as the condition flag plus chains
// of pending jumps threaded through the jumps' own address fields.
#pragma once
#include <cstdint>

#include "Scnr.h"

namespace Gen {

enum TType : uint8_t { tBool, tInt };
enum TMode : uint8_t { mConst, mVar, mStack, mCond };

struct TItemDesc {
  TType t;
  TMode m;
  union {
    int32_t v;   // mConst: the value (FALSE 0, TRUE 1)
    uint32_t i;  // mVar: the variable's cell
    struct {
      bool c;      // mCond: the flag's value that means TRUE on fall-through
      uint32_t a;  // mCond: head of the FALSE chain
      uint32_t b;  // mCond: head of the TRUE chain
    };
  };
};

// Positions and chains.
void Init(uint32_t& a);   // a := an empty chain
void Label(uint32_t& l);  // l := the current position
void Jmp(uint32_t& a);    // a jump to a label, or one more jump on chain a
void Fixup(uint32_t a);   // every jump of chain a now leads here
void Hlt();

// Conditions of the statements.
void JmpFalse(TItemDesc& x);
void FixFalse(TItemDesc x);
void JmpFalseBwd(uint32_t l, TItemDesc x);

// Operators, assignment and output.
void Op1(Scnr::TSymbol s, TItemDesc& x);
void Op2(Scnr::TSymbol s, TItemDesc& x, TItemDesc y);
void Asg(TItemDesc x, TItemDesc y);
void Wrt(TItemDesc x);

// ---- The trace as events, for tools that replay a compilation ------------

enum TEventKind : uint8_t { evHead, evCmd, evFix, evLock, evUnlock };

struct TEvent {
  TEventKind kind;
  const char* text;  // the trace line after "Gen.Dbg: " (not NUL-terminated)
  uint32_t n;        // its length
  uint32_t lck;      // the lock depth once the event is done
  uint32_t pos;      // evCmd: the command's position (where it went, or would have)
  uint32_t at;       // evFix: the address field patched
  uint32_t value;    // evFix: the value written there
};

// Called once for each trace line, just after it is written; null on the
// console.
extern void (*watch)(const TEvent& e);

void InitModule();

}  // namespace Gen
