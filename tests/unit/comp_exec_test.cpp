// Comp::Exec on hand-made stores: results, the trace on standard error, and
// every way a run ends the process.
#include <climits>

#include "unit_support.h"

namespace {

using namespace unit;
using namespace Comp0;
using testing::ContainsRegex;
using testing::Eq;
using testing::ExitedWithCode;

constexpr int32_t kMin = INT32_MIN;
constexpr int32_t kMax = INT32_MAX;
const char kHeader[] = "Comp.Dbg:   pc  cond  ac       top-1         top";

Streams Traced(const Bytes& b) {
  Fresh();
  Load(b);
  return Capture(Comp::Exec);
}

std::string Out(const Bytes& b) { return Traced(b).out; }

// For death tests: the child's streams must stay uncaptured.
void Exec(const Bytes& b) {
  Fresh();
  Load(b);
  Comp::Exec();
}

// ---- whole runs -----------------------------------------------------------

TEST(CompExec, TraceExample) {
  const Streams s = Traced(Encode({Val(7), Val(2), Opr(oSub), Val(9), Opr(oLss), Opr(oWrC), Hlt()}));
  EXPECT_EQ(s.out, "TRUE \r\n");
  EXPECT_EQ(s.err, Lines({kHeader,
                          "Comp.Dbg:    0: FALSE  0                        :  Val 7",
                          "Comp.Dbg:    5: FALSE  1                       7:  Val 2",
                          "Comp.Dbg:   10: FALSE  2           7           2:  Sub",
                          "Comp.Dbg:   12: FALSE  1                       5:  Val 9",
                          "Comp.Dbg:   17: FALSE  2           5           9:  Lss",
                          "Comp.Dbg:   19: TRUE   0                        :  WrC",
                          "Comp.Dbg:   21: TRUE   0                        :  Hlt"}));
}

TEST(CompExec, EmptyStoreWritesNothing) {
  const Streams s = Traced({});
  EXPECT_EQ(s.out, "");
  EXPECT_EQ(s.err, "");  // not even the header
}

TEST(CompExec, HltInTheMiddleStops) {
  const Streams s = Traced(Encode({Val(1), Opr(oWrt), Hlt(), Val(2), Opr(oWrt)}));
  EXPECT_EQ(s.out, "1\r\n");
  EXPECT_EQ(s.err, Lines({kHeader,
                          "Comp.Dbg:    0: FALSE  0                        :  Val 1",
                          "Comp.Dbg:    5: FALSE  1                       1:  Wrt",
                          "Comp.Dbg:    7: FALSE  0                        :  Hlt"}));
}

TEST(CompExec, RunsOffTheEndWithoutHlt) {
  EXPECT_EQ(Out(Encode({Val(3), Opr(oWrt)})), "3\r\n");
}

// Eleven-character values fill both stack columns exactly.
TEST(CompExec, TraceColumnsWithWidestValues) {
  const Streams s = Traced(Encode({Val(kMin), Val(kMin), Hlt()}));
  EXPECT_EQ(s.err, Lines({kHeader,
                          "Comp.Dbg:    0: FALSE  0                        :  Val -2147483648",
                          "Comp.Dbg:    5: FALSE  1             -2147483648:  Val -2147483648",
                          "Comp.Dbg:   10: FALSE  2 -2147483648 -2147483648:  Hlt"}));
}

TEST(CompExec, TraceAddressColumnAbove999) {
  Bytes b = Encode({Jmp(1000)});
  b.resize(1000, 0x00);  // never executed
  const Bytes tail = Encode({Val(1), Opr(oWrt), Hlt()});
  b.insert(b.end(), tail.begin(), tail.end());
  const Streams s = Traced(b);
  EXPECT_EQ(s.out, "1\r\n");
  EXPECT_EQ(s.err, Lines({kHeader,
                          "Comp.Dbg:    0: FALSE  0                        :  Jmp 1000",
                          "Comp.Dbg: 1000: FALSE  0                        :  Val 1",
                          "Comp.Dbg: 1005: FALSE  1                       1:  Wrt",
                          "Comp.Dbg: 1007: FALSE  0                        :  Hlt"}));
}

TEST(CompExec, StackHoldsExactly32Entries) {
  Bytes b;
  for (int i = 1; i <= 32; ++i) {
    const Bytes v = Encode({Val(i)});
    b.insert(b.end(), v.begin(), v.end());
  }
  b.push_back(fHlt);
  const Streams s = Traced(b);
  EXPECT_EQ(s.out, "");
  // the stack depth takes two columns
  for (const char* line : {"Comp.Dbg:   45: FALSE  9           8           9:  Val 10\r\n",
                           "Comp.Dbg:   50: FALSE 10           9          10:  Val 11\r\n",
                           "Comp.Dbg:  160: FALSE 32          31          32:  Hlt\r\n"}) {
    EXPECT_NE(s.err.find(line), std::string::npos) << line << s.err;
  }
}

// ---- operations -----------------------------------------------------------

struct Calc {
  TOperation op;
  int32_t x, y;  // x pushed first
  const char* out;
};
void PrintTo(const Calc& c, std::ostream* os) {
  *os << int(c.op) << " on " << c.x << ", " << c.y << " -> " << c.out;
}

class CompExecBinary : public testing::TestWithParam<Calc> {};

TEST_P(CompExecBinary, Result) {
  const Calc& c = GetParam();
  EXPECT_EQ(Out(Encode({Val(c.x), Val(c.y), Opr(c.op), Opr(oWrt), Hlt()})), std::string(c.out) + "\r\n");
}

const Calc kArithmetic[] = {
    {oAdd, 2, 3, "5"},
    {oAdd, kMax, -1, "2147483646"},
    {oAdd, kMin, kMax, "-1"},
    {oAdd, -2147483647, -1, "-2147483648"},
    {oSub, 7, 2, "5"},
    {oSub, -2147483647, 1, "-2147483648"},
    {oSub, kMax, kMax, "0"},
    {oBus, 7, 2, "-5"},  // y - x
    {oBus, 2, 7, "5"},
    {oBus, 0, kMin, "-2147483648"},
    {oMul, 6, 7, "42"},
    {oMul, -3, 4, "-12"},
    {oMul, -65536, 32768, "-2147483648"},
    {oMul, kMax, -1, "-2147483647"},
    {oDiv, 7, 2, "3"},
    {oDiv, -7, 2, "-4"},  // floored
    {oDiv, -8, 2, "-4"},
    {oDiv, -1, 5, "-1"},
    {oDiv, 1, 5, "0"},
    {oDiv, 0, 5, "0"},
    {oDiv, kMin, 1, "-2147483648"},
    {oDiv, kMin, 2, "-1073741824"},
    {oDiv, kMin, kMax, "-2"},
    {oDiv, kMax, kMax, "1"},
    {oVid, 2, 7, "3"},  // y DIV x
    {oVid, 2, -7, "-4"},
    {oVid, 1, kMin, "-2147483648"},
    {oVid, 5, 0, "0"},
    {oOr, 12, 10, "14"},  // bitwise
    {oOr, kMin, kMax, "-1"},
    {oOr, -1, 0, "-1"},
    {oAnd, 12, 10, "8"},
    {oAnd, 5, -6, "0"},
    {oAnd, kMin, -1, "-2147483648"},
};
INSTANTIATE_TEST_SUITE_P(Arithmetic, CompExecBinary, testing::ValuesIn(kArithmetic));

class CompExecUnary : public testing::TestWithParam<Calc> {};

TEST_P(CompExecUnary, Result) {
  const Calc& c = GetParam();
  EXPECT_EQ(Out(Encode({Val(c.x), Opr(c.op), Opr(oWrt), Hlt()})), std::string(c.out) + "\r\n");
}

const Calc kUnary[] = {
    {oNeg, 5, 0, "-5"},       {oNeg, 0, 0, "0"},   {oNeg, -kMax, 0, "2147483647"},
    {oNot, 0, 0, "-1"},       {oNot, -1, 0, "0"},  {oNot, 5, 0, "-6"},
    {oNot, kMin, 0, "2147483647"},
};
INSTANTIATE_TEST_SUITE_P(Unary, CompExecUnary, testing::ValuesIn(kUnary));

class CompExecRelation : public testing::TestWithParam<Calc> {};

// A relation sets the condition, which WrC writes.
TEST_P(CompExecRelation, Condition) {
  const Calc& c = GetParam();
  EXPECT_EQ(Out(Encode({Val(c.x), Val(c.y), Opr(c.op), Opr(oWrC), Hlt()})), std::string(c.out) + "\r\n");
}

const Calc kRelations[] = {
    {oEql, 3, 3, "TRUE "},  {oEql, 3, 4, "FALSE"},        {oNeq, 3, 4, "TRUE "},
    {oNeq, 3, 3, "FALSE"},  {oLss, 3, 4, "TRUE "},        {oLss, 4, 4, "FALSE"},
    {oLss, 5, 4, "FALSE"},  {oLss, kMin, kMax, "TRUE "},  {oLeq, 4, 4, "TRUE "},
    {oLeq, 3, 4, "TRUE "},  {oLeq, 5, 4, "FALSE"},        {oGtr, 5, 4, "TRUE "},
    {oGtr, 4, 4, "FALSE"},  {oGtr, -1, 0, "FALSE"},       {oGtr, kMax, kMin, "TRUE "},
    {oGeq, 4, 4, "TRUE "},  {oGeq, 3, 4, "FALSE"},        {oGeq, 5, 4, "TRUE "},
};
INSTANTIATE_TEST_SUITE_P(Relations, CompExecRelation, testing::ValuesIn(kRelations));

TEST(CompExec, WrCWritesTheCurrentCondition) {
  EXPECT_EQ(Out(Encode({Opr(oWrC)})), "FALSE\r\n");  // FALSE at the start
  EXPECT_EQ(Out(Encode({Val(1), Val(2), Opr(oLss), Opr(oWrC), Opr(oWrC), Val(2), Val(1), Opr(oLss),
                        Opr(oWrC)})),
            "TRUE \r\nTRUE \r\nFALSE\r\n");
}

TEST(CompExec, WrtExtremes) {
  EXPECT_EQ(Out(Encode({Val(kMin), Opr(oWrt), Val(kMax), Opr(oWrt), Val(0), Opr(oWrt)})),
            "-2147483648\r\n2147483647\r\n0\r\n");
}

// ---- variables and jumps --------------------------------------------------

TEST(CompExec, VariableReadBeforeAssignmentIsZero) {
  EXPECT_EQ(Out(Encode({Lod(0), Opr(oWrt), Lod(63), Opr(oWrt)})), "0\r\n0\r\n");
}

TEST(CompExec, StoreAndLoad) {
  EXPECT_EQ(Out(Encode({Val(42), Sto(63), Val(-9), Sto(0), Lod(63), Opr(oWrt), Lod(0), Opr(oWrt)})),
            "42\r\n-9\r\n");
}

TEST(CompExec, JpfToTheLengthEndsNormally) {
  // Jpf 12 (5) + Val 1 (5) + Wrt (2): the length is 12
  const Streams s = Traced(Encode({Jpf(12), Val(1), Opr(oWrt)}));
  EXPECT_EQ(s.out, "");
  EXPECT_EQ(s.err, Lines({kHeader, "Comp.Dbg:    0: FALSE  0                        :  Jpf 12"}));
}

TEST(CompExec, ConditionalJumps) {
  // cond FALSE: Jpt falls through, Jpf jumps over "Val 1, Wrt"
  EXPECT_EQ(Out(Encode({Jpt(17), Jpf(17), Val(1), Opr(oWrt), Val(2), Opr(oWrt)})), "2\r\n");
  // cond TRUE: Jpf falls through, Jpt jumps over "Val 1, Wrt"
  EXPECT_EQ(Out(Encode({Val(1), Val(2), Opr(oLss), Jpf(29), Jpt(29), Val(1), Opr(oWrt), Val(2),
                        Opr(oWrt)})),
            "2\r\n");
}

TEST(CompExec, BackwardLoop) {
  // x := 3; WHILE x > 0 DO WRITE x; x := x - 1 END
  EXPECT_EQ(Out(Encode({Val(3), Sto(0),                               // 0, 5
                        Lod(0), Val(0), Opr(oGtr), Jpf(56),           // 10, 15, 20, 22
                        Lod(0), Opr(oWrt),                            // 27, 32
                        Lod(0), Val(1), Opr(oSub), Sto(0), Jmp(10),   // 34, 39, 44, 46, 51
                        Hlt()})),                                     // 56
            "3\r\n2\r\n1\r\n");
}

// Standard output and error merged: each line lands where it was written.
std::string Merged(const Bytes& b) {
  Fresh();
  Load(b);
  const int saved = dup(STDOUT_FILENO);
  testing::internal::CaptureStderr();
  dup2(STDERR_FILENO, STDOUT_FILENO);
  Comp::Exec();
  Fio::Flush();
  dup2(saved, STDOUT_FILENO);
  close(saved);
  return testing::internal::GetCapturedStderr();
}

TEST(CompExecStreams, OutputFollowsItsTraceLine) {
  EXPECT_EQ(Merged(Encode({Val(7), Val(2), Opr(oSub), Val(9), Opr(oLss), Opr(oWrC), Hlt()})),
            Lines({kHeader,
                   "Comp.Dbg:    0: FALSE  0                        :  Val 7",
                   "Comp.Dbg:    5: FALSE  1                       7:  Val 2",
                   "Comp.Dbg:   10: FALSE  2           7           2:  Sub",
                   "Comp.Dbg:   12: FALSE  1                       5:  Val 9",
                   "Comp.Dbg:   17: FALSE  2           5           9:  Lss",
                   "Comp.Dbg:   19: TRUE   0                        :  WrC",
                   "TRUE ",
                   "Comp.Dbg:   21: TRUE   0                        :  Hlt"}));
}

// Far more than the file layer buffers: no line is lost or reordered.
TEST(CompExecStreams, LongRun) {
  const int n = 3000;
  const std::string all = Merged(Encode({Val(n), Sto(0),                                 // 0, 5
                                         Lod(0), Val(0), Opr(oGtr), Jpf(56),             // 10 .. 22
                                         Lod(0), Opr(oWrt),                              // 27, 32
                                         Lod(0), Val(1), Opr(oSub), Sto(0), Jmp(10),     // 34 .. 51
                                         Hlt()}));                                       // 56
  std::vector<std::string> lines;
  for (size_t at = 0, e; (e = all.find("\r\n", at)) != std::string::npos; at = e + 2) {
    lines.push_back(all.substr(at, e - at));
  }
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), kHeader);
  EXPECT_EQ(lines.back(), "Comp.Dbg:   56: FALSE  0                        :  Hlt");
  // 1 header, 2 + 4 per test (n + 1 tests) + 7 per body + 1 traced commands, n written lines
  EXPECT_EQ(lines.size(), size_t(1 + 2 + 4 * (n + 1) + 7 * n + 1 + n));
  int next = n;
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    const std::string wrt = ":  Wrt";
    if (lines[i].size() >= wrt.size() && lines[i].compare(lines[i].size() - wrt.size(), wrt.size(), wrt) == 0) {
      ASSERT_EQ(lines[i + 1], std::to_string(next)) << "after line " << i;
      --next;
    }
  }
  EXPECT_EQ(next, 0);
}

// ---- ends of the process --------------------------------------------------

struct Fatal {
  const char* name;
  Bytes store;
  std::string tail;  // the end of standard error
};
void PrintTo(const Fatal& f, std::ostream* os) { *os << f.name; }

class CompExecDeathTest : public testing::TestWithParam<Fatal> {};

TEST_P(CompExecDeathTest, EndsAfterTheTraceLine) {
  EXPECT_EXIT(Exec(GetParam().store), ExitedWithCode(9), ContainsRegex(EndsWith(GetParam().tail)));
}

std::string After(const char* cmd, const char* err) {
  return std::string(":  ") + cmd + "\r\nComp: " + err + ".\r\n";
}

Bytes Vals(int n) {
  Bytes b;
  for (int i = 1; i <= n; ++i) {
    const Bytes v = Encode({Val(i)});
    b.insert(b.end(), v.begin(), v.end());
  }
  return b;
}

const Fatal kFatal[] = {
    {"NegOfMin", Encode({Val(kMin), Opr(oNeg)}), After("Neg", "Arithmetic overflow")},
    {"AddAboveMax", Encode({Val(kMax), Val(1), Opr(oAdd)}), After("Add", "Arithmetic overflow")},
    {"AddBelowMin", Encode({Val(kMin), Val(-1), Opr(oAdd)}), After("Add", "Arithmetic overflow")},
    {"SubBelowMin", Encode({Val(kMin), Val(1), Opr(oSub)}), After("Sub", "Arithmetic overflow")},
    {"SubZeroMinusMin", Encode({Val(0), Val(kMin), Opr(oSub)}), After("Sub", "Arithmetic overflow")},
    {"MulAboveMax", Encode({Val(65536), Val(32768), Opr(oMul)}), After("Mul", "Arithmetic overflow")},
    {"MulMinusOneByMin", Encode({Val(-1), Val(kMin), Opr(oMul)}), After("Mul", "Arithmetic overflow")},
    {"BusBelowMin", Encode({Val(1), Val(kMin), Opr(oBus)}), After("Bus", "Arithmetic overflow")},
    {"BusAboveMax", Encode({Val(-1), Val(kMax), Opr(oBus)}), After("Bus", "Arithmetic overflow")},
    {"DivByZero", Encode({Val(5), Val(0), Opr(oDiv)}), After("Div", "Division by zero")},
    {"DivZeroByZero", Encode({Val(0), Val(0), Opr(oDiv)}), After("Div", "Division by zero")},
    {"VidByZero", Encode({Val(0), Val(5), Opr(oVid)}), After("Vid", "Division by zero")},
    {"DivNegative", Encode({Val(5), Val(-1), Opr(oDiv)}), After("Div", "Negative divisor")},
    {"DivMinByMinusOne", Encode({Val(kMin), Val(-1), Opr(oDiv)}), After("Div", "Negative divisor")},
    {"VidNegative", Encode({Val(-1), Val(5), Opr(oVid)}), After("Vid", "Negative divisor")},
    {"StackOverflow", Vals(33),
     "Comp.Dbg:  160: FALSE 32          31          32:  Val 33\r\nComp: Stack overflow.\r\n"},
    {"AddOnOneEntry", Encode({Val(1), Opr(oAdd)}), After("Add", "Stack underflow")},
    {"LssOnOneEntry", Encode({Val(1), Opr(oLss)}), After("Lss", "Stack underflow")},
    {"WrtOnEmpty", Encode({Opr(oWrt)}), After("Wrt", "Stack underflow")},
    {"NotOnEmpty", Encode({Opr(oNot)}), After("Not", "Stack underflow")},
    {"StoOnEmpty", Encode({Sto(0)}), After("Sto 0", "Stack underflow")},
    {"Sto64OnEmpty", Encode({Sto(64)}), After("Sto 64", "Invalid index 64")},
    {"Lod64", Encode({Lod(64)}), After("Lod 64", "Invalid index 64")},
    {"StoHugeIndex", Encode({Val(1), Sto(0xFFFFFFFF)}), After("Sto 4294967295", "Invalid index 4294967295")},
    // Jpt 7 (5) + Hlt (1): the length is 6; checked although not taken
    {"JptBeyondLength", Encode({Jpt(7), Hlt()}), After("Jpt 7", "Invalid address 7")},
    {"JpfBeyondLengthNotTaken", Encode({Val(1), Val(2), Opr(oLss), Jpf(18)}),
     After("Jpf 18", "Invalid address 18")},
    {"JmpFixme", Encode({Jmp(endMark)}), After("Jmp <fixme>", "Invalid address 4294967295")},
    {"StoreEndsInsideCommand", Bytes{0x01, 0x01, 0x00, 0x00, 0x00, 0x04},
     After("Val 1", "Bug: End of program")},
};
INSTANTIATE_TEST_SUITE_P(Fatal, CompExecDeathTest, testing::ValuesIn(kFatal),
                         [](const testing::TestParamInfo<Fatal>& i) { return i.param.name; });

// A command that cannot be decoded or shown ends the run before its trace line.
TEST(CompExecBadCommandDeathTest, NoTraceLine) {
  EXPECT_EXIT(Exec(Bytes{0x08}), ExitedWithCode(9), Eq("Comp: Invalid function 8.\r\n"));
  EXPECT_EXIT(Exec(Bytes{0x04, 0x12}), ExitedWithCode(9), Eq("Comp0.Bug: Unknown operation 18.\r\n"));
  EXPECT_EXIT(Exec(Bytes{0x01, 0x01, 0, 0, 0, 0x09}), ExitedWithCode(9),
              Eq(Lines({kHeader, "Comp.Dbg:    0: FALSE  0                        :  Val 1",
                        "Comp: Invalid function 9."})));
}

}  // namespace
