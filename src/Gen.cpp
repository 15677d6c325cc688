#include "Gen.h"

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
int32_t vals[2];      // the value of FALSE and TRUE

[[noreturn]] void Err(const char* s) {
  char* p = Fio::Begin(Fio::stdErr);
  p = Fio::Str(p, "Gen.");
  Fio::Fail(Fio::Str(p, s));
}

[[noreturn]] void ErrCard(const char* s, uint32_t x) {
  char* p = Fio::Begin(Fio::stdErr);
  p = Fio::Str(p, "Gen.");
  p = Fio::Str(p, s);
  *p++ = ' ';
  Fio::Fail(Fio::Card(p, x));
}

// A folding fault, reported at the scanner's current token.
[[noreturn]] void ErrPos(const char* s) {
  char* p = Fio::Begin(Fio::stdErr);
  p = Fio::Str(p, "Gen.");
  p = Fio::Str(p, s);
  p = Fio::Str(p, " (");
  p = Fio::Card(p, Scnr::pos.l);
  *p++ = ',';
  p = Fio::Card(p, Scnr::pos.c);
  *p++ = ')';
  Fio::Fail(p);
}

// Hands the trace line just written, from s to e, to the watcher.
void Tell(TEventKind k, const char* s, const char* e, uint32_t pos, uint32_t at, uint32_t v) {
  if (watch != nullptr) watch(TEvent{k, s, uint32_t(e - s), lck, pos, at, v});
}

void DbgStr(const char* s) {
  char* p = Fio::Begin(Fio::stdErr);
  p = Fio::Str(p, "Gen.Dbg: ");
  Fio::End(Fio::stdErr, Fio::Str(p, s));
}

void DbgCmd() {
  if (first) {
    static const char head[] = "Gen.Dbg: lck  pos  cmd";
    Fio::Line(Fio::stdErr, head);
    first = false;
    Tell(evHead, head + 9, head + sizeof head - 1, 0, 0, 0);
  }
  Comp0::TCmdStr text;
  const uint32_t n = Comp0::Convert(cmd, text);
  uint32_t at;
  Comp::GetPos(at);
  char* p = Fio::Begin(Fio::stdErr);
  p = Fio::Str(p, "Gen.Dbg: ");
  char* const s = p;
  p = Fio::CardRight(p, lck, 3);
  *p++ = ' ';
  p = Fio::CardRight(p, at, 4);
  p = Fio::Mem(p, ": ", 2);
  memcpy(p, text, sizeof text);  // Begin leaves room; only n bytes count
  Fio::End(Fio::stdErr, p + n);
  Tell(evCmd, s, p + n, at, 0, 0);
}

void DbgFix(uint32_t a, uint32_t v) {
  char* p = Fio::Begin(Fio::stdErr);
  p = Fio::Str(p, "Gen.Dbg: ");
  char* const s = p;
  p = Fio::Str(p, "Fixup ");
  p = Fio::Card(p, a);
  p = Fio::Str(p, " with ");
  p = Fio::Card(p, v);
  Fio::End(Fio::stdErr, p);
  Tell(evFix, s, p, 0, a, v);
}

void PutWord(uint32_t x) {
  const uint8_t b[4] = {uint8_t(x), uint8_t(x >> 8), uint8_t(x >> 16), uint8_t(x >> 24)};
  Comp::Write(b, 4);
}

uint32_t GetWord() {
  uint8_t b[4];
  Comp::Read(b, 4);
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

// Emits cmd: traced always, written only when unlocked. For a jump, chain
// receives the position of the new address field, so the jump heads it.
void Emit(uint32_t* chain) {
  DbgCmd();
  if (lck > 0) return;
  const uint8_t f = cmd.fct;
  Comp::Write(&f, 1);
  switch (cmd.fct) {
    case Comp0::fHlt: break;
    case Comp0::fOpr: {
      const uint8_t o = cmd.opr;
      Comp::Write(&o, 1);
      break;
    }
    default:
      if (chain != nullptr) Comp::GetPos(*chain);
      PutWord(cmd.adr);  // every 5-byte operand shares this place
  }
}

void Val(int32_t v) {
  cmd.fct = Comp0::fVal;
  cmd.val = v;
  Emit(nullptr);
}

void Lod(uint32_t i) {
  if (i >= Comp::varCnt) Err("Lod: Invalid index");
  cmd.fct = Comp0::fLod;
  cmd.idx = i;
  Emit(nullptr);
}

void Sto(uint32_t i) {
  if (i >= Comp::varCnt) Err("Sto: Invalid index");
  cmd.fct = Comp0::fSto;
  cmd.idx = i;
  Emit(nullptr);
}

void Opr(TOperation o) {
  cmd.fct = Comp0::fOpr;
  cmd.opr = o;
  Emit(nullptr);
}

// A jump taken when the flag is c, joining chain a.
void Jpc(uint32_t& a, bool c) {
  cmd.fct = c ? Comp0::fJpt : Comp0::fJpf;
  cmd.adr = a;
  Emit(&a);
}

// The only place that patches address fields. Each link is read before its
// field is overwritten, since the field is what holds the next link.
void FixWith(uint32_t v, uint32_t a) {
  if (lck > 0 && a != endMark) ErrCard("FixWith.Bug: Locked but valid address", a);
  uint32_t pos;
  Comp::GetPos(pos);
  while (a != endMark) {
    DbgFix(a, v);
    if (pos < a) ErrCard("FixWith.Bug: Invalid address", a);
    Comp::SetPos(a);
    const uint32_t nxt = GetWord();
    Comp::SetPos(a);
    PutWord(v);
    a = nxt;
  }
  Comp::SetPos(pos);
}

// Joins chain a onto the end of chain b; the result is a.
void Merge(uint32_t& a, uint32_t b) {
  if (b == endMark) return;
  uint32_t pos;
  Comp::GetPos(pos);
  uint32_t t = b;
  for (;;) {
    Comp::SetPos(t);
    const uint32_t tmp = GetWord();
    if (tmp == endMark) break;
    t = tmp;
  }
  Comp::SetPos(t);
  PutWord(a);
  Comp::SetPos(pos);
  a = b;
}

void Lock() {
  static const char s[] = "Lock";
  DbgStr(s);
  ++lck;
  Tell(evLock, s, s + 4, 0, 0, 0);
}

void Unlock() {
  static const char s[] = "Unlock";
  DbgStr(s);
  --lck;
  Tell(evUnlock, s, s + 6, 0, 0, 0);
}

// Puts the value of x on top of the stack.
void Load(TItemDesc& x) {
  switch (x.m) {
    case mConst: Val(x.v); break;
    case mVar: Lod(x.i); break;
    case mStack: break;
    case mCond: {
      uint32_t f, t;
      Init(f);
      Init(t);
      Jpc(f, !x.c);
      Fixup(x.b);
      Val(1);
      Jmp(t);
      Fixup(x.a);
      Fixup(f);
      Val(0);
      Fixup(t);
      break;
    }
    default: ErrCard("Load.Bug: Invalid mode", x.m);
  }
  x.m = mStack;
}

// The command just emitted set the flag to the value of x.
void SetCond(TItemDesc& x) {
  x.m = mCond;
  x.c = true;
  Init(x.a);
  Init(x.b);
}

// Any value but 0 counts as TRUE.
void LoadCond(TItemDesc& x) {
  if (x.m == mCond) Err("LoadCond.Bug: Already in mCond");
  Load(x);
  Val(0);
  Opr(Comp0::oNeq);
  SetCond(x);
}

bool IsRel(TOperation o) { return o >= Comp0::oEql && o <= Comp0::oGeq; }

}  // namespace

void Init(uint32_t& a) { a = endMark; }

void Label(uint32_t& l) { Comp::GetPos(l); }

void Jmp(uint32_t& a) {
  cmd.fct = Comp0::fJmp;
  cmd.adr = a;
  Emit(&a);
}

void Fixup(uint32_t a) {
  if (lck > 0 && a != endMark) ErrCard("Fixup.Bug: Locked but valid address", a);
  uint32_t pos;
  Comp::GetPos(pos);
  FixWith(pos, a);
}

void Hlt() {
  cmd.fct = Comp0::fHlt;
  Emit(nullptr);
}

void JmpFalse(TItemDesc& x) {
  if (x.m == mConst) {
    if (x.v == 0) Lock();  // what follows up to FixFalse can never run
    return;
  }
  if (x.m != mCond) LoadCond(x);
  Jpc(x.a, !x.c);
  Fixup(x.b);
  Init(x.b);
}

void FixFalse(TItemDesc x) {
  switch (x.m) {
    case mConst:
      if (x.v == 0) Unlock();
      break;
    case mCond: Fixup(x.a); break;
    default: ErrCard("FixFalse.Bug: Invalid mode", x.m);
  }
}

void JmpFalseBwd(uint32_t l, TItemDesc x) {
  if (x.m == mConst) {
    if (x.v == 0) Jmp(l);
    return;
  }
  if (x.m != mCond) LoadCond(x);
  Jpc(x.a, !x.c);
  Fixup(x.b);
  FixWith(l, x.a);
}

void Op1(Scnr::TSymbol s, TItemDesc& x) {
  if (x.m == mConst) {
    switch (s) {
      case Scnr::sNot: x.v = vals[x.v == 0]; break;
      case Scnr::sMinus:
        if (x.v == INT32_MIN) ErrPos("Op1.Calc: Arithmetic overflow");
        x.v = -x.v;
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
        x.c = !x.c;
        const uint32_t t = x.a;
        x.a = x.b;
        x.b = t;
      }
      break;
    case Scnr::sMinus:
      Load(x);
      Opr(Comp0::oNeg);
      break;
    case Scnr::sAnd:
      if (x.m != mCond) LoadCond(x);
      Jpc(x.a, !x.c);
      Fixup(x.b);
      Init(x.b);
      break;
    case Scnr::sOr:
      if (x.m != mCond) LoadCond(x);
      Jpc(x.b, x.c);
      Fixup(x.a);
      Init(x.a);
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

void Op2(Scnr::TSymbol s, TItemDesc& x, TItemDesc y) {
  TOperation o{};

  const auto SetOpr = [&] {
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
  };

  // Folds two constants into x.v; no wrapped or undefined value is ever folded.
  const auto Calc = [&] {
    int32_t r = 0;
    bool over = false;
    switch (o) {
      case Comp0::oAdd: over = __builtin_add_overflow(x.v, y.v, &r); break;
      case Comp0::oSub: over = __builtin_sub_overflow(x.v, y.v, &r); break;
      case Comp0::oMul: over = __builtin_mul_overflow(x.v, y.v, &r); break;
      case Comp0::oDiv:
        if (y.v == 0) ErrPos("Op2.Calc: Division by zero");
        if (y.v < 0) ErrPos("Op2.Calc: Negative divisor");
        r = x.v / y.v;
        if (x.v % y.v < 0) --r;  // floored
        break;
      case Comp0::oEql: r = vals[x.v == y.v]; break;
      case Comp0::oNeq: r = vals[x.v != y.v]; break;
      case Comp0::oLss: r = vals[x.v < y.v]; break;
      case Comp0::oLeq: r = vals[x.v <= y.v]; break;
      case Comp0::oGtr: r = vals[x.v > y.v]; break;
      case Comp0::oGeq: r = vals[x.v >= y.v]; break;
      case Comp0::oOr: r = x.v | y.v; break;
      case Comp0::oAnd: r = x.v & y.v; break;
      default: ErrCard("Op2.Calc.Bug: Invalid operation", o);
    }
    if (over) ErrPos("Op2.Calc: Arithmetic overflow");
    x.v = r;
  };

  // The machine takes the entry beneath the top as the left operand; when the
  // right operand lies beneath, the operation is taken the other way round.
  const auto InvOpr = [&] {
    switch (o) {
      case Comp0::oAdd:
      case Comp0::oMul:
      case Comp0::oEql:
      case Comp0::oNeq: break;
      case Comp0::oSub: o = Comp0::oBus; break;
      case Comp0::oDiv: o = Comp0::oVid; break;
      case Comp0::oLss: o = Comp0::oGtr; break;
      case Comp0::oLeq: o = Comp0::oGeq; break;
      case Comp0::oGtr: o = Comp0::oLss; break;
      case Comp0::oGeq: o = Comp0::oLeq; break;
      default: ErrCard("Op2.InvOpr.Bug: Invalid operation", o);
    }
  };

  SetOpr();
  if (x.m == mConst && y.m == mConst) {
    if ((o == Comp0::oAnd && x.v == 0) || (o == Comp0::oOr && x.v != 0)) Unlock();
    Calc();
    return;
  }
  if (o == Comp0::oAnd) {
    if (x.m == mConst) {
      if (x.v != 0) {
        x = y;  // TRUE & y is y
      } else {
        Unlock();
      }
    } else if (x.m == mCond) {
      if (x.b != endMark) ErrCard("Op2.And.Bug: Invalid TRUE list", x.b);
      if (y.m != mCond) LoadCond(y);
      x.c = y.c;
      Merge(x.a, y.a);
      x.b = y.b;
    } else {
      ErrCard("Op2.And.Bug: Invalid mode", x.m);
    }
    return;
  }
  if (o == Comp0::oOr) {
    if (x.m == mConst) {
      if (x.v != 0) {
        Unlock();
      } else {
        x = y;  // FALSE | y is y
      }
    } else if (x.m == mCond) {
      if (x.a != endMark) ErrCard("Op2.Or.Bug: Invalid FALSE list", x.a);
      if (y.m != mCond) LoadCond(y);
      x.c = y.c;
      x.a = y.a;
      Merge(x.b, y.b);
    } else {
      ErrCard("Op2.Or.Bug: Invalid mode", x.m);
    }
    return;
  }
  // A condition with pending jumps would bypass the load of x that follows
  // its code, so it becomes a value first.
  if (y.m == mCond && (y.a != endMark || y.b != endMark) && x.m != mStack) Load(y);
  if (x.m != mStack && y.m == mStack) InvOpr();
  Load(x);
  Load(y);
  Opr(o);
  if (IsRel(o)) SetCond(x);
}

void Asg(TItemDesc x, TItemDesc y) {
  if (x.m != mVar) Err("Asg: Not a variable");
  Load(y);
  Sto(x.i);
}

void Wrt(TItemDesc x) {
  switch (x.t) {
    case tInt:
      Load(x);
      Opr(Comp0::oWrt);
      break;
    case tBool:
      Load(x);
      Val(0);
      Opr(Comp0::oNeq);
      Opr(Comp0::oWrC);
      break;
    default: ErrCard("Wrt.Bug: Invalid type", x.t);
  }
}

void InitModule() {
  cmd = Comp0::TCmdDesc{};
  cmd.adr = 0;
  lck = 0;
  first = true;
  vals[0] = 0;
  vals[1] = 1;
}

}  // namespace Gen
