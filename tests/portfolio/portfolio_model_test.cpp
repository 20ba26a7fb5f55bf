#include "portfolio/portfolio_model.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/csv.h"
#include "support/fixtures.h"

namespace lp::portfolio {
namespace {

namespace fs = std::filesystem;
using test::Day;

std::string file_bytes(const std::string& path) {
  std::string b;
  read_file_bytes(path, b);
  return b;
}

// A database with the reference code trading on five days of January 2024 and a few stocks.
struct Market {
  test::TempDir dir;
  std::string db = dir.str() + "/db/";
  std::string user = dir.str() + "/user/";

  Market() {
    fs::create_directories(user);
    const std::vector<std::string> days = {"20240104", "20240105", "20240108", "20240109",
                                           "20240110"};
    std::vector<Day> ref;
    for (const auto& d : days) ref.push_back({d, 100, 100, 100, 100, 1000});
    test::write_series_file(db, 2024, "1001", "基準", ref);
  }
  // Closes oldest first on the five market days; 0 leaves the day out (no trading).
  void stock(const std::string& code, const std::string& name, std::vector<double> closes) {
    const std::vector<std::string> days = {"20240104", "20240105", "20240108", "20240109",
                                           "20240110"};
    std::vector<Day> v;
    for (std::size_t i = 0; i < closes.size(); ++i) {
      if (closes[i] > 0) v.push_back({days[i], closes[i], closes[i], closes[i], closes[i], 500});
    }
    test::write_series_file(db, 2024, code, name, v);
  }
  SeriesSource source() const { return SeriesSource(db, "1001"); }
  Book book() const {
    return Book(source(), user, [] { return std::string("20240110"); });
  }
};

Holding holding(std::string code, std::string price, std::string shares,
                std::string date = "20240105") {
  return Holding{std::move(code), std::move(price), std::move(shares), std::move(date), "", ""};
}

TEST(HoldingsFile, NewFileIsTheHeaderOnly) {
  test::TempDir dir;
  const std::string path = holdings_path(dir.str() + "/", 3);
  EXPECT_EQ(holdings_file_name(3), "ptf3.csv");
  LoadResult r = load_holdings(path);
  EXPECT_EQ(r.status, LoadStatus::kCreated);
  EXPECT_TRUE(r.holdings.empty());
  EXPECT_EQ(file_bytes(path), ",,,,,0\r\n");
  // A second load reads the created file as an ordinary empty list.
  EXPECT_EQ(load_holdings(path).status, LoadStatus::kLoaded);
}

TEST(HoldingsFile, RecordsAreWrittenInTheirExactFormAndReadBack) {
  test::TempDir dir;
  const std::string path = dir.file("ptf0.csv");
  std::vector<Holding> hs = {holding("1301", "512.5", "100", "20240105"),
                             holding("7203", "2000", "0", "20231222")};
  hs[1].sequence = "9";  // a non-empty sixth field is written as is
  ASSERT_TRUE(save_holdings(path, hs));
  EXPECT_EQ(file_bytes(path),
            ",,,,,2\r\n1301,512.5,100,20240105,,-\r\n7203,2000,0,20231222,,9\r\n");
  // No temporary file is left next to it.
  int files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 1);

  LoadResult r = load_holdings(path);
  ASSERT_EQ(r.status, LoadStatus::kLoaded);
  ASSERT_EQ(r.holdings.size(), 2u);
  EXPECT_EQ(r.holdings[0].code, "1301");
  EXPECT_EQ(r.holdings[0].price, "512.5");
  EXPECT_EQ(r.holdings[0].sequence, "");  // "-" means empty
  EXPECT_EQ(r.holdings[1].date, "20231222");
}

TEST(HoldingsFile, FilesNotInOurFormAreNeverRewritten) {
  struct Case {
    const char* what;
    std::string bytes;
    LoadStatus want;
  } cases[] = {
      {"blank lines and spaces around fields", " , ,,,, 1 \r\n 1301 , 500 ,100,20240105,,-\r\n\r\n",
       LoadStatus::kLoaded},
      {"an empty file holds nothing to lose", "", LoadStatus::kLoaded},
      {"count larger than the records", ",,,,,3\r\n1301,500,100,20240105,,-\r\n",
       LoadStatus::kDamaged},
      {"records beyond the count", ",,,,,1\r\n1301,500,100,20240105,,-\r\n7203,1,1,1,,-\r\n",
       LoadStatus::kDamaged},
      {"no header", "1301,500,100,20240105,,-\r\n", LoadStatus::kDamaged},
      {"some other file", "code,name,price\r\n1301,極洋,500\r\n", LoadStatus::kDamaged},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Market m;
    m.stock("1301", "極洋", {100, 100, 100, 100, 100});
    const std::string path = holdings_path(m.user, 0);
    test::write_bytes(path, c.bytes);
    EXPECT_EQ(load_holdings(path).status, c.want);
    Book book = m.book();
    const bool opened = book.open(0).ok;
    EXPECT_EQ(opened, c.want == LoadStatus::kLoaded);
    Outcome o = book.add({"1301", "20240110", "100", "100"});
    if (c.want == LoadStatus::kDamaged) {
      EXPECT_FALSE(o.ok);
      EXPECT_TRUE(o.error);
      EXPECT_FALSE(o.message.empty());
      EXPECT_FALSE(book.remove(0).ok);
      EXPECT_FALSE(book.sort_by(1).ok);
      EXPECT_EQ(file_bytes(path), c.bytes);
    } else {
      EXPECT_TRUE(o.ok) << o.message;
    }
  }
}

TEST(HoldingsFile, FieldsThatWouldBreakTheLayoutAreCleaned) {
  Holding h = holding_from_entries({" 1301 ", "2024,01\"05", " 1,000 ", "512.5"});
  EXPECT_EQ(h.code, "1301");
  EXPECT_EQ(h.date, "20240105");
  EXPECT_EQ(h.shares, "1000");
  EXPECT_EQ(h.price, "512.5");
}

TEST(Entries, PricesAndSharesBecomeFixedPointTextAndShowBack) {
  struct Case {
    const char* entry;
    const char* stored;
    const char* shown;
  } cases[] = {
      {"1,234", "1234", "1,234"},       {"", "0", "0"},    {"1234.5", "1234.5", "1,234.5"},
      {"0.123456", "0.1235", "0.1235"}, {"abc", "0", "0"}, {"1000000", "1000000", "1,000,000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry);
    EXPECT_EQ(currency_text(c.entry), c.stored);
    EXPECT_EQ(entry_text(c.stored), c.shown);
  }
}

// Series as the loader returns them: record 0 header, records newest first.
Series series_of(std::vector<std::string> closes_newest_first) {
  Series s(1);
  s[0] = {"1301", "desc", "極洋", "", "", std::to_string(closes_newest_first.size())};
  int day = 20;
  for (const auto& c : closes_newest_first) {
    s.push_back({"202401" + std::to_string(day--), c, c, c, c, c.empty() ? "0" : "100"});
  }
  return s;
}

TEST(Valuation, EmptyValueRules) {
  struct Case {
    const char* what;
    Holding h;
    Series s;
    bool loaded;
    std::optional<double> current, difference, amount, valuation, profit, ratio, change;
  } cases[] = {
      {"all positive", holding("1301", "100", "10"), series_of({"110", "100"}), true, 110, 10, 1000,
       1100, 100, 10, 100.0 * 10 / 110},
      {"zero shares",
       holding("1301", "100", "0"),
       series_of({"110", "100"}),
       true,
       110,
       10,
       {},
       {},
       {},
       10,
       100.0 * 10 / 110},
      {"no purchase price",
       holding("1301", "0", "10"),
       series_of({"110", "100"}),
       true,
       110,
       {},
       {},
       1100,
       1100,
       {},
       100.0 * 10 / 110},
      {"previous day without trading",
       holding("1301", "100", "10"),
       series_of({"90", ""}),
       true,
       90,
       -10,
       1000,
       900,
       -100,
       -10,
       {}},
      {"latest day without trading uses the last traded close", holding("1301", "100", "10"),
       series_of({"", "120", "100"}), true, 120, 20, 1000, 1200, 200, 20, 100.0 * 20 / 120},
      {"series not loaded",
       holding("1301", "100", "10"),
       Series{},
       false,
       {},
       {},
       {},
       {},
       {},
       {},
       {}},
      {"no positive close at all",
       holding("1301", "100", "10"),
       series_of({"", "0"}),
       true,
       {},
       {},
       {},
       {},
       {},
       {},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ReportRow r = value_holding(c.h, c.s, c.loaded);
    EXPECT_EQ(r.code, "1301");
    EXPECT_EQ(r.date, "20240105");
    EXPECT_EQ(r.priced, c.current.has_value());
    auto near = [](const std::optional<double>& got, const std::optional<double>& want,
                   const char* field) {
      ASSERT_EQ(got.has_value(), want.has_value()) << field;
      if (want) {
        EXPECT_NEAR(*got, *want, 1e-9) << field;
      }
    };
    near(r.current, c.current, "current");
    near(r.difference, c.difference, "difference");
    near(r.amount, c.amount, "amount");
    near(r.valuation, c.valuation, "valuation");
    near(r.profit, c.profit, "profit");
    near(r.ratio, c.ratio, "ratio");
    near(r.change, c.change, "change");
  }
}

TEST(Valuation, PreviousDayChangeDividesByTheLatestClose) {
  ReportRow r = value_holding(holding("1301", "100", "10"), series_of({"110", "100"}), true);
  GridRow cells = format_row(r, 0);
  EXPECT_EQ(cells[12].text, "9.1");  // 10 / 110, not 10 / 100
  EXPECT_EQ(r.name, "極洋");
  EXPECT_EQ(r.descriptive, "desc");
}

TEST(Valuation, TotalsLeaveOutEmptyValues) {
  std::vector<ReportRow> rows = {
      value_holding(holding("1301", "100", "10"), series_of({"110", "100"}), true),  // +100
      value_holding(holding("1302", "200", "0"), series_of({"150", "100"}), true),   // no shares
      value_holding(holding("1303", "50", "20"), series_of({"40", "40"}), true),     // -200
      value_holding(holding("1304", "50", "20"), Series{}, false),                   // no data
  };
  Totals t = compute_totals(rows);
  EXPECT_EQ(t.count, 4);
  EXPECT_DOUBLE_EQ(t.purchase, 1000 + 1000);
  EXPECT_DOUBLE_EQ(t.valuation, 1100 + 800);
  EXPECT_DOUBLE_EQ(t.profit, -100);
  EXPECT_DOUBLE_EQ(t.ratio, -5);
  TotalsView v = format_totals(t);
  EXPECT_EQ(v.cells[0].text, "2,000");
  EXPECT_EQ(v.cells[2].text, "-100");
  EXPECT_EQ(v.cells[3].text, "-5.0");
  EXPECT_EQ(v.cells[0].tone, Tone::kRed);
  EXPECT_EQ(v.cells[2].tone, Tone::kBlue);

  Totals none = compute_totals({value_holding(holding("1", "0", "5"), Series{}, false)});
  EXPECT_DOUBLE_EQ(none.ratio, 0);
  EXPECT_EQ(format_totals(none).cells[3].text, "0.0");
  EXPECT_EQ(format_totals(none).cells[3].tone, Tone::kRed);  // zero counts as not negative
}

TEST(Grid, CellsFormatsAndColours) {
  struct Case {
    const char* what;
    Holding h;
    Series s;
    bool loaded;
    std::array<const char*, kColumns> texts;
    Tone row_tone, change_tone;
  } cases[] = {
      {"rise",
       holding("1301", "1000", "1500"),
       series_of({"1234.5", "1300"}),
       true,
       {"8", "1301", "極洋", "20240105", "1,500", "1,000", "1,234.5", "234.5", "1,500,000",
        "1,851,750", "351,750", "23.5", "-5.3"},
       Tone::kRed,
       Tone::kBlue},
      {"fall",
       holding("1301", "120", "10"),
       series_of({"110", "100"}),
       true,
       {"8", "1301", "極洋", "20240105", "10", "120", "110", "-10", "1,200", "1,100", "-100",
        "-8.3", "9.1"},
       Tone::kBlue,
       Tone::kRed},
      {"unchanged",
       holding("1301", "110", "10"),
       series_of({"110", "110"}),
       true,
       {"8", "1301", "極洋", "20240105", "10", "110", "110", "0", "1,100", "1,100", "0", "0.0",
        "0.0"},
       Tone::kGreen,
       Tone::kGreen},
      {"no data",
       holding("1301", "110", "10"),
       Series{},
       false,
       {"8", "1301", "", "20240105", "10", "110", "-", "-", "-", "-", "-", "-", "-"},
       Tone::kDarkGreen,
       Tone::kDarkGreen},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    GridRow cells = format_row(value_holding(c.h, c.s, c.loaded), 7);
    for (int col = 0; col < kColumns; ++col) {
      EXPECT_EQ(cells[static_cast<std::size_t>(col)].text, c.texts[static_cast<std::size_t>(col)])
          << "column " << col;
    }
    for (int col = 0; col < 12; ++col) {
      EXPECT_EQ(cells[static_cast<std::size_t>(col)].tone, c.row_tone) << "column " << col;
    }
    EXPECT_EQ(cells[12].tone, c.change_tone);
  }
  EXPECT_EQ(tone_rgb(Tone::kGreen).g, 128);
  EXPECT_EQ(tone_rgb(Tone::kDarkGreen).g, 96);
  EXPECT_EQ(tone_rgb(Tone::kRed).r, 255);
  EXPECT_EQ(tone_rgb(Tone::kBlue).b, 255);
}

TEST(Grid, NameIsCutToEightCharacters) {
  Series s = series_of({"100"});
  s[0].d3 = "サクラ精密工業ホールディングス";
  EXPECT_EQ(format_row(value_holding(holding("1301", "1", "1"), s, true), 0)[2].text,
            "サクラ精密工業ホ");
}

TEST(Grid, PagesHoldTenHoldings) {
  struct Case {
    int holdings, last;
  } cases[] = {{0, 0}, {1, 0}, {10, 0}, {11, 1}, {20, 1}, {21, 2}, {200, 19}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.holdings);
    EXPECT_EQ(last_page(c.holdings), c.last);
    Report report;
    for (int i = 0; i < c.holdings; ++i) {
      report.rows.push_back(value_holding(holding(std::to_string(1000 + i), "1", "1"), {}, false));
    }
    PageView last = fill_page(report, c.last);
    EXPECT_FALSE(last.has_next);
    EXPECT_EQ(last.has_back, c.last > 0);
    const int on_last = c.holdings == 0 ? 0 : c.holdings - c.last * kRowsPerPage;
    ASSERT_EQ(static_cast<int>(last.rows.size()), on_last);
    if (on_last > 0) {
      EXPECT_EQ(last.rows.back()[0].text, std::to_string(c.holdings));
      EXPECT_EQ(last.rows.front()[1].text, std::to_string(1000 + c.last * kRowsPerPage));
    }
    if (c.last > 0) {
      PageView first = fill_page(report, 0);
      EXPECT_EQ(first.rows.size(), 10u);
      EXPECT_TRUE(first.has_next);
      EXPECT_FALSE(first.has_back);
    }
  }
}

TEST(Grid, SortOrderIsStableAndReversible) {
  Report report;
  const double prices[] = {300, 100, 200, 100};
  for (int i = 0; i < 4; ++i) {
    Holding h = holding(std::to_string(1300 + i), std::to_string(prices[i]), "1");
    report.rows.push_back(value_holding(h, {}, false));
  }
  EXPECT_EQ(sort_order(report, 5, false), (std::vector<int>{1, 3, 2, 0}));
  EXPECT_EQ(sort_order(report, 5, true), (std::vector<int>{0, 2, 1, 3}));
  EXPECT_EQ(sort_order(report, 0, true), (std::vector<int>{3, 2, 1, 0}));  // by running number
  // Empty values sort as zero.
  EXPECT_EQ(sort_order(report, 9, false), (std::vector<int>{0, 1, 2, 3}));
}

// ---- the book on real files ----

TEST(Book, ValuesEveryHoldingAndKeepsOnesWithoutData) {
  Market m;
  m.stock("1301", "(株)極洋", {90, 95, 100, 100, 110});
  m.stock("7203", "トヨタ自動車(株)", {2000, 2100, 0, 0, 0});  // stopped trading
  ASSERT_TRUE(save_holdings(
      holdings_path(m.user, 0),
      {holding("1301", "100", "10"), holding("9999", "50", "10"), holding("7203", "2000", "100")}));
  Book book = m.book();
  ASSERT_TRUE(book.open(0).ok);
  const Report& r = book.report();
  ASSERT_EQ(r.rows.size(), 3u);
  EXPECT_EQ(r.rows[0].name, "極洋");
  EXPECT_NEAR(*r.rows[0].change, 100.0 * 10 / 110, 1e-9);
  EXPECT_EQ(r.rows[1].code, "9999");  // no series file: the row stays, values empty
  EXPECT_FALSE(r.rows[1].priced);
  EXPECT_FALSE(r.rows[1].valuation.has_value());
  EXPECT_EQ(r.rows[2].name, "トヨタ自動車");
  EXPECT_DOUBLE_EQ(*r.rows[2].current, 2100);
  EXPECT_DOUBLE_EQ(r.totals.purchase, 1000 + 200000);
  EXPECT_DOUBLE_EQ(r.totals.valuation, 1100 + 210000);
}

TEST(Book, AddCorrectDeleteWriteTheFileAtOnce) {
  Market m;
  m.stock("1301", "極洋", {100, 100, 100, 100, 110});
  m.stock("7203", "トヨタ", {2000, 2000, 2000, 2000, 2000});
  const std::string path = holdings_path(m.user, 4);
  Book book = m.book();
  ASSERT_TRUE(book.open(4).ok);
  EXPECT_EQ(file_bytes(path), ",,,,,0\r\n");

  ASSERT_TRUE(book.add({"1301", "20240105", "1,000", "100"}).ok);
  ASSERT_TRUE(book.add({"7203", "20240108", "100", "1,950.5"}).ok);
  EXPECT_EQ(book.last_added(), 1);
  EXPECT_EQ(file_bytes(path),
            ",,,,,2\r\n1301,100,1000,20240105,,-\r\n7203,1950.5,100,20240108,,-\r\n");
  EXPECT_DOUBLE_EQ(book.report().totals.purchase, 100000 + 195050);

  ASSERT_TRUE(book.correct(0, {"1301", "20240104", "500", "90"}).ok);
  EXPECT_EQ(file_bytes(path),
            ",,,,,2\r\n1301,90,500,20240104,,-\r\n7203,1950.5,100,20240108,,-\r\n");
  ASSERT_TRUE(book.remove(0).ok);
  EXPECT_EQ(file_bytes(path), ",,,,,1\r\n7203,1950.5,100,20240108,,-\r\n");
  EXPECT_EQ(book.count(), 1);
  EXPECT_FALSE(book.remove(5).ok);  // nothing selected there
}

TEST(Book, InvalidCodesLeaveTheFileUntouched) {
  Market m;
  m.stock("1301", "極洋", {100, 100, 100, 100, 100});
  const std::string path = holdings_path(m.user, 0);
  ASSERT_TRUE(save_holdings(path, {holding("1301", "100", "10")}));
  const std::string before = file_bytes(path);
  Book book = m.book();
  ASSERT_TRUE(book.open(0).ok);
  for (const char* code : {"", "130", "13011", "0000", "9999", "abcd", "../1", "１３０１"}) {
    SCOPED_TRACE(code);
    Outcome add = book.add({code, "20240105", "1", "1"});
    EXPECT_FALSE(add.ok);
    EXPECT_TRUE(add.error);
    EXPECT_EQ(add.message, kMsgBadCode);
    Outcome fix = book.correct(0, {code, "20240105", "1", "1"});
    EXPECT_EQ(fix.message, kMsgBadCode);
    EXPECT_EQ(file_bytes(path), before);
  }
  EXPECT_TRUE(code_acceptable(m.db, " 1301 "));
}

TEST(Book, TheTwoHundredFirstHoldingIsRefused) {
  Market m;
  m.stock("1301", "極洋", {100, 100, 100, 100, 100});
  const std::string path = holdings_path(m.user, 0);
  std::vector<Holding> full(kMaxHoldings, holding("1301", "100", "1"));
  ASSERT_TRUE(save_holdings(path, full));
  const std::string before = file_bytes(path);
  Book book = m.book();
  ASSERT_TRUE(book.open(0).ok);
  EXPECT_EQ(book.last_page(), 19);
  Outcome o = book.add({"1301", "20240105", "1", "1"});
  EXPECT_FALSE(o.ok);
  EXPECT_TRUE(o.error);
  EXPECT_NE(o.message.find("200"), std::string::npos);
  EXPECT_EQ(file_bytes(path), before);
  // One fewer and the add goes through.
  ASSERT_TRUE(book.remove(0).ok);
  EXPECT_TRUE(book.add({"1301", "20240105", "1", "1"}).ok);
  EXPECT_EQ(book.count(), kMaxHoldings);
}

TEST(Book, AddStartsFromTheFileNotFromMemory) {
  Market m;
  m.stock("1301", "極洋", {100, 100, 100, 100, 100});
  const std::string path = holdings_path(m.user, 0);
  Book book = m.book();
  ASSERT_TRUE(book.open(0).ok);
  // Another window saved a holding meanwhile.
  ASSERT_TRUE(save_holdings(path, {holding("1301", "1", "1")}));
  ASSERT_TRUE(book.add({"1301", "20240105", "2", "2"}).ok);
  EXPECT_EQ(book.count(), 2);
}

TEST(Book, SortingTheSameColumnAgainReversesAndIsSaved) {
  Market m;
  m.stock("1301", "極洋", {100, 100, 100, 100, 100});
  const std::string path = holdings_path(m.user, 0);
  ASSERT_TRUE(save_holdings(path, {holding("1301", "300", "1"), holding("1301", "100", "1"),
                                   holding("1301", "200", "1")}));
  Book book = m.book();
  ASSERT_TRUE(book.open(0).ok);
  auto prices = [&] {
    std::string s;
    for (const auto& h : load_holdings(path).holdings) s += h.price + " ";
    return s;
  };
  ASSERT_TRUE(book.sort_by(5).ok);
  EXPECT_EQ(prices(), "100 200 300 ");
  EXPECT_EQ(book.report().rows[0].price.value_or(0), 100);
  ASSERT_TRUE(book.sort_by(5).ok);
  EXPECT_EQ(prices(), "300 200 100 ");
  EXPECT_TRUE(book.descending());
  ASSERT_TRUE(book.sort_by(4).ok);  // another column keeps the direction
  EXPECT_TRUE(book.descending());
  EXPECT_EQ(book.sort_column(), 4);
  EXPECT_FALSE(book.sort_by(13).ok);
}

}  // namespace
}  // namespace lp::portfolio
