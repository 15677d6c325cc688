#include "Start.h"

#include "Comp.h"
#include "Comp0.h"
#include "Fio.h"
#include "Gen.h"
#include "Prsr.h"
#include "Scnr.h"

namespace Start {

void Modules() {
  Fio::Init();
  Comp0::Init();
  Comp::Init();
  Scnr::Init();
  Gen::InitModule();
  Prsr::Init();  // its names go after the scanner's keywords
}

}  // namespace Start
