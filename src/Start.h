// Start: the start-up of the modules that compile and run a program, in the
// order in which they need one another. Every driver (the console program,
// the fuzzing harness) calls it before a run; it may be called again, and
// each call brings them all back to their start-up state.
#pragma once

namespace Start {

// Fio, Comp0, Comp, Scnr (standard input as the source), Gen, Prsr.
void Modules();

}  // namespace Start
