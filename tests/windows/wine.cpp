// Every CTRL_TYPE value through the system's own control routine, under Wine
// (the runner starts each program through TOV_EMULATOR): the guard stops the
// run for 0 to 4 and 6, with its line last and status 9 and no line torn, and
// passes 5 and what lies above 6 on. The interrupt itself and the hostile
// surroundings are the POSIX build's own tests, run under Wine.
//
//   wine_tests TOV_CTRL.EXE
#include <cstdio>
#include <string>

#include "runner.h"

namespace {

const std::string kMessage = "ConSigs: Signal received, terminating.\r\n";
bool failed = false;

void Failed(const std::string& what, const run::Result& r) {
  printf("%s: status %d%s\n  stdout ends: %s\n  stderr ends: %s\n", what.c_str(), r.status,
         r.timedOut ? " (timed out)" : "",
         run::Show(r.out.substr(r.out.size() - std::min<size_t>(r.out.size(), 200))).c_str(),
         run::Show(r.err.substr(r.err.size() - std::min<size_t>(r.err.size(), 200))).c_str());
  failed = true;
}

// The stopping set is every value up to 6 but the logoff (5).
void Events() {
  for (unsigned ev : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 100u}) {
    const run::Result r = run::Run({.args = {"event", std::to_string(ev)}, .seconds = 30});
    std::string lines = r.out;
    bool ok = lines.starts_with("before\r\n");
    if (ev <= 6 && ev != 5) {
      ok = ok && r.status == 9 && lines.ends_with(kMessage);
      lines.erase(0, 8);
      lines.erase(lines.size() - std::min(lines.size(), kMessage.size()));
    } else {
      ok = ok && r.status == 0 && lines.ends_with("passed on\r\n");
      lines.erase(0, 8);
      lines.erase(lines.size() - std::min(lines.size(), size_t(11)));
    }
    for (size_t i = 0; ok && i < lines.size(); i += 6)
      ok = lines.compare(i, 6, "line\r\n") == 0;
    if (!ok || !r.err.empty()) Failed("event " + std::to_string(ev), r);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: wine_tests TOV_CTRL.EXE\n");
    return 2;
  }
  run::tov = argv[1];
  Events();
  return failed ? 1 : 0;
}
