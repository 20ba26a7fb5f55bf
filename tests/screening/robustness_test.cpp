// Damaged preference, day, list and summary files fed to the screening's readers: each returns
// within the table limits, and a damaged input never empties the user's result files.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "common/encoding.h"
#include "pricedb/formats.h"
#include "screening/preferences.h"
#include "screening/rankings.h"
#include "screening/result_files.h"
#include "screening/universe.h"
#include "support/damaged_inputs.h"
#include "support/fixtures.h"

namespace lp::screening {
namespace {

using Input = test::DamagedInput;
using test::place;
constexpr std::string_view kFolder = test::kFolderMarker;

std::vector<Input> damaged_files() {
  std::vector<Input> more = {
      {"header count of 10^9", "20240105,1000000000,x,x,x,x,x,x\r\n1301,m,n,1,2,3,4,5\r\n"},
      {"1 MB of commas after a count of 10^9",
       "20240105,1000000000,x,x,x,x,x,x\r\n" + std::string(1 << 20, ',')},
      {"invalid shift_jis", "20240105,1,x,x,x,x,x,x\r\n1301,\x81\x20,\xFF\xFE,1,2,3,4,5\r\n"},
      {"utf-8 with bom",
       "\xEF\xBB\xBF"
       "20240105,1,x,x,x,x,x,x\r\n1301,m,n,1,2,3,4,5\r\n"},
      {"truncated last record", "20240105,2,x,x,x,x,x,x\r\n1301,m,n,1,2,3,4,5\r\n1332,m,n,1,2,3"},
  };
  return test::base_damaged_inputs(21, std::move(more));
}

TEST(PreferencesRobustness, DamagedInitFilesChangeOnlyWhatTheyName) {
  for (const Input& in : damaged_files()) {
    SCOPED_TRACE(in.name);
    test::TempDir dir;
    place(dir.path() / "init.txt", in.bytes);
    ControlSet controls = ControlSet::with_builtins();
    const std::size_t before = controls.all().size();
    read_init_sel(controls, dir.file("init.txt"));
    // No control appears from a file, and lists grow by at most one item per pair read.
    EXPECT_EQ(controls.all().size(), before);
    std::size_t items = 0;
    for (const Control& c : controls.all()) items += c.items.size();
    EXPECT_LE(items, in.bytes == kFolder ? 1000u : in.bytes.size() / 2 + 1000);
  }
  // A file saved as UTF-8 by an editor still sets the keys with Japanese in their names.
  test::TempDir dir;
  test::write_bytes(dir.path() / "init.txt",
                    "\xEF\xBB\xBF"
                    "sel_yasune1_kikan_cmb_初期値,75\r\nsel_kabukamin,120\r\nEOF\r\n");
  ControlSet controls = ControlSet::with_builtins();
  read_init_sel(controls, dir.file("init.txt"));
  EXPECT_EQ(controls.text("yasune1_kikan_cmb"), "75");
  EXPECT_EQ(controls.text("kabukamin"), "120");
}

TEST(DayTableRobustness, DamagedDayFilesStayWithinTheTable) {
  for (const Input& in : damaged_files()) {
    SCOPED_TRACE(in.name);
    test::TempDir dir;
    place(dir.path() / "d.csv", in.bytes);
    DayTable table;
    table.records.resize(2);
    table.records[0].f = {"20200101", "1"};
    const bool read = read_day_table(dir.file("d.csv"), table);
    if (in.bytes == kFolder) {
      EXPECT_FALSE(read);
      EXPECT_EQ(table.date(), "20200101");  // the previous table stays
      continue;
    }
    ASSERT_TRUE(read);
    EXPECT_LE(table.count(), kDayTableCapacity);
    EXPECT_EQ(table.records[0].f[1], std::to_string(table.count()));
    EXPECT_EQ(static_cast<int>(table.records.size()), table.count() + 1);
    EXPECT_LE(table.records.capacity(), static_cast<std::size_t>(kDayTableCapacity) + 1);
    for (int r = 1; r <= table.count(); ++r) {
      const double code = std::stod("0" + table.row(r)->code());
      EXPECT_TRUE(code >= 1000 && code <= 9999) << table.row(r)->code();
    }
  }
}

TEST(ListFileRobustness, DamagedListsStayWithinTheCandidateLimit) {
  std::vector<Input> inputs = damaged_files();
  inputs.push_back({"count of 10^9 over 9000 records", [] {
                      std::string s = "1000000000,20240105,t\r\n";
                      for (int i = 0; i < 9000; ++i) s += "1301,1,v\r\n";
                      return s;
                    }()});
  for (const Input& in : inputs) {
    SCOPED_TRACE(in.name);
    test::TempDir dir;
    place(dir.path() / "sel1.csv", in.bytes);
    CandidateList list;
    list.date = "kept";
    const bool read = read_list_file(dir.file("sel1.csv"), list);
    EXPECT_EQ(read, in.bytes != kFolder);
    if (!read) {
      EXPECT_EQ(list.date, "kept");
    }
    EXPECT_LE(list.count(), kCandidateCapacity);
    EXPECT_LE(static_cast<std::size_t>(list.count()), in.bytes.size() / 3 + 1);
  }
}

TEST(TradingDaysRobustness, DamagedHeaderCountsNeitherOverflowNorSubtract) {
  struct Case {
    const char* name;
    std::vector<std::string> counts;  // header field 6 of the years 2022, 2023, 2024
    int want;
  };
  const std::vector<Case> cases = {
      {"plain", {"245", "246", "5"}, 496},
      {"10^9 in every year saturates", {"1000000000", "1000000000", "1000000000"}, INT_MAX},
      {"10^30", {"1e30", "1", "1"}, INT_MAX},
      {"negative counts as none", {"-500", "246", "5"}, 251},
      {"garbage counts as none", {"\xFF\x81", "246", "5"}, 251},
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

  Market() {
    test::write_cp932(user + "sel0_out.csv", old_out);
    test::write_cp932(user + "sel0.csv", "1,20241220,値\r\n1301,1,1\r\n");
  }
  RankingSource source() const {
    RankingSource src;
    src.source = SeriesSource(db, "1001");
    src.latest_year = 2024;
    return src;
  }
};

TEST(RankingRobustness, DamagedDayOrSummaryNeverEmptiesTheResultFiles) {
  const std::string good_day =
      "20241227,2,x,x,x,x,x,x\r\n1301,m,n,100,110,90,105,1000\r\n1332,m,n,50,60,40,55,900\r\n";
  struct Case {
    std::string name;
    std::string day;      // the newest daily file
    std::string summary;  // initdata1.csv ("" none)
  };
  std::vector<Case> cases;
  for (const Input& in : damaged_files()) {
    if (std::string(in.name) == "header count of 10^9") continue;  // a readable day: it ranks
    if (std::string(in.name) == "utf-8 with bom") continue;
    if (std::string(in.name) == "invalid shift_jis") continue;
    if (std::string(in.name) == "truncated last record") continue;
    cases.push_back({in.name, in.bytes, ""});
  }
  for (const Input& in : damaged_files()) {
    // The day cannot be read, so a summary that does not fit it cannot be rebuilt either.
    cases.push_back({"summary: " + std::string(in.name), std::string(kFolder), in.bytes});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Market m;
    place(m.day, c.day);
    if (!c.summary.empty()) place(m.db + "initdata1.csv", c.summary);
    const Top25 top = rank_top25(m.source(), "前日比上率ﾄｯﾌﾟ25");
    EXPECT_LE(top.filled, kTopCount);
    EXPECT_FALSE(ranking_to_result_files(m.source(), "出来高ﾄｯﾌﾟ25", m.user));
    EXPECT_EQ(test::read_cp932(m.user + "sel0_out.csv"), m.old_out);
    EXPECT_NE(test::read_bytes(m.user + "sel0.csv"), "");
  }
  // The same market with a readable day does rank and replace the results.
  Market m;
  test::write_cp932(m.day, good_day);
  EXPECT_TRUE(ranking_to_result_files(m.source(), "出来高ﾄｯﾌﾟ25", m.user));
  EXPECT_NE(test::read_cp932(m.user + "sel0_out.csv"), m.old_out);
}

TEST(RankingRobustness, DamagedSummaryOfTheRightDayRanksWhatItHolds) {
  const std::string header = "20241227,1000000000" + std::string(33, ',') + "\r\n";
  struct Case {
    const char* name;
    std::string summary;
    int filled;
  };
  const std::string rec = "1301,m,n,100,110,90,105,1000,100,500" + std::string(25, ',') + "\r\n";
  const std::vector<Case> cases = {
      {"count of 10^9 over one record", header + rec, 1},
      {"record cut short", header + rec + "1332,m,n,50,60", 1},
      {"garbage after the header", header + test::garbage(4096, 3), kTopCount},
      {"1 MB of commas after the header", header + std::string(1 << 20, ','), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Market m;
    test::write_bytes(m.day, "20241227,0,x,x,x,x,x,x\r\n");
    test::write_bytes(m.db + "initdata1.csv", c.summary);
    const Top25 top = rank_top25(m.source(), "出来高ﾄｯﾌﾟ25");
    EXPECT_EQ(top.date, "20241227");
    EXPECT_LE(top.filled, c.filled);
  }
}

}  // namespace
}  // namespace lp::screening
