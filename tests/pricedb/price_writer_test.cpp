// The day writer that the J-Quants sync commits through: how a day line lands in a series file
// that is already there (header and body bytes, CP932 names included), and what a day that
// fails part-way leaves behind.
#include "pricedb/price_writer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/encoding.h"
#include "common/numbers.h"
#include "pricedb/formats.h"
#include "support/fixtures.h"

namespace lp {
namespace {

namespace fs = std::filesystem;

// Names whose CP932 form holds a second byte 0x5C ("\") or 0x7C ("|"), which a writer that
// decoded, re-encoded or split on those bytes would damage.
const std::string kSegment = utf8_to_cp932("プライム");
const std::string kName = utf8_to_cp932("表示ソフト開発ポ");
const std::string kNewName = utf8_to_cp932("能力ソ表");

std::string header(const std::string& code, const std::string& segment, const std::string& name,
                   const std::string& oldest, const std::string& newest, int count,
                   const char* end = "\r\n") {
  return code + "," + segment + "," + name + "," + oldest + "," + newest + "," +
         std::to_string(count) + end;
}

StockBar bar(const std::string& code, double close, long long volume, std::string name = "",
             double adj = 1) {
  StockBar b;
  b.code = code;
  b.name = std::move(name);
  b.segment = b.name.empty() ? "" : kSegment;
  b.open = close - 1;
  b.high = close + 2;
  b.low = close - 2;
  b.close = close;
  b.volume = volume;
  b.adj_factor = adj;
  return b;
}

TEST(DayWriter, AppendsToTheStoredSeriesFileKeepingItsBytes) {
  const std::string body = "20250602,99,102,97,100,1000\r\n20250603,100,103,98,101,1100\r\n";
  struct Case {
    const char* name;
    std::string stored;  // "" : no file yet
    std::string date;
    std::string bar_name;  // "" : keep the stored name
    std::string expected;
  } cases[] = {
      {"tidy file, stored CP932 name kept",
       header("7203", kSegment, kName, "20250602", "20250603", 2) + body, "20250604", "",
       header("7203", kSegment, kName, "20250602", "20250604", 3) + body +
           "20250604,104,107,103,105,500\r\n"},
      {"tidy file, new name from the server",
       header("7203", kSegment, kName, "20250602", "20250603", 2) + body, "20250604", kNewName,
       header("7203", kSegment, kNewName, "20250602", "20250604", 3) + body +
           "20250604,104,107,103,105,500\r\n"},
      {"no file yet", "", "20250604", kName,
       header("7203", kSegment, kName, "20250604", "20250604", 1) +
           "20250604,104,107,103,105,500\r\n"},
      {"header only", header("7203", kSegment, kName, "", "", 0), "20250604", "",
       header("7203", kSegment, kName, "20250604", "20250604", 1) +
           "20250604,104,107,103,105,500\r\n"},
      {"LF line ends are made CR LF",
       header("7203", kSegment, kName, "20250602", "20250603", 2, "\n") +
           "20250602,99,102,97,100,1000\n20250603,100,103,98,101,1100\n",
       "20250604", "",
       header("7203", kSegment, kName, "20250602", "20250604", 3) + body +
           "20250604,104,107,103,105,500\r\n"},
      {"a count that lies is recounted",
       header("7203", kSegment, kName, "20250602", "20250603", 7) + body, "20250604", "",
       header("7203", kSegment, kName, "20250602", "20250604", 3) + body +
           "20250604,104,107,103,105,500\r\n"},
      {"a day already there is replaced",
       header("7203", kSegment, kName, "20250602", "20250603", 2) + body, "20250603", "",
       header("7203", kSegment, kName, "20250602", "20250603", 2) +
           "20250602,99,102,97,100,1000\r\n20250603,104,107,103,105,500\r\n"},
      {"an earlier day goes in its place",
       header("7203", kSegment, kName, "20250602", "20250604", 2) +
           "20250602,99,102,97,100,1000\r\n20250604,100,103,98,101,1100\r\n",
       "20250603", "",
       header("7203", kSegment, kName, "20250602", "20250604", 3) +
           "20250602,99,102,97,100,1000\r\n20250603,104,107,103,105,500\r\n"
           "20250604,100,103,98,101,1100\r\n"},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    const std::string db = dir.file("db") + "/";
    const std::string path = series_file_path(db, 2025, "7203");
    if (!c.stored.empty()) test::write_bytes(path, c.stored);
    DayWriter writer(db, "1001");
    std::string error;
    ASSERT_TRUE(writer.commit_day(c.date, {bar("7203", 105, 500, c.bar_name)}, error))
        << c.name << ": " << error;
    EXPECT_EQ(test::read_bytes(path), c.expected) << c.name;
    // The day file names the stock as its series file does, byte for byte.
    const std::string day = test::read_bytes(day_file_path(db, c.date));
    const std::string& shown = c.bar_name.empty() ? kName : c.bar_name;
    EXPECT_NE(day.find("7203," + kSegment + "," + shown + ",104,107,103,105,500\r\n"),
              std::string::npos)
        << c.name;
    // Only the database's own files: no temporary file left over.
    for (const auto& [file, bytes] : test::files_under(db)) {
      EXPECT_FALSE(fs::path(file).filename().string().starts_with(".")) << c.name << ": " << file;
    }
  }
}

// A day, then a batch of two more (a split and a new listing on its first day, another
// listing on its second); `obstacle` is put in the way of one of the batch's files first.
TEST(DayWriter, AFailedBatchPutsBackEveryFileItHadReplaced) {
  const std::vector<StockBar> first = {bar("1301", 100, 10, kName), bar("2001", 200, 20, kName),
                                       bar("3001", 300, 30, kNewName), bar("4001", 400, 40, kName)};
  const std::vector<DayBars> batch = {
      {"20250603",
       {bar("1301", 101, 11), bar("2001", 100, 21, "", 0.5), bar("3001", 303, 31),
        bar("3501", 350, 35, kNewName), bar("4001", 404, 41)},
       std::nullopt,
       {}},
      // 3001 does not trade on its split day: the split still becomes a correction line.
      {"20250604",
       {bar("1301", 102, 12), bar("2001", 101, 22), bar("3601", 360, 36, kName),
        bar("4001", 405, 42)},
       std::nullopt,
       {{"3001", 0.5}}}};
  auto run = [&](const std::string& db, const std::string& obstacle, std::string& error) {
    DayWriter writer(db, "1001");
    if (!writer.commit_day("20250602", first, error)) return false;
    if (!obstacle.empty()) fs::create_directories(obstacle);
    const auto before = test::files_under(db);
    auto days = batch;
    if (writer.commit_days(days, error)) return true;
    // Nothing of the failed batch is left, not even a temporary file.
    EXPECT_EQ(test::files_under(db), before) << obstacle;
    EXPECT_EQ(writer.days_committed(), 1) << obstacle;
    // With the obstacle gone the same writer writes the batch as if nothing had happened.
    fs::remove_all(obstacle);
    std::string again;
    days = batch;
    EXPECT_TRUE(writer.commit_days(days, again)) << again;
    return false;
  };
  test::TempDir clean_dir;
  const std::string clean = clean_dir.file("db") + "/";
  std::string error;
  ASSERT_TRUE(run(clean, "", error)) << error;
  const auto expected = test::files_under(clean);
  EXPECT_NE(test::read_bytes(correction_file_path(clean, 2025, "3001")).find("20250604,1,2\r\n"),
            std::string::npos);

  struct Case {
    const char* name;
    std::string (*obstacle)(const std::string& db);
  } cases[] = {
      {"a stock in the middle",
       [](const std::string& db) { return series_file_path(db, 2025, "3501"); }},
      {"a stock of the batch's last day",
       [](const std::string& db) { return series_file_path(db, 2025, "3601"); }},
      {"the split's correction file",
       [](const std::string& db) { return correction_file_path(db, 2025, "2001"); }},
      {"the batch's second day file",
       [](const std::string& db) { return day_file_path(db, "20250604"); }},
      {"the correction of a split on a day the stock did not trade",
       [](const std::string& db) { return correction_file_path(db, 2025, "3001"); }},
      {"the reference series, written last",
       [](const std::string& db) { return series_file_path(db, 2025, "1001"); }},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    const std::string db = dir.file("db") + "/";
    const std::string obstacle = c.obstacle(db);
    // The reference series exists before the batch: it is moved aside for its obstacle.
    std::string why;
    if (c.obstacle == cases[5].obstacle) {
      DayWriter writer(db, "1001");
      ASSERT_TRUE(writer.commit_day("20250602", first, why)) << why;
      const std::string kept = test::read_bytes(obstacle);
      const auto before = test::files_under(db);
      fs::remove(obstacle);
      fs::create_directories(obstacle);
      auto days = batch;
      EXPECT_FALSE(writer.commit_days(days, why)) << c.name;
      fs::remove_all(obstacle);
      test::write_bytes(obstacle, kept);
      EXPECT_EQ(test::files_under(db), before) << c.name;
      continue;
    }
    EXPECT_FALSE(run(db, obstacle, why)) << c.name;
    EXPECT_NE(why.find("cannot write " + obstacle), std::string::npos) << c.name << ": " << why;
    EXPECT_EQ(test::files_under(db), expected) << c.name;
  }

  // A failed first batch of a new year leaves no folder of that year behind (but the one the
  // obstacle stands in); a later good batch creates them again.
  test::TempDir dir;
  const std::string db = dir.file("db") + "/";
  {
    DayWriter writer(db, "1001");
    ASSERT_TRUE(writer.commit_day("20250602", first, error)) << error;
    const std::string obstacle = series_file_path(db, 2026, "1301");
    fs::create_directories(obstacle);
    std::vector<DayBars> next = {{"20260105", {bar("1301", 101, 11)}, std::nullopt, {}}};
    EXPECT_FALSE(writer.commit_days(next, error));
    for (const char* sub : {"data_d", "data_mh"}) {
      EXPECT_FALSE(fs::exists(year_folder(db, 2026) + sub)) << sub;
    }
    fs::remove_all(year_folder(db, 2026));
    next = {{"20260105", {bar("1301", 101, 11)}, std::nullopt, {}}};
    EXPECT_TRUE(writer.commit_days(next, error)) << error;
    EXPECT_TRUE(fs::exists(day_file_path(db, "20260105")));
  }
}

// Days of two years written day by day and in batches of every size give the same bytes: a
// hole between stored days is filled (the index resumes from the stored day before it), a
// split, a listing, names that change or are missing, TOPIX or the equal-weighted index.
TEST(DayWriter, BatchesOfAnySizeWriteTheFilesOfDayByDay) {
  const std::vector<std::string> dates = {"20241227", "20241230", "20250106", "20250107",
                                          "20250108", "20250109", "20250110"};
  auto day = [&](std::size_t i, bool topix) {
    DayBars d;
    d.date = dates[i];
    const double k = static_cast<double>(i);
    d.bars = {bar("1301", 100 + k, 10 + static_cast<long long>(i), i == 0 ? kName : ""),
              bar("2001", i == 4 ? 101 : 200 + k, 20, i == 3 ? kNewName : "", i == 4 ? 0.5 : 1),
              bar("1001", 999, 1, kName)};  // the reference code's own bar gives way
    if (i >= 2) d.bars.push_back(bar("3501", 350 + k, 35, i == 2 ? kNewName : ""));
    if (i % 2 == 0) d.bars.push_back(bar("4001", 400 + k, 40, kName));
    if (topix) d.topix = IndexBar{2000 + k, 2010 + k, 1990 + k, 2005 + k};
    return d;
  };
  // Days 0 and 3 are stored first; the rest come afterwards.
  const std::vector<std::size_t> stored = {0, 3}, later = {1, 2, 4, 5, 6};
  for (bool topix : {false, true}) {
    test::TempDir ref_dir;
    const std::string expected_db = ref_dir.file("db") + "/";
    {
      DayWriter writer(expected_db, "1001");
      for (const auto* list : {&stored, &later}) {
        for (std::size_t i : *list) {
          DayBars d = day(i, topix);
          std::string error;
          ASSERT_TRUE(writer.commit_day(d.date, d.bars, error, d.topix ? &*d.topix : nullptr))
              << error;
        }
      }
    }
    const auto expected = test::files_under(expected_db);
    const struct {
      const char* name;
      BatchLimits limits;
    } cases[] = {
        {"whole years", {}},
        {"two days", {2, std::size_t{160} << 20, 60}},
        {"one day by its size", {250, 1, 60}},
        {"one day by its age", {250, std::size_t{160} << 20, 0}},
    };
    for (const auto& c : cases) {
      test::TempDir dir;
      const std::string db = dir.file("db") + "/";
      DayWriter writer(db, "1001", c.limits);
      std::string error;
      for (const auto* list : {&stored, &later}) {
        for (std::size_t i : *list) ASSERT_TRUE(writer.add_day(day(i, topix), error)) << error;
        ASSERT_TRUE(writer.flush(error)) << error;
      }
      EXPECT_EQ(writer.days_committed(), 7) << c.name;
      EXPECT_EQ(test::files_under(db), expected) << c.name << (topix ? " TOPIX" : "");
    }
  }
}

// The equal-weighted index against hand-computed ratios, each day written by a writer of its
// own: a split's factor comes out of that day's ratio, and the first day of a year runs on
// from the stored last day of the year before rather than starting again at 1000.
TEST(DayWriter, TheEqualWeightedIndexRunsOnFromTheStoredDayBefore) {
  const struct {
    const char* name;
    std::vector<DayBars> days;
    double close;  // the reference code's on the last day
  } cases[] = {
      // 100/100 and 100/(200 x 0.5): both ratios 1.
      {"a 1-for-2 split",
       {{"20250602", {bar("1301", 100, 10, kName), bar("2001", 200, 20, kName)}, {}, {}},
        {"20250603", {bar("1301", 100, 11), bar("2001", 100, 21, "", 0.5)}, {}, {}}},
       1000},
      // 1000 x (110/100 + 190/200) / 2 = 1000 x 1.025.
      {"across New Year",
       {{"20241230", {bar("1301", 100, 10, kName), bar("2001", 200, 20, kName)}, {}, {}},
        {"20250106", {bar("1301", 110, 11), bar("2001", 190, 21)}, {}, {}}},
       1025},
  };
  for (const auto& c : cases) {
    test::TempDir dir;
    const std::string db = dir.file("db") + "/";
    for (const DayBars& d : c.days) {
      DayWriter writer(db, "1001");
      std::string error;
      ASSERT_TRUE(writer.commit_day(d.date, d.bars, error)) << c.name << ": " << error;
    }
    DayFile day;
    ASSERT_TRUE(read_day_file(day_file_path(db, c.days.back().date), day)) << c.name;
    ASSERT_FALSE(day.rows.empty()) << c.name;
    EXPECT_EQ(day.rows[0].code, "1001") << c.name;
    EXPECT_EQ(parse_number(day.rows[0].close), c.close) << c.name;
  }
}

// Bars the database cannot hold are refused before anything is written.
TEST(DayWriter, RefusesFactorsAndVolumesOutOfRange) {
  const struct {
    double factor;
    long long volume;
    bool ok;
  } cases[] = {
      {1e300, 1, false},     {1e-20, 1, false},
      {0, 1, false},         {1000.5, 1, false},
      {1000, 1, true},       {0.001, 1, true},
      {1, kMaxVolume, true}, {1, kMaxVolume + 1, false},
      {1, -1, false},        {1, 9'000'000'000'000'000'000LL, false},
  };
  for (const auto& c : cases) {
    test::TempDir dir;
    const std::string db = dir.file("db") + "/";
    DayWriter writer(db, "1001");
    std::string error;
    StockBar b = bar("7203", 100, c.volume, kName, c.factor);
    EXPECT_EQ(writer.commit_day("20250602", {bar("1301", 100, 10, kName), b}, error), c.ok)
        << c.factor << " " << c.volume << ": " << error;
    if (!c.ok) {
      EXPECT_FALSE(fs::exists(db)) << c.factor << " " << c.volume;
      EXPECT_NE(error.find("7203"), std::string::npos) << error;
    }
  }
}

// A name or segment holding the separator, quotes or line ends is written with the full-width
// comma instead, in the day file and the series header alike: no later field shifts.
TEST(DayWriter, NamesNeverCarryTheSeparator) {
  test::TempDir dir;
  const std::string db = dir.file("db") + "/";
  DayWriter writer(db, "1001");
  StockBar b = bar("7203", 100, 5, utf8_to_cp932("Sample Holdings, Inc.\r\n\"A\""));
  b.segment = utf8_to_cp932("プライム,外国");
  std::string error;
  ASSERT_TRUE(writer.commit_day("20250602", {b}, error)) << error;
  const std::string name = utf8_to_cp932("Sample Holdings， Inc.A");
  const std::string segment = utf8_to_cp932("プライム，外国");
  EXPECT_EQ(
      test::read_bytes(series_file_path(db, 2025, "7203")),
      header("7203", segment, name, "20250602", "20250602", 1) + "20250602,99,102,98,100,5\r\n");
  DayFile day;
  ASSERT_TRUE(read_day_file(day_file_path(db, "20250602"), day));
  ASSERT_EQ(day.rows.size(), 2u);
  EXPECT_EQ(day.rows[1].name, "Sample Holdings， Inc.A");
  EXPECT_EQ(day.rows[1].market, "プライム，外国");
  EXPECT_EQ(day.rows[1].volume, "5");
}

}  // namespace
}  // namespace lp
