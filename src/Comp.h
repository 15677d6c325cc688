// Comp: the machine that runs the commands of Comp0's command set. The program
// store with its position cursor (written and patched only by the code
// generator), the listing, and the interpreter.
#pragma once
#include <cstdint>

namespace Comp {

constexpr uint32_t prgSize = 1024;  // bytes of the program store
constexpr uint32_t stackSize = 32;  // entries of the evaluation stack
constexpr uint32_t varCnt = 64;     // cells of the variable store

// Copies n >= 1 bytes into the store at the cursor and advances it.
void Write(const void* x, uint32_t n);
void GetPos(uint32_t& x);
void SetPos(uint32_t x);  // any position up to the program's length
// Fills x with n >= 1 bytes of the program from the cursor and advances it.
void Read(void* x, uint32_t n);

// Writes the listing of the whole store to standard output.
void List();
// Runs the program from address 0, tracing every command on standard error.
void Exec();

// ---- A run taken one command at a time, for tools that show it ----------

// The registers and stores that a run changes.
struct TMachine {
  uint32_t pc;     // the next command
  uint32_t cmdPc;  // the command fetched last
  bool cond;
  uint32_t height;  // entries on the stack
  int32_t stack[stackSize];
  int32_t vars[varCnt];
};

// Readies a run from address 0, as Exec does before its first command.
void Rewind();
// Runs up to n commands from pc with their trace lines, as Exec does, and
// returns how many started (fewer once the program has ended).
uint64_t Run(uint64_t n);
void Get(TMachine& m);
// Puts back a state that Get took of the same program.
void Set(const TMachine& m);

// The machine's run-time errors, by message, in the order a tool lists them,
// and the one that ended the last run (errCnt: none did).
enum TErr : uint8_t {
  eEnd,
  eFunction,
  eStackOver,
  eStackUnder,
  eIndex,
  eAddress,
  eOverflow,
  eDivZero,
  eNegDiv,
  errCnt
};
extern const char* const errTexts[errCnt];
extern TErr failed;

// A bounded run, for tools (the page's step limit, the fuzzing harness):
// Exec ends through Fio::Exit with status stopped instead of starting
// command number bound + 1. The console's run is unbounded.
constexpr uint64_t unbounded = UINT64_MAX;
constexpr int stopped = 10;  // never a status of the console program
extern uint64_t bound;
// The commands started since Rewind by a bounded Exec or by Run; a command
// that ends the run with an error counts.
extern uint64_t steps;

void Init();

}  // namespace Comp
