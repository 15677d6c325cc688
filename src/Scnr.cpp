#include "Scnr.h"

namespace Scnr {

Fio::TFile src;
TSymbol sym;
uint32_t num;
uint32_t id;
TPosDesc pos;
TPosDesc last;

namespace {

// The look-ahead once the input has ended. It is the input blocks' sentinel
// too, so that Skip's loops stop at the end of a block as at the end of input.
constexpr uint8_t eot = Fio::sentinel;
constexpr uint32_t bufSize = 1024;
constexpr uint32_t wordMax = 254;  // the size byte holds the length + 1
constexpr uint32_t kwMax = 20;

struct TKwDesc {
  TSymbol sym;
  uint32_t id;
};

uint8_t chr;      // the look-ahead: the next source byte not yet consumed
TPosDesc chrPos;  // its position
uint8_t buf[bufSize];
uint32_t len;             // just past the entry written last
TKwDesc keywords[kwMax];  // in ascending Diff order of their texts
uint32_t keywordCnt;

[[noreturn]] void Err(const char* s) {
  char* p = PosText(Fio::ErrLine("Scnr "));
  Fio::Fail(Fio::Str(Fio::Str(p, ": "), s));
}

// Reads the next byte into the look-ahead.
inline void Next() {
  const int b = Fio::Get(src);
  if (b >= 0) {
    chr = uint8_t(b);
  } else if (b == Fio::eof) {
    chr = eot;
  } else {
    Err("Read error");  // never taken for the end: that would compile half a program
  }
}

// Consumes the look-ahead. Once the input has ended it stays ended and the
// position no longer moves; a byte 1AH ends it too.
inline void Get() {
  if (chr == eot) return;
  if (chr == '\n') {
    ++chrPos.l;
    chrPos.c = 1;
  } else {
    ++chrPos.c;
  }
  Next();
}

// Byte classes for the loops that skip white space and comment text; neither
// holds 1AH (the end, and the block sentinel) or the line feed (a new line).
constexpr uint8_t clsBlank = 1;  // white space
constexpr uint8_t clsText = 2;   // comment text that needs no second look
struct TClasses {
  uint8_t c[256];
  constexpr TClasses() : c() {
    for (int b = 0; b < 256; ++b) {
      const bool blank = (b <= ' ' || b >= 0x7F) && b != eot && b != '\n';
      const bool text = b != eot && b != '\n' && b != '(' && b != '*';
      c[b] = uint8_t((blank ? clsBlank : 0) | (text ? clsText : 0));
    }
  }
};
constexpr TClasses cls;

// Consumes look-ahead bytes of class m, which move only the column. The loop
// runs on the input block itself and stops at the block's sentinel at worst;
// the column follows from how far it went.
template <uint8_t m>
inline void Skip() {
  while (cls.c[chr] & m) {
    const uint8_t* const s = Fio::Rest();  // the byte after the look-ahead
    const uint8_t* p = s;
    uint8_t c;
    do {
      c = *p++;
    } while (cls.c[c] & m);
    chrPos.c += uint32_t(p - s);  // the look-ahead and every byte before c
    if (Fio::Resume(p)) {
      chr = c;
    } else {
      Next();  // c was the sentinel: the block is used up
    }
  }
}

inline bool Digit() { return chr >= '0' && chr <= '9'; }
inline bool Letter() { return (chr >= 'A' && chr <= 'Z') || (chr >= 'a' && chr <= 'z'); }
inline bool Alpha() { return Digit() || Letter(); }

// A number runs on over letters and digits alike; a letter makes it invalid.
void Number() {
  sym = sNum;
  num = 0;
  do {
    if (!Digit()) Err("Invalid number");
    const uint32_t d = uint32_t(chr - '0');
    if (num > (4294967295u - d) / 10) Err("Number too large");
    num = num * 10 + d;
    Get();
  } while (Alpha());
}

void Id() {
  sym = sId;
  uint32_t k = id + 1;
  do {
    if (k >= bufSize) Err("Buffer full");
    if (k - id > wordMax) Err("Identifier too long");
    buf[k] = chr;
    ++k;
    len = k;
    Get();
  } while (Alpha());
  buf[id] = uint8_t(len - id);
  // The keyword table is in ascending Diff order, so a binary search finds
  // the lowest keyword not below the word.
  uint32_t lo = 0, hi = keywordCnt;
  while (lo < hi) {
    const uint32_t m = (lo + hi) / 2;
    if (Diff(id, keywords[m].id) > 0) {
      lo = m + 1;
    } else {
      hi = m;
    }
  }
  if (lo < keywordCnt && Diff(id, keywords[lo].id) == 0) sym = keywords[lo].sym;
}

// Entered with "(" consumed and "*" ahead; comments nest.
void Comment() {
  Get();
  uint32_t level = 1;
  while (level > 0) {
    switch (chr) {
      case eot: Err("Unterminated comment (start pos)");
      case '(':
        Get();
        if (chr == '*') {
          ++level;
          Get();
        }
        break;
      case '*':
        Get();
        if (chr == ')') {
          --level;
          Get();
        }
        break;
      default:
        Skip<clsText>();
        if (chr == '\n') Get();
    }
  }
}

// Enters the keywords in ascending Diff order, which the lookup's binary
// search relies on: one out of order ends the run at start-up.
void PutKw(TSymbol s, const char* text) {
  if (keywordCnt >= kwMax) Err("Bug: Too many keywords");
  keywords[keywordCnt].sym = s;
  keywords[keywordCnt].id = id;
  ++keywordCnt;
  Put(text);
  KeepId();
  if (keywordCnt > 1 && Diff(keywords[keywordCnt - 2].id, keywords[keywordCnt - 1].id) >= 0) {
    Err("Bug: Keywords out of order");
  }
}

// The token of a character that stands for itself.
TSymbol Single(uint8_t c) {
  switch (c) {
    case '#': return sNeq;
    case '&': return sAnd;
    case ')': return sRPar;
    case '*': return sMul;
    case '+': return sPlus;
    case '-': return sMinus;
    case '.': return sDot;
    case '/': return sDiv;
    case ';': return sSemi;
    case '=': return sEql;
    case '|': return sOr;
    case '~': return sNot;
    default: return sNull;
  }
}

}  // namespace

void Read() {
  last = pos;
  for (;;) {
    // control characters, the blank, DEL and every byte above 7FH are white space
    for (;;) {
      Skip<clsBlank>();
      if (chr != '\n') break;
      Get();
    }
    pos = chrPos;
    switch (chr) {
      case eot: sym = sEOF; return;
      case ':':
        Get();
        if (chr == '=') {
          sym = sBec;
          Get();
        } else {
          sym = sCol;
        }
        return;
      case '<':
        Get();
        if (chr == '=') {
          sym = sLeq;
          Get();
        } else if (chr == '>') {
          sym = sNeq;
          Get();
        } else {
          sym = sLss;
        }
        return;
      case '>':
        Get();
        if (chr == '=') {
          sym = sGeq;
          Get();
        } else {
          sym = sGtr;
        }
        return;
      case '(':
        Get();
        if (chr == '*') {
          Comment();
          continue;
        }
        sym = sLPar;
        return;
      default:
        if (Letter()) {
          Id();
        } else if (Digit()) {
          Number();
        } else {
          sym = Single(chr);
          if (sym == sNull) Err("Invalid character");
          Get();
        }
        return;
    }
  }
}

char* PosText(char* p) {
  *p++ = '(';
  p = Fio::Card(p, pos.l);
  *p++ = ',';
  p = Fio::Card(p, pos.c);
  *p++ = ')';
  return p;
}

void Put(const char* s) {
  uint32_t k = id + 1;
  for (; *s != 0; ++s) {
    if (k >= bufSize) Err("Buffer full");
    buf[k] = uint8_t(*s);
    ++k;
    len = k;
  }
  buf[id] = uint8_t(len - id);
}

void KeepId() { id = len; }

const char* Text(uint32_t i, uint32_t& n) {
  n = buf[i] - 1u;  // the size byte counts itself
  return reinterpret_cast<const char*>(buf + i + 1);
}

const char* Keyword(uint32_t k, uint32_t& n) {
  if (k >= keywordCnt) return nullptr;
  return Text(keywords[k].id, n);
}

int32_t Diff(uint32_t i, uint32_t j) {
  const uint32_t n = buf[i];
  for (uint32_t k = 0; k < n; ++k) {
    if (buf[i + k] != buf[j + k]) return int32_t(buf[i + k]) - int32_t(buf[j + k]);
  }
  return 0;
}

void Init() {
  pos = last = chrPos = TPosDesc{0, 0};
  buf[0] = 0;
  src = Fio::stdIn;
  sym = sNull;
  num = 0;
  id = 0;
  chr = '\n';
  len = 0;
  keywordCnt = 0;
  PutKw(sDo, "DO");
  PutKw(sIf, "IF");
  PutKw(sEnd, "END");
  PutKw(sVar, "VAR");
  PutKw(sElse, "ELSE");
  PutKw(sThen, "THEN");
  PutKw(sBeg, "BEGIN");
  PutKw(sConst, "CONST");
  PutKw(sElsif, "ELSIF");
  PutKw(sUntil, "UNTIL");
  PutKw(sWhile, "WHILE");
  PutKw(sWrt, "WRITE");
  PutKw(sRepeat, "REPEAT");
}

}  // namespace Scnr
