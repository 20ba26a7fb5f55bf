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

using test::CriteriaRun;

constexpr const char* kLatest = "20241227";

// A summary record: fields 1-10 and field 33, the rest zero.
struct Rec {
  std::string code;
  double open, high, low, close, volume, prev_close, prev_volume, ma25;
};

class RankingFolder {
 public:
  RankingFolder() {
    db = dir.str() + "/db/";
    // The newest daily file says which day the summary must be for.
    test::write_cp932(db + "2024/data_d/20241226.csv", "20241226,0,a,b,c,d,e,f\r\n");
    test::write_cp932(db + std::string("2024/data_d/") + kLatest + ".csv",
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

  Top25 rank(const std::string& name) {
    RankingSource src;
    src.source.db_folder = db;
    src.source.reference_code = "1001";
    src.latest_year = 2024;
    src.events.message = [this](const std::string& t) { messages.push_back(t); };
    return rank_top25(src, name);
  }

  test::TempDir dir;
  std::string db;
  std::vector<std::string> messages;
};

std::vector<std::string> codes_of(const Top25& t) {
  std::vector<std::string> out;
  for (const RankEntry& e : t.entries) {
    if (e.filled()) out.push_back(e.code());
  }
  return out;
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
  const Case cases[] = {
      {"前日比上率ﾄｯﾌﾟ25", {"1301", "1001", "1302"}, {"4.76", ".00", "-2.04"}, "-100000000"},
      {"前日比下率ﾄｯﾌﾟ25", {"1302", "1001", "1301"}, {"-2.00", ".00", "5.00"}, "100000000"},
      {"同日比上率ﾄｯﾌﾟ25",
       {"1301", "1001", "1304", "1302"},
       {"5.00", ".00", ".00", "-2.00"},
       "-100000000"},
      {"同日比下率ﾄｯﾌﾟ25", {"1302", "1001", "1304", "1301"}, {"-2", "0", "0", "5"}, "100000000"},
      {"陽線値幅率ﾄｯﾌﾟ25", {"1301"}, {"19.05"}, "-100000000"},
      {"陰線値幅率ﾄｯﾌﾟ25", {"1302"}, {"-15.31"}, "100000000"},
      {"出来高ﾄｯﾌﾟ25", {"1302", "1304", "1301"}, {"3000", "2000", "1000"}, "-100000000"},
      {"出来高増大率ﾄｯﾌﾟ25", {"1001", "1302", "1301"}, {"99899", "200", "100"}, "-100000000"},
      {"上方乖離率ﾄｯﾌﾟ25",
       {"1301", "1304", "1001", "1302"},
       {"4.76190476190476", "3.33333333333333", "0", "-7.14285714285714"},
       "-100000000"},
      {"下方乖離率ﾄｯﾌﾟ25",
       {"1302", "1001", "1304", "1301"},
       {"-7.14285714285714", "0", "3.33333333333333", "4.76190476190476"},
       "100000000"},
      {"上髭率ﾄｯﾌﾟ25",
       {"1302", "1001", "1304", "1301"},
       {"12.2448979591837", "10", "10", "4.76190476190476"},
       "-100000000"},
      {"下髭率ﾄｯﾌﾟ25",
       {"1001", "1304", "1301", "1302"},
       {"10", "10", "9.52380952380952", "3.06122448979592"},
       "-100000000"},
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
  EXPECT_EQ(f.rank("前日比上率ﾄｯﾌﾟ25").entries[0].name(), "銘柄1301");
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
  for (std::size_t j = 1; j < top.entries.size(); ++j) {
    EXPECT_GE(parse_number(top.entries[j - 1].value), parse_number(top.entries[j].value));
  }
  EXPECT_EQ(top.entries[24].code(), "2008");  // 2.10; 2000..2007 dropped
  EXPECT_EQ(top.entries[24].value, "2.10");
}

TEST(RankTop25, UnknownNameAndCutRecordGiveNoFalseEntries) {
  RankingFolder f;
  f.write_summary({{"1301", 100, 110, 90, 105, 1000, 100, 500, 100}});
  EXPECT_EQ(f.rank("存在しないﾄｯﾌﾟ25").filled, 0);
  // A header announcing more records than the file holds ranks each stock once.
  std::string bytes;
  read_file_bytes(f.db + "initdata1.csv", bytes);
  bytes.replace(bytes.find(",1,"), 3, ",3,");
  test::write_bytes(f.db + "initdata1.csv", bytes);
  EXPECT_EQ(codes_of(f.rank("前日比上率ﾄｯﾌﾟ25")), std::vector<std::string>{"1301"});
}

// A database where the summary can be built: the fixture's series plus daily files.
struct BuiltMarket {
  BuiltMarket() : run(80) {
    std::vector<double> rising;
    for (int i = 0; i < 80; ++i) rising.push_back(200 - i);  // newest 200, one yen a day
    run.add_closes("1301", rising);
    run.add_closes("1302", std::vector<double>(80, 500));
    write_day(run.date(2), {{"1301", "199"}, {"1302", "500"}});
    write_day(run.date(1), {{"1301", "200"}, {"1302", "500"}, {"0998", "10"}});
  }
  void write_day(const std::string& date,
                 const std::vector<std::pair<std::string, std::string>>& closes) {
    std::string text = date + "," + std::to_string(closes.size()) + ",a,b,c,d,e,f\r\n";
    for (const auto& [code, close] : closes) {
      text += code + ",東証1部,(株)銘柄" + code + "," + close + "," + close + "," + close + "," +
              close + ",1000\r\n";
    }
    test::write_cp932(run.db + date.substr(0, 4) + "/data_d/" + date + ".csv", text);
  }
  Top25 rank(const std::string& name, std::vector<std::string>* messages = nullptr) {
    RankingSource src;
    src.source = run.ctx.source;
    src.latest_year = 2024;
    src.events.message = [messages](const std::string& t) {
      if (messages) messages->push_back(t);
    };
    return rank_top25(src, name);
  }
  std::vector<std::vector<std::string>> summary_records() {
    CsvFile f;
    f.open(run.db + "initdata1.csv");
    std::vector<std::vector<std::string>> out;
    while (!f.at_end()) {
      std::vector<std::string> rec;
      for (int i = 0; i < 35; ++i) rec.push_back(cp932_to_utf8(f.next_or_empty()));
      out.push_back(rec);
    }
    return out;
  }
  CriteriaRun run;
};

TEST(CreateInitdata, MissingSummaryIsBuiltBeforeThePass) {
  BuiltMarket m;
  std::vector<std::string> messages;
  const Top25 top = m.rank("上方乖離率ﾄｯﾌﾟ25", &messages);
  EXPECT_EQ(messages, std::vector<std::string>{"初期データ作成中"});
  const auto recs = m.summary_records();
  ASSERT_EQ(recs.size(), 3u);  // header and the two four-digit codes
  EXPECT_EQ(recs[0][0], m.run.date(1));
  EXPECT_EQ(recs[0][1], "2");
  const std::vector<std::string> first(recs[1].begin(), recs[1].begin() + 10);
  EXPECT_EQ(first, (std::vector<std::string>{"1301", "東証1部", "銘柄1301", "200", "200", "200",
                                             "200", "1000", "199", "1000"}));
  EXPECT_EQ(recs[1][32], "188");  // 25-day average of 200..176
  EXPECT_EQ(recs[1][28], "198");  // 5-day average
  EXPECT_EQ(recs[1][34], "100");  // RSI of a steady rise
  EXPECT_EQ(recs[1][10], "196");  // 5-day window opens at day 5's open
  EXPECT_EQ(recs[1][24], "126");  // 75-day low
  EXPECT_EQ(recs[1][27], "75");   // traded days of the 75-day window
  // 1301 stands (200 - 188) / 200 = 6 % above its average, 1302 on it.
  EXPECT_EQ(codes_of(top), (std::vector<std::string>{"1301", "1302"}));
  EXPECT_EQ(top.entries[0].value, "6");
  EXPECT_EQ(top.date, m.run.date(1));
}

TEST(CreateInitdata, StaleSummaryIsRebuilt) {
  BuiltMarket m;
  RankingFolder stale_writer;  // writes a summary dated the day before into m's folder
  stale_writer.db = m.run.db;
  stale_writer.write_summary({{"1301", 100, 110, 90, 105, 1000, 100, 500, 100}}, m.run.date(2));
  std::vector<std::string> messages;
  const Top25 top = m.rank("出来高ﾄｯﾌﾟ25", &messages);
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_EQ(m.summary_records()[0][0], m.run.date(1));
  EXPECT_EQ(codes_of(top), (std::vector<std::string>{"1301", "1302"}));
  // Now current: the next pass reads it as it is.
  messages.clear();
  m.rank("出来高ﾄｯﾌﾟ25", &messages);
  EXPECT_TRUE(messages.empty());
}

TEST(RankingToResultFiles, NothingWrittenWithoutADailyFile) {
  test::TempDir dir;
  RankingSource src;
  src.source.db_folder = dir.str() + "/db/";
  src.source.reference_code = "1001";
  src.latest_year = 2024;
  const std::string user = dir.str() + "/user/";
  EXPECT_FALSE(ranking_to_result_files(src, "前日比上率ﾄｯﾌﾟ25", user));
  EXPECT_FALSE(std::filesystem::exists(user + "sel0_out.csv"));
  // "open" on a missing summary creates the database folder and nothing else.
  EXPECT_TRUE(std::filesystem::is_directory(src.source.db_folder));
  EXPECT_FALSE(std::filesystem::exists(src.source.db_folder + "initdata1.csv"));
}

TEST(WriteRankingResults, RankedStocksBecomeTheResultList) {
  RankingFolder f;
  f.write_summary({
      {"1301", 100, 110, 90, 105, 1000, 100, 500, 100},
      {"1302", 200, 220, 190, 196, 3000, 200, 1000, 210},
  });
  const Top25 top = f.rank("前日比上率ﾄｯﾌﾟ25");
  const std::string user = f.dir.str() + "/user/";
  ASSERT_TRUE(write_ranking_results(top, user));
  EXPECT_EQ(test::read_cp932(user + "sel0.csv"),
            "2,20241227,前日比率\r\n1301,1,4.76\r\n1302,2,-2.04\r\n");
  EXPECT_EQ(test::read_cp932(user + "sel0_out.csv"),
            "2,20241227,銘柄,前日比率,始値,高値,安値,終値,出来高,前日引値,前日出来高,ポインタ\r\n"
            "1301,東証1部,銘柄1301,4.76,100,110,90,105,1000,100,500,1\r\n"
            "1302,東証1部,銘柄1302,-2.04,200,220,190,196,3000,200,1000,2\r\n");
}

}  // namespace
}  // namespace lp::screening
