// Prsr: the parser. One pass of recursive descent that checks the types of
// the operands and has the code generator emit the code as it goes.
#pragma once
#include <cstdint>

#include "Gen.h"

namespace Prsr {

enum TClass : uint8_t { cConst, cVar, cType };

// An entry of the symbol table.
struct TObjDesc {
  uint32_t id;  // the name's handle in the scanner's identifier store
  Gen::TType typ;
  TClass cls;
  union {
    int32_t val;   // cConst
    uint32_t idx;  // cVar: the variable's cell
  };
};

// The symbol table, for tools that show variables by name: n entries, the
// predeclared names first, then the program's in the order declared.
const TObjDesc* Objs(uint32_t& n);

// The grammar's rules, one per parser procedure, named as the grammar names
// them (RuleName), for a tool that shows where the parser is.
enum TRule : uint8_t {
  rProgram,
  rConstDeclaration,
  rVarDeclaration,
  rStatementSequence,
  rStatement,
  rAssignment,
  rIfStatement,
  rWhileStatement,
  rRepeatStatement,
  rWriteStatement,
  rExpression,
  rSimpleExpr,
  rTerm,
  rFactor
};
constexpr uint32_t ruleCnt = 14;
const char* RuleName(TRule r);

// Who watches the parser enter (enter true) and leave each rule's procedure:
// a tool; null on the console. A compile error leaves no rule.
extern void (*watch)(TRule r, bool enter);

// Compiles the whole program from the scanner's source; returns only when
// it is correct, having emitted the final halt command.
void Run();

void Init();

}  // namespace Prsr
