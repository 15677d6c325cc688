// Gen: the code generator. Operands travel as items that cost no code until
// their value is needed; booleans are held as the condition flag plus chains
// of pending jumps threaded through the jumps' own address fields.
//
// A chain is the position of the address field of the jump added last (its
// head), or the end marker when it is empty; each field holds the next link,
// the first jump's field the end marker. Resolving a chain writes one address
// into all its fields.
//
// The lock counter lck keeps code that can never run out of the store: while
// it is above 0, commands are traced but not written, and no jump joins a
// chain. It is raised where a constant makes what follows dead and lowered
// where that part ends: JmpFalse of FALSE raises it and FixFalse lowers it; Op1
// of & with FALSE or | with TRUE raises it and the Op2 of the same operator
// lowers it. Locks nest.
#pragma once
#include <cstdint>

#include "Comp0.h"
#include "Scnr.h"

namespace Gen {

enum TType : uint8_t { tBool, tInt };
enum TMode : uint8_t { mConst, mVar, mStack, mCond };

// An mCond item: the flag as the last comparison left it, plus two chains of
// jumps already emitted that leave the condition's code.
struct TCondDesc {
  bool c;      // the flag's value that means TRUE on fall-through
  uint32_t a;  // head of the FALSE chain: jumps taken when the condition is FALSE
  uint32_t b;  // head of the TRUE chain
};

// tok is the token the item comes from: its name or number, or the operator
// whose result it is. The commands that load it are shown there.
struct TItemDesc {
  TType t;
  TMode m;
  Scnr::TPosDesc tok;
  union {
    int32_t v;       // mConst: the value (FALSE 0, TRUE 1)
    uint32_t i;      // mVar: the variable's cell
    TCondDesc cond;  // mCond
  };
};

// ---- Positions and chains ----------------------------------------------
// A label is the position a backward jump returns to; a chain collects
// forward jumps until Fixup resolves it.
//
// A tok argument is the source token a command comes from (a keyword or an
// operator); the generator only hands it to the watcher.

// a := the empty chain.
void Init(uint32_t& a);
// l := the current position, the target of a later JmpBwd.
void Label(uint32_t& l);
// Emits a jump whose target is still open and adds it to chain a (a heads it).
void Jmp(uint32_t& a, Scnr::TPosDesc tok);
// Emits a jump back to label l.
void JmpBwd(uint32_t l, Scnr::TPosDesc tok);
// Every jump of chain a now leads to the current position; a must be empty
// while locked.
void Fixup(uint32_t a);
// Emits the halt that ends the program.
void Hlt(Scnr::TPosDesc tok);

// ---- Conditions of the statements ----------------------------------------
// JmpFalse pairs with FixFalse: code between them runs only when x is TRUE.
// JmpFalseBwd closes a loop whose body starts at a label.

// Needs a boolean item x. Emits the jump taken when x is FALSE and leaves x
// an mCond whose FALSE chain holds it (the TRUE chain resolved to here). A
// constant emits nothing: FALSE raises the lock, TRUE leaves everything as is.
// The jump comes from tok, the keyword of the statement.
void JmpFalse(TItemDesc& x, Scnr::TPosDesc tok);
// Needs the x that JmpFalse left: the jumps taken when x is FALSE now lead
// here, or, for constant FALSE, the lock is lowered again.
void FixFalse(TItemDesc x);
// Needs a boolean item x and the label l of the loop's start. Emits the jump
// back to l taken when x is FALSE, and resolves x's TRUE chain to what
// follows. Constant FALSE is an unconditional jump back; TRUE emits nothing.
// The jump comes from tok.
void JmpFalseBwd(uint32_t l, TItemDesc x, Scnr::TPosDesc tok);

// ---- Operators, assignment and output ------------------------------------
// An operator with two operands calls Op1 with the left operand before the
// right one is parsed, and Op2 once it is; one with one operand (~, a
// leading -) calls Op1 only. The items carry the types the parser checked.
// tok is the operator's token: its commands come from there, and so does the
// result, unless the result is one of the operands unchanged.

// Needs the operand x of ~ or a leading - (s is sNot or sMinus), or the left
// operand of &, | or a relation. A constant operand of ~ and - is folded.
// Otherwise ~ makes x a condition with the opposite meaning, - emits the
// negation, & and | make x a condition and emit its short-cut jump, and a
// relation turns a condition into a value before the right operand's code.
// A constant left operand of & and | emits nothing; FALSE & and TRUE | raise
// the lock, since the right operand can never decide.
void Op1(Scnr::TSymbol s, TItemDesc& x, Scnr::TPosDesc tok);
// Needs the x that Op1 left and the right operand y; leaves the result in x.
// Two constants fold into a constant (a fault ends the run, reported at the
// scanner's current token). For & and |, a constant left operand leaves y
// or itself; otherwise both are joined into a condition. A relation emits
// the comparison and leaves a condition; arithmetic emits the operation and
// leaves a value on the stack.
void Op2(Scnr::TSymbol s, TItemDesc& x, TItemDesc y, Scnr::TPosDesc tok);
// Needs an mVar x and a y of its type. Emits the code that stores y in x;
// the store comes from x's token.
void Asg(TItemDesc x, TItemDesc y);
// Emits the code that writes x to standard output: a number, or TRUE/FALSE.
// The output commands come from tok, the WRITE.
void Wrt(TItemDesc x, Scnr::TPosDesc tok);

// ---- The trace as events, for tools that replay a compilation ------------

// evJoin has no trace line: a chain joined onto another (its first jump's
// field now holds a link), which a replay needs to show the chains as they are.
enum TEventKind : uint8_t { evHead, evCmd, evFix, evLock, evUnlock, evJoin };

struct TEvent {
  TEventKind kind;
  const char* text;     // the whole trace line, without its end (not NUL-terminated)
  uint32_t n;           // its length
  uint32_t lck;         // the lock depth once the event is done
  uint32_t pos;         // evCmd: the command's position (where it went, or would have)
  Comp0::TCmdDesc cmd;  // evCmd: the command
  Scnr::TPosDesc tok;   // evCmd: the source token the command comes from
  uint32_t at;          // evFix, evJoin: the address field patched
  uint32_t value;       // evFix, evJoin: the value written there
};

// Called once for each trace line, just after it is written, and for each
// join; null on the console.
extern void (*watch)(const TEvent& e);

void InitModule();

}  // namespace Gen
