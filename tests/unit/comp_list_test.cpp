// Comp::List on hand-made stores: the listing lines and the ends of a store
// that is no program.
#include "unit_support.h"

namespace {

using namespace unit;
using testing::Eq;
using testing::ExitedWithCode;

class CompList : public testing::Test {
 protected:
  void SetUp() override { Fresh(); }

  static std::string List(const Bytes& b) {
    Load(b);
    const Streams s = Capture(Comp::List);
    EXPECT_EQ(s.err, "");
    return s.out;
  }
};
using CompListDeathTest = CompList;

TEST_F(CompList, Example) {
  EXPECT_EQ(List(Bytes{0x01, 0x05, 0x00, 0x00, 0x00,  //
                       0x03, 0x00, 0x00, 0x00, 0x00,  //
                       0x02, 0x00, 0x00, 0x00, 0x00,  //
                       0x04, 0x00,                    //
                       0x00}),
            "   0: Val 5\r\n"
            "   5: Sto 0\r\n"
            "  10: Lod 0\r\n"
            "  15: Wrt\r\n"
            "  17: Hlt\r\n");
}

TEST_F(CompList, EmptyStoreListsNothing) { EXPECT_EQ(List({}), ""); }

TEST_F(CompList, EveryFunction) {
  EXPECT_EQ(List(Encode({Jmp(Comp0::endMark), Jpf(0xFFFFFFFE), Jpt(0), Lod(7), Sto(64),
                         Val(2147483647), Opr(Comp0::oOr), Hlt()})),
            Lines({"   0: Jmp <fixme>", "   5: Jpf 4294967294", "  10: Jpt 0", "  15: Lod 7",
                   "  20: Sto 64", "  25: Val 2147483647", "  30: Or ", "  32: Hlt"}));
}

// Hlt does not end the listing: the whole store is listed.
TEST_F(CompList, ListsPastHlt) {
  EXPECT_EQ(List(Encode({Hlt(), Hlt(), Opr(Comp0::oWrC)})),
            Lines({"   0: Hlt", "   1: Hlt", "   2: WrC"}));
}

// Addresses take four columns; the full store reaches 1023.
TEST_F(CompList, FullStoreAddressColumn) {
  Bytes b;
  for (int i = 0; i < 204; ++i) {
    const Bytes v = Encode({Val(i)});
    b.insert(b.end(), v.begin(), v.end());
  }
  b.insert(b.end(), {0, 0, 0, 0});
  ASSERT_EQ(b.size(), Comp::prgSize);
  const std::string out = List(b);
  const std::string head = Lines({"   0: Val 0", "   5: Val 1", "  10: Val 2"});
  EXPECT_EQ(out.substr(0, head.size()), head);
  EXPECT_NE(out.find("  95: Val 19\r\n 100: Val 20\r\n"), std::string::npos);
  EXPECT_NE(out.find(" 995: Val 199\r\n1000: Val 200\r\n"), std::string::npos);
  const std::string tail = Lines({"1015: Val 203", "1020: Hlt", "1021: Hlt", "1022: Hlt", "1023: Hlt"});
  ASSERT_GE(out.size(), tail.size());
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
}

struct BadStore {
  const char* name;
  Bytes store;
  std::string merged;  // standard output and error, in order
};
void PrintTo(const BadStore& c, std::ostream* os) { *os << c.name; }

class CompListBadDeathTest : public testing::TestWithParam<BadStore> {};

TEST_P(CompListBadDeathTest, EndsTheProcess) {
  EXPECT_EXIT(
      {
        MergeStdoutIntoStderr();
        Fresh();
        Load(GetParam().store);
        Comp::List();
      },
      ExitedWithCode(9), Eq(GetParam().merged));
}

const BadStore kBadStores[] = {
    {"EndsInOpr", {0x01, 0x05, 0x00, 0x00, 0x00, 0x04},
     "   0: Val 5\r\nComp: Bug: End of program.\r\n"},
    {"EndsInsideOperand", {0x00, 0x01, 0x05, 0x00, 0x00},
     "   0: Hlt\r\nComp: Bug: End of program.\r\n"},
    {"OnlyAJump", {0x05}, "Comp: Bug: End of program.\r\n"},
    {"BeginsWith08", {0x08, 0x00, 0x00}, "Comp: Invalid function 8.\r\n"},
    {"FunctionFF", {0x00, 0xFF}, "   0: Hlt\r\nComp: Invalid function 255.\r\n"},
    {"Operation18", {0x04, 0x12}, "Comp0.Bug: Unknown operation 18.\r\n"},
    {"Operation18AfterLines", {0x04, 0x11, 0x04, 0x12},
     "   0: And\r\nComp0.Bug: Unknown operation 18.\r\n"},
};
INSTANTIATE_TEST_SUITE_P(Stores, CompListBadDeathTest, testing::ValuesIn(kBadStores),
                         [](const testing::TestParamInfo<BadStore>& i) { return i.param.name; });

}  // namespace
