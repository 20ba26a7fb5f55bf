// Damaged reference and day files fed to the stock search: it reports "no day file" or ranks
// what the file holds, never more than its hit limit, and never crashes on the names.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "common/encoding.h"
#include "pricedb/formats.h"
#include "search/search_model.h"
#include "support/damaged_inputs.h"
#include "support/fixtures.h"

namespace lp {
namespace {

using Input = test::DamagedInput;
using test::place;
constexpr std::string_view kFolder = test::kFolderMarker;

std::vector<Input> damaged_day_files() {
  const std::string sakura = utf8_to_cp932("サクラ");
  std::vector<Input> more = {
      {"header count of 10^9",
       "20240110,1000000000,x,x,x,x,x,x\r\n1301,m," + sakura + ",1,2,3,4,5\r\n"},
      {"1 MB name",
       "20240110,1,x,x,x,x,x,x\r\n1301,m," + std::string(1 << 20, '\xB1') + ",1,2,3,4,5\r\n"},
      {"1 MB of commas after a count of 10^9",
       "20240110,1000000000,x,x,x,x,x,x\r\n" + std::string(1 << 20, ',')},
      {"invalid shift_jis names",
       "20240110,2,x,x,x,x,x,x\r\n1301,m,\x81\x20\xFF,1,2,3,4,5\r\n"
       "1332,m,\x83" +
           sakura + ",1,2,3,4,5\r\n"},
      {"truncated last record",
       "20240110,2,x,x,x,x,x,x\r\n1301,m," + sakura + ",1,2,3,4,5\r\n1332,m,ab,1"},
      {"the same code 10000 times",
       [&] {
         std::string s = "20240110,10000,x,x,x,x,x,x\r\n";
         for (int i = 0; i < 10000; ++i) s += "1301,m," + sakura + ",1,2,3,4,5\r\n";
         return s;
       }()},
  };
  return test::base_damaged_inputs(51, std::move(more));
}

TEST(SearchRobustness, DamagedDayFilesRankWhatTheyHold) {
  for (const Input& in : damaged_day_files()) {
    SCOPED_TRACE(in.name);
    test::TempDir dir;
    const std::string path = dir.file("20240110.csv");
    place(path, in.bytes);
    std::vector<StockEntry> table = {make_stock_entry("9999", "m", "old")};
    const bool read = read_stock_table(path, table);
    EXPECT_EQ(read, in.bytes != kFolder);
    if (!read) continue;
    EXPECT_LE(table.size(), in.bytes.size() / 8 + 1);
    // Each code once, whatever the file repeats.
    std::vector<std::string> codes;
    for (const StockEntry& e : table) codes.push_back(e.code);
    std::sort(codes.begin(), codes.end());
    EXPECT_EQ(std::adjacent_find(codes.begin(), codes.end()), codes.end());
    for (const char* query : {"さくら", "ｻｸﾗ", "\xEF\xBF\xBD", ""}) {
      const std::vector<SearchHit> hits = rank_stocks(table, query);
      EXPECT_LE(hits.size(), kMaxSearchResults);
      for (const SearchHit& h : hits) EXPECT_GT(h.score, 0);
    }
  }
}

TEST(SearchRobustness, DamagedReferenceOrDayFileEndsTheSearchCleanly) {
  struct Case {
    const char* name;
    std::string reference;  // the reference code's 2024 series file
    std::string day;        // the day file it points at
    bool found;
  };
  const std::string good_ref = "1001,d,n,x,20240110,1\r\n20240110,1,2,3,4,5\r\n";
  const std::string good_day =
      "20240110,1,x,x,x,x,x,x\r\n1301,m," + utf8_to_cp932("サクラ") + ",1,2,3,4,5\r\n";
  std::vector<Case> cases = {
      {"good files", good_ref, good_day, true},
      {"reference empty: no date", "", good_day, false},
      {"reference garbage", test::garbage(4096, 52), good_day, false},
      {"reference date is a path", "1001,d,n,x,../../../etc/passwd,0\r\n", good_day, false},
      {"reference date of 1 MB", "1001,d,n,x," + std::string(1 << 20, '2') + ",0\r\n", good_day,
       false},
      {"reference is a folder", std::string(kFolder), good_day, false},
  };
  for (const Input& in : damaged_day_files()) {
    cases.push_back({in.name, good_ref, in.bytes, in.bytes != kFolder});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    AppFolders folders;
    folders.db_folder = dir.str() + "/db/";
    folders.reference_code = "1001";
    place(series_file_path(folders.db_folder, 2024, "1001"), c.reference);
    place(day_file_path(folders.db_folder, "20240110"), c.day);
    StockSearch search;
    std::vector<SearchHit> hits;
    const StockSearch::Status status = search.search(folders, "20240115", "さくら", hits);
    EXPECT_EQ(status == StockSearch::Status::ok, c.found);
    EXPECT_EQ(search.table_loaded(), c.found);
    EXPECT_LE(hits.size(), kMaxSearchResults);
    if (c.found && c.day == good_day) {
      ASSERT_EQ(hits.size(), 1u);
      EXPECT_EQ(hits[0].code, "1301");
    }
  }
}

}  // namespace
}  // namespace lp
