#include "portfolio/portfolio_model.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "portfolio_fixture.h"

namespace lp::portfolio {
namespace {

using test::file_bytes;

struct Market : test::PortfolioMarket {
  Book book() const {
    return Book(SeriesSource(db, "1001"), user, [] { return std::string("20240110"); });
  }
  std::string ptf(int n) const { return holdings_path(user, n); }
};

Holding holding(std::string code, std::string price, std::string shares) {
  return Holding{std::move(code), std::move(price), std::move(shares), "20240105", "", ""};
}

TEST(HoldingsFile, ExactFormsOfNewAndWrittenFiles) {
  Market m;
  LoadResult r = load_holdings(m.ptf(3));
  EXPECT_EQ(r.status, LoadStatus::kCreated);
  EXPECT_EQ(file_bytes(m.ptf(3)), ",,,,,0\r\n");
  EXPECT_EQ(load_holdings(m.ptf(3)).status, LoadStatus::kLoaded);

  std::vector<Holding> hs = {holding("1301", "512.5", "100"), holding("7203", "2000", "0")};
  hs[1].sequence = "9";  // a non-empty sixth field is written as is
  ASSERT_TRUE(save_holdings(m.ptf(0), hs));
  EXPECT_EQ(file_bytes(m.ptf(0)),
            ",,,,,2\r\n1301,512.5,100,20240105,,-\r\n7203,2000,0,20240105,,9\r\n");
  int files = 0;  // written through a temporary file that is renamed, none left behind
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(m.user)) ++files;
  EXPECT_EQ(files, 2);
  r = load_holdings(m.ptf(0));
  ASSERT_EQ(r.holdings.size(), 2u);
  EXPECT_EQ(r.holdings[0].price, "512.5");
  EXPECT_EQ(r.holdings[0].sequence, "");  // "-" reads as empty
}

TEST(HoldingsFile, FilesNotInOurFormAreNeverRewritten) {
  struct Case {
    const char* what;
    std::string bytes;
    bool usable;
  } cases[] = {
      {"blanks around fields", " , ,,,, 1 \r\n 1301 , 500 ,100,20240105,,-\r\n\r\n", true},
      {"an empty file", "", true},
      {"count larger than the records", ",,,,,3\r\n1301,500,100,20240105,,-\r\n", false},
      {"records beyond the count", ",,,,,1\r\n1301,500,1,1,,-\r\n7203,1,1,1,,-\r\n", false},
      {"no header", "1301,500,100,20240105,,-\r\n", false},
      {"some other file", "code,name,price\r\n1301,極洋,500\r\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Market m;
    test::write_bytes(m.ptf(0), c.bytes);
    Book book = m.book();
    EXPECT_EQ(book.open(0).ok, c.usable);
    Outcome o = book.add({"1301", "20240110", "100", "100"});
    EXPECT_EQ(o.ok, c.usable) << o.message;
    if (!c.usable) {
      EXPECT_TRUE(o.error);
      EXPECT_FALSE(book.remove(0).ok);
      EXPECT_FALSE(book.sort_by(1).ok);
      EXPECT_EQ(file_bytes(m.ptf(0)), c.bytes);
    }
  }
}

TEST(Entries, StoredAsFixedPointTextAndShownBackWithoutLoss) {
  struct Case {
    const char* entry;
    const char* stored;
    const char* shown;
  } cases[] = {
      {" 1,234 ", "1234", "1,234"},     {"", "0", "0"},    {"1234.5", "1234.5", "1,234.5"},
      {"0.123456", "0.1235", "0.1235"}, {"abc", "0", "0"}, {"1000000", "1000000", "1,000,000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry);
    EXPECT_EQ(currency_text(c.entry), c.stored);
    EXPECT_EQ(entry_text(c.stored), c.shown);
  }
  // Nothing typed into a field can break the record layout of the file.
  Holding h = holding_from_entries({" 1301 ", "2024,01\"05", "1", "1"});
  EXPECT_EQ(h.code, "1301");
  EXPECT_EQ(h.date, "20240105");
}

// A loaded series: record 0 the header, then the closes newest first ("_" a gap day).
Series series_of(std::string closes) {
  Series s{{"1301", "desc", "サクラ精密工業ホールディングス", "", "", ""}};
  int day = 20;
  for (std::size_t at = 0; at < closes.size();) {
    std::size_t end = std::min(closes.find(' ', at), closes.size());
    std::string c = closes.substr(at, end - at) == "_" ? "" : closes.substr(at, end - at);
    s.push_back({"202401" + std::to_string(day--), c, c, c, c, "100"});
    at = end + 1;
  }
  s[0].d6 = std::to_string(s.size() - 1);
  return s;
}

TEST(Valuation, ValuesFormatsAndColoursOfAGridRow) {
  struct Case {
    const char *what, *price, *shares, *closes;  // closes "": the series could not be loaded
    const char* columns_4_to_12;
    Tone row, change;
  } cases[] = {
      {"rise", "1000", "1500", "1234.5 1300",
       "1,500 1,000 1,234.5 234.5 1,500,000 1,851,750 351,750 23.5 -5.3", Tone::kRed, Tone::kBlue},
      {"change divides by the latest close", "120", "10", "110 100",
       "10 120 110 -10 1,200 1,100 -100 -8.3 9.1", Tone::kBlue, Tone::kRed},
      {"unchanged", "110", "10", "110 110", "10 110 110 0 1,100 1,100 0 0.0 0.0", Tone::kGreen,
       Tone::kGreen},
      {"zero shares", "100", "0", "110 100", "- 100 110 10 - - - 10.0 9.1", Tone::kRed, Tone::kRed},
      {"no purchase price", "0", "10", "110 100", "10 - 110 - - 1,100 1,100 - 9.1",
       Tone::kDarkGreen, Tone::kRed},
      {"previous day without trading", "100", "10", "90 _", "10 100 90 -10 1,000 900 -100 -10.0 -",
       Tone::kBlue, Tone::kGreen},
      {"latest day without trading", "100", "10", "_ 120 100",
       "10 100 120 20 1,000 1,200 200 20.0 16.7", Tone::kRed, Tone::kRed},
      {"not loaded", "100", "10", "", "10 100 - - - - - - -", Tone::kDarkGreen, Tone::kGreen},
      {"no positive close", "100", "10", "_ 0", "10 100 - - - - - - -", Tone::kDarkGreen,
       Tone::kGreen},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ReportRow r =
        value_holding(holding("1301", c.price, c.shares), series_of(c.closes), *c.closes != 0);
    const GridRow cells = format_row(r, 7);
    std::string texts;
    for (int col = 4; col < kColumns; ++col) texts += (col > 4 ? " " : "") + cells[col].text;
    EXPECT_EQ(texts, c.columns_4_to_12);
    EXPECT_EQ(cells[0].text + " " + cells[1].text + " " + cells[3].text, "8 1301 20240105");
    EXPECT_EQ(cells[2].text, r.priced ? "サクラ精密工業ホ" : "");  // first 8 characters
    for (int col = 0; col < 12; ++col) EXPECT_EQ(cells[col].tone, c.row) << col;
    EXPECT_EQ(cells[12].tone, c.change);
  }
  EXPECT_EQ(tone_rgb(Tone::kGreen).g, 128);
  EXPECT_EQ(tone_rgb(Tone::kDarkGreen).g, 96);
}

// ---- the book on real files ----

TEST(Book, ValuesEveryHoldingAndTotalsLeaveOutEmptyValues) {
  Market m;
  test::write_stock(m.db, "7203", "トヨタ自動車(株)", {2000, 2100, 0, 0, 0});  // stopped trading
  ASSERT_TRUE(
      save_holdings(m.ptf(0), {holding("1301", "100", "10"), holding("9999", "50", "10"),
                               holding("7203", "2200", "100"), holding("1301", "100", "0")}));
  Book book = m.book();
  ASSERT_TRUE(book.open(0).ok);
  const Report& r = book.report();
  ASSERT_EQ(r.rows.size(), 4u);
  EXPECT_NEAR(*r.rows[0].change, 100.0 * 10 / 110, 1e-9);
  EXPECT_EQ(r.rows[1].code, "9999");  // no series file: the row stays, values empty
  EXPECT_FALSE(r.rows[1].valuation.has_value());
  EXPECT_EQ(r.rows[2].name, "トヨタ自動車");
  EXPECT_DOUBLE_EQ(*r.rows[2].current, 2100);
  EXPECT_EQ(r.totals.count, 4);
  const TotalsView v = format_totals(r.totals);  // zero shares and no data add nothing
  EXPECT_EQ(v.cells[0].text + " " + v.cells[1].text + " " + v.cells[2].text + " " + v.cells[3].text,
            "221,000 211,100 -9,900 -4.5");
  EXPECT_EQ(v.cells[1].tone, Tone::kRed);
  EXPECT_EQ(v.cells[3].tone, Tone::kBlue);
  const TotalsView none = format_totals(compute_totals({}));
  EXPECT_EQ(none.cells[3].text, "0.0");
  EXPECT_EQ(none.cells[3].tone, Tone::kRed);  // zero is not negative
}

TEST(Book, AddCorrectDeleteWriteTheFileAtOnce) {
  Market m;
  test::write_stock(m.db, "7203", "トヨタ", {2000, 2000, 2000, 2000, 2000});
  Book book = m.book();
  ASSERT_TRUE(book.open(4).ok);
  ASSERT_TRUE(book.add({"1301", "20240105", "1,000", "100"}).ok);
  ASSERT_TRUE(book.add({"7203", "20240108", "100", "1,950.5"}).ok);
  EXPECT_EQ(book.last_added(), 1);
  EXPECT_EQ(file_bytes(m.ptf(4)),
            ",,,,,2\r\n1301,100,1000,20240105,,-\r\n7203,1950.5,100,20240108,,-\r\n");
  ASSERT_TRUE(book.correct(0, {"1301", "20240104", "500", "90"}).ok);
  ASSERT_TRUE(book.remove(1).ok);
  EXPECT_EQ(file_bytes(m.ptf(4)), ",,,,,1\r\n1301,90,500,20240104,,-\r\n");
  EXPECT_DOUBLE_EQ(book.report().totals.purchase, 45000);
}

TEST(Book, InvalidCodesLeaveTheFileUntouched) {
  Market m;
  ASSERT_TRUE(save_holdings(m.ptf(0), {holding("1301", "100", "10")}));
  const std::string before = file_bytes(m.ptf(0));
  Book book = m.book();
  ASSERT_TRUE(book.open(0).ok);
  for (const char* code : {"", "130", "13011", "0000", "9999", "../1", "１３０", "１３０１０"}) {
    SCOPED_TRACE(code);
    const Outcome add = book.add({code, "20240105", "1", "1"});
    EXPECT_FALSE(add.ok);
    EXPECT_TRUE(add.error);
    EXPECT_EQ(add.message, kMsgBadCode);
    EXPECT_EQ(book.correct(0, {code, "20240105", "1", "1"}).message, kMsgBadCode);
    EXPECT_EQ(file_bytes(m.ptf(0)), before);
  }
  // Typed with an input method: full-width digits and blanks read as the formulas read them.
  ASSERT_TRUE(book.add({"　１３０１　", "20240105", "１００", "１，０００"}).ok);
  EXPECT_EQ(book.holdings().back(), (Holding{"1301", "1000", "100", "20240105", "", ""}));
}

TEST(Book, TheTwoHundredFirstHoldingIsRefused) {
  Market m;
  ASSERT_TRUE(
      save_holdings(m.ptf(0), std::vector<Holding>(kMaxHoldings, holding("1301", "1", "1"))));
  const std::string before = file_bytes(m.ptf(0));
  Book book = m.book();
  ASSERT_TRUE(book.open(0).ok);
  const Outcome o = book.add({"1301", "20240105", "1", "1"});
  EXPECT_FALSE(o.ok);
  EXPECT_NE(o.message.find("200"), std::string::npos);
  EXPECT_EQ(file_bytes(m.ptf(0)), before);
}

TEST(Book, SortingTheSameColumnAgainReversesAndIsSaved) {
  Market m;
  ASSERT_TRUE(save_holdings(m.ptf(0), {holding("1301", "300", "1"), holding("1301", "100", "2"),
                                       holding("1301", "200", "3"), holding("1301", "100", "4")}));
  Book book = m.book();
  ASSERT_TRUE(book.open(0).ok);
  auto saved = [&] {
    std::string s;
    for (const auto& h : load_holdings(m.ptf(0)).holdings) s += h.price + "/" + h.shares + " ";
    return s;
  };
  ASSERT_TRUE(book.sort_by(5).ok);  // purchase price; equal keys keep their order
  EXPECT_EQ(saved(), "100/2 100/4 200/3 300/1 ");
  ASSERT_TRUE(book.sort_by(5).ok);
  EXPECT_EQ(saved(), "300/1 200/3 100/2 100/4 ");
  ASSERT_TRUE(book.sort_by(4).ok);  // another column keeps the direction
  EXPECT_EQ(saved(), "100/4 200/3 100/2 300/1 ");
  EXPECT_DOUBLE_EQ(*book.report().rows[0].shares, 4);
}

}  // namespace
}  // namespace lp::portfolio
