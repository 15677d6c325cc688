// bench_io: the output and input paths' limits, for comparison with tov.
//
//   bench_io write BYTES   writes BYTES bytes of trace-like lines to standard
//                          output, one write(2) per 64 KiB
//   bench_io read FILE     reads FILE with one read(2) per 64 KiB (what the
//                          scanner's input layer does) and touches every byte
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr size_t chunk = 1u << 16;
char buf[chunk];

int Write(unsigned long long bytes) {
  const char line[] = "Comp.Dbg:   37: TRUE   2      123456           1:  Add\r\n";
  const size_t n = sizeof line - 1;
  for (size_t i = 0; i < chunk; ++i) buf[i] = line[i % n];
  while (bytes > 0) {
    size_t m = bytes < chunk ? size_t(bytes) : chunk;
    const char* p = buf;
    while (m > 0) {
      const ssize_t k = write(1, p, m);
      if (k < 0 && errno == EINTR) continue;
      if (k <= 0) {
        perror("bench_io: write");
        return 1;
      }
      p += k;
      m -= size_t(k);
      bytes -= uint64_t(k);
    }
  }
  return 0;
}

int Read(const char* name) {
  const int fd = open(name, O_RDONLY);
  if (fd < 0) {
    perror(name);
    return 1;
  }
  uint32_t sum = 0;
  for (;;) {
    const ssize_t k = read(fd, buf, chunk);
    if (k < 0 && errno == EINTR) continue;
    if (k < 0) {
      perror(name);
      return 1;
    }
    if (k == 0) break;
    for (ssize_t i = 0; i < k; ++i) sum += uint8_t(buf[i]);
  }
  close(fd);
  return sum == 1 ? 3 : 0;  // keeps the sum from being optimised away
}

int Usage() {
  fputs("usage: bench_io write BYTES | read FILE\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return Usage();
  if (strcmp(argv[1], "write") == 0) return Write(strtoull(argv[2], nullptr, 10));
  if (strcmp(argv[1], "read") == 0) return Read(argv[2]);
  return Usage();
}
