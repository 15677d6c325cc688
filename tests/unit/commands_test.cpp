// The guide's two tables of commands (docs/language.md, "### Commands") say
// what the command table in Comp0 says: each function's and each operation's
// name, length and effect on the stack, the condition and the pc, row by row.
// The page shows Comp0's texts; no source program reaches them.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Comp0.h"

namespace {

using Row = std::vector<std::string>;

// The cells of a table row, trimmed, with the backticks around a cell removed.
Row Cells(const std::string& line) {
  Row cells;
  std::stringstream in(line.substr(1));
  std::string cell;
  while (std::getline(in, cell, '|')) {
    const size_t a = cell.find_first_not_of(' '), b = cell.find_last_not_of(' ');
    cell = a == std::string::npos ? "" : cell.substr(a, b - a + 1);
    if (cell.size() >= 2 && cell.front() == '`' && cell.back() == '`') {
      cell = cell.substr(1, cell.size() - 2);
    }
    cells.push_back(cell);
  }
  return cells;
}

// The body rows of the tables in the guide's section on commands, table by table.
std::vector<std::vector<Row>> Tables() {
  std::ifstream f(TOV_GUIDE);
  std::vector<std::vector<Row>> tables;
  std::string line;
  bool in = false, inTable = false;
  while (std::getline(f, line)) {
    if (line.starts_with("### ")) in = line == "### Commands";
    const bool row = in && line.starts_with("|");
    if (row && !inTable) tables.emplace_back();
    if (row && !line.starts_with("| ---") && !line.starts_with("| code"))
      tables.back().push_back(Cells(line));
    inTable = row;
  }
  return tables;
}

// The row's cells from `at` on are the effect's stack, cond and pc.
void ExpectEffect(const Row& r, size_t at, const Comp0::TEffect& e) {
  EXPECT_EQ(r[at], e.stack) << r[1];
  EXPECT_EQ(r[at + 1], e.cond) << r[1];
  EXPECT_EQ(r[at + 2], e.pc) << r[1];
}

TEST(Commands, GuideTablesAreTheCommandTable) {
  using namespace Comp0;
  const auto tables = Tables();
  ASSERT_EQ(tables.size(), 2u) << "the guide's section \"### Commands\" in " << TOV_GUIDE;
  ASSERT_EQ(tables[0].size(), fctCnt);
  for (uint32_t f = 0; f < fctCnt; ++f) {
    const Row& r = tables[0][f];
    ASSERT_EQ(r.size(), 7u) << "function " << f;
    EXPECT_EQ(r[0], std::to_string(f));
    if (f != fOpr) {
      EXPECT_EQ(r[1].substr(0, 3), FctName(TFunction(f)));
    }
    EXPECT_EQ(r[3], std::to_string(Length(uint8_t(f)))) << r[1];
    ExpectEffect(r, 4, FctEffect(TFunction(f)));
  }
  ASSERT_EQ(tables[1].size(), oprCnt);
  for (uint32_t o = 0; o < oprCnt; ++o) {
    const Row& r = tables[1][o];
    ASSERT_EQ(r.size(), 5u) << "operation " << o;
    EXPECT_EQ(r[0], std::to_string(o));
    EXPECT_EQ(r[1], OprName(TOperation(o)));
    ExpectEffect(r, 2, OprEffect(TOperation(o)));
  }
}

}  // namespace
