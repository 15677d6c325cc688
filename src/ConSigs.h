// ConSigs: stops the run in an orderly way, with a message and status 9, when
// the console asks it to (interrupt, quit, hang-up, termination).
#pragma once
#include <cstdint>

namespace ConSigs {

// The kinds of console control event, numbered as the console numbers them.
enum CTRL_TYPE : uint32_t {
  CTRL_C_EVENT = 0,
  CTRL_BREAK_EVENT = 1,
  CTRL_CLOSE_EVENT = 2,
  CTRL_TYPE_3 = 3,
  CTRL_TYPE_4 = 4,
  CTRL_LOGOFF_EVENT = 5,
  CTRL_SHUTDOWN_EVENT = 6
};

// Installs the handler; ends the process with status 9 when it cannot.
void Init();

}  // namespace ConSigs
