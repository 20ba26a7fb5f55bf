// Damaged database files and packed files: every reader returns with no more records than the
// file holds, never reserves for a header's promise, and the unpacking never replaces a good
// database file with a broken block.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "common/csv.h"
#include "common/encoding.h"
#include "pricedb/formats.h"
#include "pricedb/series.h"
#include "pricedb/unpack.h"
#include "support/address_limit.h"
#include "support/damaged_inputs.h"
#include "support/fixtures.h"

namespace lp {
namespace {

namespace fs = std::filesystem;
using test::Day;

using Input = test::DamagedInput;
using test::garbage;
using test::place;
constexpr std::string_view kFolder = test::kFolderMarker;

// What a broken transfer, a full disk or a foreign program leaves where a database file belongs.
std::vector<Input> damaged_files() {
  std::vector<Input> more = {
      {"header count of 10^9 in every count field",
       "1000000000,1000000000,1000000000,1000000000,1000000000,1000000000,1000000000,"
       "1000000000\r\n1301,a,b,1,2,3\r\n"},
      {"header count of 10^30", "20240105,1e30,x,x,x,1e30\r\n20240105,1,2,3,4,5\r\n"},
      {"negative count", "20240105,-5,x,x,x,-5\r\n20240105,1,2,3,4,5\r\n"},
      {"1 MB of commas after a count of 10^9",
       "20240105,1000000000,x,x,x,1000000000\r\n" + std::string(1 << 20, ',')},
      {"invalid shift_jis names", "20240105,1,x,x,x,x,x,x\r\n1301,\x81\x20\xFF,\x82,1,2,3,4,5\r\n"},
      {"utf-8 with bom",
       "\xEF\xBB\xBF"
       "20240105,1,x,x,x,1\r\n20240105,1,2,3,4,5\r\n"},
      {"unclosed quote", "20240105,\"3,x,x,x,3\r\n20240105,1,2,3,4,5\r\n"},
  };
  return test::base_damaged_inputs(11, std::move(more));
}

TEST(DatabaseReaderRobustness, DamagedFilesReadBoundedByTheirSize) {
  test::TempDir dir;
  const fs::path p = dir.path() / "f.csv";
  for (const Input& in : damaged_files()) {
    SCOPED_TRACE(in.name);
    place(p, in.bytes);
    const bool folder = in.bytes == kFolder;
    // Each record takes at least one byte per field; growth may double the room.
    const std::size_t size = in.bytes.size();

    DayFile day;
    EXPECT_EQ(read_day_file(p.string(), day), !folder);
    EXPECT_LE(day.rows.size(), size / 8 + 1);
    EXPECT_LE(day.rows.capacity(), std::max<std::size_t>(6000, 2 * (size / 8 + 1)));
    EXPECT_GE(day.declared, 0);

    SeriesFile series;
    EXPECT_EQ(read_series_file(p.string(), series), !folder);
    EXPECT_LE(series.days.size(), size / 6 + 1);
    EXPECT_LE(series.days.capacity(), std::max<std::size_t>(400, 2 * (size / 6 + 1)));

    CorrectionFile corr;
    EXPECT_EQ(read_correction_file(p.string(), corr), !folder);
    EXPECT_LE(corr.rows.size(), size / 3 + 1);
    EXPECT_LE(corr.rows.capacity(), std::max<std::size_t>(256, 2 * (size / 3 + 1)));

    std::vector<std::string> dates = {"old"};
    EXPECT_EQ(read_series_dates(p.string(), dates, 5), !folder);
    EXPECT_LE(dates.size(), 5u);
    if (folder) {
      EXPECT_TRUE(dates.empty());
    }
  }
}

std::size_t day_rows(const std::string& p) {
  DayFile f;
  read_day_file(p, f);
  return f.rows.size();
}
std::size_t series_days(const std::string& p) {
  SeriesFile f;
  read_series_file(p, f);
  return f.days.size();
}
std::size_t correction_rows(const std::string& p) {
  CorrectionFile f;
  read_correction_file(p, f);
  return f.rows.size();
}

TEST(DatabaseReaderRobustness, TruncatedLastRecordIsNotARecord) {
  struct Case {
    const char* name;
    std::size_t (*read)(const std::string& path);
    std::string bytes;
    std::size_t records;
  };
  // Three records announced each time, two whole ones and the start of a third.
  const std::vector<Case> cases = {
      {"day file cut inside a line", day_rows,
       "20240105,3,x,x,x,x,x,x\r\n1301,m,n,1,2,3,4,5\r\n1332,m,n,1,2,3,4,5\r\n1333,m,n,1", 2},
      {"day file cut after a comma", day_rows,
       "20240105,3,x,x,x,x,x,x\r\n1301,m,n,1,2,3,4,5\r\n1332,m,n,1,2,3,4,5\r\n1333,", 2},
      {"series file cut inside a line", series_days,
       "1301,d,n,x,20240105,3\r\n20240104,1,2,3,4,5\r\n20240105,1,2,3,4,5\r\n2024", 2},
      {"correction file cut inside a line", correction_rows,
       "1301,x,3\r\n20240104,1,2\r\n20240105,1,2\r\n20240108,1", 2},
      {"day file header only", day_rows, "20240105,3,x,x,x,x,x,x", 0},
      {"series file header cut", series_days, "1301,d,n", 0},
  };
  test::TempDir dir;
  const std::string p = dir.file("f.csv");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::write_bytes(p, c.bytes);
    EXPECT_EQ(c.read(p), c.records);
  }
}

TEST(DatabaseReaderRobustness, HugeHeaderCountsReserveNothingForThem) {
  if (!test::kAddressLimitWorks) GTEST_SKIP() << "address-space limits do not apply under ASan";
  test::TempDir dir;
  const std::string p = dir.file("f.csv");
  test::write_bytes(p, "20240105,1000000000,x,x,x,1000000000\r\n20240105,1,2,3,4,5\r\n");
  // 10^9 records of six strings would be tens of gigabytes; 64 MB is plenty for the file.
  EXPECT_TRUE(test::runs_within(64u << 20, [&] {
    DayFile day;
    SeriesFile series;
    CorrectionFile corr;
    std::vector<std::string> dates;
    read_day_file(p, day);
    read_series_file(p, series);
    read_correction_file(p, corr);
    read_series_dates(p, dates);
  }));
  // The check itself is sound: a reservation for the promise does fail under that limit.
  EXPECT_FALSE(test::runs_within(64u << 20, [] {
    std::vector<SeriesRecord> v;
    v.reserve(1000000000);
  }));
}

// A database of the reference code and one stock over five days of January 2024.
struct Db {
  test::TempDir dir;
  std::string db = dir.str() + "/db/";
  std::vector<std::string> days = {"20240104", "20240105", "20240108", "20240109", "20240110"};
  Db() {
    std::vector<Day> ref, stock;
    for (const auto& d : days) {
      ref.push_back({d, 100, 100, 100, 100, 1000});
      stock.push_back({d, 500, 510, 490, 505, 2000});
    }
    test::write_series_file(db, 2024, "1001", "基準", ref);
    test::write_series_file(db, 2024, "1301", "極洋", stock);
  }
};

TEST(SeriesLoaderRobustness, DamagedStockOrReferenceFilesLoadBounded) {
  struct Target {
    const char* name;
    std::string (*path)(const std::string& db);
  };
  const std::vector<Target> targets = {
      {"stock series", [](const std::string& db) { return series_file_path(db, 2024, "1301"); }},
      {"reference series",
       [](const std::string& db) { return series_file_path(db, 2024, "1001"); }},
      {"stock corrections",
       [](const std::string& db) { return correction_file_path(db, 2024, "1301"); }},
  };
  for (const Target& t : targets) {
    for (const Input& in : damaged_files()) {
      SCOPED_TRACE(std::string(t.name) + ": " + in.name);
      Db db;
      place(t.path(db.db), in.bytes);
      SeriesSource src(db.db, "1001");

      TradingCalendar cal;
      const int cal_status = build_trading_calendar(src, cal, "20240110", 250);
      EXPECT_LE(cal.count(), 250);
      EXPECT_EQ(cal_status == 0, cal.count() > 0);

      Series s;
      const int status = load_series(src, "20240110", 250, "1301", s, true);
      EXPECT_LE(s.size(), 251u);
      if (status == 0) {
        EXPECT_GE(series_count(s), 1);
        EXPECT_LE(series_count(s), static_cast<int>(s.size()) - 1);
      }

      Series s2;
      const int status2 = load_series_cal(src, "20240110", 250, "1301", cal, s2, true);
      EXPECT_LE(s2.size(), static_cast<std::size_t>(cal.count()) + 1);
      if (status2 == 0) {
        EXPECT_LE(series_count(s2), cal.count());
      }
      // Prices stay finite text whatever the corrections say.
      for (std::size_t i = 1; i < s.size(); ++i) {
        EXPECT_EQ(s[i].d5.find("nan"), std::string::npos);
        EXPECT_EQ(s[i].d5.find("inf"), std::string::npos);
      }
    }
  }
}

TEST(SeriesLoaderRobustness, DamagedEndDatesAndCountsReturn) {
  Db db;
  SeriesSource src(db.db, "1001");
  struct Case {
    const char* end_date;
    int days;
  };
  const std::vector<Case> cases = {
      {"", 5},         {"garbage", 5},   {"99999999", 5}, {"-20240110", 5},
      {"20240110", 0}, {"20240110", -7}, {"1e300", 5},    {"20240110", 1000000000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.end_date) + " / " + std::to_string(c.days));
    TradingCalendar cal;
    build_trading_calendar(src, cal, c.end_date, c.days);
    EXPECT_LE(cal.count(), 5);
    Series s;
    load_series(src, c.end_date, c.days, "1301", s, true);
    EXPECT_LE(s.size(), 6u);
    Series s2;
    load_series_cal(src, c.end_date, c.days, "1301", cal, s2, true);
    EXPECT_LE(s2.size(), 6u);
  }
}

TEST(LatestDateRobustness, DamagedReferenceFilesGiveNoCrashAndFolderIsSkipped) {
  for (const Input& in : damaged_files()) {
    SCOPED_TRACE(in.name);
    Db db;
    place(series_file_path(db.db, 2024, "1001"), in.bytes);
    std::string date = "unchanged";
    const bool found = read_latest_date(db.db, "1001", 2024, 2023, date);
    if (in.bytes == kFolder) {
      EXPECT_FALSE(found);
      EXPECT_EQ(date, "unchanged");
    } else {
      EXPECT_TRUE(found);
      EXPECT_LE(date.size(), in.bytes.size());
    }
  }
}

// ---- the unpacking ----

TEST(UnpackRobustness, DamagedPackedFilesNeverReplaceGoodFiles) {
  const std::string good_series = "1301,d,n,x,20240105,1\r\n20240105,1,2,3,4,5\r\n";
  struct Case {
    const char* name;
    std::string staged;  // relative to the year folder
    std::string bytes;
    bool series_replaced;  // data_m/1301.csv holds a new whole block afterwards
  };
  const std::string block = "1301,d,n,x,20240108,1\r\n20240108,6,7,8,9,10\r\n";
  const std::vector<Case> cases = {
      {"empty", "data_mg/1000.csv", "", false},
      {"binary garbage", "data_mg/1000.csv", garbage(64 * 1024, 5), false},
      {"10^9 blocks announced, one whole", "data_mg/1000.csv",
       "1000,1000000000,x,x,x,x\r\n" + block, true},
      {"10^9 lines announced in the block", "data_mg/1000.csv",
       "1000,1,x,x,x,x\r\n1301,d,n,x,20240108,1000000000\r\n20240108,6,7,8,9,10\r\n", false},
      {"block cut inside its last line", "data_mg/1000.csv",
       "1000,1,x,x,x,x\r\n1301,d,n,x,20240108,1\r\n20240108,6,7,8", false},
      {"block cut before its line end", "data_mg/1000.csv",
       "1000,1,x,x,x,x\r\n1301,d,n,x,20240108,1\r\n20240108,6,7,8,9,10", false},
      {"1 MB line", "data_mg/1000.csv", "1000,1,x,x,x,x\r\n" + std::string(1 << 20, '7'), false},
      {"block names a path", "data_mg/1000.csv",
       "1000,1,x,x,x,x\r\n../../1301,d,n,x,20240108,1\r\n20240108,6,7,8,9,10\r\n", false},
      {"invalid shift_jis in a block", "data_mg/1000.csv",
       "1000,1,x,x,x,x\r\n1301,\x81\x20,\xFF,x,20240108,1\r\n20240108,6,7,8,9,10\r\n", true},
      {"packed file is a folder", "data_mg/1000.csv", std::string(kFolder), false},
      {"garbage day and correction files", "data_dg/202401.csv", garbage(8192, 9), false},
      {"garbage correction file", "data_mhg/2024.csv", garbage(8192, 10), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const fs::path year = dir.path() / "db" / "2024";
    for (const char* sub : {"data_d", "data_m", "data_mh"}) fs::create_directories(year / sub);
    test::write_bytes(year / "data_m" / "1301.csv", good_series);
    place(year / c.staged, c.bytes);

    const UnpackStats stats = unpack_year(year.string() + "/");
    const auto files = test::files_under(dir.path() / "db");
    std::string series;
    read_file_bytes(year / "data_m" / "1301.csv", series);
    if (c.series_replaced) {
      EXPECT_NE(series, good_series);
      EXPECT_EQ(series.substr(0, 4), "1301");
    } else {
      EXPECT_EQ(series, good_series);
    }
    // Nothing lands outside the year's database folders, and nothing half-written stays.
    for (const auto& [rel, bytes] : files) {
      const bool in_db = rel.rfind("2024/data_", 0) == 0;
      EXPECT_TRUE(in_db) << rel;
      EXPECT_EQ(rel.find(".tmp"), std::string::npos) << rel;
    }
    EXPECT_EQ(stats.failed_writes, 0);
  }
}

}  // namespace
}  // namespace lp
