// Damaged holdings files: a holdings file the program cannot read in full is never rewritten,
// whatever the user presses, and no header makes the reader reserve memory for records the
// file does not hold.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "portfolio/portfolio_model.h"
#include "support/address_limit.h"
#include "support/damaged_inputs.h"
#include "support/fixtures.h"

namespace lp::portfolio {
namespace {

namespace fs = std::filesystem;

TEST(HoldingsRobustness, DamagedFilesAreNeverRewritten) {
  struct Case {
    const char* name;
    std::string bytes;  // kFolderMarker: ptf0.csv is a folder
    LoadStatus status;
    std::size_t readable;  // holdings shown read-only
  };
  const std::vector<Case> cases = {
      {"a folder", std::string(test::kFolderMarker), LoadStatus::kUnreadable, 0},
      {"header count of 10^9", ",,,,,1000000000\r\n1301,500,100,20240105,,-\r\n",
       LoadStatus::kDamaged, 0},
      {"negative count", ",,,,,-1\r\n1301,500,100,20240105,,-\r\n", LoadStatus::kDamaged, 0},
      {"truncated last record", ",,,,,2\r\n1301,500,100,20240105,,-\r\n7203,2000,1",
       LoadStatus::kDamaged, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const std::string user = dir.str() + "/user/";
    const std::string ptf = holdings_path(user, 0);
    test::place(ptf, c.bytes);
    const LoadResult r = load_holdings(ptf);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.holdings.size(), c.readable);

    // Every command of the window on that file.
    Book book(SeriesSource(dir.str() + "/db/", "1001"), user,
              [] { return std::string("20240108"); });
    EXPECT_FALSE(book.open(0).ok);
    book.add({"1301", "20240108", "100", "505"});
    book.correct(0, {"1301", "20240108", "200", "505"});
    book.sort_by(5);
    book.remove(0);
    if (c.bytes == test::kFolderMarker) {
      EXPECT_TRUE(fs::is_directory(ptf));
    } else {
      EXPECT_EQ(test::read_bytes(ptf), c.bytes);
    }
    // Nothing half-written is left beside it.
    for (const auto& e : fs::directory_iterator(user)) {
      EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos);
    }
  }
}

TEST(HoldingsRobustness, HeaderCountReservesNothingForRecordsNotThere) {
  if (!test::kAddressLimitWorks) GTEST_SKIP() << "address-space limits do not apply under ASan";
  test::TempDir dir;
  // The largest count the reader accepts, over a file of one record.
  test::write_bytes(dir.path() / "ptf0.csv", ",,,,,1000000\r\n1301,500,100,20240105,,-\r\n");
  EXPECT_TRUE(test::runs_within(64u << 20, [&] { load_holdings(dir.file("ptf0.csv")); }));
  // The limit is tight enough to catch a reservation for the promised million records.
  EXPECT_FALSE(test::runs_within(64u << 20, [] {
    std::vector<Holding> v;
    v.reserve(1000000);
  }));
}

}  // namespace
}  // namespace lp::portfolio
