// verify and verify --repair: a small database written by the day writer, damaged in each way a
// killed or doubled writer (or a hand) leaves it; the check names the day and the code, and the
// repair gives back the very bytes the writer wrote, or says what it could not mend.
#include "pricedb/db_verify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "common/encoding.h"
#include "pricedb/formats.h"
#include "pricedb/price_writer.h"
#include "support/fixtures.h"

namespace lp {
namespace {

namespace fs = std::filesystem;

// Removes the line of `date` from a file, leaving its header as it was (a count one too high).
void drop_line(const std::string& path, const std::string& prefix) {
  std::string bytes = test::read_bytes(path);
  const std::size_t at = bytes.find("\r\n" + prefix);
  ASSERT_NE(at, std::string::npos) << path << " has no line " << prefix;
  bytes.erase(at + 2, bytes.find("\r\n", at + 2) - at);
  test::write_bytes(path, bytes);
}

struct Db {
  test::TempDir dir;
  std::string db = dir.str() + "/db/";
  std::map<std::string, std::string> whole;  // the files as the writer left them

  // 1001 is the index, 1000, 1301 and 9984 trade every day, 7203 skips 20250107.
  static std::vector<StockBar> bars(const std::string& date) {
    std::vector<StockBar> out;
    const double base = static_cast<double>(std::stoi(date.substr(6)));
    for (const char* code : {"1000", "1301", "7203", "9984"}) {
      if (date == "20250107" && std::string(code) == "7203") continue;
      StockBar b;
      b.code = code;
      b.segment = utf8_to_cp932("プライム");
      b.name = utf8_to_cp932(std::string(code) == "7203" ? "トヨタ自動車" : "表示ソフト開発ポ");
      b.open = b.low = 100 + base;
      b.high = b.close = 110 + base;
      b.volume = 1000;
      out.push_back(b);
    }
    return out;
  }
  void commit(const std::string& date) {
    DayWriter w(db, "1001");
    std::string error;
    ASSERT_TRUE(w.commit_day(date, bars(date), error)) << error;
  }
  Db() {
    for (const char* d : {"20241227", "20241230", "20250106", "20250107", "20250108"}) commit(d);
    whole = test::files_under(db);
  }
  std::string series(int year, const char* code) const { return series_file_path(db, year, code); }
  std::string day(const char* date) const { return day_file_path(db, date); }
};

std::vector<std::string> lines_of(const VerifyReport& r) {
  std::vector<std::string> out;
  for (const DbProblem& p : r.problems) out.push_back(p.text());
  return out;
}

TEST(DbVerify, AWholeDatabaseHasNoProblem) {
  Db d;
  const VerifyReport r = verify_database(d.db, "1001");
  EXPECT_EQ(lines_of(r), std::vector<std::string>{});
  EXPECT_EQ(r.newest, "20250108");
  EXPECT_EQ(r.days, 5);
  EXPECT_EQ(r.series_files, 10);
}

TEST(DbVerify, EachDamageIsNamedAndRepairedFromTheOtherCopy) {
  struct Case {
    const char* what;
    std::function<void(Db&)> damage;
    std::function<std::vector<std::string>(const Db&)> lines;
    bool repairable;
  };
  const std::vector<Case> cases = {
      {"a series without a day its day file holds",
       [](Db& d) { drop_line(d.series(2025, "7203"), "20250106,"); },
       [](const Db&) {
         return std::vector<std::string>{
             "20250106 7203: 時系列ファイルにこの日がありません（日足ファイルにはあります）"};
       },
       true},
      {"a day file without a stock its series holds (the last row)",
       [](Db& d) { drop_line(d.day("20250108"), "9984,"); },
       [](const Db&) {
         return std::vector<std::string>{
             "20250108 9984: 日足ファイルにこの銘柄がありません（時系列ファイルにはあります）"};
       },
       true},
      {"a stock's first series day of a year", [](Db& d) { fs::remove(d.series(2024, "1301")); },
       [](const Db&) {
         return std::vector<std::string>{
             "20241227 1301: 時系列ファイルにこの日がありません（日足ファイルにはあります）",
             "20241230 1301: 時系列ファイルにこの日がありません（日足ファイルにはあります）"};
       },
       true},
      {"a calendar day without its day file", [](Db& d) { fs::remove(d.day("20241230")); },
       [](const Db&) {
         return std::vector<std::string>{
             "20241230 1001: 日足ファイルがありません（基準コードの暦にはある日です）"};
       },
       true},
      {"a lost day file of a database whose day files are in plain code order",
       [](Db& d) {
         for (const char* date : {"20250106", "20250107", "20250108"}) {
           std::string bytes = test::read_bytes(d.day(date));
           const std::size_t body = bytes.find("\r\n") + 2;
           std::vector<std::string> rows;
           for (std::size_t p = body; p < bytes.size();) {
             const std::size_t e = bytes.find("\r\n", p) + 2;
             rows.push_back(bytes.substr(p, e - p));
             p = e;
           }
           std::sort(rows.begin(), rows.end());  // 1000 before the reference 1001
           bytes.resize(body);
           for (const std::string& r : rows) bytes += r;
           test::write_bytes(d.day(date), bytes);
         }
         d.whole = test::files_under(d.db);
         fs::remove(d.day("20250107"));
       },
       [](const Db&) {
         return std::vector<std::string>{
             "20250107 1001: 日足ファイルがありません（基準コードの暦にはある日です）"};
       },
       true},
      {"a day file the calendar lacks",
       [](Db& d) { drop_line(d.series(2025, "1001"), "20250107,"); },
       [](const Db&) {
         return std::vector<std::string>{
             "20250107 1001: 基準コードの暦にこの日がありません（日足ファイルはあります）"};
       },
       true},
      {"a batch killed before the reference: a day after the newest",
       [](Db& d) {
         const std::string ref = test::read_bytes(d.series(2025, "1001"));
         d.commit("20250109");
         test::write_bytes(d.series(2025, "1001"), ref);
       },
       [](const Db&) {
         return std::vector<std::string>{
             "20250109 -: 基準コードの最新日より後の日です（日足ファイル、4 "
             "銘柄の時系列ファイル）"};
       },
       true},
      {"a temporary file whose writer is gone",
       [](Db& d) { test::write_bytes(d.db + "2025/data_m/.7203.csv.999999_0.lptmp", "x"); },
       [](const Db& d) {
         return std::vector<std::string>{"- -: 一時ファイルが残っています: " + d.db +
                                         "2025/data_m/.7203.csv.999999_0.lptmp"};
       },
       true},
      {"an empty year folder", [](Db& d) { fs::create_directories(d.db + "2023/data_d"); },
       [](const Db& d) {
         return std::vector<std::string>{"- -: 空の年フォルダがあります: " + d.db + "2023/"};
       },
       true},
      {"a link to an empty folder elsewhere is no empty year folder (nothing is removed there)",
       [](Db& d) {
         fs::create_directories(d.dir.str() + "/elsewhere/data_d");
         fs::create_directory_symlink(d.dir.str() + "/elsewhere", d.db + "2023");
         d.whole = test::files_under(d.db);
       },
       [](const Db&) { return std::vector<std::string>{}; }, true},
      {"a series day that no day file and no calendar hold",
       [](Db& d) {
         std::string bytes = test::read_bytes(d.series(2025, "1301"));
         const std::size_t eol = bytes.find("\r\n");
         bytes[eol - 1] = '4';  // the count, so that every line is read
         bytes.insert(eol + 2, "20250103,1,1,1,1,1\r\n");
         test::write_bytes(d.series(2025, "1301"), bytes);
       },
       [](const Db&) {
         return std::vector<std::string>{
             "20250103 1301: "
             "時系列ファイルにある日の日足ファイルがなく、基準コードの暦にもありません"};
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Db d;
    c.damage(d);
    const VerifyReport found = verify_database(d.db, "1001");
    EXPECT_EQ(lines_of(found), c.lines(d));
    const RepairReport r = repair_database(d.db, "1001", found);
    EXPECT_EQ(r.error, "");
    const VerifyReport after = verify_database(d.db, "1001");
    EXPECT_TRUE(fs::exists(d.dir.str() + "/elsewhere/data_d") ||
                !fs::exists(d.dir.str() + "/elsewhere"));
    if (c.repairable) {
      EXPECT_EQ(r.repaired.size(), found.problems.size());
      EXPECT_TRUE(r.not_repaired.empty());
      EXPECT_EQ(lines_of(after), std::vector<std::string>{});
      EXPECT_EQ(test::files_under(d.db), d.whole) << "the repair gives back the writer's bytes";
    } else {
      EXPECT_TRUE(r.repaired.empty());
      ASSERT_EQ(r.not_repaired.size(), 1u);
      EXPECT_EQ(lines_of(after), c.lines(d)) << "what cannot be mended is left as it was";
    }
  }
}

TEST(DbVerify, AFailedRepairWritePutsBackWhatItWrote) {
  Db d;
  drop_line(d.series(2025, "7203"), "20250106,");
  // A folder where a day file belongs: the series is written first, the day file cannot be.
  fs::remove(d.day("20250108"));
  fs::create_directories(d.day("20250108") + "/x");
  const auto damaged = test::files_under(d.db);
  const VerifyReport found = verify_database(d.db, "1001");
  ASSERT_EQ(found.problems.size(), 2u);
  const RepairReport r = repair_database(d.db, "1001", found);
  EXPECT_NE(r.error, "");
  EXPECT_TRUE(r.repaired.empty());
  EXPECT_EQ(r.not_repaired.size(), 2u);
  EXPECT_EQ(test::files_under(d.db), damaged) << "the series written first is put back";
}

}  // namespace
}  // namespace lp
