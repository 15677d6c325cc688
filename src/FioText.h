// The half of Fio that no system call touches: the source block's
// bookkeeping and the line building. The one platform file that is built
// (Fio.cpp, Fio_win.cpp or Web.cpp) includes it once, so every build cuts its
// source into blocks and formats every number alike.
#pragma once
#include <cstring>

#include "Fio.h"

namespace Fio {

namespace {

constexpr uint32_t inSize = 1u << 16;
uint8_t inBuf[inSize + 1];  // the block read last, with room for the sentinel

// n > 0 bytes have just been read into inBuf: Get goes on after the first,
// which is returned.
int Filled(uint32_t n) {
  inCur = inBuf + 1;
  inEnd = inBuf + n;
  inBuf[n] = sentinel;
  return inBuf[0];
}

// The output: one buffer per stream. Only the stream written last may hold
// bytes: the other is flushed before a line goes to this one, which keeps the
// order of lines across the two streams as if nothing were buffered.
constexpr uint32_t outSize = 1u << 16;
struct TBuf {
  char data[outSize];
  uint32_t used;
};
TBuf bufs[2];
TStream cur = stdOut;

// The platform file's: hands stream s's buffered bytes on and empties it.
void FlushBuf(TStream s);

// Where a line of at most lineMax characters for stream s begins, once what
// must go first has gone.
inline char* Room(TStream s) {
  if (s != cur) {
    FlushBuf(cur);
    cur = s;
  }
  if (bufs[s].used + lineMax + 2 > outSize) FlushBuf(s);
  return bufs[s].data + bufs[s].used;
}

// Ends stream s's line at p with CR LF.
inline void Close(TStream s, char* p) {
  p[0] = '\r';
  p[1] = '\n';
  bufs[s].used = uint32_t(p + 2 - bufs[s].data);
}

// No stream buffered, standard output first.
inline void Reset() {
  bufs[stdOut].used = 0;
  bufs[stdErr].used = 0;
  cur = stdOut;
}

const char digits[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

char* CardBack(char* e, uint32_t x) {
  while (x >= 100) {
    const uint32_t r = x % 100;
    x /= 100;
    e -= 2;
    memcpy(e, digits + 2 * r, 2);
  }
  if (x >= 10) {
    e -= 2;
    memcpy(e, digits + 2 * x, 2);
  } else {
    *--e = char('0' + x);
  }
  return e;
}

// At most 11 characters: plain loops beat a call of memset and memcpy.
char* Right(char* p, const char* q, const char* e, uint32_t w) {
  for (uint32_t n = uint32_t(e - q); n < w; ++n)
    *p++ = ' ';
  while (q < e)
    *p++ = *q++;
  return p;
}

}  // namespace

void Line(TStream s, const char* text) { End(s, Str(Begin(s), text)); }

char* Str(char* p, const char* s) {
  const size_t n = strlen(s);
  memcpy(p, s, n);
  return p + n;
}

char* Mem(char* p, const char* s, uint32_t n) {
  memcpy(p, s, n);
  return p + n;
}

char* Card(char* p, uint32_t x) { return CardRight(p, x, 0); }

char* Int(char* p, int32_t x) { return IntRight(p, x, 0); }

char* CardRight(char* p, uint32_t x, uint32_t w) {
  char tmp[12];
  char* const e = tmp + sizeof tmp;
  return Right(p, CardBack(e, x), e, w);
}

char* IntBack(char* e, int32_t x) {
  if (x >= 0) return CardBack(e, uint32_t(x));
  char* q = CardBack(e, 0u - uint32_t(x));  // also right for -2147483648
  *--q = '-';
  return q;
}

char* IntRight(char* p, int32_t x, uint32_t w) {
  char tmp[12];
  char* const e = tmp + sizeof tmp;
  return Right(p, IntBack(e, x), e, w);
}

char* ErrLine(const char* head) { return Str(Begin(stdErr), head); }

void Fail(char* p) {
  *p++ = '.';
  End(stdErr, p);
  Exit(9);
}

}  // namespace Fio
