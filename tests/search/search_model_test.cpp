#include "search/search_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pricedb/formats.h"
#include "support/fixtures.h"

namespace lp {
namespace {

std::vector<StockEntry> entries_of(const std::vector<std::pair<std::string, std::string>>& rows) {
  std::vector<StockEntry> out;
  for (const auto& [code, name] : rows) out.push_back(make_stock_entry(code, "東証1部", name));
  return out;
}

std::string codes(const std::vector<SearchHit>& hits) {
  std::string s;
  for (const auto& h : hits) s += h.code + " ";
  return s;
}

int score(std::string_view query, std::string_view name) {
  return match_score(normalise_for_search(query), normalise_for_search(name));
}

TEST(SearchScore, WidthsCaseAndKanaFormsMatchAndEachNameCharacterCountsOnce) {
  struct Case {
    std::string query, name;
    int score;
  };
  const Case cases[] = {
      {"サクラ", "ｻｸﾗ電機", 3}, {"さくら", "ｻｸﾗ電機", 3}, {"ガス", "ｶﾞｽ", 2},
      {"カス", "ｶﾞｽ", 1},  // ガ is not カ
      {"パン", "ﾊﾟﾝ", 2},       {"ヴィ", "ｳﾞｨ", 2},       {"ガ", "ｶ゛", 1},
      {"でんき", "ﾃﾞﾝｷ", 3},    {"abc", "ＡＢＣ", 3},     {"A B", "ａ　ｂ", 3},
      {"（株）", "(株)", 3},    {"ア゜", "ｱﾟ", 2},  // a mark that cannot combine stays
      {"ササ", "サクラ", 1},                        // a doubled query letter needs two in the name
      {"ササ", "ササキ", 2},    {"ラクサ", "サクラ", 3},  {"", "サクラ", 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(score(c.query, c.name), c.score) << c.query << " in " << c.name;
}

TEST(SearchRank, ScoreThenLengthDistanceThenFileOrder) {
  const auto entries = entries_of({
      {"1001", "アイウエオカ"},  // score 2, distance 4
      {"1002", "カキク"},        // score 0: never shown
      {"1003", "アイウ"},        // score 2, distance 1
      {"1004", "アエ"},          // score 1, distance 0
      {"1005", "イア"},          // score 2, distance 0
      {"1006", "ウイア"},        // score 2, distance 1, after 1003 in the file
      {"1007", "  ｱｲ  "},        // score 2, distance 0 (trimmed), after 1005
  });
  const auto hits = rank_stocks(entries, "あい");
  EXPECT_EQ(codes(hits), "1005 1007 1003 1006 1001 1004 ");
  EXPECT_EQ(hits.front().score, 2);
  EXPECT_EQ(hits.back().score, 1);
  EXPECT_TRUE(rank_stocks(entries, "   ").empty());
}

TEST(SearchRank, AtMostOneHundredAndNoneOfLowerScore) {
  std::vector<std::pair<std::string, std::string>> rows = {{"1000", "ア"}};  // score 1, first
  for (int i = 0; i < 150; ++i) rows.push_back({std::to_string(2000 + i), "アイ"});
  const auto hits = rank_stocks(entries_of(rows), "アイ");
  ASSERT_EQ(hits.size(), 100u);
  EXPECT_EQ(hits.front().code, "2000");
  EXPECT_EQ(hits.back().code, "2099");
}

TEST(SearchChartName, CompanyMarkerAndFiveCharacters) {
  const std::pair<std::string, std::string> cases[] = {
      {"(株)ABC", "ABC"},   {"サクラ精密工業(株)", "サクラ精密"},
      {"  ﾀﾞｲﾜ  ", "ﾀﾞｲﾜ"}, {"　(株)ABC", "ABC"},
      {"(株)", ""},         {"(株)トヨタ自動車販売", "トヨタ自動"},
  };
  for (const auto& [name, shown] : cases) EXPECT_EQ(chart_name(name), shown) << name;
}

class StockSearchTest : public ::testing::Test {
 protected:
  // A trading day: the reference code's series file makes it the latest, and its day file
  // lists `lines` (code,market,name,...).
  void add_day(int year, const std::string& date, const std::string& lines, int count) {
    test::write_series_file(folders_.db_folder, year, "1001", "基準", {{date, 1, 1, 1, 1, 1}});
    test::write_cp932(day_file_path(folders_.db_folder, date),
                      date + "," + std::to_string(count) + ",0,0,0,0,0,0\r\n" + lines);
  }
  StockSearch::Status search(std::string_view query) {
    return search_.search(folders_, "20240110", query, hits_);
  }
  test::TempDir dir_;
  void SetUp() override {
    folders_.db_folder = dir_.str() + "/db/";
    folders_.reference_code = "1001";
  }
  AppFolders folders_;
  StockSearch search_;
  std::vector<SearchHit> hits_;
};

TEST_F(StockSearchTest, ReadsTheLatestDayOnceDropsDuplicatesAndReadsAgainWhenReopened) {
  add_day(2024, "20240105",
          "1301,東証1部,ｻｸﾗ電機,1,1,1,1,1\r\n1302,東証1部,サクラ精密工業(株),1,1,1,1,1\r\n"
          "1301,東証2部,ｻｸﾗ重複,1,1,1,1,1\r\n",
          3);
  ASSERT_EQ(search("さくら"), StockSearch::Status::ok);
  EXPECT_EQ(codes(hits_), "1301 1302 ");  // the second 1301 is dropped
  EXPECT_EQ(hits_[0].name, "ｻｸﾗ電機");

  // A newer day arrives: the open window keeps searching the table it read.
  add_day(2024, "20240109", "1401,東証1部,ｻｸﾗ新規,1,1,1,1,1\r\n", 1);
  ASSERT_EQ(search("サクラ"), StockSearch::Status::ok);
  EXPECT_EQ(codes(hits_), "1301 1302 ");
  search_.reopen();
  ASSERT_EQ(search("サクラ"), StockSearch::Status::ok);
  EXPECT_EQ(codes(hits_), "1401 ");
}

TEST_F(StockSearchTest, TellsWhetherTheHundredShownHitsWereCut) {
  // 101 matching names and one that does not match.
  std::string lines = "9999,東証1部,極洋,1,1,1,1,1\r\n";
  for (int k = 0; k < 101; ++k) {
    lines += std::to_string(2000 + k) + ",東証1部,ｻｸﾗ" + std::to_string(k) + ",1,1,1,1,1\r\n";
  }
  add_day(2024, "20240105", lines, 102);
  struct Case {
    std::string query;
    std::size_t shown;
    bool cut;
  } cases[] = {
      {"サクラ", 100, true},   // 101 found
      {"サクラ1", 100, true},  // the names with a 1 rank first, yet all 101 match
      {"極洋", 1, false},
      {"ｻｸﾗ99", 100, true},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(search(c.query), StockSearch::Status::ok) << c.query;
    EXPECT_EQ(hits_.size(), c.shown) << c.query;
    EXPECT_EQ(search_.last_cut(), c.cut) << c.query;
  }
}

TEST_F(StockSearchTest, LatestDayFromTheLastThreeYearsOnly) {
  const std::string line = "1301,東証1部,極洋,1,1,1,1,1\r\n";
  add_day(2021, "20211230", line, 1);  // too old
  EXPECT_EQ(search("極洋"), StockSearch::Status::no_day_file);
  test::write_series_file(folders_.db_folder, 2024, "1001", "基準", {{"20240105", 1, 1, 1, 1, 1}});
  EXPECT_EQ(search("極洋"), StockSearch::Status::no_day_file);  // a date without its day file
  add_day(2022, "20221230", line, 1);                           // two years back
  std::filesystem::remove_all(year_folder(folders_.db_folder, 2024));
  ASSERT_EQ(search("極洋"), StockSearch::Status::ok);
  EXPECT_EQ(codes(hits_), "1301 ");
}

}  // namespace
}  // namespace lp
