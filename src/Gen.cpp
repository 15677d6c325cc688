#include "Gen.h"

#include <bit>
#include <cstring>

#include "Comp.h"
#include "Comp0.h"
#include "Fio.h"

namespace Gen {

void (*watch)(const TEvent& e) = nullptr;

namespace {

using Comp0::endMark;
using Comp0::TOperation;

// The end marker can never be a real link: no address field lies at
// 0xFFFFFFFF in a store of 1024 bytes.
static_assert(endMark >= Comp::prgSize);

Comp0::TCmdDesc cmd;  // the command being emitted
uint32_t lck;         // while above 0, nothing reaches the store
bool first;           // the trace header is still to come

[[noreturn]] void Err(const char* s) { Fio::Fail(Fio::Str(Fio::ErrLine("Gen."), s)); }

[[noreturn]] void ErrCard(const char* s, uint32_t x) {
  char* p = Fio::Str(Fio::ErrLine("Gen."), s);
  *p++ = ' ';
  Fio::Fail(Fio::Card(p, x));
}

// A folding fault. It is reported at the scanner's current token when the
// fault is found, not at an item's: for Op1 and Op2 that is the token after
// the operand just parsed.
[[noreturn]] void ErrPos(const char* s) {
  char* p = Fio::Str(Fio::ErrLine("Gen."), s);
  *p++ = ' ';
  Fio::Fail(Scnr::PosText(p));
}

// Hands the trace line just written, from s to e, to the watcher.
void Tell(TEventKind k, const char* s, const char* e, uint32_t pos, Scnr::TPosDesc tok, uint32_t at,
          uint32_t v) {
  if (watch != nullptr) watch(TEvent{k, s, uint32_t(e - s), lck, pos, cmd, tok, at, v});
}

// Writes the trace line of s; returns where it starts, e where it ends.
const char* DbgStr(const char* s, const char*& e) {
  char* const line = Fio::Begin(Fio::stdErr);
  char* p = Fio::Str(Fio::Str(line, "Gen.Dbg: "), s);
  Fio::End(Fio::stdErr, p);
  e = p;
  return line;
}

void DbgCmd(Scnr::TPosDesc tok) {
  if (first) {
    static const char head[] = "Gen.Dbg: lck  pos  cmd";
    Fio::Line(Fio::stdErr, head);
    first = false;
    Tell(evHead, head, head + sizeof head - 1, 0, {}, 0, 0);
  }
  Comp0::TCmdStr text;
  const uint32_t n = Comp0::Convert(cmd, text);
  uint32_t at;
  Comp::GetPos(at);
  char* const s = Fio::Begin(Fio::stdErr);
  char* p = Fio::Str(s, "Gen.Dbg: ");
  p = Fio::CardRight(p, lck, 3);
  *p++ = ' ';
  p = Fio::CardRight(p, at, 4);
  p = Fio::Mem(p, ": ", 2);
  memcpy(p, text, sizeof text);  // Begin leaves room; only n bytes count
  Fio::End(Fio::stdErr, p + n);
  Tell(evCmd, s, p + n, at, tok, 0, 0);
}

void DbgFix(uint32_t a, uint32_t v) {
  char* const s = Fio::Begin(Fio::stdErr);
  char* p = Fio::Str(s, "Gen.Dbg: ");
  p = Fio::Str(p, "Fixup ");
  p = Fio::Card(p, a);
  p = Fio::Str(p, " with ");
  p = Fio::Card(p, v);
  Fio::End(Fio::stdErr, p);
  Tell(evFix, s, p, 0, {}, a, v);
}

void PutWord(uint32_t x) {
  uint8_t b[4];
  Comp0::PutWord(b, x);
  Comp::Write(b, 4);
}

uint32_t GetWord() {
  uint8_t b[4];
  Comp::Read(b, 4);
  return Comp0::GetWord(b);
}

// Emits cmd, which comes from the source token tok: traced always, written
// only when unlocked. For a jump, chain receives the position of the new
// address field, so the jump heads it.
void Emit(uint32_t* chain, Scnr::TPosDesc tok) {
  DbgCmd(tok);
  if (lck > 0) return;
  uint8_t b[Comp0::cmdMax];
  const uint32_t n = Comp0::Encode(cmd, b);
  if (chain != nullptr) {
    Comp::GetPos(*chain);
    *chain += Comp0::fieldAt;
  }
  Comp::Write(b, n);
}

void Val(int32_t v, Scnr::TPosDesc tok) {
  cmd.fct = Comp0::fVal;
  cmd.opd = std::bit_cast<uint32_t>(v);
  Emit(nullptr, tok);
}

// The parser never hands out a cell beyond the variable store (a static_assert
// there ties its table to Comp::varCnt).
void Lod(uint32_t i, Scnr::TPosDesc tok) {
  cmd.fct = Comp0::fLod;
  cmd.opd = i;
  Emit(nullptr, tok);
}

void Sto(uint32_t i, Scnr::TPosDesc tok) {
  cmd.fct = Comp0::fSto;
  cmd.opd = i;
  Emit(nullptr, tok);
}

void Opr(TOperation o, Scnr::TPosDesc tok) {
  cmd.fct = Comp0::fOpr;
  cmd.opd = o;
  Emit(nullptr, tok);
}

// A jump taken when the flag is c, joining chain a.
void Jpc(uint32_t& a, bool c, Scnr::TPosDesc tok) {
  cmd.fct = c ? Comp0::fJpt : Comp0::fJpf;
  cmd.opd = a;
  Emit(&a, tok);
}

// The link held in the address field at position at.
uint32_t Link(uint32_t at) {
  Comp::SetPos(at);
  return GetWord();
}

// The only place that writes an address field once its jump is emitted: the
// field at position at, which must lie in the code up to end, receives v.
// Returns the link the field held, read before it is overwritten. Leaves the
// store position after the field; the callers put it back.
uint32_t Patch(uint32_t at, uint32_t v, uint32_t end) {
  if (end < at) ErrCard("FixWith.Bug: Invalid address", at);
  const uint32_t old = Link(at);
  Comp::SetPos(at);
  PutWord(v);
  return old;
}

// Resolves chain a to the address v, one trace line per link.
void FixWith(uint32_t v, uint32_t a) {
  if (lck > 0 && a != endMark) ErrCard("FixWith.Bug: Locked but valid address", a);
  uint32_t pos;
  Comp::GetPos(pos);
  while (a != endMark) {
    DbgFix(a, v);
    a = Patch(a, v, pos);  // the field held the next link
  }
  Comp::SetPos(pos);
}

// Joins chain a onto the end of chain b; the result is a. No trace line (the
// jumps keep their targets open), only an event for the watcher. No lock
// check: while locked, chains stay empty.
void Merge(uint32_t& a, uint32_t b) {
  if (b == endMark) return;
  uint32_t pos;
  Comp::GetPos(pos);
  uint32_t last = b;
  for (uint32_t next = Link(last); next != endMark; next = Link(last))
    last = next;
  Patch(last, a, pos);
  Comp::SetPos(pos);
  if (a != endMark) Tell(evJoin, nullptr, nullptr, 0, {}, last, a);
  a = b;
}

void Lock() {
  const char* e;
  const char* s = DbgStr("Lock", e);
  ++lck;
  Tell(evLock, s, e, 0, {}, 0, 0);
}

void Unlock() {
  const char* e;
  const char* s = DbgStr("Unlock", e);
  --lck;
  Tell(evUnlock, s, e, 0, {}, 0, 0);
}

// Puts the value of x on top of the stack; a condition becomes 1 or 0. The
// commands come from x's token.
void Load(TItemDesc& x) {
  switch (x.m) {
    case mConst: Val(x.v, x.tok); break;
    case mVar: Lod(x.i, x.tok); break;
    case mStack: break;
    case mCond: {
      uint32_t toFalse, toEnd;
      Init(toFalse);
      Init(toEnd);
      Jpc(toFalse, !x.cond.c, x.tok);
      Fixup(x.cond.b);
      Val(1, x.tok);
      Jmp(toEnd, x.tok);
      Fixup(x.cond.a);
      Fixup(toFalse);
      Val(0, x.tok);
      Fixup(toEnd);
      break;
    }
    default: ErrCard("Load.Bug: Invalid mode", x.m);
  }
  x.m = mStack;
}

// The command just emitted set the flag to the value of x.
void SetCond(TItemDesc& x) {
  x.m = mCond;
  x.cond.c = true;
  Init(x.cond.a);
  Init(x.cond.b);
}

// Any value but 0 counts as TRUE.
void LoadCond(TItemDesc& x) {
  if (x.m == mCond) Err("LoadCond.Bug: Already in mCond");
  Load(x);
  Val(0, x.tok);
  Opr(Comp0::oNeq, x.tok);
  SetCond(x);
}

bool IsRel(TOperation o) { return o >= Comp0::oEql && o <= Comp0::oGeq; }

// The operation of the operator s.
TOperation Operation(Scnr::TSymbol s) {
  TOperation o{};
  switch (s) {
    case Scnr::sMul: o = Comp0::oMul; break;
    case Scnr::sDiv: o = Comp0::oDiv; break;
    case Scnr::sAnd: o = Comp0::oAnd; break;
    case Scnr::sPlus: o = Comp0::oAdd; break;
    case Scnr::sMinus: o = Comp0::oSub; break;
    case Scnr::sOr: o = Comp0::oOr; break;
    case Scnr::sEql: o = Comp0::oEql; break;
    case Scnr::sNeq: o = Comp0::oNeq; break;
    case Scnr::sLss: o = Comp0::oLss; break;
    case Scnr::sLeq: o = Comp0::oLeq; break;
    case Scnr::sGtr: o = Comp0::oGtr; break;
    case Scnr::sGeq: o = Comp0::oGeq; break;
    default: ErrCard("Op2.SetOpr.Bug: Invalid symbol", s);
  }
  return o;
}

// Folds the constants x and y of operator s into x; no wrapped or undefined
// value is ever folded. Its faults are reported at the scanner's current
// token, which is the one after y as long as the parser calls Op2 straight
// after y: calling it later would move the reported column.
void Fold(Scnr::TSymbol s, TItemDesc& x, const TItemDesc& y) {
  int32_t r = 0;
  bool over = false;
  switch (s) {
    case Scnr::sPlus: over = __builtin_add_overflow(x.v, y.v, &r); break;
    case Scnr::sMinus: over = __builtin_sub_overflow(x.v, y.v, &r); break;
    case Scnr::sMul: over = __builtin_mul_overflow(x.v, y.v, &r); break;
    case Scnr::sDiv:
      if (y.v == 0) ErrPos("Op2.Calc: Division by zero");
      if (y.v < 0) ErrPos("Op2.Calc: Negative divisor");
      r = x.v / y.v;
      if (x.v % y.v < 0) --r;  // floored
      break;
    case Scnr::sEql: r = int32_t(x.v == y.v); break;
    case Scnr::sNeq: r = int32_t(x.v != y.v); break;
    case Scnr::sLss: r = int32_t(x.v < y.v); break;
    case Scnr::sLeq: r = int32_t(x.v <= y.v); break;
    case Scnr::sGtr: r = int32_t(x.v > y.v); break;
    case Scnr::sGeq: r = int32_t(x.v >= y.v); break;
    case Scnr::sAnd:
      if (x.v == 0) Unlock();  // the lock Op1 took for the dead right operand
      r = x.v & y.v;
      break;
    case Scnr::sOr:
      if (x.v != 0) Unlock();
      r = x.v | y.v;
      break;
    default: ErrCard("Op2.SetOpr.Bug: Invalid symbol", s);
  }
  if (over) ErrPos("Op2.Calc: Arithmetic overflow");
  x.v = r;
}

// x & y. A constant x decides: TRUE & y is y, FALSE & y is FALSE (y's code
// went by under the lock that Op1 took, which ends here). A condition x, whose
// TRUE chain Op1 has resolved, takes y as a condition and y's FALSE jumps,
// and comes from the operator's token tok.
void And(TItemDesc& x, TItemDesc y, Scnr::TPosDesc tok) {
  if (x.m == mConst) {
    if (x.v != 0) {
      x = y;
    } else {
      Unlock();
    }
  } else if (x.m == mCond) {
    if (x.cond.b != endMark) ErrCard("Op2.And.Bug: Invalid TRUE list", x.cond.b);
    if (y.m != mCond) LoadCond(y);
    x.cond.c = y.cond.c;
    Merge(x.cond.a, y.cond.a);
    x.cond.b = y.cond.b;
    x.tok = tok;
  } else {
    ErrCard("Op2.And.Bug: Invalid mode", x.m);
  }
}

// x | y, the mirror image of And: FALSE | y is y, TRUE | y is TRUE.
void Or(TItemDesc& x, TItemDesc y, Scnr::TPosDesc tok) {
  if (x.m == mConst) {
    if (x.v != 0) {
      Unlock();
    } else {
      x = y;
    }
  } else if (x.m == mCond) {
    if (x.cond.a != endMark) ErrCard("Op2.Or.Bug: Invalid FALSE list", x.cond.a);
    if (y.m != mCond) LoadCond(y);
    x.cond.c = y.cond.c;
    x.cond.a = y.cond.a;
    Merge(x.cond.b, y.cond.b);
    x.tok = tok;
  } else {
    ErrCard("Op2.Or.Bug: Invalid mode", x.m);
  }
}

// The machine takes the entry beneath the top as the left operand; when the
// right operand lies beneath, the operation is taken the other way round.
TOperation Reversed(TOperation o) {
  switch (o) {
    case Comp0::oAdd:
    case Comp0::oMul:
    case Comp0::oEql:
    case Comp0::oNeq: return o;
    case Comp0::oSub: return Comp0::oBus;
    case Comp0::oDiv: return Comp0::oVid;
    case Comp0::oLss: return Comp0::oGtr;
    case Comp0::oLeq: return Comp0::oGeq;
    case Comp0::oGtr: return Comp0::oLss;
    case Comp0::oGeq: return Comp0::oLeq;
    default: ErrCard("Op2.InvOpr.Bug: Invalid operation", o);
  }
}

// Puts x and y on the stack for the operation o and emits it from the token
// tok, which the result x comes from; o is taken the other way round when y
// ends up beneath x.
void Operate(TOperation o, TItemDesc& x, TItemDesc& y, Scnr::TPosDesc tok) {
  // A condition y with pending jumps is not yet on the stack, but its code is
  // already emitted: the load of x after it would be bypassed by those jumps.
  // So y becomes a value first, and lies beneath x.
  if (y.m == mCond && (y.cond.a != endMark || y.cond.b != endMark) && x.m != mStack) Load(y);
  if (x.m != mStack && y.m == mStack) o = Reversed(o);
  Load(x);
  Load(y);
  Opr(o, tok);
  x.tok = tok;
}

}  // namespace

void Init(uint32_t& a) { a = endMark; }

void Label(uint32_t& l) { Comp::GetPos(l); }

void Jmp(uint32_t& a, Scnr::TPosDesc tok) {
  cmd.fct = Comp0::fJmp;
  cmd.opd = a;
  Emit(&a, tok);
}

void JmpBwd(uint32_t l, Scnr::TPosDesc tok) {
  cmd.fct = Comp0::fJmp;
  cmd.opd = l;
  Emit(nullptr, tok);
}

void Fixup(uint32_t a) {
  if (lck > 0 && a != endMark) ErrCard("Fixup.Bug: Locked but valid address", a);
  uint32_t pos;
  Comp::GetPos(pos);
  FixWith(pos, a);
}

void Hlt(Scnr::TPosDesc tok) {
  cmd.fct = Comp0::fHlt;
  Emit(nullptr, tok);
}

void JmpFalse(TItemDesc& x, Scnr::TPosDesc tok) {
  if (x.m == mConst) {
    if (x.v == 0) Lock();  // what follows up to FixFalse can never run
    return;
  }
  if (x.m != mCond) LoadCond(x);
  Jpc(x.cond.a, !x.cond.c, tok);
  Fixup(x.cond.b);
  Init(x.cond.b);
}

void FixFalse(TItemDesc x) {
  switch (x.m) {
    case mConst:
      if (x.v == 0) Unlock();
      break;
    case mCond: Fixup(x.cond.a); break;
    default: ErrCard("FixFalse.Bug: Invalid mode", x.m);
  }
}

void JmpFalseBwd(uint32_t l, TItemDesc x, Scnr::TPosDesc tok) {
  if (x.m == mConst) {
    if (x.v == 0) JmpBwd(l, tok);
    return;
  }
  if (x.m != mCond) LoadCond(x);
  Jpc(x.cond.a, !x.cond.c, tok);
  Fixup(x.cond.b);
  FixWith(l, x.cond.a);
}

void Op1(Scnr::TSymbol s, TItemDesc& x, Scnr::TPosDesc tok) {
  if (x.m == mConst) {
    switch (s) {
      case Scnr::sNot:
        x.v = int32_t(x.v == 0);
        x.tok = tok;
        break;
      case Scnr::sMinus:
        if (x.v == INT32_MIN) ErrPos("Op1.Calc: Arithmetic overflow");
        x.v = -x.v;
        x.tok = tok;
        break;
      case Scnr::sAnd:
        if (x.v == 0) Lock();  // the right operand is dead
        break;
      case Scnr::sOr:
        if (x.v != 0) Lock();
        break;
      case Scnr::sEql:
      case Scnr::sNeq:
      case Scnr::sLss:
      case Scnr::sLeq:
      case Scnr::sGtr:
      case Scnr::sGeq: break;
      default: ErrCard("Op1.Calc.Bug: Invalid symbol", s);
    }
    return;
  }
  switch (s) {
    case Scnr::sNot:
      if (x.m != mCond) LoadCond(x);
      {
        x.cond.c = !x.cond.c;
        const uint32_t t = x.cond.a;
        x.cond.a = x.cond.b;
        x.cond.b = t;
      }
      x.tok = tok;
      break;
    case Scnr::sMinus:
      Load(x);
      Opr(Comp0::oNeg, tok);
      x.tok = tok;
      break;
    case Scnr::sAnd:
      if (x.m != mCond) LoadCond(x);
      Jpc(x.cond.a, !x.cond.c, tok);
      Fixup(x.cond.b);
      Init(x.cond.b);
      break;
    case Scnr::sOr:
      if (x.m != mCond) LoadCond(x);
      Jpc(x.cond.b, x.cond.c, tok);
      Fixup(x.cond.a);
      Init(x.cond.a);
      break;
    case Scnr::sEql:
    case Scnr::sNeq:
    case Scnr::sLss:
    case Scnr::sLeq:
    case Scnr::sGtr:
    case Scnr::sGeq:
      if (x.m == mCond) Load(x);  // a condition becomes 1 or 0 before the right operand
      break;
    default: ErrCard("Op1.Gen.Bug: Invalid symbol", s);
  }
}

void Op2(Scnr::TSymbol s, TItemDesc& x, TItemDesc y, Scnr::TPosDesc tok) {
  if (x.m == mConst && y.m == mConst) {
    Fold(s, x, y);
    x.tok = tok;
  } else if (s == Scnr::sAnd) {
    And(x, y, tok);
  } else if (s == Scnr::sOr) {
    Or(x, y, tok);
  } else {
    const TOperation o = Operation(s);
    Operate(o, x, y, tok);
    if (IsRel(o)) SetCond(x);  // the comparison has set the flag
  }
}

void Asg(TItemDesc x, TItemDesc y) {
  if (x.m != mVar) Err("Asg: Not a variable");
  Load(y);
  Sto(x.i, x.tok);
}

void Wrt(TItemDesc x, Scnr::TPosDesc tok) {
  switch (x.t) {
    case tInt:
      Load(x);
      Opr(Comp0::oWrt, tok);
      break;
    case tBool:
      Load(x);
      Val(0, tok);
      Opr(Comp0::oNeq, tok);
      Opr(Comp0::oWrC, tok);
      break;
    default: ErrCard("Wrt.Bug: Invalid type", x.t);
  }
}

void InitModule() {
  cmd = Comp0::TCmdDesc{};
  lck = 0;
  first = true;
}

}  // namespace Gen
