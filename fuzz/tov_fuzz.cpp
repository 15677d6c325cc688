// libFuzzer harness: one input is one source text, compiled, listed and run
// (as with -x) in this process. The modules' Init functions bring all their
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
#include "Gen.h"
#include "Prsr.h"
#include "Scnr.h"

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
    Fio::Init();
    Comp0::Init();
    Comp::Init();
    Scnr::Init();
    Gen::InitModule();
    Prsr::Init();
    Scnr::src = src;
    Prsr::Run();
    Comp::List();
    Comp::Exec();
    Fio::Exit(0);  // as the driver ends a complete run; comes back through Caught
  }

  if (errFd >= 0) dup2(errFd, 2);
  close(src);
  // Every run ends in one of the two documented ways.
  if (status != 0 && status != 9) {
    fprintf(stderr, "tov_fuzz: exit status %d\n", status);
    abort();
  }
  return 0;
}
