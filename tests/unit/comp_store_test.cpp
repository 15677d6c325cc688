// Comp's program store on hand-made contents: size limit, position cursor,
// reading back, overwriting, and the byte order the machine decodes.
#include <algorithm>

#include "unit_support.h"

namespace {

using namespace unit;
using testing::Eq;
using testing::ExitedWithCode;

const std::string kTooLarge = "Comp: Program too large.\r\n";
const std::string kBadPos = "Comp: Invalid position.\r\n";
const std::string kNothing = "Comp: Nothing to read.\r\n";

uint32_t Pos() {
  uint32_t x = 0xDEADBEEF;
  Comp::GetPos(x);
  return x;
}

Bytes Count(uint32_t n, uint8_t from = 0) {
  Bytes b(n);
  for (uint32_t i = 0; i < n; ++i) b[i] = uint8_t(from + i);
  return b;
}

class CompStore : public testing::Test {
 protected:
  void SetUp() override { Fresh(); }
};
using CompStoreDeathTest = CompStore;

TEST_F(CompStore, FreshStoreIsEmpty) {
  EXPECT_EQ(Pos(), 0u);
  Comp::SetPos(0);
  EXPECT_EQ(Pos(), 0u);
}

TEST_F(CompStore, WritesUpToExactlyTheStoreSize) {
  const Bytes a = Count(Comp::prgSize - 1);
  Comp::Write(a.data(), uint32_t(a.size()));
  EXPECT_EQ(Pos(), Comp::prgSize - 1);
  const uint8_t last = 0xAB;
  Comp::Write(&last, 1);
  EXPECT_EQ(Pos(), Comp::prgSize);

  Comp::SetPos(0);
  Bytes back(Comp::prgSize);
  Comp::Read(back.data(), Comp::prgSize);
  EXPECT_TRUE(std::equal(a.begin(), a.end(), back.begin()));
  EXPECT_EQ(back.back(), last);
}

TEST_F(CompStore, WholeStoreInOneWrite) {
  const Bytes a = Count(Comp::prgSize);
  Comp::Write(a.data(), Comp::prgSize);
  EXPECT_EQ(Pos(), Comp::prgSize);
  Comp::SetPos(Comp::prgSize);  // the length is a valid position
}

TEST_F(CompStoreDeathTest, OneByteMoreThanTheStore) {
  EXPECT_EXIT(
      {
        const Bytes a = Count(Comp::prgSize);
        Comp::Write(a.data(), Comp::prgSize);
        const uint8_t b = 0;
        Comp::Write(&b, 1);
      },
      ExitedWithCode(9), Eq(kTooLarge));
  EXPECT_EXIT(
      {
        const Bytes a = Count(Comp::prgSize + 1);
        Comp::Write(a.data(), Comp::prgSize + 1);
      },
      ExitedWithCode(9), Eq(kTooLarge));
  // a write that starts inside and runs past the end
  EXPECT_EXIT(
      {
        const Bytes a = Count(Comp::prgSize - 4);
        Comp::Write(a.data(), uint32_t(a.size()));
        const Bytes w = Encode({Val(1)});
        Comp::Write(w.data(), uint32_t(w.size()));
      },
      ExitedWithCode(9), Eq(kTooLarge));
}

TEST_F(CompStore, SetPosUpToTheLength) {
  Load(Count(10));
  for (uint32_t x : {0u, 3u, 9u, 10u}) {
    Comp::SetPos(x);
    EXPECT_EQ(Pos(), x);
  }
}

TEST_F(CompStoreDeathTest, SetPosBeyondTheLength) {
  EXPECT_EXIT(Comp::SetPos(1), ExitedWithCode(9), Eq(kBadPos));  // empty store
  EXPECT_EXIT(
      {
        Load(Count(10));
        Comp::SetPos(11);
      },
      ExitedWithCode(9), Eq(kBadPos));
}

TEST_F(CompStore, ReadAdvancesTheCursor) {
  Load(Count(10, 0x30));
  Comp::SetPos(2);
  uint8_t b[3];
  Comp::Read(b, 3);
  EXPECT_EQ(Pos(), 5u);
  EXPECT_EQ(b[0], 0x32);
  EXPECT_EQ(b[2], 0x34);
  uint8_t c;
  Comp::Read(&c, 1);
  EXPECT_EQ(c, 0x35);
}

TEST_F(CompStore, ReadTheLastFourBytes) {
  Load(Count(10));
  Comp::SetPos(10 - 4);
  uint8_t b[4];
  Comp::Read(b, 4);
  EXPECT_EQ(Pos(), 10u);
  EXPECT_EQ(b[3], 9);
}

TEST_F(CompStoreDeathTest, ReadPastTheLength) {
  EXPECT_EXIT(
      {
        Load(Count(10));
        Comp::SetPos(10 - 3);
        uint8_t b[4];
        Comp::Read(b, 4);
      },
      ExitedWithCode(9), Eq(kNothing));
  EXPECT_EXIT(
      {
        uint8_t b;
        Comp::Read(&b, 1);  // empty store
      },
      ExitedWithCode(9), Eq(kNothing));
}

TEST_F(CompStore, OverwriteInsideKeepsTheLength) {
  Load(Count(10));
  Comp::SetPos(2);
  const uint8_t w[3] = {0xA0, 0xA1, 0xA2};
  Comp::Write(w, 3);
  EXPECT_EQ(Pos(), 5u);
  Comp::SetPos(0);
  Bytes back(10);
  Comp::Read(back.data(), 10);  // all 10 are still there, and no more
  EXPECT_EQ(back, (Bytes{0, 1, 0xA0, 0xA1, 0xA2, 5, 6, 7, 8, 9}));
  Comp::SetPos(10);
}

TEST_F(CompStoreDeathTest, OverwriteInsideDoesNotGrowTheStore) {
  EXPECT_EXIT(
      {
        Load(Count(10));
        Comp::SetPos(2);
        Load(Count(3));
        Comp::SetPos(11);
      },
      ExitedWithCode(9), Eq(kBadPos));
}

TEST_F(CompStore, OverwriteAcrossTheEndGrowsTheStore) {
  Load(Count(10));
  Comp::SetPos(8);
  Load(Count(4, 0x50));
  EXPECT_EQ(Pos(), 12u);
  Comp::SetPos(12);
  Comp::SetPos(6);
  Bytes back(6);
  Comp::Read(back.data(), 6);
  EXPECT_EQ(back, (Bytes{6, 7, 0x50, 0x51, 0x52, 0x53}));
}

// The machine reads operands least significant byte first: the listing shows
// what hand-encoded bytes mean.
TEST_F(CompStore, OperandsAreLittleEndian) {
  Load(Bytes{0x01, 0xFE, 0xFF, 0xFF, 0xFF,    // Val -2
             0x05, 0x04, 0x03, 0x02, 0x01,    // Jmp 0x01020304
             0x02, 0x3F, 0x00, 0x00, 0x00,    // Lod 63
             0x03, 0x00, 0x01, 0x00, 0x00,    // Sto 256
             0x01, 0x00, 0x00, 0x00, 0x80});  // Val -2147483648
  const Streams s = Capture(Comp::List);
  EXPECT_EQ(s.out, Lines({"   0: Val -2", "   5: Jmp 16909060", "  10: Lod 63", "  15: Sto 256",
                          "  20: Val -2147483648"}));
  EXPECT_EQ(s.err, "");
}

TEST_F(CompStore, TestEncoderAgreesWithTheMachine) {
  EXPECT_EQ(Encode({Val(-2)}), (Bytes{0x01, 0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Encode({Opr(Comp0::oAnd), Hlt()}), (Bytes{0x04, 0x11, 0x00}));
}

}  // namespace
