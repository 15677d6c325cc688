// Args: a walk over the process arguments from the left, one at a time.
#pragma once
#include <cstdint>

namespace Args {

enum TSymbol : uint8_t { symNull, symArg, symOpt, symEOA };

constexpr uint32_t litMax = 256;
using TLitStr = char[litMax];  // NUL-terminated when shorter

extern uint32_t cnt;       // number of arguments, the program name not counted
extern uint32_t idx;       // index of the next argument; the first is 1
extern TSymbol sym;        // kind of the current argument
extern TLitStr lit;        // its text (an option without its prefix), cut to litMax
extern uint32_t len;       // length of lit
extern const char* whole;  // the current argument uncut, so that a long path still opens

void Reset();
void Read();

// Start-up: takes the process arguments as the system gives them.
void Init(int argc, char** argv);

}  // namespace Args
