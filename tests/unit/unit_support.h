// Shared helpers of the unit tests: hand-made program stores, captured
// streams and literal regular expressions.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "Comp.h"
#include "Comp0.h"
#include "Fio.h"

namespace unit {

using Bytes = std::vector<uint8_t>;

// One command of a hand-made store, encoded as the machine defines it:
// Hlt 1 byte, Opr 2 bytes, all others 5 (operand least significant byte first).
struct Cmd {
  Comp0::TFunction f;
  uint32_t arg;
};

inline Cmd Hlt() { return {Comp0::fHlt, 0}; }
inline Cmd Val(int32_t v) { return {Comp0::fVal, uint32_t(v)}; }
inline Cmd Lod(uint32_t i) { return {Comp0::fLod, i}; }
inline Cmd Sto(uint32_t i) { return {Comp0::fSto, i}; }
inline Cmd Opr(Comp0::TOperation o) { return {Comp0::fOpr, o}; }
inline Cmd Jmp(uint32_t a) { return {Comp0::fJmp, a}; }
inline Cmd Jpf(uint32_t a) { return {Comp0::fJpf, a}; }
inline Cmd Jpt(uint32_t a) { return {Comp0::fJpt, a}; }

inline Bytes Encode(std::initializer_list<Cmd> cmds) {
  Bytes b;
  for (const Cmd& c : cmds) {
    b.push_back(c.f);
    if (c.f == Comp0::fHlt) continue;
    if (c.f == Comp0::fOpr) {
      b.push_back(uint8_t(c.arg));
      continue;
    }
    for (int k = 0; k < 4; ++k) b.push_back(uint8_t(c.arg >> (8 * k)));
  }
  return b;
}

// A fresh process state: every module the machine tests touch is reset.
inline void Fresh() {
  Fio::Init();
  Comp0::Init();
  Comp::Init();
}

// Fills the (fresh) store with b through the store interface.
inline void Load(const Bytes& b) {
  if (!b.empty()) Comp::Write(b.data(), uint32_t(b.size()));
}

struct Streams {
  std::string out;
  std::string err;
};

// Runs f with both standard streams captured; Fio's buffers are written out
// before the captures end.
inline Streams Capture(const std::function<void()>& f) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  f();
  Fio::Flush();
  Streams s;
  s.err = testing::internal::GetCapturedStderr();
  s.out = testing::internal::GetCapturedStdout();
  return s;
}

// Sends standard output to standard error, so that a death test sees the
// lines written before the process ended together with the final line.
inline void MergeStdoutIntoStderr() { dup2(STDERR_FILENO, STDOUT_FILENO); }

// s as a POSIX extended regular expression that matches it literally.
inline std::string Lit(const std::string& s) {
  std::string r;
  for (char ch : s) {
    if (std::string(".[]()*+?{}|^$\\").find(ch) != std::string::npos) r += '\\';
    r += ch;
  }
  return r;
}

// Matches a stream that ends with the literal text s.
inline std::string EndsWith(const std::string& s) { return Lit(s) + "$"; }

// Lines with their CR LF ends.
inline std::string Lines(std::initializer_list<const char*> ls) {
  std::string r;
  for (const char* l : ls) r += std::string(l) + "\r\n";
  return r;
}

}  // namespace unit
