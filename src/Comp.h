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

void Init();

}  // namespace Comp
