#include "search/search_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/encoding.h"
#include "pricedb/formats.h"
#include "support/fixtures.h"

namespace lp {
namespace {

std::vector<StockEntry> entries_of(const std::vector<std::pair<std::string, std::string>>& rows) {
  std::vector<StockEntry> out;
  for (const auto& [code, name] : rows) {
    out.push_back(make_stock_entry(code, "東証1部", name));
  }
  return out;
}

std::string codes(const std::vector<SearchHit>& hits) {
  std::string s;
  for (const auto& h : hits) s += h.code + " ";
  return s;
}

TEST(SearchNormalise, WidthsCaseAndKanaFormsCompareEqual) {
  struct Case {
    std::string a, b;
  };
  const Case equal[] = {
      {"ｻｸﾗ", "サクラ"},  {"さくら", "サクラ"}, {"ｶﾞｽ", "ガス"},   {"がす", "ガス"},
      {"ﾊﾟﾝ", "パン"},    {"ﾎﾞｰﾙ", "ボール"},   {"ｳﾞｨ", "ヴィ"},   {"ｯｬｮ", "ッャョ"},
      {"abc", "ＡＢＣ"},  {"Abc", "ａｂｃ"},    {"A B", "Ａ　Ｂ"}, {"123", "１２３"},
      {"ﾃﾞﾝｷ", "でんき"}, {"(株)", "（株）"},   {"ｶ゛", "ガ"},     {"電機", "電機"},
  };
  for (const Case& c : equal) {
    EXPECT_EQ(normalise_for_search(std::string_view(c.a)),
              normalise_for_search(std::string_view(c.b)))
        << c.a << " vs " << c.b;
  }
  // A mark that cannot combine stays a character of its own.
  EXPECT_EQ(to_utf8(normalise_for_search(std::string_view("ｱﾞﾟ"))), "ア゛゜");
  EXPECT_EQ(to_utf8(normalise_for_search(std::string_view("ﾊﾟ"))), "パ");
  EXPECT_EQ(to_utf8(normalise_for_search(std::string_view("ｻｸﾗ電機"))), "サクラ電機");
}

TEST(SearchScore, EachNameCharacterCountsOnce) {
  struct Case {
    std::string query, name;
    int score;
  };
  const Case cases[] = {
      {"サクラ", "ｻｸﾗ電機", 3}, {"さくら", "ｻｸﾗ電機", 3},
      {"ササ", "サクラ", 1},  // a doubled query letter needs two in the name
      {"ササ", "ササキ", 2},    {"サ", "ササキ", 1},
      {"ガス", "ｶﾞｽ", 2},       {"カス", "ｶﾞｽ", 1},  // ガ is not カ
      {"ラクサ", "サクラ", 3},                       // order does not matter
      {"", "サクラ", 0},        {"トヨタ", "", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(match_score(normalise_for_search(std::string_view(c.query)),
                          normalise_for_search(std::string_view(c.name))),
              c.score)
        << c.query << " in " << c.name;
  }
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
  ASSERT_EQ(hits.size(), 6u);
  EXPECT_EQ(hits[0].score, 2);
  EXPECT_EQ(hits[0].name, "イア");
  EXPECT_EQ(hits.back().score, 1);
  EXPECT_TRUE(rank_stocks(entries, "").empty());
  EXPECT_TRUE(rank_stocks(entries, "   ").empty());
  EXPECT_TRUE(rank_stocks(entries, "ン").empty());
}

TEST(SearchRank, AtMostOneHundredAndNoneOfLowerScore) {
  std::vector<std::pair<std::string, std::string>> rows;
  rows.push_back({"1000", "ア"});  // score 1, first in the file
  for (int i = 0; i < 150; ++i) rows.push_back({std::to_string(2000 + i), "アイ"});
  const auto hits = rank_stocks(entries_of(rows), "アイ");
  ASSERT_EQ(hits.size(), 100u);
  for (std::size_t k = 0; k < hits.size(); ++k) {
    EXPECT_EQ(hits[k].score, 2);
    EXPECT_EQ(hits[k].code, std::to_string(2000 + k));
  }
}

TEST(SearchChartName, CompanyMarkerAndFiveCharacters) {
  struct Case {
    std::string name, shown;
  };
  const Case cases[] = {
      {"(株)ABC", "ABC"},   {"サクラ精密工業(株)", "サクラ精密"},
      {"  ﾀﾞｲﾜ  ", "ﾀﾞｲﾜ"}, {"極洋", "極洋"},
      {"(株)", ""},         {"(株)トヨタ自動車販売", "トヨタ自動"},
      {"ABCDEFG", "ABCDE"},
  };
  for (const Case& c : cases) EXPECT_EQ(chart_name(c.name), c.shown) << c.name;
}

class StockSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folders_.db_folder = dir_.str() + "/db/";
    folders_.reference_code = "1001";
  }
  // A trading day: the reference code's series file says it is the latest, and its day file
  // lists `lines` (code,market,name triples).
  void add_day(int year, const std::string& date, const std::string& lines, int count) {
    test::write_series_file(folders_.db_folder, year, "1001", "基準",
                            {{date, 100, 100, 100, 100, 10}});
    test::write_cp932(day_file_path(folders_.db_folder, date),
                      date + "," + std::to_string(count) + ",0,0,0,0,0,0\r\n" + lines);
  }
  test::TempDir dir_;
  AppFolders folders_;
};

TEST_F(StockSearchTest, ReadsTheLatestDayOnceDropsDuplicatesAndReadsAgainWhenReopened) {
  add_day(2024, "20240105",
          "1301,東証1部,ｻｸﾗ電機,1,1,1,1,1\r\n"
          "1302,東証1部,サクラ精密工業(株),1,1,1,1,1\r\n"
          "1301,東証2部,ｻｸﾗ重複,1,1,1,1,1\r\n"
          "1303,JASDAQ,極洋,1,1,1,1,1\r\n",
          4);
  StockSearch search;
  std::vector<SearchHit> hits;
  ASSERT_EQ(search.search(folders_, "20240110", "さくら", hits), StockSearch::Status::ok);
  EXPECT_EQ(search.table().size(), 3u);  // the second 1301 is dropped
  EXPECT_EQ(codes(hits), "1301 1302 ");
  EXPECT_EQ(hits[0].score, 3);
  EXPECT_EQ(hits[0].name, "ｻｸﾗ電機");

  // A newer day arrives: the open window keeps searching the table it read.
  add_day(2024, "20240109", "1401,東証1部,ｻｸﾗ新規,1,1,1,1,1\r\n", 1);
  ASSERT_EQ(search.search(folders_, "20240110", "サクラ", hits), StockSearch::Status::ok);
  EXPECT_EQ(codes(hits), "1301 1302 ");

  search.reopen();
  ASSERT_EQ(search.search(folders_, "20240110", "サクラ", hits), StockSearch::Status::ok);
  EXPECT_EQ(codes(hits), "1401 ");
}

TEST_F(StockSearchTest, LatestDayFromTheLastThreeYearsOnly) {
  struct Case {
    int year;
    std::string date;
    bool write_day_file;
    StockSearch::Status status;
  };
  const Case cases[] = {
      {2022, "20221230", true, StockSearch::Status::ok},            // two years back
      {2021, "20211230", true, StockSearch::Status::no_day_file},   // too old
      {2024, "20240105", false, StockSearch::Status::no_day_file},  // date but no day file
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.date);
    test::TempDir dir;
    folders_.db_folder = dir.str() + "/db/";
    test::write_series_file(folders_.db_folder, c.year, "1001", "基準", {{c.date, 1, 1, 1, 1, 1}});
    if (c.write_day_file) {
      test::write_cp932(day_file_path(folders_.db_folder, c.date),
                        c.date + ",1,0,0,0,0,0,0\r\n1301,東証1部,極洋,1,1,1,1,1\r\n");
    }
    StockSearch search;
    std::vector<SearchHit> hits;
    EXPECT_EQ(search.search(folders_, "20240110", "極洋", hits), c.status);
    EXPECT_EQ(search.table_loaded(), c.status == StockSearch::Status::ok);
    EXPECT_EQ(hits.size(), c.status == StockSearch::Status::ok ? 1u : 0u);
  }
}

TEST_F(StockSearchTest, DayFileShorterThanItsHeaderGivesWhatItHolds) {
  add_day(2024, "20240105", "1301,東証1部,ｱｲｳ,1,1,1,1,1\r\n1302,東証1部,ｱｲ", 5000);
  StockSearch search;
  std::vector<SearchHit> hits;
  ASSERT_EQ(search.search(folders_, "20240105", "アイ", hits), StockSearch::Status::ok);
  EXPECT_EQ(codes(hits), "1301 ");  // the cut-off last line is no stock
}

}  // namespace
}  // namespace lp
