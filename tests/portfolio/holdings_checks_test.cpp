// Entry checks, the shape of holdings records, and changes made by several writers.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "common/file_lock.h"
#include "portfolio/portfolio_model.h"
#include "portfolio_fixture.h"

namespace lp::portfolio {
namespace {

using test::file_bytes;

struct Market : test::PortfolioMarket {
  Book book() const {
    Book b(SeriesSource(db, "1001"), user, [] { return std::string("20240115"); });
    b.set_lock_timeout(std::chrono::milliseconds(200));
    return b;
  }
  std::string ptf(int n) const { return holdings_path(user, n); }
};

TEST(EntryChecks, EachFieldIsCheckedAndNamedAndNothingIsWritten) {
  struct Case {
    const char *date, *shares, *price;
    const char* message;      // empty: accepted
    const char* stored_date;  // for accepted entries
  } cases[] = {
      {"20240105", "100", "512.5", "", "20240105"},
      {"2024/01/05", "1,000", "100", "", "20240105"},
      {"2024-1-5", "100", "100", "", "20240105"},
      {"２０２４／０１／０５", "１００", "１００", "", "20240105"},  // typed with an input method
      {"20240110", "100", "100", "", "20240110"},                    // the latest trading day
      {"xyz", "100", "100", kMsgBadDate, ""},
      {"2026-13-45", "100", "100", kMsgBadDate, ""},
      {"20230229", "100", "100", kMsgBadDate, ""},  // no leap year
      {"2024/01/05/1", "100", "100", kMsgBadDate, ""},
      {"", "100", "100", kMsgBadDate, ""},
      {"20240111", "100", "100", "取得日が最新取引日（20240110）より後です。", ""},
      {"20240105", "0", "100", kMsgBadShares, ""},
      {"20240105", "-5", "100", kMsgBadShares, ""},
      {"20240105", "", "100", kMsgBadShares, ""},
      {"20240105", "12abc", "100", kMsgBadShares, ""},
      {"20240105", "0.5", "100", kMsgBadShares, ""},  // shares are whole
      {"20240105", "100.25", "100", kMsgBadShares, ""},
      {"20240105", "1,000,000,000", "100", "", "20240105"},
      {"20240105", "1000000001", "100", kMsgBadShares, ""},
      {"20240105", "100", "100000000", "", "20240105"},
      {"20240105", "100", "100000000.01", kMsgBadPrice, ""},
      {"20240105", "100", "1e9", kMsgBadPrice, ""},
      {"20240105", "100", "abc", kMsgBadPrice, ""},
      {"20240105", "100", "0", kMsgBadPrice, ""},
      {"20240105", "100", "0.00001", kMsgBadPrice, ""},  // rounds to 0 when stored
      {"20240105", "100", "1e3", kMsgBadPrice, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.date) + " / " + c.shares + " / " + c.price);
    Market m;
    Book book = m.book();
    ASSERT_TRUE(book.open(0).ok);
    const std::string before = file_bytes(m.ptf(0));
    const Outcome o = book.add({"1301", c.date, c.shares, c.price});
    if (*c.message == 0) {
      ASSERT_TRUE(o.ok) << o.message;
      EXPECT_EQ(book.holdings().back().date, c.stored_date);
      continue;
    }
    EXPECT_FALSE(o.ok);
    EXPECT_TRUE(o.error);
    EXPECT_EQ(o.message.rfind(c.message, 0), 0u) << o.message;
    EXPECT_EQ(file_bytes(m.ptf(0)), before);
  }
}

TEST(EntryChecks, ACorrectionIsCheckedLikeAnAddition) {
  Market m;
  Book book = m.book();
  ASSERT_TRUE(book.open(0).ok);
  ASSERT_TRUE(book.add({"1301", "20240105", "100", "100"}).ok);
  const std::string before = file_bytes(m.ptf(0));
  EXPECT_EQ(book.correct(0, {"1301", "20240105", "0", "100"}).message, kMsgBadShares);
  EXPECT_EQ(book.correct(0, {"1301", "2024/13/01", "10", "100"}).message, kMsgBadDate);
  EXPECT_EQ(file_bytes(m.ptf(0)), before);
  ASSERT_TRUE(book.correct(0, {"1301", "2024-01-04", "10", "90"}).ok);
  EXPECT_EQ(book.holdings()[0].date, "20240104");
}

TEST(HoldingsShape, DamagedFilesShowWhatCanBeReadAndAreNeverRewritten) {
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<std::string> shown_codes;
    const char* problem;
  } cases[] = {
      {"a record of seven fields before a normal one",
       ",,,,,2\r\n1301,500,100,20240105,,-,x\r\n7203,600,10,20240105,,-\r\n",
       {"7203"},
       "2行目の項目数が7です"},
      {"a record of five fields", ",,,,,1\r\n1301,500,100,20240105,-\r\n", {}, "2行目の項目数が5"},
      {"the header counts more records than there are",
       ",,,,,3\r\n1301,500,100,20240105,,-\r\n7203,600,10,20240105,,-\r\n",
       {"1301", "7203"},
       "件数（3）と記録の数（2）"},
      {"the header counts fewer records than there are",
       ",,,,,1\r\n1301,500,100,20240105,,-\r\n7203,600,10,20240105,,-\r\n",
       {"1301", "7203"},
       "件数（1）と記録の数（2）"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Market m;
    test::write_stock(m.db, "7203", "トヨタ", {2000, 2000, 2000, 2000, 2000});
    test::write_bytes(m.ptf(0), c.bytes);
    Book book = m.book();
    const Outcome opened = book.open(0);
    EXPECT_FALSE(opened.ok);
    EXPECT_NE(opened.message.find(c.problem), std::string::npos) << opened.message;
    EXPECT_FALSE(book.writable());
    std::vector<std::string> codes;
    for (const ReportRow& r : book.report().rows) codes.push_back(r.code);
    EXPECT_EQ(codes, c.shown_codes);
    EXPECT_FALSE(book.add({"1301", "20240105", "100", "100"}).ok);
    if (book.count() > 0) {
      EXPECT_FALSE(book.remove(0).ok);
      EXPECT_FALSE(book.correct(0, {"1301", "20240105", "1", "1"}).ok);
    }
    EXPECT_FALSE(book.sort_by(1).ok);
    EXPECT_EQ(file_bytes(m.ptf(0)), c.bytes);
  }
}

TEST(Book, ALookAtAMissingFileCreatesNothing) {
  Market m;
  Book book = m.book();
  ASSERT_TRUE(book.open(5, false).ok);
  EXPECT_EQ(book.count(), 0);
  EXPECT_FALSE(std::filesystem::exists(m.ptf(5)));
}

TEST(Book, ChangesAfterAnotherWriterNeverLoseOrMisplaceHoldings) {
  Market m;
  test::write_stock(m.db, "7203", "トヨタ", {2000, 2000, 2000, 2000, 2000});
  Book window = m.book();
  Book other = m.book();
  ASSERT_TRUE(window.open(0).ok);
  ASSERT_TRUE(other.open(0).ok);
  ASSERT_TRUE(window.add({"1301", "20240105", "100", "100"}).ok);
  ASSERT_TRUE(other.add({"7203", "20240105", "10", "2000"}).ok);  // starts from the file
  EXPECT_EQ(load_holdings(m.ptf(0)).holdings.size(), 2u);

  // The window still shows one holding: deleting "its" first row must not delete whatever
  // the file now holds there unseen; it shows the file as it is and asks again.
  ASSERT_TRUE(window.add({"1301", "20240108", "200", "100"}).ok);
  ASSERT_TRUE(other.open(0).ok);
  ASSERT_TRUE(other.remove(0).ok);
  const Outcome o = window.remove(0);
  EXPECT_FALSE(o.ok);
  EXPECT_NE(o.message.find("他で変更"), std::string::npos);
  EXPECT_EQ(window.count(), 2);  // now shows the file
  EXPECT_EQ(window.holdings()[0].code, "7203");
  ASSERT_TRUE(window.remove(0).ok);
  EXPECT_EQ(file_bytes(m.ptf(0)), ",,,,,1\r\n1301,100,200,20240108,,-\r\n");
}

TEST(Book, AWriterThatCannotGetTheLockFailsWithAMessage) {
  Market m;
  Book book = m.book();
  ASSERT_TRUE(book.open(0).ok);
  const std::string before = file_bytes(m.ptf(0));
  std::string error;
  auto held = FileLock::acquire(m.ptf(0), std::chrono::milliseconds(0), error);
  ASSERT_TRUE(held) << error;
  const Outcome o = book.add({"1301", "20240105", "100", "100"});
  EXPECT_FALSE(o.ok);
  EXPECT_TRUE(o.error);
  EXPECT_NE(o.message.find("ptf0.csv"), std::string::npos) << o.message;
  EXPECT_EQ(file_bytes(m.ptf(0)), before);
  held.reset();
  EXPECT_TRUE(book.add({"1301", "20240105", "100", "100"}).ok);
}

TEST(Book, NamesSortAsJapaneseText) {
  Market m;
  test::write_stock(m.db, "2001", "ｻｸﾗ電機", {1, 1, 1, 1, 1});
  test::write_stock(m.db, "2002", "あおば商事", {1, 1, 1, 1, 1});
  test::write_stock(m.db, "2003", "ABC", {1, 1, 1, 1, 1});
  test::write_stock(m.db, "2004", "カブト工業", {1, 1, 1, 1, 1});
  Book book = m.book();
  ASSERT_TRUE(book.open(0).ok);
  for (const char* code : {"2001", "2002", "2003", "2004"}) {
    ASSERT_TRUE(book.add({code, "20240105", "1", "1"}).ok);
  }
  auto codes = [&] {
    std::string s;
    for (const auto& h : load_holdings(m.ptf(0)).holdings) s += h.code + " ";
    return s;
  };
  ASSERT_TRUE(book.sort_by(kNameColumn).ok);
  EXPECT_EQ(codes(), "2003 2002 2004 2001 ");  // ABC, あおば, カブト, ｻｸﾗ
  ASSERT_TRUE(book.sort_by(kNameColumn).ok);
  EXPECT_EQ(codes(), "2001 2004 2002 2003 ");
}

}  // namespace
}  // namespace lp::portfolio
