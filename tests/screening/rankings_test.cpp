#include "screening/rankings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/numbers.h"
#include "screening/criteria_run_fixture.h"
#include "support/fixtures.h"

namespace lp::screening {
namespace {

constexpr const char* kLatest = "20241227";

// A summary record: fields 1-10 and field 33, the rest zero.
struct Rec {
  std::string code;
  double open, high, low, close, volume, prev_close, prev_volume, ma25;
};

// A database folder whose newest daily file is kLatest (and `db` may be pointed elsewhere).
struct RankingFolder {
  RankingFolder() {
    test::write_cp932(db + "2024/data_d/20241226.csv", "20241226,0,a,b,c,d,e,f\r\n");
    test::write_cp932(db + "2024/data_d/" + kLatest + ".csv",
                      std::string(kLatest) + ",0,a,b,c,d,e,f\r\n");
  }

  void write_summary(const std::vector<Rec>& recs, const std::string& date = kLatest) {
    CsvWriter w;
    w.field(date).field(static_cast<long long>(recs.size()));
    for (int i = 3; i <= 35; ++i) w.field("t");
    w.end_line();
    for (const Rec& r : recs) {
      w.field(r.code).field("東証1部").field("銘柄" + r.code);
      for (double v : {r.open, r.high, r.low, r.close, r.volume, r.prev_close, r.prev_volume}) {
        w.field(format_decimal(v));
      }
      for (int f = 11; f <= 35; ++f) w.field(f == 33 ? format_decimal(r.ma25) : "0");
      w.end_line();
    }
    w.commit(db + "initdata1.csv");
  }

  RankingSource source() {
    RankingSource src;
    src.source = SeriesSource(db, "1001");
    src.latest_year = 2024;
    src.events.message = [this](const std::string& t) { messages.push_back(t); };
    return src;
  }
  Top25 rank(const std::string& name) { return rank_top25(source(), name); }

  test::TempDir dir;
  std::string db = dir.str() + "/db/";
  std::string user = dir.str() + "/user/";
  std::vector<std::string> messages;
};

std::vector<std::string> codes_of(const Top25& t) {
  std::vector<std::string> out;
  for (const RankEntry& e : t.entries) {
    if (e.filled()) out.push_back(e.code());
  }
  return out;
}

TEST(LatestDailyDate, OnlyDayFileNamesCount) {
  // Leftovers of interrupted writes, old and new style, and foreign files sort after the
  // newest real day file; none of them is a day.
  test::TempDir dir;
  const std::string db = dir.str() + "/";
  for (const char* name : {"20241226.csv", "20241227.csv", "20241230.csv.tmp4242_1",
                           ".20241231.csv.4242_2.lptmp", "2024123.csv", "20241231x.csv",
                           "99999999.txt"}) {
    test::write_bytes(db + "2024/data_d/" + name, "");
  }
  EXPECT_EQ(latest_daily_date(db, 2024), "20241227");
}

TEST(RankTop25, EveryRankingMeasuresOrdersAndFormats) {
  RankingFolder f;
  f.write_summary({
      {"1301", 100, 110, 90, 105, 1000, 100, 500, 100},
      {"1302", 200, 220, 190, 196, 3000, 200, 1000, 210},
      {"1001", 50, 55, 45, 50, 99999, 50, 100, 50},    // an index: never in the volume ranking
      {"1303", 100, 100, 100, 100, 0, 100, 100, 100},  // did not trade today
      {"1304", 300, 330, 270, 300, 2000, 0, 0, 290},   // listed today: no previous day
  });
  struct Case {
    const char* name;
    std::vector<std::string> codes;
    std::vector<std::string> values;  // of the filled entries
    const char* sentinel;
  };
  const char* down = "-100000000";
  const char* up = "100000000";
  const Case cases[] = {
      {"前日比上率ﾄｯﾌﾟ25", {"1301", "1001", "1302"}, {"4.76", ".00", "-2.04"}, down},
      {"前日比下率ﾄｯﾌﾟ25", {"1302", "1001", "1301"}, {"-2.00", ".00", "5.00"}, up},
      {"同日比上率ﾄｯﾌﾟ25", {"1301", "1001", "1304", "1302"}, {"5.00", ".00", ".00", "-2.00"}, down},
      {"同日比下率ﾄｯﾌﾟ25", {"1302", "1001", "1304", "1301"}, {"-2", "0", "0", "5"}, up},
      {"陽線値幅率ﾄｯﾌﾟ25", {"1301"}, {"19.05"}, down},
      {"陰線値幅率ﾄｯﾌﾟ25", {"1302"}, {"-15.31"}, up},
      {"出来高ﾄｯﾌﾟ25", {"1302", "1304", "1301"}, {"3000", "2000", "1000"}, down},
      {"出来高増大率ﾄｯﾌﾟ25", {"1001", "1302", "1301"}, {"99899", "200", "100"}, down},
      {"上方乖離率ﾄｯﾌﾟ25",
       {"1301", "1304", "1001", "1302"},
       {"4.76190476190476", "3.33333333333333", "0", "-7.14285714285714"},
       down},
      {"下方乖離率ﾄｯﾌﾟ25",
       {"1302", "1001", "1304", "1301"},
       {"-7.14285714285714", "0", "3.33333333333333", "4.76190476190476"},
       up},
      {"上髭率ﾄｯﾌﾟ25",
       {"1302", "1001", "1304", "1301"},
       {"12.2448979591837", "10", "10", "4.76190476190476"},
       down},
      // The lower shadow, min(open, close) - low, largest first.
      {"下髭率ﾄｯﾌﾟ25",
       {"1001", "1304", "1301", "1302"},
       {"10", "10", "9.52380952380952", "3.06122448979592"},
       down},
  };
  for (const Case& c : cases) {
    const Top25 top = f.rank(c.name);
    EXPECT_EQ(codes_of(top), c.codes) << c.name;
    ASSERT_EQ(top.filled, static_cast<int>(c.codes.size())) << c.name;
    for (std::size_t i = 0; i < c.values.size(); ++i) {
      EXPECT_EQ(top.entries[i].value, c.values[i]) << c.name << " #" << i + 1;
    }
    // The entries nobody reached keep the sentinel and nothing else.
    const RankEntry& rest = top.entries[c.codes.size()];
    EXPECT_EQ(rest.value, c.sentinel) << c.name;
    EXPECT_TRUE(rest.code().empty() && rest.name().empty() && rest.close().empty());
    EXPECT_EQ(top.entries.back().value, c.sentinel) << c.name;
  }
  EXPECT_TRUE(f.messages.empty());  // a current summary is not rebuilt
  EXPECT_EQ(f.rank("存在しないﾄｯﾌﾟ25").filled, 0);

  // A stock imported without volumes traded, but has no volume to rank.
  f.write_summary({{"1305", 100, 110, 90, 105, 0.1, 100, 0.1, 100},
                   {"1306", 100, 110, 90, 105, 500, 100, 0.1, 100}});
  EXPECT_EQ(codes_of(f.rank("同日比上率ﾄｯﾌﾟ25")), (std::vector<std::string>{"1305", "1306"}));
  EXPECT_EQ(codes_of(f.rank("出来高ﾄｯﾌﾟ25")), std::vector<std::string>{"1306"});
  EXPECT_TRUE(codes_of(f.rank("出来高増大率ﾄｯﾌﾟ25")).empty());
}

TEST(RankTop25, TiesKeepFileOrderAtTheShownPrecision) {
  RankingFolder f;
  std::vector<Rec> recs;
  // Thirty stocks worth .10, .35, ... 7.35: with the three below, only the best 25 stay.
  for (int i = 0; i < 30; ++i) {
    recs.push_back(
        {std::to_string(2000 + i), 1000, 1000, 1000, 1000, 1000, 999 - i * 2.5, 1000, 0});
  }
  recs.push_back({"1401", 200, 200, 200, 200, 1000, 193, 1000, 0});         // 3.50
  recs.push_back({"1402", 200, 200, 200, 200, 1000, 193, 1000, 0});         // 3.50
  recs.push_back({"1403", 1000, 1000, 1000, 1000, 1000, 964.96, 1000, 0});  // 3.504 shows 3.50
  f.write_summary(recs);
  const Top25 top = f.rank("前日比上率ﾄｯﾌﾟ25");
  ASSERT_EQ(top.filled, 25);
  EXPECT_EQ(top.entries[0].code(), "2029");
  std::vector<std::string> around;
  for (const RankEntry& e : top.entries) {
    if (e.value == "3.50") around.push_back(e.code());
  }
  EXPECT_EQ(around, (std::vector<std::string>{"1401", "1402", "1403"}));
  EXPECT_EQ(top.entries[24].code(), "2008");  // 2.10; 2000..2007 dropped
  EXPECT_EQ(top.entries[24].value, "2.10");
}

// The summary built from a database: the criteria fixture's series plus daily files.
TEST(CreateInitdata, MissingOrStaleSummaryIsBuiltBeforeThePass) {
  test::CriteriaRun run(80);
  std::vector<double> rising;
  for (int i = 0; i < 80; ++i) rising.push_back(200 - i);  // newest 200, one yen a day
  run.add_closes("1301", rising);
  run.add_closes("1302", std::vector<double>(80, 500));
  auto write_day = [&](int day, const std::vector<std::pair<std::string, std::string>>& rows) {
    const std::string date = run.date(day);
    std::string text = date + "," + std::to_string(rows.size()) + ",a,b,c,d,e,f\r\n";
    for (const auto& [code, c] : rows) {
      text +=
          code + ",東証1部,(株)銘柄" + code + "," + c + "," + c + "," + c + "," + c + ",1000\r\n";
    }
    test::write_cp932(run.db + "2024/data_d/" + date + ".csv", text);
  };
  write_day(2, {{"1301", "199"}, {"1302", "500"}});
  write_day(1, {{"1301", "200"}, {"1302", "500"}, {"0998", "10"}});
  auto summary = [&] {
    CsvFile file;
    file.open(run.db + "initdata1.csv");
    std::vector<std::vector<std::string>> out;
    while (!file.at_end()) {
      out.emplace_back();
      for (int i = 0; i < 35; ++i) out.back().push_back(cp932_to_utf8(file.next_or_empty()));
    }
    return out;
  };

  RankingFolder f;
  f.db = run.db;
  // First missing, then dated the day before: rebuilt each time ("初期データ作成中"), then
  // current and reused.
  for (const auto& [stale, rebuilt] : {std::pair{false, true}, {true, true}, {false, false}}) {
    if (stale) f.write_summary({{"1301", 100, 110, 90, 105, 1000, 100, 500, 100}}, run.date(2));
    f.messages.clear();
    const Top25 top = f.rank("上方乖離率ﾄｯﾌﾟ25");
    // 1301 stands (200 - 188) / 200 = 6 % above its 25-day average, 1302 on it.
    EXPECT_EQ(codes_of(top), (std::vector<std::string>{"1301", "1302"}));
    EXPECT_EQ(top.entries[0].value, "6");
    EXPECT_EQ(top.date, run.date(1));
    EXPECT_EQ(f.messages,
              rebuilt ? std::vector<std::string>{"初期データ作成中"} : std::vector<std::string>{});
  }
  // A day file written ahead of the reference's newest day (a commit cut short) is not the
  // ranking's day: the summary stays that of the reference's day.
  test::write_cp932(run.db + "2024/data_d/20241230.csv",
                    "20241230,1,a,b,c,d,e,f\r\n1302,東証1部,(株)銘柄1302,900,900,900,900,1000\r\n");
  const Top25 ahead = f.rank("上方乖離率ﾄｯﾌﾟ25");
  EXPECT_EQ(ahead.date, run.date(1));
  EXPECT_EQ(codes_of(ahead), (std::vector<std::string>{"1301", "1302"}));
  const auto recs = summary();
  ASSERT_EQ(recs.size(), 3u);  // header and the two four-digit codes
  EXPECT_EQ(std::vector<std::string>(recs[0].begin(), recs[0].begin() + 2),
            (std::vector<std::string>{run.date(1), "2"}));
  EXPECT_EQ(std::vector<std::string>(recs[1].begin(), recs[1].begin() + 10),
            (std::vector<std::string>{"1301", "東証1部", "銘柄1301", "200", "200", "200", "200",
                                      "1000", "199", "1000"}));
  EXPECT_EQ(recs[1][32], "188");  // field 33: 25-day average of 200..176
}

TEST(RankingToResultFiles, RankingBecomesTheResultListUnlessNothingTraded) {
  RankingFolder f;
  f.write_summary({
      {"1301", 100, 110, 90, 105, 1000, 100, 500, 100},
      {"1302", 196, 220, 190, 196, 3000, 200, 1000, 210},  // unchanged
  });
  ASSERT_TRUE(ranking_to_result_files(f.source(), "前日比上率ﾄｯﾌﾟ25", f.user));
  EXPECT_EQ(test::read_cp932(f.user + "sel0.csv"),
            "2,20241227,前日比率\r\n1301,1,4.76\r\n1302,2,-2.04\r\n");
  EXPECT_EQ(test::read_cp932(f.user + "sel0_out.csv"),
            "2,20241227,銘柄,前日比率,始値,高値,安値,終値,出来高,前日引値,前日出来高,ポインタ\r\n"
            "1301,東証1部,銘柄1301,4.76,100,110,90,105,1000,100,500,1\r\n"
            "1302,東証1部,銘柄1302,-2.04,196,220,190,196,3000,200,1000,2\r\n");
  // A summary in which nothing traded is no ranking at all: the last list stays.
  f.write_summary({{"1301", 100, 110, 90, 105, 0, 100, 500, 100}});
  EXPECT_FALSE(ranking_to_result_files(f.source(), "出来高ﾄｯﾌﾟ25", f.user));
  EXPECT_EQ(test::read_cp932(f.user + "sel0.csv"),
            "2,20241227,前日比率\r\n1301,1,4.76\r\n1302,2,-2.04\r\n");
}

}  // namespace
}  // namespace lp::screening

namespace lp::screening {
namespace {

TEST(FindRankingLoosely, NamesInAnyWidthAndNumbersInListOrder) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"前日比上率ﾄｯﾌﾟ25", "前日比上率ﾄｯﾌﾟ25"},
      {"前日比上率トップ25", "前日比上率ﾄｯﾌﾟ25"},
      {"前日比上率トップ２５", "前日比上率ﾄｯﾌﾟ25"},
      {"前日比下率とっぷ25", "前日比下率ﾄｯﾌﾟ25"},  // hiragana reads as katakana
      {"出来高トップ25", "出来高ﾄｯﾌﾟ25"},  // not 出来高増大率
      {"上髭率ﾄｯﾌﾟ２５", "上髭率ﾄｯﾌﾟ25"},
      {"1", "前日比上率ﾄｯﾌﾟ25"},
      {"7", "出来高ﾄｯﾌﾟ25"},
      {"12", "下髭率ﾄｯﾌﾟ25"},
      {"0", ""},
      {"13", ""},
      {"007", ""},
      {"-1", ""},
      {"", ""},
      {"前日比上率", ""},  // a prefix is not a name
      {"前日比上率ﾄｯﾌﾟ26", ""},
  };
  for (const auto& [text, want] : cases) {
    const RankingDef* def = find_ranking_loosely(text);
    EXPECT_EQ(def ? def->name : std::string(), want) << text;
  }
  // The numbers follow the list the CLI's `rankings` prints.
  for (std::size_t i = 0; i < ranking_defs().size(); ++i) {
    EXPECT_EQ(find_ranking_loosely(std::to_string(i + 1)), &ranking_defs()[i]);
  }
}

}  // namespace
}  // namespace lp::screening
