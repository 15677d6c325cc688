// libFuzzer harness: one input is one source text, compiled, listed and run
// (as with -x) in this process. Start::Modules brings all the modules'
// state back to start-up, so every input starts from a fresh program; the
// end of each run, normal or not, comes back here through Fio::exitHook.
// Executed programs are cut after TOV_FUZZ_STEPS commands (set by the build),
// since a program may loop by design.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "Comp.h"
#include "Comp0.h"
#include "Fio.h"
#include "Prsr.h"
#include "Scnr.h"
#include "Start.h"

#ifndef TOV_FUZZ
#error "build with -DTOV_FUZZ"
#endif

extern "C" void __sanitizer_set_report_fd(void* fd) __attribute__((weak));

namespace {

jmp_buf back;
int status;

[[noreturn]] void Caught(int s) {
  status = s;
  longjmp(back, 1);
}

int nullFd = -1;
int errFd = -1;  // the fuzzer's own standard error while fd 2 is silenced

bool IsNull(int fd) {
  struct stat a, b;
  return fstat(fd, &a) == 0 && fstat(nullFd, &b) == 0 && S_ISCHR(a.st_mode) &&
         a.st_rdev == b.st_rdev;
}

// The program writes its listing and traces to fds 1 and 2; both go to
// /dev/null. When the fuzzer was not told to silence fd 2 itself
// (-close_fd_mask), fd 2 is silenced around each run only, and sanitizer
// reports keep the real standard error.
void Silence() {
  nullFd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (nullFd < 0) abort();
  dup2(nullFd, 1);
  if (!IsNull(2)) {
    errFd = dup(2);
    if (__sanitizer_set_report_fd != nullptr) {
      __sanitizer_set_report_fd(reinterpret_cast<void*>(intptr_t(errFd)));
    }
  }
}

[[noreturn]] void Broken(const char* what, uint32_t at) {
  fprintf(stderr, "tov_fuzz: compiled program broken at %u: %s\n", at, what);
  abort();
}

uint32_t Word(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// What a completed compilation leaves in the store: whole commands of the
// machine, ending with the halt, every jump resolved to the first byte of a
// command or to the end. Read through the store's own cursor, which is at the
// end once the compiler is done.
void CheckStore() {
  uint32_t len;
  Comp::GetPos(len);
  if (len == 0) Broken("empty program", 0);
  uint8_t prg[Comp::prgSize];
  Comp::SetPos(0);
  Comp::Read(prg, len);
  bool start[Comp::prgSize + 1] = {};
  uint32_t last = 0;
  for (uint32_t pc = 0; pc < len;) {
    start[pc] = true;
    last = pc;
    const uint8_t f = prg[pc];
    const uint32_t size = f == Comp0::fHlt ? 1 : f == Comp0::fOpr ? 2 : 5;
    if (f > Comp0::fJpt) Broken("unknown function", pc);
    if (pc + size > len) Broken("command runs past the end", pc);
    if (f == Comp0::fOpr && prg[pc + 1] > Comp0::oAnd) Broken("unknown operation", pc);
    if ((f == Comp0::fLod || f == Comp0::fSto) && Word(prg + pc + 1) >= Comp::varCnt) Broken("bad index", pc);
    pc += size;
  }
  start[len] = true;
  if (prg[last] != Comp0::fHlt) Broken("last command is not the halt", last);
  for (uint32_t pc = 0; pc < len;) {
    const uint8_t f = prg[pc];
    if (f >= Comp0::fJmp) {
      const uint32_t a = Word(prg + pc + 1);
      if (a == Comp0::endMark) Broken("unresolved jump", pc);
      if (a > len || !start[a]) Broken("jump into no command", pc);
    }
    pc += f == Comp0::fHlt ? 1 : f == Comp0::fOpr ? 2 : 5;
  }
  Comp::SetPos(len);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (nullFd < 0) Silence();
  const int src = memfd_create("tov-src", MFD_CLOEXEC);
  if (src < 0) abort();
  for (size_t off = 0; off < size;) {
    const ssize_t n = write(src, data + off, size - off);
    if (n <= 0) abort();
    off += size_t(n);
  }
  lseek(src, 0, SEEK_SET);
  if (errFd >= 0) dup2(nullFd, 2);

  Fio::exitHook = Caught;
  if (setjmp(back) == 0) {
    Start::Modules();
    Comp::bound = TOV_FUZZ_STEPS;
    Scnr::src = src;
    Prsr::Run();
    CheckStore();
    Comp::List();
    Comp::Exec();
    Fio::Exit(0);  // as the driver ends a complete run; comes back through Caught
  }

  if (errFd >= 0) dup2(errFd, 2);
  close(src);
  // Every run ends in one of the two documented ways, or at the bound.
  if (status != 0 && status != 9 && status != Comp::stopped) {
    fprintf(stderr, "tov_fuzz: exit status %d\n", status);
    abort();
  }
  return 0;
}
