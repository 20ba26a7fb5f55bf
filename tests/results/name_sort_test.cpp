#include <gtest/gtest.h>

#include "results/results_model.h"

namespace lp {
namespace {

TEST(NameSort, TheNameColumnSortsNamesAsJapaneseText) {
  ResultTable table;
  const char* names[] = {"日本水産", "ABC", "ｻｸﾗ電機", "あおば", "カブト", "ａｂｃ"};
  int code = 1001;
  for (const char* name : names) {
    ResultFields f;
    f[result_field::kCode - 1] = std::to_string(code++);
    f[result_field::kName - 1] = name;
    table.rows.push_back(f);
  }
  auto codes = [&] {
    std::string s;
    for (const auto& r : table.rows) s += r[0] + " ";
    return s;
  };
  ResultSorter sorter;
  EXPECT_TRUE(sorter.sort(table, 2));  // the first sort is descending
  EXPECT_EQ(codes(), "1001 1003 1005 1004 1006 1002 ");
  EXPECT_FALSE(sorter.sort(table, 2));
  EXPECT_EQ(codes(), "1002 1006 1004 1005 1003 1001 ");
  // A window's own collation decides when it is given.
  sorter.sort(table, 2, [](const std::string& a, const std::string& b) {
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
  });
  EXPECT_EQ(codes().substr(0, 5), "1003 ");  // ｻｸﾗ電機: the most bytes
}

}  // namespace
}  // namespace lp
