// The day writer that the J-Quants sync commits through: how a day line lands in a series file
// that is already there (header and body bytes, CP932 names included), and what a day that
// fails part-way leaves behind.
#include "pricedb/price_writer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/encoding.h"
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

// Two days of stocks (one split and one new listing on the second day); `obstacle` is put in
// the way of one of the second day's files first.
TEST(DayWriter, AFailedDayPutsBackEveryFileItHadReplaced) {
  const std::vector<StockBar> first = {bar("1301", 100, 10, kName), bar("2001", 200, 20, kName),
                                       bar("3001", 300, 30, kNewName), bar("4001", 400, 40, kName)};
  const std::vector<StockBar> second = {bar("1301", 101, 11), bar("2001", 100, 21, "", 0.5),
                                        bar("3001", 303, 31), bar("3501", 350, 35, kNewName),
                                        bar("4001", 404, 41)};
  auto run = [&](const std::string& db, const std::string& obstacle, std::string& error) {
    DayWriter writer(db, "1001");
    if (!writer.commit_day("20250602", first, error)) return false;
    if (!obstacle.empty()) fs::create_directories(obstacle);
    const auto before = test::files_under(db);
    if (writer.commit_day("20250603", second, error)) return true;
    // Nothing of the failed day is left, not even a temporary file.
    EXPECT_EQ(test::files_under(db), before) << obstacle;
    // With the obstacle gone the same writer writes the day as if nothing had happened.
    fs::remove_all(obstacle);
    std::string again;
    EXPECT_TRUE(writer.commit_day("20250603", second, again)) << again;
    return false;
  };
  test::TempDir clean_dir;
  const std::string clean = clean_dir.file("db") + "/";
  std::string error;
  ASSERT_TRUE(run(clean, "", error)) << error;
  const auto expected = test::files_under(clean);

  struct Case {
    const char* name;
    std::string (*obstacle)(const std::string& db);
  } cases[] = {
      {"a stock in the middle",
       [](const std::string& db) { return series_file_path(db, 2025, "3501"); }},
      {"the split's correction file",
       [](const std::string& db) { return correction_file_path(db, 2025, "2001"); }},
      {"the day file", [](const std::string& db) { return day_file_path(db, "20250603"); }},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    const std::string db = dir.file("db") + "/";
    const std::string obstacle = c.obstacle(db);
    std::string why;
    EXPECT_FALSE(run(db, obstacle, why)) << c.name;
    EXPECT_NE(why.find("cannot write " + obstacle), std::string::npos) << c.name << ": " << why;
    EXPECT_EQ(test::files_under(db), expected) << c.name;
  }
}

}  // namespace
}  // namespace lp
