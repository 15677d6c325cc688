#include "Prsr.h"

#include <cstdint>

#include "Comp.h"
#include "Fio.h"
#include "Gen.h"
#include "Scnr.h"

namespace Prsr {

void (*watch)(TRule r, bool enter) = nullptr;

namespace {

const char* const ruleNames[] = {"program",
                                 "ConstDeclaration",
                                 "VarDeclaration",
                                 "StatementSequence",
                                 "Statement",
                                 "assignment",
                                 "IfStatement",
                                 "WhileStatement",
                                 "RepeatStatement",
                                 "WriteStatement",
                                 "Expression",
                                 "SimpleExpr",
                                 "Term",
                                 "Factor"};
static_assert(sizeof ruleNames / sizeof ruleNames[0] == ruleCnt);

// Tells the watcher that a rule's procedure runs while this lives. The console
// has no watcher: one test of a pointer each way.
struct TIn {
  TRule r;
  explicit TIn(TRule rule) : r(rule) {
    if (watch) watch(r, true);
  }
  ~TIn() {
    if (watch) watch(r, false);
  }
  TIn(const TIn&) = delete;
  TIn& operator=(const TIn&) = delete;
};

using Gen::TItemDesc;
using Scnr::TPosDesc;
using Scnr::TSymbol;

constexpr uint32_t objMax = 32;
constexpr uint32_t depthMax = 1000;  // nesting of factors and statement sequences

// Every variable takes an entry of the table and its cell is counted from 0,
// so no source can name a cell beyond the machine's variable store.
static_assert(objMax <= Comp::varCnt);

TObjDesc objs[objMax];
uint32_t cnt;    // entries in use; the one at cnt may be half written
uint32_t idx;    // the cell of the next variable
uint32_t depth;  // current nesting, so that no source can exhaust the stack

[[noreturn]] void Err(const char* s) {
  char* p = Scnr::PosText(Fio::ErrLine("Prsr "));
  Fio::Fail(Fio::Str(Fio::Str(p, ": "), s));
}

void Enter() {
  if (depth == depthMax) Err("Nesting too deep");
  ++depth;
}

void Leave() { --depth; }

bool Is(TSymbol lo, TSymbol hi) { return Scnr::sym >= lo && Scnr::sym <= hi; }

// The table index of the current identifier, or cnt when it is not declared.
uint32_t Find() {
  uint32_t i = 0;
  while (i < cnt && Scnr::Diff(objs[i].id, Scnr::id) != 0)
    ++i;
  return i;
}

// The items come from the current token.
void MkItem(TItemDesc& x, const TObjDesc& o) {
  x.t = o.typ;
  x.tok = Scnr::pos;
  switch (o.cls) {
    case cConst:
      x.m = Gen::mConst;
      x.v = o.val;
      break;
    case cVar:
      x.m = Gen::mVar;
      x.i = o.idx;
      break;
    default: Err("Neither constant nor variable");
  }
}

void MkConstItem(TItemDesc& x, Gen::TType t, int32_t v) {
  x.t = t;
  x.m = Gen::mConst;
  x.tok = Scnr::pos;
  x.v = v;
}

void ChkBool(const TItemDesc& x) {
  if (x.t != Gen::tBool) Err("Operand not boolean");
}

void ChkInt(const TItemDesc& x) {
  if (x.t != Gen::tInt) Err("Operand not integer");
}

void ChkCompat(const TItemDesc& x, const TItemDesc& y) {
  if (x.t != y.t) Err("Incompatible types");
}

void Expression(TItemDesc& x);

// Factor = number | ident | "(" Expression ")" | "~" Factor .
void Factor(TItemDesc& x) {
  const TIn in(rFactor);
  Enter();
  switch (Scnr::sym) {
    case Scnr::sNum:
      if (Scnr::num > 2147483647u) Err("Number too large");
      MkConstItem(x, Gen::tInt, int32_t(Scnr::num));
      Scnr::Read();
      break;
    case Scnr::sId: {
      const uint32_t i = Find();
      if (i >= cnt) Err("Identifier undeclared");
      MkItem(x, objs[i]);
      Scnr::Read();
      break;
    }
    case Scnr::sLPar:
      Scnr::Read();
      Expression(x);
      if (Scnr::sym != Scnr::sRPar) Err("Expected operator or \")\"");
      Scnr::Read();
      break;
    case Scnr::sNot: {
      const TPosDesc tok = Scnr::pos;
      Scnr::Read();
      Factor(x);
      ChkBool(x);
      Gen::Op1(Scnr::sNot, x, tok);
      break;
    }
    default: Err("Expected factor");
  }
  Leave();
}

// Term = Factor { ("*" | "/" | "&") Factor } .
void Term(TItemDesc& x) {
  const TIn in(rTerm);
  TItemDesc y;
  Factor(x);
  while (Is(Scnr::sMul, Scnr::sAnd)) {
    const TSymbol op = Scnr::sym;
    const TPosDesc tok = Scnr::pos;
    if (op == Scnr::sAnd) {
      ChkBool(x);
      Gen::Op1(op, x, tok);
    } else {
      ChkInt(x);
    }
    Scnr::Read();
    Factor(y);
    ChkCompat(x, y);
    Gen::Op2(op, x, y, tok);
  }
}

// SimpleExpr = ["+" | "-"] Term { ("+" | "-" | "|") Term } .
// A leading sign applies to the whole first term.
void SimpleExpr(TItemDesc& x) {
  const TIn in(rSimpleExpr);
  TItemDesc y;
  if (Scnr::sym == Scnr::sPlus) {
    Scnr::Read();
    Term(x);
    ChkInt(x);
  } else if (Scnr::sym == Scnr::sMinus) {
    const TPosDesc tok = Scnr::pos;
    Scnr::Read();
    Term(x);
    ChkInt(x);
    Gen::Op1(Scnr::sMinus, x, tok);
  } else {
    Term(x);
  }
  while (Is(Scnr::sPlus, Scnr::sOr)) {
    const TSymbol op = Scnr::sym;
    const TPosDesc tok = Scnr::pos;
    if (op == Scnr::sOr) {
      ChkBool(x);
      Gen::Op1(op, x, tok);
    } else {
      ChkInt(x);
    }
    Scnr::Read();
    Term(y);
    ChkCompat(x, y);
    Gen::Op2(op, x, y, tok);
  }
}

// Expression = SimpleExpr [ relation SimpleExpr ] .
void Expression(TItemDesc& x) {
  const TIn in(rExpression);
  SimpleExpr(x);
  if (Is(Scnr::sEql, Scnr::sGeq)) {
    TItemDesc y;
    const TSymbol rel = Scnr::sym;
    const TPosDesc tok = Scnr::pos;
    Gen::Op1(rel, x, tok);
    Scnr::Read();
    SimpleExpr(y);
    ChkCompat(x, y);
    Gen::Op2(rel, x, y, tok);
    x.t = Gen::tBool;
  }
}

void StatementSequence();

// assignment = ident ":=" Expression .
void Assignment() {
  const TIn in(rAssignment);
  TItemDesc x, y;
  const uint32_t i = Find();
  if (i >= cnt) Err("Identifier undeclared");
  if (objs[i].cls != cVar) Err("Not a variable");
  MkItem(x, objs[i]);
  Scnr::Read();
  if (Scnr::sym != Scnr::sBec) Err("Expected \":=\"");
  Scnr::Read();
  Expression(y);
  ChkCompat(x, y);
  Gen::Asg(x, y);
}

// Condition = Expression, of type BOOLEAN.
void Condition(TItemDesc& x) {
  Expression(x);
  ChkBool(x);
}

void Expect(TSymbol s, const char* msg) {
  if (Scnr::sym != s) Err(msg);
  Scnr::Read();
}

// IfStatement = "IF" Expression "THEN" StatementSequence
//   { "ELSIF" Expression "THEN" StatementSequence } [ "ELSE" StatementSequence ] "END" .
// One chain l collects the jumps that end the branches; it is resolved once, at END.
// A branch's conditional jump comes from its IF or ELSIF, the jump that ends a
// branch from the ELSIF or ELSE after it.
void IfStatement() {
  const TIn in(rIfStatement);
  TItemDesc x;
  uint32_t l;
  TPosDesc tok = Scnr::pos;
  Scnr::Read();
  Condition(x);
  Gen::JmpFalse(x, tok);
  Expect(Scnr::sThen, "Expected \"THEN\"");
  StatementSequence();
  Gen::Init(l);
  while (Scnr::sym == Scnr::sElsif) {
    tok = Scnr::pos;
    Scnr::Read();
    Gen::Jmp(l, tok);
    Gen::FixFalse(x);
    Condition(x);
    Gen::JmpFalse(x, tok);
    Expect(Scnr::sThen, "Expected \"THEN\"");
    StatementSequence();
  }
  if (Scnr::sym == Scnr::sElse) {
    tok = Scnr::pos;
    Scnr::Read();
    Gen::Jmp(l, tok);
    Gen::FixFalse(x);
    StatementSequence();
  } else {
    Gen::FixFalse(x);
  }
  Gen::Fixup(l);
  Expect(Scnr::sEnd, "Expected \"END\"");
}

// WhileStatement = "WHILE" Expression "DO" StatementSequence "END" .
// The exit comes from WHILE, the jump back from END.
void WhileStatement() {
  const TIn in(rWhileStatement);
  TItemDesc x;
  uint32_t l;
  const TPosDesc tok = Scnr::pos;
  Scnr::Read();
  Gen::Label(l);
  Condition(x);
  Expect(Scnr::sDo, "Expected \"DO\"");
  Gen::JmpFalse(x, tok);
  StatementSequence();
  Gen::JmpBwd(l, Scnr::pos);
  Gen::FixFalse(x);
  Expect(Scnr::sEnd, "Expected \"END\"");
}

// RepeatStatement = "REPEAT" StatementSequence "UNTIL" Expression .
void RepeatStatement() {
  const TIn in(rRepeatStatement);
  TItemDesc x;
  uint32_t l;
  Scnr::Read();
  Gen::Label(l);
  StatementSequence();
  const TPosDesc tok = Scnr::pos;
  Expect(Scnr::sUntil, "Expected \"UNTIL\"");
  Condition(x);
  Gen::JmpFalseBwd(l, x, tok);
}

// WriteStatement = "WRITE" Expression .
void WriteStatement() {
  const TIn in(rWriteStatement);
  TItemDesc x;
  const TPosDesc tok = Scnr::pos;
  Scnr::Read();
  Expression(x);
  Gen::Wrt(x, tok);
}

// Statement = [ assignment | IfStatement | WhileStatement | RepeatStatement
//   | WriteStatement ] .
void Statement() {
  const TIn in(rStatement);
  switch (Scnr::sym) {
    case Scnr::sId: Assignment(); break;
    case Scnr::sWrt: WriteStatement(); break;
    case Scnr::sRepeat: RepeatStatement(); break;
    case Scnr::sIf: IfStatement(); break;
    case Scnr::sWhile: WhileStatement(); break;
    default: break;  // the empty statement: the enclosing construct tests the token
  }
}

// StatementSequence = Statement { ";" Statement } .
void StatementSequence() {
  const TIn in(rStatementSequence);
  Enter();
  Statement();
  while (Scnr::sym == Scnr::sSemi) {
    Scnr::Read();
    Statement();
  }
  Leave();
}

// ConstDeclaration = ident "=" Expression ";" .
void ConstDeclaration() {
  const TIn in(rConstDeclaration);
  const uint32_t i = Find();
  if (i < cnt) Err("Identifier redeclared");
  if (cnt >= objMax) Err("Too many identifiers");
  objs[i].id = Scnr::id;
  objs[i].cls = cConst;
  Scnr::KeepId();
  Scnr::Read();
  Expect(Scnr::sEql, "Expected \"=\"");
  TItemDesc x;
  Expression(x);
  if (x.m != Gen::mConst) Err("Expression not constant");
  objs[i].typ = x.t;
  objs[i].val = x.v;
  ++cnt;  // only now visible: a constant cannot refer to itself
  Expect(Scnr::sSemi, "Expected \";\"");
}

// VarDeclaration = ident ":" ident ";" .
void VarDeclaration() {
  const TIn in(rVarDeclaration);
  const uint32_t i = Find();
  if (i < cnt) Err("Identifier redeclared");
  if (cnt >= objMax) Err("Too many identifiers");
  objs[i].id = Scnr::id;
  objs[i].cls = cVar;
  Scnr::KeepId();
  Scnr::Read();
  Expect(Scnr::sCol, "Expected \":\"");
  if (Scnr::sym != Scnr::sId) Err("Expected identifier");
  const uint32_t j = Find();
  if (j >= cnt) Err("Identifier undeclared");
  if (objs[j].cls != cType) Err("Not a type");
  objs[i].typ = objs[j].typ;
  objs[i].idx = idx;
  ++cnt;
  ++idx;
  Scnr::Read();
  Expect(Scnr::sSemi, "Expected \";\"");
}

void Predeclare(const char* name, TClass cls, Gen::TType typ, int32_t val) {
  Scnr::Put(name);
  objs[cnt].id = Scnr::id;
  objs[cnt].typ = typ;
  objs[cnt].cls = cls;
  objs[cnt].val = val;
  Scnr::KeepId();
  ++cnt;
}

}  // namespace

const char* RuleName(TRule r) { return r < ruleCnt ? ruleNames[r] : ""; }

const TObjDesc* Objs(uint32_t& n) {
  n = cnt;
  return objs;
}

// program = [ "CONST" { ConstDeclaration } ] [ "VAR" { VarDeclaration } ]
//   "BEGIN" StatementSequence "END" "." .
void Run() {
  const TIn in(rProgram);
  Scnr::Read();
  if (Scnr::sym == Scnr::sConst) {
    Scnr::Read();
    while (Scnr::sym == Scnr::sId)
      ConstDeclaration();
  }
  if (Scnr::sym == Scnr::sVar) {
    Scnr::Read();
    while (Scnr::sym == Scnr::sId)
      VarDeclaration();
  }
  Expect(Scnr::sBeg, "Expected \"BEGIN\"");
  StatementSequence();
  if (Scnr::sym != Scnr::sEnd) Err("\"BEGIN\" requires \"END\"");
  Scnr::Read();
  // nothing after the final "." is read
  if (Scnr::sym != Scnr::sDot) Err("Expected \";\" or \".\"");
  Gen::Hlt(Scnr::last);  // from the final END
}

void Init() {
  cnt = 0;
  idx = 0;
  depth = 0;
  Predeclare("FALSE", cConst, Gen::tBool, 0);
  Predeclare("TRUE", cConst, Gen::tBool, 1);
  Predeclare("BOOLEAN", cType, Gen::tBool, 0);
  Predeclare("INTEGER", cType, Gen::tInt, 0);
}

}  // namespace Prsr
