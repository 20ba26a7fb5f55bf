// Screens run as real processes over a database that holds part of a day the reference code
// does not know yet (a writer killed before its last file, or days imported while the
// reference was left alone): they keep exactly the stocks they keep without that part, and
// the same as --as-of the reference's newest day. And names with a comma come back whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/numbers.h"
#include "common/settings.h"
#include "pricedb/formats.h"
#include "pricedb/price_writer.h"
#include "sample-market/sample_market.h"
#include "support/fixtures.h"
#include "support/process.h"

namespace lp::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kEnd = "20250613";  // a Friday
constexpr const char* kNext = "20250616";
constexpr const char* kToday = "20250620";

struct Market {
  TempDir dir;
  AppFolders folders = read_settei_sub(dir.str(), dir.str());
  sample::Summary summary;
  std::string error;
  bool ok = [this] {
    sample::Options o;
    o.codes = 160;
    o.years = 1;
    o.end_date = kEnd;
    o.seed = 7;
    o.db_folder = folders.db_folder;
    write_cp932(folders.app_folder + "settei.txt", "EOF,0\r\n");
    return sample::generate(o, error, summary);
  }();

  ProcessResult cli(std::vector<std::string> args) const {
    args.insert(args.begin(), LP_CLI_PATH);
    args.insert(args.end(), {"--documents", dir.str(), "--today", kToday});
    return run_process(args, dir.str());
  }
  ProcessResult screen(const std::vector<std::string>& extra = {}) const {
    std::vector<std::string> args = {"screen",      "--criteria", "3,8,12", "--formula",
                                     "C > MA(C,5)", "--formula",  "V > 0"};
    args.insert(args.end(), extra.begin(), extra.end());
    return cli(args);
  }
};

// The next day of every stock of the last day, written whole by the writer.
void write_next_day(const std::string& db) {
  DayFile last;
  ASSERT_TRUE(read_day_file(day_file_path(db, kEnd), last, false));
  std::vector<StockBar> bars;
  for (const PriceRecord& r : last.rows) {
    StockBar b;
    b.code = r.code;
    b.close = parse_number(r.close) * 1.07;
    b.open = b.low = parse_number(r.close);
    b.high = b.close + 1;
    b.volume = 500;
    bars.push_back(b);
  }
  DayWriter writer(db, "1001");
  std::string error;
  ASSERT_TRUE(writer.commit_day(kNext, bars, error)) << error;
}

TEST(ConsistentMarket, APartOfADayTheReferenceLacksChangesNoScreen) {
  const struct {
    const char* name;
    // Leaves the database as a writer killed part-way (or an import) would.
    void (*damage)(const Market& m);
  } cases[] = {
      {"every stock and the day file written, the reference not yet",
       [](const Market& m) {
         const std::string ref = series_file_path(m.folders.db_folder, 2025, "1001");
         const std::string kept = read_bytes(ref);
         write_next_day(m.folders.db_folder);
         write_bytes(ref, kept);
       }},
      {"every other stock written, no day file",
       [](const Market& m) {
         const auto before = files_under(m.folders.db_folder);
         write_next_day(m.folders.db_folder);
         int i = 0;
         for (const auto& [path, bytes] : before) {
           if (path.find("data_m/") == std::string::npos ||
               path.find("/1001.csv") != std::string::npos || i++ % 2 == 0)
             write_bytes(fs::path(m.folders.db_folder) / path, bytes);
         }
         write_bytes(fs::path(m.folders.db_folder) / "2025/data_m/1001.csv",
                     before.at("2025/data_m/1001.csv"));
         fs::remove(day_file_path(m.folders.db_folder, kNext));
       }},
      {"a newer day imported while the reference series is left alone",
       [](const Market& m) {
         const std::string file = m.dir.file("1301.csv");
         write_bytes(file, "Date,Open,High,Low,Close,Volume\n2025-06-16,1,9999,1,9999,5\n");
         const ProcessResult r = m.cli({"import-csv", file});
         EXPECT_EQ(r.status, 0) << r.err;
         EXPECT_NE(r.out.find("index_rebuilt=no"), std::string::npos) << r.out;
       }},
  };
  for (const auto& c : cases) {
    Market m;
    ASSERT_TRUE(m.ok) << m.error;
    const ProcessResult before = m.screen();
    ASSERT_EQ(before.status, 0) << before.err;
    // The screen keeps stocks at every step, so a dropped stock shows.
    ASSERT_EQ(before.out.find(" 0/"), std::string::npos) << before.out;
    c.damage(m);
    const ProcessResult after = m.screen();
    EXPECT_EQ(after.status, 0) << c.name << ": " << after.err;
    EXPECT_EQ(after.out, before.out) << c.name;
    const ProcessResult as_of = m.screen({"--as-of", kEnd});
    EXPECT_EQ(as_of.out, before.out) << c.name;
  }
}

// A name with a comma goes through import, screen and search as one field: it reads back with
// the full-width comma, and the fields after it stay in place.
TEST(ConsistentMarket, ANameWithACommaReadsBackWhole) {
  Market m;
  ASSERT_TRUE(m.ok) << m.error;
  const std::string file = m.dir.file("9990.csv");
  write_bytes(file,
              "Date,Open,High,Low,Close,Volume\n2025-06-12,500,520,490,510,7000\n"
              "2025-06-13,510,530,500,525,8000\n");
  const ProcessResult imported =
      m.cli({"import-csv", file, "--name", "Sample Holdings, Inc.", "--market", "Prime,\"X\""});
  ASSERT_EQ(imported.status, 0) << imported.err;
  const ProcessResult screened = m.cli({"screen", "--formula", "C = 525"});
  ASSERT_EQ(screened.status, 0) << screened.err;
  EXPECT_NE(
      screened.out.find("\n9990,Prime，X,Sample Holdings， Inc.,-,510,530,500,525,8000,510,7000,"),
      std::string::npos)
      << screened.out;
  const ProcessResult found = m.cli({"search", "Sample"});
  ASSERT_EQ(found.status, 0) << found.err;
  EXPECT_EQ(found.out.substr(0, found.out.find('\n')), "9990\tSample Holdings， Inc.\t6")
      << found.out;
  DayFile day;
  ASSERT_TRUE(read_day_file(day_file_path(m.folders.db_folder, kEnd), day));
  bool seen = false;
  for (const PriceRecord& r : day.rows) {
    if (r.code != "9990") continue;
    seen = true;
    EXPECT_EQ(r.market, "Prime，X");
    EXPECT_EQ(r.close, "525");
    EXPECT_EQ(r.volume, "8000");
  }
  EXPECT_TRUE(seen);
}

}  // namespace
}  // namespace lp::test
