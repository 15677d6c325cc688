#include "Args.h"

#include <cstring>

namespace Args {

uint32_t cnt;
uint32_t idx;
TSymbol sym;
TLitStr lit;
uint32_t len;
const char* whole;

namespace {

int argCnt;
char** argVec;

// Only these three are options among the arguments that begin with "/":
// any other such argument is an absolute path.
bool SlashOption(const char* a) {
  return a[0] == '/' && (a[1] == 'x' || a[1] == 'h' || a[1] == '?') && a[2] == 0;
}

}  // namespace

void Reset() {
  cnt = argCnt > 0 ? uint32_t(argCnt - 1) : 0;
  idx = 1;
  sym = symNull;
  lit[0] = 0;
  len = 0;
  whole = "";
}

void Read() {
  if (idx > cnt) {
    lit[0] = 0;
    len = 0;
    whole = "";
    sym = symEOA;
    return;
  }
  whole = argVec[idx];
  ++idx;
  len = uint32_t(strnlen(whole, litMax));
  memcpy(lit, whole, len);
  if (len < litMax) lit[len] = 0;
  if ((whole[0] == '-' && len > 1) || SlashOption(whole)) {
    memmove(lit, lit + 1, len - 1);
    --len;
    lit[len] = 0;
    sym = symOpt;
  } else {
    sym = symArg;
  }
}

void Init(int argc, char** argv) {
  argCnt = argc;
  argVec = argv;
  Reset();
}

}  // namespace Args
