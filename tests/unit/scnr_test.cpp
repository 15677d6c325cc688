// Scnr: token sequences with their positions and values, the errors that end
// the process, and the identifier store.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <ostream>
#include <string>
#include <vector>

#include "Scnr.h"
#include "unit_support.h"

namespace {

using namespace Scnr;
using testing::Eq;
using testing::ExitedWithCode;

constexpr uint32_t kIdStore = 1024;  // bytes of the identifier store

const char* const kNames[] = {
    "Null", "Num",  "Id",     "Col",   "Bec",  "LPar", "Not",   "Mul",   "Div",
    "And",  "Plus", "Minus",  "Or",    "Eql",  "Neq",  "Lss",   "Leq",   "Gtr",
    "Geq",  "RPar", "Semi",   "Dot",   "Const", "Var", "Beg",   "End",   "Wrt",
    "Repeat", "Until", "If",  "Then",  "Else", "Elsif", "While", "Do",   "EOF"};
static_assert(sizeof kNames / sizeof kNames[0] == sEOF + 1);

struct Tok {
  TSymbol sym;
  uint32_t l, c;
  uint32_t num = 0;  // compared for sNum only
  bool operator==(const Tok& o) const {
    return sym == o.sym && l == o.l && c == o.c && (sym != sNum || num == o.num);
  }
};
std::ostream& operator<<(std::ostream& os, const Tok& t) {
  os << kNames[t.sym] << "(" << t.l << "," << t.c << ")";
  if (t.sym == sNum) os << "=" << t.num;
  return os;
}

Tok N(uint32_t l, uint32_t c, uint32_t v) { return {sNum, l, c, v}; }

// The source text as a file descriptor positioned at its start.
int Source(const std::string& text) {
  const int fd = memfd_create("tov-src", MFD_CLOEXEC);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, text.data(), text.size()), ssize_t(text.size()));
  lseek(fd, 0, SEEK_SET);
  return fd;
}

// Sets up a scanner on text; the caller closes the returned descriptor.
int Open(const std::string& text) {
  Fio::Init();
  Scnr::Init();
  const int fd = Source(text);
  Scnr::src = fd;
  return fd;
}

Tok Next() {
  Read();
  return {sym, pos.l, pos.c, num};
}

// All tokens up to and including sEOF. With keep, every word is kept in the
// identifier store.
std::vector<Tok> Scan(const std::string& text, bool keep = false) {
  const int fd = Open(text);
  std::vector<Tok> r;
  do {
    r.push_back(Next());
    if (keep && sym == sId) KeepId();
  } while (sym != sEOF && r.size() < 100000);
  close(fd);
  return r;
}

// For death tests: scans to the end, or to the end of the process.
void ScanAll(const std::string& text, bool keep = false) { Scan(text, keep); }

// ---- token tables -----------------------------------------------------------

struct ScanCase {
  const char* name;
  std::string text;
  std::vector<Tok> toks;  // including the final sEOF
};
void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.name; }

class ScnrTokens : public testing::TestWithParam<ScanCase> {};

TEST_P(ScnrTokens, Sequence) { EXPECT_EQ(Scan(GetParam().text), GetParam().toks); }

std::string Name(const testing::TestParamInfo<ScanCase>& i) { return i.param.name; }

const ScanCase kPositions[] = {
    {"Empty", "", {{sEOF, 1, 1}}},
    {"OnlyLineFeed", "\n", {{sEOF, 2, 1}}},
    {"OnlyCrLf", "\r\n", {{sEOF, 2, 1}}},
    {"OneWordNoLineFeed", "a", {{sId, 1, 1}, {sEOF, 1, 2}}},
    {"OneWordLineFeed", "a\n", {{sId, 1, 1}, {sEOF, 2, 1}}},
    {"Blanks", "  ab  cd ", {{sId, 1, 3}, {sId, 1, 7}, {sEOF, 1, 10}}},
    {"TabIsOneColumn", "\ta\t\tb", {{sId, 1, 2}, {sId, 1, 5}, {sEOF, 1, 6}}},
    {"CrIsOneColumn", "a\rb", {{sId, 1, 1}, {sId, 1, 3}, {sEOF, 1, 4}}},
    {"CrLf", "a\r\n b\r\n", {{sId, 1, 1}, {sId, 2, 2}, {sEOF, 3, 1}}},
    {"EmptyLines", "a\n\n\n  b", {{sId, 1, 1}, {sId, 4, 3}, {sEOF, 4, 4}}},
    {"ControlBytesAreWhite", "\x01" "a\x1F\x0C" "b", {{sId, 1, 2}, {sId, 1, 5}, {sEOF, 1, 6}}},
    {"Only1A", "\x1A", {{sEOF, 1, 1}}},
    {"1AInTheMiddle", "a \x1A b ?", {{sId, 1, 1}, {sEOF, 1, 3}}},
    {"1AEndsAWord", "ab\x1A" "cd", {{sId, 1, 1}, {sEOF, 1, 3}}},
    {"1AEndsANumber", "\n12\x1A" "3", {N(2, 1, 12), {sEOF, 2, 3}}},
    {"1AAfterLineFeed", "a\n\x1A\n\n", {{sId, 1, 1}, {sEOF, 2, 1}}},
};
INSTANTIATE_TEST_SUITE_P(Positions, ScnrTokens, testing::ValuesIn(kPositions), Name);

const ScanCase kComments[] = {
    {"Simple", "(* a *) x", {{sId, 1, 9}, {sEOF, 1, 10}}},
    {"Empty", "(**)", {{sEOF, 1, 5}}},
    {"BetweenWords", "a(*b*)c", {{sId, 1, 1}, {sId, 1, 7}, {sEOF, 1, 8}}},
    {"Nested", "(* a (* b (* c *) *) d *)x", {{sId, 1, 26}, {sEOF, 1, 27}}},
    {"OpenParenStarCloseParenOpens", "(*) x *)y", {{sId, 1, 9}, {sEOF, 1, 10}}},
    {"StarsAndParensInside", "(* ( ) ** *( ((* *) *)z", {{sId, 1, 23}, {sEOF, 1, 24}}},
    {"AcrossLines", "(* 1\n2 *)\n  x", {{sId, 3, 3}, {sEOF, 3, 4}}},
    {"AnyByteInside", "(* !?_,$\"'@[]{}^`\\ \x80\xFF *)", {{sEOF, 1, 25}}},
    {"TwoInARow", "(**)(* *) 5", {N(1, 11, 5), {sEOF, 1, 12}}},
    {"ParenStarApart", "( *", {{sLPar, 1, 1}, {sMul, 1, 3}, {sEOF, 1, 4}}},
    {"StarParenOutside", "*)", {{sMul, 1, 1}, {sRPar, 1, 2}, {sEOF, 1, 3}}},
    {"ParenAtEnd", "(", {{sLPar, 1, 1}, {sEOF, 1, 2}}},
};
INSTANTIATE_TEST_SUITE_P(Comments, ScnrTokens, testing::ValuesIn(kComments), Name);

const ScanCase kNumbers[] = {
    {"Zero", "0", {N(1, 1, 0), {sEOF, 1, 2}}},
    {"LeadingZeros", "007", {N(1, 1, 7), {sEOF, 1, 4}}},
    {"Max", "4294967295", {N(1, 1, 4294967295u), {sEOF, 1, 11}}},
    {"MaxWithZeros", "0004294967295", {N(1, 1, 4294967295u), {sEOF, 1, 14}}},
    {"AboveInt", "2147483648", {N(1, 1, 2147483648u), {sEOF, 1, 11}}},
    {"Two", "12 34", {N(1, 1, 12), N(1, 4, 34), {sEOF, 1, 6}}},
    {"WithOperators", "12+3.", {N(1, 1, 12), {sPlus, 1, 3}, N(1, 4, 3), {sDot, 1, 5}, {sEOF, 1, 6}}},
    {"HighByteEndsNumber", "12\x80" "34", {N(1, 1, 12), N(1, 4, 34), {sEOF, 1, 6}}},
};
INSTANTIATE_TEST_SUITE_P(Numbers, ScnrTokens, testing::ValuesIn(kNumbers), Name);

const ScanCase kWords[] = {
    {"HighBytesBetweenWords", "ab\x80" "cd\xFF\x7F" "ef",
     {{sId, 1, 1}, {sId, 1, 4}, {sId, 1, 8}, {sEOF, 1, 10}}},
    {"DigitsInWords", "a1 b22c", {{sId, 1, 1}, {sId, 1, 4}, {sEOF, 1, 8}}},
    {"Keywords", "DO IF END VAR ELSE THEN BEGIN CONST ELSIF UNTIL WHILE WRITE REPEAT",
     {{sDo, 1, 1}, {sIf, 1, 4}, {sEnd, 1, 7}, {sVar, 1, 11}, {sElse, 1, 15}, {sThen, 1, 20},
      {sBeg, 1, 25}, {sConst, 1, 31}, {sElsif, 1, 37}, {sUntil, 1, 43}, {sWhile, 1, 49},
      {sWrt, 1, 55}, {sRepeat, 1, 61}, {sEOF, 1, 67}}},
    {"CaseAndSuffix", "END end End ENDx END1 xEND EN ENDE",
     {{sEnd, 1, 1}, {sId, 1, 5}, {sId, 1, 9}, {sId, 1, 13}, {sId, 1, 18}, {sId, 1, 23},
      {sId, 1, 28}, {sId, 1, 31}, {sEOF, 1, 35}}},
    {"NearKeywords", "D DOO ELS WRITES REPEATS A Z zz INTEGER",
     {{sId, 1, 1}, {sId, 1, 3}, {sId, 1, 7}, {sId, 1, 11}, {sId, 1, 18}, {sId, 1, 26},
      {sId, 1, 28}, {sId, 1, 30}, {sId, 1, 33}, {sEOF, 1, 40}}},
    {"KeywordNextToSymbols", "END.DO;", {{sEnd, 1, 1}, {sDot, 1, 4}, {sDo, 1, 5}, {sSemi, 1, 7}, {sEOF, 1, 8}}},
};
INSTANTIATE_TEST_SUITE_P(Words, ScnrTokens, testing::ValuesIn(kWords), Name);

const ScanCase kOperators[] = {
    {"All", ": := < <= <> > >= = # + - * / & | ~ ( ) ; .",
     {{sCol, 1, 1},  {sBec, 1, 3},   {sLss, 1, 6},  {sLeq, 1, 8},  {sNeq, 1, 11}, {sGtr, 1, 14},
      {sGeq, 1, 16}, {sEql, 1, 19},  {sNeq, 1, 21}, {sPlus, 1, 23}, {sMinus, 1, 25}, {sMul, 1, 27},
      {sDiv, 1, 29}, {sAnd, 1, 31},  {sOr, 1, 33},  {sNot, 1, 35}, {sLPar, 1, 37}, {sRPar, 1, 39},
      {sSemi, 1, 41}, {sDot, 1, 43}, {sEOF, 1, 44}}},
    {"Adjacent", ":=:<>=<<>>=",
     {{sBec, 1, 1}, {sCol, 1, 3}, {sNeq, 1, 4}, {sEql, 1, 6}, {sLss, 1, 7}, {sNeq, 1, 8},
      {sGeq, 1, 10}, {sEOF, 1, 12}}},
    {"TwoCharSplitByBlank", ": = < = > =",
     {{sCol, 1, 1}, {sEql, 1, 3}, {sLss, 1, 5}, {sEql, 1, 7}, {sGtr, 1, 9}, {sEql, 1, 11}, {sEOF, 1, 12}}},
    {"AtTheEnd", "a:", {{sId, 1, 1}, {sCol, 1, 2}, {sEOF, 1, 3}}},
    {"LessAtTheEnd", "<", {{sLss, 1, 1}, {sEOF, 1, 2}}},
    {"GreaterAtTheEnd", ">", {{sGtr, 1, 1}, {sEOF, 1, 2}}},
    {"WithoutBlanks", "x:=a+(b-1)*2;",
     {{sId, 1, 1}, {sBec, 1, 2}, {sId, 1, 4}, {sPlus, 1, 5}, {sLPar, 1, 6}, {sId, 1, 7},
      {sMinus, 1, 8}, N(1, 9, 1), {sRPar, 1, 10}, {sMul, 1, 11}, N(1, 12, 2), {sSemi, 1, 13},
      {sEOF, 1, 14}}},
};
INSTANTIATE_TEST_SUITE_P(Operators, ScnrTokens, testing::ValuesIn(kOperators), Name);

const ScanCase kExample[] = {
    {"TwoLines", "VAR x: INTEGER;\nBEGIN x := 7; WRITE x END.",
     {{sVar, 1, 1}, {sId, 1, 5}, {sCol, 1, 6}, {sId, 1, 8}, {sSemi, 1, 15},
      {sBeg, 2, 1}, {sId, 2, 7}, {sBec, 2, 9}, N(2, 12, 7), {sSemi, 2, 13},
      {sWrt, 2, 15}, {sId, 2, 21}, {sEnd, 2, 23}, {sDot, 2, 26}, {sEOF, 2, 27}}},
};
INSTANTIATE_TEST_SUITE_P(Example, ScnrTokens, testing::ValuesIn(kExample), Name);

TEST(ScnrInput, EndStaysEnded) {
  const int fd = Open("a\n");
  Read();
  for (int i = 0; i < 3; ++i) {
    Read();
    EXPECT_EQ(sym, sEOF);
    EXPECT_EQ(pos.l, 2u);
    EXPECT_EQ(pos.c, 1u);
  }
  close(fd);
}

// Sources longer than one read of the file layer: tokens across the refills.
TEST(ScnrInput, LongSource) {
  const uint32_t blanks = (1u << 16) - 2;  // "123" straddles the first refill
  EXPECT_EQ(Scan(std::string(blanks, ' ') + "123 x"),
            (std::vector<Tok>{N(1, blanks + 1, 123), {sId, 1, blanks + 5}, {sEOF, 1, blanks + 6}}));
  std::string lines;
  for (int i = 0; i < 30000; ++i) lines += "ab;\n";
  const std::vector<Tok> t = Scan(lines);
  ASSERT_EQ(t.size(), 60001u);
  EXPECT_EQ(t[2 * 29999], (Tok{sId, 30000, 1}));
  EXPECT_EQ(t[2 * 29999 + 1], (Tok{sSemi, 30000, 3}));
  EXPECT_EQ(t.back(), (Tok{sEOF, 30001, 1}));
}

// White space and comment text that run up to or across the end of a block.
TEST(ScnrInput, RunsAtTheBlockEnd) {
  const uint32_t block = 1u << 16;  // what the file layer reads at once
  struct {
    std::string text;
    std::vector<Tok> toks;
  } cases[] = {
      // a word as the last byte of the first block
      {std::string(block - 1, ' ') + "x", {{sId, 1, block}, {sEOF, 1, block + 1}}},
      // blanks up to the end of the block, the word first in the next
      {std::string(block, ' ') + "x", {{sId, 1, block + 1}, {sEOF, 1, block + 2}}},
      // blanks across the end of the block
      {"a" + std::string(70000, '\t') + "b", {{sId, 1, 1}, {sId, 1, 70002}, {sEOF, 1, 70003}}},
      // blanks across two ends of blocks
      {std::string(2 * block + 10, ' ') + "7", {N(1, 2 * block + 11, 7), {sEOF, 1, 2 * block + 12}}},
      // comment text across the end of the block, and a line feed in it
      {"(*" + std::string(70000, 'c') + "\n" + std::string(block, 'd') + "*) x",
       {{sId, 2, block + 4}, {sEOF, 2, block + 5}}},
      // comment text ending with the block, "*)" first in the next
      {"(*" + std::string(block - 2, 'c') + "*)y", {{sId, 1, block + 3}, {sEOF, 1, block + 4}}},
      // a byte 1AH as the last byte of the block after blanks
      {std::string(block - 1, ' ') + "\x1A" + "x", {{sEOF, 1, block}}},
      // the input ends with blanks that fill the block
      {std::string(block, ' '), {{sEOF, 1, block + 1}}},
  };
  for (const auto& c : cases) EXPECT_EQ(Scan(c.text), c.toks) << c.text.size();
}

// ---- errors -----------------------------------------------------------------

struct ErrCase {
  std::string name;
  std::string text;
  const char* line;
};
void PrintTo(const ErrCase& c, std::ostream* os) { *os << c.name; }

class ScnrErrorDeathTest : public testing::TestWithParam<ErrCase> {};

TEST_P(ScnrErrorDeathTest, Line) {
  EXPECT_EXIT(ScanAll(GetParam().text), ExitedWithCode(9), Eq(std::string(GetParam().line) + "\r\n"));
}

std::string ErrName(const testing::TestParamInfo<ErrCase>& i) { return i.param.name; }

const ErrCase kCommentErrors[] = {
    {"Unterminated", "x\n  (* a (* b *)\n", "Scnr (2,3): Unterminated comment (start pos)."},
    {"OnlyOpen", "(*", "Scnr (1,1): Unterminated comment (start pos)."},
    {"OpenParenStarCloseParen", "(*)", "Scnr (1,1): Unterminated comment (start pos)."},
    {"EndedBy1A", "a (* \x1A *)", "Scnr (1,3): Unterminated comment (start pos)."},
    {"AfterAClosedOne", "(* *)\n\t(* (* *)", "Scnr (2,2): Unterminated comment (start pos)."},
};
INSTANTIATE_TEST_SUITE_P(Comments, ScnrErrorDeathTest, testing::ValuesIn(kCommentErrors), ErrName);

const ErrCase kNumberErrors[] = {
    {"MaxPlusOne", "4294967296", "Scnr (1,1): Number too large."},
    {"AtTheFirstDigit", "a\n x 4294967296", "Scnr (2,4): Number too large."},
    {"ElevenDigits", "42949672950", "Scnr (1,1): Number too large."},
    {"LetterAfterDigits", "  12ab", "Scnr (1,3): Invalid number."},
    {"LetterAfterOneDigit", "1a", "Scnr (1,1): Invalid number."},
    {"LetterAfterMax", "4294967295a", "Scnr (1,1): Invalid number."},
    {"DigitOverflowsBeforeLetter", "99999999999a", "Scnr (1,1): Number too large."},
    {"UnderscoreAfterNumber", "12_", "Scnr (1,3): Invalid character."},
};
INSTANTIATE_TEST_SUITE_P(Numbers, ScnrErrorDeathTest, testing::ValuesIn(kNumberErrors), ErrName);

std::vector<ErrCase> InvalidCharacters() {
  std::vector<ErrCase> r;
  for (const char* p = "!?,_[]{}$\"'@^`\\%"; *p != 0; ++p) {
    r.push_back({"Char" + std::to_string(int(*p)), std::string("\tab ") + *p, "Scnr (1,5): Invalid character."});
  }
  return r;
}
INSTANTIATE_TEST_SUITE_P(InvalidCharacters, ScnrErrorDeathTest, testing::ValuesIn(InvalidCharacters()),
                         ErrName);

const ErrCase kLengthErrors[] = {
    {"Identifier255", "x " + std::string(255, 'B'), "Scnr (1,3): Identifier too long."},
    {"Identifier300", std::string(300, 'q'), "Scnr (1,1): Identifier too long."},
};
INSTANTIATE_TEST_SUITE_P(Length, ScnrErrorDeathTest, testing::ValuesIn(kLengthErrors), ErrName);

TEST(ScnrReadErrorDeathTest, SystemRefusesToRead) {
  // a directory opens but cannot be read
  EXPECT_EXIT(
      {
        Fio::Init();
        Scnr::Init();
        Scnr::src = open("/", O_RDONLY | O_DIRECTORY);
        Read();
      },
      ExitedWithCode(9), Eq("Scnr (0,0): Read error.\r\n"));
}

// ---- identifier store -----------------------------------------------------------

TEST(ScnrWords, Identifier254Fits) {
  const std::string w(254, 'A');
  EXPECT_EQ(Scan(w + " x"), (std::vector<Tok>{{sId, 1, 1}, {sId, 1, 256}, {sEOF, 1, 257}}));
}

// Words that are not kept reuse the same entry: no number of them fills the store.
TEST(ScnrWords, UnkeptWordsNeverFillTheStore) {
  std::string text;
  for (int i = 0; i < 20; ++i) text += std::string(200, char('a' + i)) + "\n";
  const std::vector<Tok> t = Scan(text);
  ASSERT_EQ(t.size(), 21u);
  EXPECT_EQ(t.back(), (Tok{sEOF, 21, 1}));
}

// Kept words that leave exactly room characters for the next word.
std::string Filler(uint32_t room) {
  Fio::Init();
  Scnr::Init();
  uint32_t fill = kIdStore - 1 - Scnr::id - room;  // a word of n characters takes n + 1
  EXPECT_NE(fill, 1u);
  std::string text;
  while (fill > 0) {
    const uint32_t n = fill > 202 ? 200 : fill - 1;
    text += std::string(n, 'f') + " ";
    fill -= n + 1;
  }
  return text;
}

TEST(ScnrWords, WordThatJustFits) {
  for (uint32_t room : {1u, 100u, 254u}) {
    const std::string fill = Filler(room);
    const std::vector<Tok> t = Scan(fill + std::string(room, 'w'), true);
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ(t[t.size() - 2], (Tok{sId, 1, uint32_t(fill.size() + 1)})) << room;
    EXPECT_EQ(Scnr::id, kIdStore) << room;  // kept: the store is full
  }
}

TEST(ScnrWordsDeathTest, WordThatDoesNotFit) {
  const std::string at = "Scnr (2,3): Buffer full.\r\n";
  EXPECT_EXIT(ScanAll(Filler(100) + "\n  " + std::string(101, 'w'), true), ExitedWithCode(9), Eq(at));
  // 255 characters with room for 254: both limits are passed at the same
  // character, and the store is found full first
  EXPECT_EXIT(ScanAll(Filler(254) + "\n  " + std::string(255, 'w'), true), ExitedWithCode(9), Eq(at));
  // a keyword is entered like any word
  EXPECT_EXIT(ScanAll(Filler(1) + "\n  DO", true), ExitedWithCode(9), Eq(at));
  // the store full to the last byte: no word at all fits
  EXPECT_EXIT(ScanAll(Filler(1) + "w\n  z", true), ExitedWithCode(9), Eq(at));
}

TEST(ScnrWords, PutDiffAndKeep) {
  Fio::Init();
  Scnr::Init();
  const uint32_t abc = id;
  Put("abc");
  KeepId();
  const uint32_t abd = id;
  Put("abd");
  KeepId();
  const uint32_t b = id;
  Put("b");
  KeepId();
  const uint32_t abc2 = id;
  Put("abc");
  KeepId();
  EXPECT_EQ(Diff(abc, abc), 0);
  EXPECT_EQ(Diff(abc, abc2), 0);
  EXPECT_LT(Diff(abc, abd), 0);
  EXPECT_GT(Diff(abd, abc), 0);
  // a shorter text comes first: the order the keyword table is sorted in
  EXPECT_LT(Diff(b, abc), 0);
  EXPECT_GT(Diff(abc, b), 0);
}

TEST(ScnrWords, ReadWordEqualsPutEntry) {
  const int fd = Open("zz abc ab");
  const uint32_t e = id;
  Put("abc");
  KeepId();
  Read();
  EXPECT_NE(Diff(id, e), 0);
  Read();
  EXPECT_EQ(sym, sId);
  EXPECT_EQ(Diff(id, e), 0);
  EXPECT_EQ(Diff(e, id), 0);
  Read();
  EXPECT_NE(Diff(id, e), 0);
  close(fd);
}

// Without KeepId a Put entry is replaced by the next word.
TEST(ScnrWords, PutWithoutKeepIsReplaced) {
  const int fd = Open("abcd");
  const uint32_t e = id;
  Put("xyz");
  Read();
  EXPECT_EQ(id, e);
  const uint32_t next = id;
  KeepId();
  Put("abcd");
  EXPECT_EQ(Diff(next, id), 0);
  close(fd);
}

}  // namespace
