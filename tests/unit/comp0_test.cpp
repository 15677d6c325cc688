// Comp0::Convert: the text form of every command, its limits and its bugs.
#include <cstring>

#include "unit_support.h"

namespace {

using namespace Comp0;
using testing::Eq;
using testing::ExitedWithCode;

TCmdDesc Desc(TFunction f, uint32_t x = 0) { return TCmdDesc{f, x}; }

// Converts into a text that holds garbage before, and checks that the result
// is NUL-terminated and as long as Convert says.
std::string Text(TCmdDesc d) {
  TCmdStr s;
  memset(s, 'X', sizeof s);
  const uint32_t n = Convert(d, s);
  EXPECT_LT(n, sizeof(TCmdStr));
  EXPECT_EQ(s[n], '\0');
  return std::string(s, n);
}

struct ConvCase {
  TCmdDesc cmd;
  const char* text;
};
void PrintTo(const ConvCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class Comp0Convert : public testing::TestWithParam<ConvCase> {
 protected:
  void SetUp() override {
    Fio::Init();
    Comp0::Init();
  }
};

TEST_P(Comp0Convert, Text) { EXPECT_EQ(Text(GetParam().cmd), GetParam().text); }

const ConvCase kOperations[] = {
    {Desc(fOpr, oWrt), "Wrt"}, {Desc(fOpr, oWrC), "WrC"}, {Desc(fOpr, oNeg), "Neg"},
    {Desc(fOpr, oAdd), "Add"}, {Desc(fOpr, oSub), "Sub"}, {Desc(fOpr, oMul), "Mul"},
    {Desc(fOpr, oDiv), "Div"}, {Desc(fOpr, oBus), "Bus"}, {Desc(fOpr, oVid), "Vid"},
    {Desc(fOpr, oEql), "Eql"}, {Desc(fOpr, oNeq), "Neq"}, {Desc(fOpr, oLss), "Lss"},
    {Desc(fOpr, oLeq), "Leq"}, {Desc(fOpr, oGtr), "Gtr"}, {Desc(fOpr, oGeq), "Geq"},
    {Desc(fOpr, oNot), "Not"}, {Desc(fOpr, oOr), "Or "},  {Desc(fOpr, oAnd), "And"},
};
INSTANTIATE_TEST_SUITE_P(Operations, Comp0Convert, testing::ValuesIn(kOperations));

const ConvCase kFunctions[] = {
    {Desc(fHlt), "Hlt"},
    {Desc(fVal, 0), "Val 0"},
    {Desc(fVal, 5), "Val 5"},
    {Desc(fVal, uint32_t(-1)), "Val -1"},
    {Desc(fVal, 0x7FFFFFFFu), "Val 2147483647"},
    {Desc(fVal, 0x80000000u), "Val -2147483648"},
    {Desc(fLod, 0), "Lod 0"},
    {Desc(fLod, 63), "Lod 63"},
    {Desc(fLod, 0xFFFFFFFFu), "Lod 4294967295"},  // no end mark for an index
    {Desc(fSto, 64), "Sto 64"},
    {Desc(fSto, 0xFFFFFFFFu), "Sto 4294967295"},
    {Desc(fJmp, 0), "Jmp 0"},
    {Desc(fJmp, 1024), "Jmp 1024"},
    {Desc(fJmp, 0xFFFFFFFEu), "Jmp 4294967294"},
    {Desc(fJmp, endMark), "Jmp <fixme>"},
    {Desc(fJpf, 0xFFFFFFFEu), "Jpf 4294967294"},
    {Desc(fJpf, endMark), "Jpf <fixme>"},
    {Desc(fJpt, 17), "Jpt 17"},
    {Desc(fJpt, endMark), "Jpt <fixme>"},
};
INSTANTIATE_TEST_SUITE_P(Functions, Comp0Convert, testing::ValuesIn(kFunctions));

TEST(Comp0ConvertText, LongerPreviousTextIsFullyReplaced) {
  Fio::Init();
  Comp0::Init();
  TCmdStr s;
  EXPECT_EQ(Convert(Desc(fVal, 0x80000000u), s), 15u);
  EXPECT_STREQ(s, "Val -2147483648");
  EXPECT_EQ(Convert(Desc(fHlt), s), 3u);
  EXPECT_STREQ(s, "Hlt");
  EXPECT_EQ(Convert(Desc(fOpr, oOr), s), 3u);
  EXPECT_STREQ(s, "Or ");
  EXPECT_EQ(Convert(Desc(fJpt, endMark), s), 11u);
  EXPECT_STREQ(s, "Jpt <fixme>");
  EXPECT_EQ(Convert(Desc(fLod, 7), s), 5u);
  EXPECT_STREQ(s, "Lod 7");
}

struct BugCase {
  TCmdDesc cmd;
  const char* line;
};
void PrintTo(const BugCase& c, std::ostream* os) { *os << '"' << c.line << '"'; }

class Comp0ConvertDeathTest : public testing::TestWithParam<BugCase> {};

TEST_P(Comp0ConvertDeathTest, UnknownEndsTheProcess) {
  EXPECT_EXIT(
      {
        Fio::Init();
        Comp0::Init();
        TCmdStr s;
        Convert(GetParam().cmd, s);
      },
      ExitedWithCode(9), Eq(std::string(GetParam().line) + "\r\n"));
}

const BugCase kBugs[] = {
    {Desc(fOpr, 18), "Comp0.Bug: Unknown operation 18."},
    {Desc(fOpr, 255), "Comp0.Bug: Unknown operation 255."},
    {Desc(TFunction(8)), "Comp0.Bug: Unknown function 8."},
    {Desc(TFunction(255)), "Comp0.Bug: Unknown function 255."},
};
INSTANTIATE_TEST_SUITE_P(Unknown, Comp0ConvertDeathTest, testing::ValuesIn(kBugs));

}  // namespace
