// bench_gen: writes the benchmark programs to standard output.
//
//   bench_gen scan BYTES   a valid program of at least BYTES bytes that is
//                          mostly comments and white space: the constant
//                          expression of one assignment runs through the whole
//                          text, so every token folds away and the code stays
//                          a few commands long, whatever the size
//   bench_gen loop N       a WHILE loop of N turns: 9 * (N + 1) executed commands
//   bench_gen full         a program whose code fills the 1024-byte store exactly
//
// The output depends on the arguments only (a fixed pseudo-random sequence).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string out;

void Flush() {
  if (!out.empty() && fwrite(out.data(), 1, out.size(), stdout) != out.size()) {
    perror("bench_gen");
    exit(1);
  }
  out.clear();
}

void Put(const char* s) { out += s; }

uint32_t seed = 12345;
uint32_t Rnd(uint32_t n) {
  seed = seed * 1103515245u + 12345u;
  return (seed >> 16) % n;
}

const char* const words[] = {
    "the",     "scanner",  "skips",   "white",   "space",   "and",      "comments", "byte",
    "by",      "byte",     "while",   "counting", "lines",  "columns",  "so",       "that",
    "every",   "token",    "knows",   "where",   "it",      "starts",   "a",        "comment",
    "may",     "nest",     "inside",  "another", "one",     "numbers",  "like",     "12345",
    "or",      "0",        "stay",    "text",    "here",    "signs",    "+",        "-",
    "=",       "#",        "<",       ">",       "*",       "(",        ")",        ":=",
    "BEGIN",   "END",      "WHILE",   "DO",      "x1",      "y2",       "caf\xc3\xa9", "\xe2\x80\x94"};
constexpr uint32_t wordCnt = sizeof words / sizeof words[0];

// Comment text: words, blanks and line ends, never "(*" or "*)" by accident
// (the words "(" and ")" and "*" are always followed by a blank).
void CommentText(uint32_t n) {
  uint32_t col = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const char* w = words[Rnd(wordCnt)];
    Put(w);
    col += uint32_t(strlen(w)) + 1;
    if (col > 64) {
      Put(Rnd(4) == 0 ? "\r\n     " : "\n     ");
      col = 0;
    } else {
      Put(" ");
    }
  }
}

// Tokens that fold to 0: each group adds and takes away the same value.
const char* const groups[] = {"+ alpha - alpha", "+ 12345 - 12345", "+ (k) - (k)",
                              "+ k * 3 - 21",    "- beta + beta",   "+ k / 7 - 1"};
constexpr uint32_t groupCnt = sizeof groups / sizeof groups[0];

const char* const blanks[] = {"\n", "\n\n", "\n\t", "\n  \t  ", "  \r\n", "\n                "};
constexpr uint32_t blankCnt = sizeof blanks / sizeof blanks[0];

int Scan(uint64_t bytes) {
  uint64_t total = 0;
  Put("(* Scanner benchmark: one assignment whose constant expression runs\n"
      "   through the whole text between comments and white space. *)\n"
      "CONST k = 7; alpha = 12345; beta = 99;\n"
      "VAR x: INTEGER;\n"
      "BEGIN\n"
      "  x := 0");
  while (total + out.size() < bytes) {
    // about 1 KB: white space, a comment (sometimes with a nested one),
    // white space, then a few token groups
    Put(blanks[Rnd(blankCnt)]);
    Put("    (* ");
    CommentText(60 + Rnd(60));
    if (Rnd(3) == 0) {
      Put("(* nested: ");
      CommentText(10 + Rnd(10));
      Put("*) ");
    }
    Put("*)");
    Put(blanks[Rnd(blankCnt)]);
    Put("\t\t    ");
    for (uint32_t g = 1 + Rnd(3); g > 0; --g) {
      Put(groups[Rnd(groupCnt)]);
      Put(Rnd(2) == 0 ? " " : "\n      ");
    }
    if (out.size() >= (1u << 20)) {
      total += out.size();
      Flush();
    }
  }
  Put(";\n  WRITE x\nEND.\n");
  Flush();
  return 0;
}

int Loop(unsigned long n) {
  char line[64];
  Put("(* Execution benchmark: 9 commands per turn, 9 * (N + 1) in all. *)\n"
      "VAR i: INTEGER;\n"
      "BEGIN\n"
      "  i := 0;\n");
  snprintf(line, sizeof line, "  WHILE i < %lu DO i := i + 1 END;\n", n);
  Put(line);
  Put("  WRITE i\nEND.\n");
  Flush();
  return 0;
}

// A block of 307 bytes of code; three of them and six counting statements of
// 17 bytes give 1023 bytes, and the closing Hlt takes the last byte.
const char block[] =
    "  (* divide by repeated subtraction *)\n"
    "  a := n; b := m; c := 0;\n"
    "  WHILE a > b DO a := a - b; c := c + 1 END;\n"
    "  IF (a = 1) & (c < n) THEN b := b * 2\n"
    "  ELSIF a = 2 THEN b := b + 1\n"
    "  ELSE b := b - 1\n"
    "  END;\n"
    "  REPEAT c := c - 1 UNTIL c <= 0;\n"
    "  ok := (a # b) | ~(c >= 0);\n"
    "  WRITE a + b * c;\n";

int Full() {
  Put("(* The largest program: its code fills the store to the last byte. *)\n"
      "CONST n = 10; m = 3;\n"
      "VAR a: INTEGER; b: INTEGER; c: INTEGER; ok: BOOLEAN;\n"
      "BEGIN\n");
  for (int i = 0; i < 3; ++i) Put(block);
  for (int i = 0; i < 6; ++i) Put(i < 5 ? "  c := c + 1;\n" : "  c := c + 1\n");
  Put("END.\n");
  Flush();
  return 0;
}

int Usage() {
  fputs("usage: bench_gen scan BYTES | loop N | full\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "full") == 0) return Full();
  if (argc != 3) return Usage();
  char* end = nullptr;
  const unsigned long long n = strtoull(argv[2], &end, 10);
  if (end == argv[2] || *end != 0) return Usage();
  if (strcmp(argv[1], "scan") == 0) return Scan(n);
  if (strcmp(argv[1], "loop") == 0) return Loop(n);
  return Usage();
}
