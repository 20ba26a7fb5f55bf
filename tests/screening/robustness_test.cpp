// Damaged preference, reference and day files fed to the screening: a damaged input changes
// only what it names and never empties the user's result files.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "pricedb/formats.h"
#include "screening/preferences.h"
#include "screening/rankings.h"
#include "screening/universe.h"
#include "support/fixtures.h"

namespace lp::screening {
namespace {

TEST(PreferencesRobustness, Utf8InitFileStillSetsTheJapaneseKeys) {
  test::TempDir dir;
  test::write_bytes(dir.path() / "init.txt",
                    "\xEF\xBB\xBF"
                    "sel_yasune1_kikan_cmb_初期値,75\r\nsel_kabukamin,120\r\nEOF\r\n");
  ControlSet controls = ControlSet::with_builtins();
  read_init_sel(controls, dir.file("init.txt"));
  EXPECT_EQ(controls.text("yasune1_kikan_cmb"), "75");
  EXPECT_EQ(controls.text("kabukamin"), "120");
}

TEST(TradingDaysRobustness, DamagedHeaderCountsNeitherOverflowNorSubtract) {
  struct Case {
    const char* name;
    std::vector<std::string> counts;  // header field 6 of the years 2022, 2023, 2024
    int want;
  };
  const std::vector<Case> cases = {
      {"10^9 in every year saturates", {"1000000000", "1000000000", "1000000000"}, INT_MAX},
      {"negative counts as none", {"-500", "246", "5"}, 251},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const std::string db = dir.str() + "/db/";
    for (int i = 0; i < 3; ++i) {
      test::write_bytes(series_file_path(db, 2022 + i, "1001"),
                        "1001,d,n,x,20240105," + c.counts[static_cast<std::size_t>(i)] + "\r\n");
    }
    int count = -1;
    EXPECT_EQ(count_trading_days(db, "1001", 2024, count), 0);
    EXPECT_EQ(count, c.want);
  }
}

// A database whose newest daily file is 20241227, with the user's previous result files.
struct Market {
  test::TempDir dir;
  std::string db = dir.str() + "/db/";
  std::string user = dir.str() + "/user/";
  std::string day = db + "2024/data_d/20241227.csv";
  const std::string old_out = "1,20241220,銘柄,値\r\n1301,東証1部,極洋,1,2,3,4,5,100,4,90,1\r\n";
  const std::string old_list = "1,20241220,値\r\n1301,1,1\r\n";

  Market() {
    test::write_cp932(user + "sel0_out.csv", old_out);
    test::write_cp932(user + "sel0.csv", old_list);
  }
  RankingSource source() const {
    RankingSource src;
    src.source = SeriesSource(db, "1001");
    src.latest_year = 2024;
    return src;
  }
};

TEST(RankingRobustness, DamagedDayFileNeverEmptiesTheResultFiles) {
  struct Case {
    const char* name;
    std::string day;  // the newest daily file
    bool replaced;
  };
  const std::vector<Case> cases = {
      {"empty", "", false},
      {"1 MB of commas after a count of 10^9",
       "20241227,1000000000,x,x,x,x,x,x\r\n" + std::string(1 << 20, ','), false},
      // The same market with a readable day does rank and replace the results.
      {"readable day",
       "20241227,2,x,x,x,x,x,x\r\n1301,m,n,100,110,90,105,1000\r\n1332,m,n,50,60,40,55,900\r\n",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Market m;
    test::write_bytes(m.day, c.day);
    EXPECT_EQ(ranking_to_result_files(m.source(), "出来高ﾄｯﾌﾟ25", m.user), c.replaced);
    EXPECT_EQ(test::read_cp932(m.user + "sel0_out.csv") != m.old_out, c.replaced);
    EXPECT_EQ(test::read_cp932(m.user + "sel0.csv") != m.old_list, c.replaced);
  }
}

TEST(RankingRobustness, SummaryCutShortRanksEachWholeRecordOnce) {
  Market m;
  test::write_bytes(m.day, "20241227,0,x,x,x,x,x,x\r\n");
  const std::string rec = "1301,m,n,100,110,90,105,1000,100,500" + std::string(25, ',') + "\r\n";
  test::write_bytes(m.db + "initdata1.csv",
                    "20241227,1000000000" + std::string(33, ',') + "\r\n" + rec + "1332,m,n,50,60");
  const Top25 top = rank_top25(m.source(), "出来高ﾄｯﾌﾟ25");
  EXPECT_EQ(top.date, "20241227");
  EXPECT_EQ(top.filled, 1);
}

}  // namespace
}  // namespace lp::screening
