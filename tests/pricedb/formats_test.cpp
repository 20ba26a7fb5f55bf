#include <gtest/gtest.h>

#include "pricedb/formats.h"
#include "support/fixtures.h"

namespace lp {
namespace {

TEST(DayFileReader, FollowsTheHeaderCountAndStopsAtTheEnd) {
  test::TempDir dir;
  const std::string path = dir.file("20240105.csv");
  // Header claims five stocks; the file holds two and a truncated third.
  test::write_cp932(path,
                    "20240105,5,,,,,,\r\n"
                    "1301,東証1部,(株)極洋,3000,3050,2990,3020,12000\r\n"
                    "\"1332\",\"東証1部\",\"日本水産, 株式会社\",700,710,695,705,500000\r\n"
                    "1333,東証1部,マルハ\r\n");
  DayFile d;
  ASSERT_TRUE(read_day_file(path, d));
  EXPECT_EQ(d.date, "20240105");
  EXPECT_EQ(d.declared, 5);
  ASSERT_EQ(d.rows.size(), 2u);
  EXPECT_EQ(d.rows[0].name, "(株)極洋");  // the file's text is kept; display cleans it
  EXPECT_EQ(d.rows[1].name, "日本水産, 株式会社");
  EXPECT_EQ(d.rows[1].volume, "500000");
  EXPECT_FALSE(read_day_file(dir.file("none.csv"), d));
}

TEST(DayFileReader, HugeHeaderCountDoesNotAllocateForIt) {
  test::TempDir dir;
  test::write_cp932(dir.file("d.csv"), "20240105,1000000000,,,,,,\r\n1301,a,b,1,2,3,4,5\r\n");
  DayFile d;
  ASSERT_TRUE(read_day_file(dir.file("d.csv"), d));
  EXPECT_EQ(d.rows.size(), 1u);
  EXPECT_LT(d.rows.capacity(), 10000u);
}

TEST(SeriesFileReader, CountGovernsNotLines) {
  test::TempDir dir;
  test::write_cp932(dir.file("s.csv"),
                    "1301,desc,極洋,x,20240105,2\r\n"
                    "20240104,1,2,3,4,5\r\n20240105,6,7,8,9,10\r\n20240106,1,1,1,1,1\r\n");
  SeriesFile s;
  ASSERT_TRUE(read_series_file(dir.file("s.csv"), s));
  ASSERT_EQ(s.days.size(), 2u);
  EXPECT_EQ(s.days[1].d1_code_yyyymmdd, "20240105");
  EXPECT_EQ(s.header.d5, "20240105");
}

TEST(YearPresence, LastFourCharactersNameTheYear) {
  test::TempDir db;
  for (const char* sub : {"2012", "2013", "old2011", "misc"}) {
    std::filesystem::create_directories(db.path() / sub);
  }
  test::write_bytes(db.path() / "2014", "a file, not a folder");
  const std::string folder = db.str() + "/";
  EXPECT_EQ(years_present(folder), (std::vector<int>{2013, 2012, 2011}));
  EXPECT_TRUE(year_present(folder, 2011));
  EXPECT_FALSE(year_present(folder, 2014));
}

TEST(LatestDate, SkipsYearsWithoutTheReferenceFile) {
  test::TempDir db;
  const std::string folder = db.str() + "/";
  test::write_series_file(folder, 2023, "1001", "ref",
                          {{"20231228", 1, 1, 1, 1, 1}, {"20231229", 1, 1, 1, 1, 1}});
  test::write_series_file(folder, 2024, "1301", "other", {{"20240104", 1, 1, 1, 1, 1}});
  std::filesystem::create_directories(db.path() / "2025/data_m");
  std::string date = "unchanged";
  ASSERT_TRUE(read_latest_date(folder, "1001", 2025, 1982, date));
  EXPECT_EQ(date, "20231229");
  date = "unchanged";
  EXPECT_FALSE(read_latest_date(folder, "9999", 2025, 1982, date));
  EXPECT_EQ(date, "unchanged");
  // The lowest year bounds the scan.
  EXPECT_FALSE(read_latest_date(folder, "1001", 2025, 2024, date));
}

TEST(DayFiles, OnlyYyyymmddCsvNamesAreListed) {
  test::TempDir dir;
  const std::string db = dir.str() + "/";
  for (const char* name : {"20130107.csv", "20130104.csv", "20130108.csv.tmp99_1",
                           ".20130109.csv.99_2.lptmp", "2013010.csv", "2013010a.csv",
                           "20130110.CSV", "readme.txt"}) {
    test::write_bytes(db + "2013/data_d/" + name, "x");
  }
  EXPECT_EQ(day_files_of_year(db, 2013),
            (std::vector<std::string>{db + "2013/data_d/20130104.csv",
                                      db + "2013/data_d/20130107.csv"}));
}

}  // namespace
}  // namespace lp
