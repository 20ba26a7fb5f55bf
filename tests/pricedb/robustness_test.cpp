// Damaged database files and packed files: the readers keep only whole records and never
// reserve for a header's promise, and the unpacking never replaces a good database file with a
// broken block nor writes outside the year's folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/csv.h"
#include "pricedb/formats.h"
#include "pricedb/unpack.h"
#include "support/address_limit.h"
#include "support/fixtures.h"

namespace lp {
namespace {

namespace fs = std::filesystem;

// The records each reader keeps from a file.
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
std::size_t series_dates(const std::string& p) {
  std::vector<std::string> dates;
  read_series_dates(p, dates);
  return dates.size();
}
using Reader = std::size_t (*)(const std::string& path);

TEST(DatabaseReaderRobustness, TruncatedLastRecordIsNotARecord) {
  struct Case {
    const char* name;
    Reader read;
    std::string bytes;  // three records announced, two whole ones and the start of a third
  };
  const std::vector<Case> cases = {
      {"day file", day_rows,
       "20240105,3,x,x,x,x,x,x\r\n1301,m,n,1,2,3,4,5\r\n1332,m,n,1,2,3,4,5\r\n1333,m,n,1"},
      {"series file", series_days,
       "1301,d,n,x,20240105,3\r\n20240104,1,2,3,4,5\r\n20240105,1,2,3,4,5\r\n2024"},
      {"series dates", series_dates,
       "1301,d,n,x,20240105,3\r\n20240104,1,2,3,4,5\r\n20240105,1,2,3,4,5\r\n2024"},
      {"correction file", correction_rows,
       "1301,x,3\r\n20240104,1,2\r\n20240105,1,2\r\n20240108,1"},
  };
  test::TempDir dir;
  const std::string p = dir.file("f.csv");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::write_bytes(p, c.bytes);
    EXPECT_EQ(c.read(p), 2u);
  }
}

TEST(DatabaseReaderRobustness, HeaderCountsReserveNothingForRecordsNotThere) {
  if (!test::kAddressLimitWorks) GTEST_SKIP() << "address-space limits do not apply under ASan";
  test::TempDir dir;
  const std::string p = dir.file("f.csv");
  // Every count field of every format at once, over one short record.
  for (const std::string count : {"1000000000", "-5"}) {
    SCOPED_TRACE(count);
    std::string header;
    for (int i = 0; i < 8; ++i) header += (i ? "," : "") + count;
    test::write_bytes(p, header + "\r\n1301,a,b,1,2,3\r\n");
    // 10^9 records of six strings would be tens of gigabytes; 64 MB is plenty for the file.
    EXPECT_TRUE(test::runs_within(64u << 20, [&] {
      for (Reader read : {day_rows, series_days, correction_rows, series_dates}) read(p);
    }));
  }
  // The check itself is sound: a reservation for the promise does fail under that limit.
  EXPECT_FALSE(test::runs_within(64u << 20, [] {
    std::vector<std::string> v;
    v.reserve(1000000000);
  }));
}

TEST(UnpackRobustness, BrokenBlocksNeverReplaceGoodFilesNorLeaveTheYear) {
  const std::string good_series = "1301,d,n,x,20240105,1\r\n20240105,1,2,3,4,5\r\n";
  const std::string block = "1301,d,n,x,20240108,1\r\n20240108,6,7,8,9,10\r\n";
  struct Case {
    const char* name;
    std::string packed;    // data_mg/1000.csv
    bool series_replaced;  // data_m/1301.csv holds the new block afterwards
  };
  const std::vector<Case> cases = {
      {"10^9 blocks announced, one whole", "1000,1000000000,x,x,x,x\r\n" + block, true},
      // Cut at a line end: only the count shows that a line is missing.
      {"block cut after a whole line",
       "1000,1,x,x,x,x\r\n1301,d,n,x,20240108,2\r\n20240108,6,7,8,9,10\r\n", false},
      // Every field is there: only the final line end is missing.
      {"whole block without its final line end",
       "1000,1,x,x,x,x\r\n1301,d,n,x,20240108,1\r\n20240108,6,7,8,9,10", true},
      {"block cut inside its last line",
       "1000,1,x,x,x,x\r\n1301,d,n,x,20240108,1\r\n20240108,6,7,8,9", false},
      {"block names a path", "1000,1,x,x,x,x\r\n../../" + block, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const fs::path year = dir.path() / "db" / "2024";
    test::write_bytes(year / "data_m" / "1301.csv", good_series);
    test::write_bytes(year / "data_mg" / "1000.csv", c.packed);

    unpack_year(year.string() + "/");
    EXPECT_EQ(test::read_bytes(year / "data_m" / "1301.csv"),
              c.series_replaced ? block : good_series);
    // Nothing lands outside the year's database folders, and nothing half-written stays.
    for (const auto& [rel, bytes] : test::files_under(dir.path() / "db")) {
      EXPECT_EQ(rel.rfind("2024/data_", 0), 0u) << rel;
      EXPECT_FALSE(is_temp_file_name(fs::path(rel).filename().string())) << rel;
    }
  }
}

}  // namespace
}  // namespace lp
