// Damaged day files fed to the stock search: it ranks what the file holds, each code once and
// never more than its hit limit, whatever the names' bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/encoding.h"
#include "search/search_model.h"
#include "support/damaged_inputs.h"
#include "support/fixtures.h"

namespace lp {
namespace {

TEST(SearchRobustness, DamagedDayFilesRankWhatTheyHold) {
  const std::string sakura = utf8_to_cp932("サクラ");
  const std::string head = "20240110,10000,x,x,x,x,x,x\r\n";
  std::string repeated = head;
  for (int i = 0; i < 10000; ++i) repeated += "1301,m," + sakura + ",1,2,3,4,5\r\n";
  const std::vector<test::DamagedInput> inputs = {
      {"binary garbage", test::garbage(64 * 1024, 51)},
      {"1 MB name", head + "1301,m," + std::string(1 << 20, '\xB1') + ",1,2,3,4,5\r\n"},
      {"invalid shift_jis names",
       head + "1301,m,\x81\x20\xFF,1,2,3,4,5\r\n1332,m,\x83" + sakura + ",1,2,3,4,5\r\n"},
      {"the same code 10000 times", repeated},
  };
  test::TempDir dir;
  for (const test::DamagedInput& in : inputs) {
    SCOPED_TRACE(in.name);
    test::write_bytes(dir.path() / "20240110.csv", in.bytes);
    std::vector<StockEntry> table;
    ASSERT_TRUE(read_stock_table(dir.file("20240110.csv"), table));
    EXPECT_LE(table.size(), in.bytes.size() / 8 + 1);
    std::vector<std::string> codes;
    for (const StockEntry& e : table) codes.push_back(e.code);
    std::sort(codes.begin(), codes.end());
    EXPECT_EQ(std::adjacent_find(codes.begin(), codes.end()), codes.end());
    for (const char* query : {"さくら", "ｻｸﾗ", "\xEF\xBF\xBD"}) {
      const std::vector<SearchHit> hits = rank_stocks(table, query);
      EXPECT_LE(hits.size(), kMaxSearchResults);
      for (const SearchHit& h : hits) EXPECT_GT(h.score, 0);
    }
  }
}

}  // namespace
}  // namespace lp
