// Damaged holdings files and a damaged price database: a holdings file the program cannot
// read in full is never rewritten, whatever the user presses, and no header makes the reader
// reserve memory for records the file does not hold.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "portfolio/portfolio_model.h"
#include "pricedb/formats.h"
#include "support/address_limit.h"
#include "support/damaged_inputs.h"
#include "support/fixtures.h"

namespace lp::portfolio {
namespace {

namespace fs = std::filesystem;
using test::Day;

struct Market {
  test::TempDir dir;
  std::string db = dir.str() + "/db/";
  std::string user = dir.str() + "/user/";

  Market() {
    fs::create_directories(user);
    std::vector<Day> days;
    for (const char* d : {"20240104", "20240105", "20240108"}) {
      days.push_back({d, 500, 510, 490, 505, 1000});
    }
    test::write_series_file(db, 2024, "1001", "基準", days);
    test::write_series_file(db, 2024, "1301", "極洋", days);
  }
  std::string ptf(int n) const { return holdings_path(user, n); }
  Book book() const {
    return Book(SeriesSource(db, "1001"), user, [] { return std::string("20240108"); });
  }
};

TEST(HoldingsRobustness, DamagedFilesAreNeverRewritten) {
  struct Case {
    const char* name;
    std::string bytes;  // kFolderMarker: ptf0.csv is a folder
    LoadStatus status;
    std::size_t holdings;
  };
  const std::vector<Case> cases = {
      {"a folder", std::string(test::kFolderMarker), LoadStatus::kUnreadable, 0},
      {"binary garbage", test::garbage(64 * 1024, 41), LoadStatus::kDamaged, 0},
      {"nul bytes", std::string(100, '\0'), LoadStatus::kDamaged, 0},
      {"header count of 10^9", ",,,,,1000000000\r\n1301,500,100,20240105,,-\r\n",
       LoadStatus::kDamaged, 0},
      {"header count of 10^6 over one record", ",,,,,1000000\r\n1301,500,100,20240105,,-\r\n",
       LoadStatus::kDamaged, 0},
      {"negative count", ",,,,,-1\r\n1301,500,100,20240105,,-\r\n", LoadStatus::kDamaged, 0},
      {"truncated last record", ",,,,,2\r\n1301,500,100,20240105,,-\r\n7203,2000,1",
       LoadStatus::kDamaged, 0},
      {"1 MB line", std::string(1 << 20, '1') + "\r\n", LoadStatus::kDamaged, 0},
      {"1 MB of commas", std::string(1 << 20, ','), LoadStatus::kDamaged, 0},
      {"utf-8 with bom", "\xEF\xBB\xBF,,,,,1\r\n1301,500,100,20240105,,-\r\n", LoadStatus::kDamaged,
       0},
      {"invalid shift_jis in a field", ",,,,,1\r\n1301,500,100,\x81\x20\xFF,,-\r\n",
       LoadStatus::kLoaded, 1},
      {"whole file, no final line end", ",,,,,1\r\n1301,500,100,20240105,,-", LoadStatus::kLoaded,
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Market m;
    const bool folder = c.bytes == test::kFolderMarker;
    test::place(m.ptf(0), c.bytes);
    const LoadResult r = load_holdings(m.ptf(0));
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.holdings.size(), c.holdings);

    // Every command of the window on that file.
    Book book = m.book();
    const bool usable = book.open(0).ok;
    EXPECT_EQ(usable, r.writable());
    book.add({"1301", "20240108", "100", "505"});
    book.correct(0, {"1301", "20240108", "200", "505"});
    book.sort_by(5);
    book.remove(0);
    if (!usable) {
      if (folder) {
        EXPECT_TRUE(fs::is_directory(m.ptf(0)));
      } else {
        EXPECT_EQ(test::read_bytes(m.ptf(0)), c.bytes);
      }
    }
    // Nothing half-written is left beside it.
    for (const auto& e : fs::directory_iterator(m.user)) {
      EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos);
    }
  }
}

TEST(HoldingsRobustness, DamagedPriceDatabaseValuesWithoutTouchingTheFile) {
  const std::string holdings = ",,,,,2\r\n1301,500,100,20240105,,-\r\n7203,2000,10,20240105,,-\r\n";
  struct Case {
    const char* name;
    std::string series;  // the stock's series file; kFolderMarker: a folder
  };
  const std::vector<Case> cases = {
      {"empty series", ""},
      {"garbage series", test::garbage(8192, 43)},
      {"series of 10^9 days", "1301,d,n,x,20240108,1000000000\r\n20240108,1,2,3,4,5\r\n"},
      {"series is a folder", std::string(test::kFolderMarker)},
      {"absurd close", "1301,d,n,x,20240108,1\r\n20240108,1,1e300,1,1e300,1e300\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Market m;
    test::write_bytes(m.ptf(3), holdings);
    const std::string series = series_file_path(m.db, 2024, "1301");
    test::place(series, c.series);
    Book book = m.book();
    ASSERT_TRUE(book.open(3).ok);
    ASSERT_EQ(book.report().rows.size(), 2u);
    const PageView page = fill_page(book.report(), 0);
    EXPECT_EQ(page.rows.size(), 2u);
    format_totals(book.report().totals);
    // Looking is not changing: the file is only written by a command.
    EXPECT_EQ(test::read_bytes(m.ptf(3)), holdings);
  }
}

TEST(HoldingsRobustness, HeaderCountReservesNothingForRecordsNotThere) {
  if (!test::kAddressLimitWorks) GTEST_SKIP() << "address-space limits do not apply under ASan";
  Market m;
  // The largest count the reader accepts, over a file of one record.
  test::write_bytes(m.ptf(0), ",,,,,1000000\r\n1301,500,100,20240105,,-\r\n");
  EXPECT_TRUE(test::runs_within(64u << 20, [&] { load_holdings(m.ptf(0)); }));
  // The limit is tight enough to catch a reservation for the promised million records.
  EXPECT_FALSE(test::runs_within(64u << 20, [] {
    std::vector<Holding> v;
    v.reserve(1000000);
  }));
}

}  // namespace
}  // namespace lp::portfolio
