// Prsr: the parser. One pass of recursive descent that checks the types of
// the operands and has the code generator emit the code as it goes.
#pragma once

namespace Prsr {

// Compiles the whole program from the scanner's source; returns only when
// it is correct, having emitted the final halt command.
void Run();

void Init();

}  // namespace Prsr
