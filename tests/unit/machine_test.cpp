// The machine on hand-made stores: what no compiled program holds (no halt,
// a halt in the middle, the bitwise operations, bad operands, bad bytes).
// Each case lists or runs its store in a child process and checks how that
// ends: the status and the last of its output, both streams in one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Comp.h"
#include "Comp0.h"
#include "Fio.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A command of five bytes: the function, then the operand, least significant byte first.
Bytes C(uint8_t f, uint32_t x) {
  return {f, uint8_t(x), uint8_t(x >> 8), uint8_t(x >> 16), uint8_t(x >> 24)};
}
Bytes operator+(Bytes a, const Bytes& b) { return a.insert(a.end(), b.begin(), b.end()), a; }
const Bytes hlt{0}, wrt{4, 0}, add{4, 3}, lss{4, 11}, opNot{4, 15}, opOr{4, 16}, opAnd{4, 17};
Bytes Val(int32_t v) { return C(1, uint32_t(v)); }

struct Case {
  const char* name;
  bool list;  // list the store, else run it
  Bytes store;
  int status;
  std::string tail;  // the end of the output; empty: no output at all
};

const std::string kHeader = "Comp.Dbg:   pc  cond  ac       top-1         top\r\n";

const Case kCases[] = {
    {"EmptyStoreListsNothing", true, {}, 0, ""},
    {"EmptyStoreRunsWithoutTrace", false, {}, 0, ""},
    {"ListsWhatNoProgramHolds", true,
     opNot + opOr + opAnd + C(2, 63) + C(3, 64) + C(5, 0xFFFFFFFF) + C(7, 0xFFFFFFFE) + hlt + hlt,
     0,
     "   0: Not\r\n   2: Or \r\n   4: And\r\n   6: Lod 63\r\n  11: Sto 64\r\n  16: Jmp <fixme>\r\n"
     "  21: Jpt 4294967294\r\n  26: Hlt\r\n  27: Hlt\r\n"},
    {"NotRunsOffTheEnd", false, Val(5) + opNot + wrt, 0, ":  Wrt\r\n-6\r\n"},
    {"Or", false, Val(12) + Val(10) + opOr + wrt, 0, ":  Wrt\r\n14\r\n"},
    {"And", false, Val(12) + Val(10) + opAnd + wrt, 0, ":  Wrt\r\n8\r\n"},
    {"HaltInTheMiddle", false, Val(1) + wrt + hlt + Val(2) + wrt, 0,
     ":  Wrt\r\n1\r\nComp.Dbg:    7: FALSE  0                        :  Hlt\r\n"},
    {"JumpToTheEndWhenFalse", false, C(6, 6) + hlt, 0,
     kHeader + "Comp.Dbg:    0: FALSE  0                        :  Jpf 6\r\n"},
    {"StackUnderflow", false, Val(1) + add, 9, ":  Add\r\nComp: Stack underflow.\r\n"},
    {"IndexBeforeStack", false, C(3, 64), 9, ":  Sto 64\r\nComp: Invalid index 64.\r\n"},
    {"AddressCheckedWhenNotTaken", false, Val(1) + Val(2) + lss + C(6, 18), 9,
     "TRUE   0                        :  Jpf 18\r\nComp: Invalid address 18.\r\n"},
    {"UnresolvedJump", false, C(5, 0xFFFFFFFF), 9,
     ":  Jmp <fixme>\r\nComp: Invalid address 4294967295.\r\n"},
    {"BadFunctionBeforeItsTraceLine", false, Val(1) + Bytes{9}, 9,
     ":  Val 1\r\nComp: Invalid function 9.\r\n"},
    {"BadOperationBeforeTheHeader", false, {4, 18}, 9, "Comp0.Bug: Unknown operation 18.\r\n"},
    {"StoreEndsInsideACommand", false, Val(1) + Bytes{4}, 9,
     ":  Val 1\r\nComp: Bug: End of program.\r\n"},
    {"ListingEndsInsideACommand", true, Val(5) + Bytes{4}, 9,
     "   0: Val 5\r\nComp: Bug: End of program.\r\n"},
    {"ListingBadFunction", true, hlt + Bytes{255}, 9,
     "   0: Hlt\r\nComp: Invalid function 255.\r\n"},
    {"ListingBadOperation", true, opAnd + Bytes{4, 18}, 9,
     "   0: And\r\nComp0.Bug: Unknown operation 18.\r\n"},
};

class Machine : public testing::TestWithParam<Case> {};

void ListOrRun(const Case& c) {
  dup2(STDERR_FILENO, STDOUT_FILENO);  // both streams, in their order
  Fio::Init();
  Comp0::Init();
  Comp::Init();
  if (!c.store.empty()) Comp::Write(c.store.data(), uint32_t(c.store.size()));
  c.list ? Comp::List() : Comp::Exec();
  Fio::Exit(0);
}

TEST_P(Machine, Ends) {
  const Case& c = GetParam();
  EXPECT_EXIT(ListOrRun(c), testing::ExitedWithCode(c.status),
              c.tail.empty() ? testing::Matcher<const std::string&>(testing::IsEmpty())
                             : testing::EndsWith(c.tail));
}

INSTANTIATE_TEST_SUITE_P(Stores, Machine, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& i) { return i.param.name; });

}  // namespace
