// The in-memory market must answer every load exactly as the files do: the backtest and the
// as-of screens rely on it giving the same picks as a screen over the files.
#include "pricedb/market_store.h"

#include <gtest/gtest.h>

#include <ctime>
#include <thread>

#include "common/csv.h"
#include "common/numbers.h"
#include "pricedb/series.h"
#include "sample-market/sample_market.h"
#include "support/fixtures.h"

namespace lp {
namespace {

struct SampleDb {
  test::TempDir dir;
  sample::Summary summary;
  std::string error;
  std::string db = dir.file("db") + "/";
  bool ok = [this] {
    sample::Options o;
    o.codes = 120;
    o.years = 3;
    o.end_date = "20250613";
    o.seed = 11;
    o.db_folder = db;
    return sample::generate(o, error, summary);
  }();
};

const SampleDb& sample_db() {
  static SampleDb m;
  return m;
}

std::string series_text(const Series& s, int status) {
  std::string out = std::to_string(status) + "\n";
  if (status != 0) return out;
  const int n = series_count(s);
  for (int i = 0; i <= n; ++i) {
    const SeriesRecord& r = s[static_cast<std::size_t>(i)];
    out +=
        r.d1_code_yyyymmdd + "|" + r.d2 + "|" + r.d3 + "|" + r.d4 + "|" + r.d5 + "|" + r.d6 + "\n";
  }
  return out;
}

// Numbers printed with every digit, so that any difference in the last bit shows; close and
// volume only when the prices were not wanted.
std::string numbers_text(const SeriesNumbers& s, int status, bool want_prices = true) {
  std::string out = std::to_string(status) + "\n";
  if (status != 0) return out;
  out += s.code + "\n";
  char buf[160];
  for (int i = 1; i <= s.count; ++i) {
    const auto k = static_cast<std::size_t>(i);
    if (want_prices) {
      std::snprintf(buf, sizeof buf, "%.17g|%.17g|%.17g|%.17g|%.17g\n", s.open[k], s.high[k],
                    s.low[k], s.close[k], s.volume[k]);
    } else {
      std::snprintf(buf, sizeof buf, "%.17g|%.17g\n", s.close[k], s.volume[k]);
    }
    out += buf;
  }
  return out;
}

// The numbers the criteria read from the store are what they would read from the files' text.
std::string numbers_of_text(const Series& s, int status, bool want_prices = true) {
  SeriesNumbers n;
  if (status == 0) series_numbers(s, n);
  return numbers_text(n, status, want_prices);
}

// Every code of the sample (listings, delistings, illiquid stocks, splits), several end dates
// (a year's first and last days, a holiday, before the data, after it) and periods, with and
// without adjustment, with and without an as-of day: the store gives the file loaders' text.
TEST(MarketStore, AnswersEveryLoadExactlyAsTheFiles) {
  const SampleDb& m = sample_db();
  ASSERT_TRUE(m.ok) << m.error;
  ASSERT_FALSE(m.summary.split.empty());
  std::string error;
  auto store = MarketStore::load(m.db, "1001", error);
  ASSERT_TRUE(store) << error;
  // The stocks' files are of the plain kind, so their numbers come from the store itself (the
  // reference index has decimal prices and goes through the text).
  for (const std::string& code : m.summary.codes) {
    if (code == "1001") continue;
    for (const StoredYear& y : store->stock(code)->years) ASSERT_TRUE(y.numeric()) << code;
  }

  struct Case {
    std::string end, as_of;
    int days;
  };
  const std::vector<Case> cases = {
      {"20250613", "", 260}, {"20250613", "", 5},           {"20240105", "", 26},
      {"20231229", "", 700}, {"20240101", "", 60},          {"20221231", "", 10},
      {"20991231", "", 1},   {"20250613", "20240610", 120}, {"20240610", "20240301", 30},
      {"20250101", "", 400},
  };
  std::vector<std::string> codes = m.summary.codes;
  codes.push_back("0999");  // a code without files
  int compared = 0, loaded = 0;
  for (const Case& c : cases) {
    SeriesSource files(m.db, "1001");
    SeriesSource held(m.db, "1001");
    held.store = store;
    files.as_of = held.as_of = c.as_of;
    TradingCalendar cal_f, cal_h;
    ASSERT_EQ(build_trading_calendar(files, cal_f, c.end, c.days + 40),
              build_trading_calendar(held, cal_h, c.end, c.days + 40));
    ASSERT_EQ(cal_f.dates, cal_h.dates) << c.end;
    for (const std::string& code : codes) {
      for (bool adjust : {true, false}) {
        for (int lowest : {kLowestYear, 2024}) {
          Series a, b;
          const int sa = load_series_cal(files, c.end, c.days, code, cal_f, a, adjust, lowest);
          const int sb = load_series_cal(held, c.end, c.days, code, cal_h, b, adjust, lowest);
          ASSERT_EQ(series_text(a, sa), series_text(b, sb))
              << code << " end " << c.end << " as of " << c.as_of << " days " << c.days
              << " adjust " << adjust << " lowest " << lowest;
          for (bool want_prices : {true, false}) {
            SeriesNumbers nums;
            nums.want_prices = want_prices;
            Series scratch;
            const int sn = load_series_numbers(held, c.end, c.days, code, cal_h, nums, adjust,
                                               scratch, lowest);
            ASSERT_EQ(numbers_of_text(a, sa, want_prices), numbers_text(nums, sn, want_prices))
                << code << " end " << c.end << " as of " << c.as_of << " days " << c.days
                << " adjust " << adjust << " lowest " << lowest << " prices " << want_prices;
            const int sf = load_series_numbers(files, c.end, c.days, code, cal_f, nums, adjust,
                                               scratch, lowest);
            ASSERT_EQ(numbers_of_text(a, sa, want_prices), numbers_text(nums, sf, want_prices))
                << "files " << code << " end " << c.end << " as of " << c.as_of;
          }
          ++compared;
          if (sa == 0) ++loaded;
        }
      }
    }
  }
  EXPECT_GT(loaded, compared / 2);  // the comparison is about real series, not failures
}

// Open, high and low are turned into numbers on a year's first use; threads sharing a fresh
// store must all see them whole, whichever thread builds them.
TEST(MarketStore, PricesBuiltOnFirstUseAreWholeForEveryThread) {
  const SampleDb& m = sample_db();
  ASSERT_TRUE(m.ok) << m.error;
  std::string error;
  auto store = MarketStore::load(m.db, "1001", error);
  ASSERT_TRUE(store) << error;
  SeriesSource files(m.db, "1001");
  SeriesSource held(m.db, "1001");
  held.store = store;
  const std::string end = "20250613";
  const int days = 500;  // reaches into every year held
  TradingCalendar cal_f, cal_h;
  ASSERT_EQ(build_trading_calendar(files, cal_f, end, days + 40), 0);
  ASSERT_EQ(build_trading_calendar(held, cal_h, end, days + 40), 0);
  std::vector<std::string> expected;
  for (const std::string& code : m.summary.codes) {
    Series a;
    const int sa = load_series_cal(files, end, days, code, cal_f, a, true);
    expected.push_back(numbers_of_text(a, sa));
  }
  constexpr int kThreads = 4;
  std::vector<std::vector<std::string>> got(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (const std::string& code : m.summary.codes) {
        SeriesNumbers nums;
        nums.want_prices = true;
        Series scratch;
        const int sn = load_series_numbers(held, end, days, code, cal_h, nums, true, scratch);
        got[static_cast<std::size_t>(t)].push_back(numbers_text(nums, sn));
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(got[static_cast<std::size_t>(t)].size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
      ASSERT_EQ(got[static_cast<std::size_t>(t)][i], expected[i]) << m.summary.codes[i] << " " << t;
  }
}

TEST(MarketStore, GivesTheDayFilesAndTradingDatesOfTheDatabase) {
  const SampleDb& m = sample_db();
  ASSERT_TRUE(m.ok) << m.error;
  std::string error;
  auto store = MarketStore::load(m.db, "1001", error);
  ASSERT_TRUE(store) << error;
  ASSERT_EQ(static_cast<int>(store->trading_dates().size()), m.summary.trading_days);
  for (const std::string& date :
       {store->trading_dates().front(), std::string("20240611"), store->trading_dates().back()}) {
    DayFile from_file, from_store;
    ASSERT_TRUE(read_day_file(day_file_path(m.db, date), from_file));
    ASSERT_TRUE(store->day_file(date, from_store));
    ASSERT_EQ(from_file.rows.size(), from_store.rows.size());
    for (std::size_t i = 0; i < from_file.rows.size(); ++i) {
      const PriceRecord& a = from_file.rows[i];
      const PriceRecord& b = from_store.rows[i];
      ASSERT_EQ(std::tie(a.code, a.market, a.name, a.open, a.high, a.low, a.close, a.volume),
                std::tie(b.code, b.market, b.name, b.open, b.high, b.low, b.close, b.volume));
    }
  }
  DayFile none;
  EXPECT_FALSE(store->day_file("20240608", none));  // a Saturday
}

// Hand-written files the sample never produces: quoted fields, blanks, dates out of order,
// a header announcing more lines than present. The store must not take a short cut there.
TEST(MarketStore, MatchesTheLoaderOnUnusualFiles) {
  test::TempDir dir;
  const std::string db = dir.file("db") + "/";
  const std::string ref =
      "1001,x,基準,0,20240110,5\r\n20240104,1,1,1,1,1\r\n20240105,1,1,1,1,1\r\n"
      "20240108,1,1,1,1,1\r\n20240109,1,1,1,1,1\r\n20240110,1,1,1,1,1\r\n";
  test::write_cp932(series_file_path(db, 2024, "1001"), ref);
  struct File {
    std::string code, text;
  };
  const std::vector<File> files = {
      {"2001",
       "2001,x,\"(株)引用\",0,20240110,3\r\n20240105, 10 ,\"11\",9,10,5\r\n"
       "20240109,10,11,9,12.50,5\r\n20240110,10,11,9,13,5\r\n"},
      {"2002",
       "2002,x,逆順,0,20240110,3\r\n20240110,5,5,5,5,5\r\n20240105,6,6,6,6,6\r\n"
       "20240108,7,7,7,7,7\r\n"},
      {"2003", "2003,x,短い,0,20240110,9\r\n20240108,5,5,5,5,5\r\n20240110,6,6,6,6"},
      {"2004", "2004,x,日付,0,20240110,2\r\n2024010x,5,5,5,5,5\r\n20240110,6,6,6,6,6 \r\n"},
      {"2005", "2005,x,改行,0,20240110,2\n20240109,05,5,5,5,5\n20240110,6,6,6,6,6"},
      {"2006", "2006,x,余分,0,20240110,2,extra\r\n20240109,5,5,5,5,5\r\n20240110,6,6,6,6,6\r\n"},
      {"2007", "2007,x,空行,0,20240110,3\r\n\r\n20240109,5,5,5,5,5\r\n20240110,6,6,6,6,6,7\r\n"},
      // Plain files: a gap day, a split of 1 to 3 (prices that do not divide evenly), and two
      // corrections between the same two days.
      {"2008",
       "2008,x,三分割,0,20240110,3\r\n20240104,100,101,99,100,7\r\n"
       "20240108,35,36,34,35,9\r\n20240110,34,35,33,34,8\r\n"},
      {"2009",
       "2009,x,二回,0,20240110,3\r\n20240104,400,400,400,400,1\r\n"
       "20240105,401,401,401,401,1\r\n20240110,100,100,100,100,1\r\n"},
  };
  for (const File& f : files) test::write_cp932(series_file_path(db, 2024, f.code), f.text);
  test::write_cp932(correction_file_path(db, 2024, "2001"),
                    "2001,x,2\r\n20240109,1,2\r\n20240110,0,3\r\n");
  test::write_cp932(correction_file_path(db, 2024, "2008"), "2008,x,1\r\n20240105,1,3\r\n");
  test::write_cp932(correction_file_path(db, 2024, "2009"),
                    "2009,x,2\r\n20240108,1,2\r\n20240109,1,2\r\n");
  std::string error;
  auto store = MarketStore::load(db, "1001", error);
  ASSERT_TRUE(store) << error;
  SeriesSource a(db, "1001"), b(db, "1001");
  b.store = store;
  TradingCalendar cal;
  ASSERT_EQ(build_trading_calendar(a, cal, "20240110", 10), 0);
  for (const File& f : files) {
    for (const std::string end : {"20240110", "20240108"}) {
      for (bool adjust : {true, false}) {
        Series x, y;
        const int sx = load_series_cal(a, end, 5, f.code, cal, x, adjust);
        const int sy = load_series_cal(b, end, 5, f.code, cal, y, adjust);
        EXPECT_EQ(series_text(x, sx), series_text(y, sy)) << f.code << " " << end;
        for (bool want_prices : {true, false}) {
          SeriesNumbers nums;
          nums.want_prices = want_prices;
          Series scratch;
          const int sn = load_series_numbers(b, end, 5, f.code, cal, nums, adjust, scratch);
          EXPECT_EQ(numbers_of_text(x, sx, want_prices), numbers_text(nums, sn, want_prices))
              << f.code << " " << end;
        }
      }
    }
  }
}

// As of a day, a correction dated later must not rescale the prices of that day.
TEST(MarketStore, AsOfIgnoresLaterCorrections) {
  test::TempDir dir;
  const std::string db = dir.file("db") + "/";
  std::vector<test::Day> ref, stock;
  for (const char* d : {"20240104", "20240105", "20240108", "20240109"}) {
    ref.push_back({d, 1, 1, 1, 1, 1});
    stock.push_back({d, 100, 100, 100, 100, 10});
  }
  test::write_series_file(db, 2024, "1001", "基準", ref);
  test::write_series_file(db, 2024, "2001", "分割", stock);
  test::write_correction_file(db, 2024, "2001", {{"20240109", 1, 2}});
  std::string error;
  auto store = MarketStore::load(db, "1001", error);
  ASSERT_TRUE(store);
  for (bool in_memory : {false, true}) {
    SeriesSource src(db, "1001");
    if (in_memory) src.store = store;
    TradingCalendar cal;
    build_trading_calendar(src, cal, "20240108", 10);
    Series s;
    ASSERT_EQ(load_series_cal(src, "20240108", 3, "2001", cal, s, true), 0);
    EXPECT_EQ(s[1].d5, "50") << "without an as-of day the later split applies";
    src.as_of = "20240108";
    build_trading_calendar(src, cal, "20240109", 10);
    ASSERT_EQ(cal.at(1), "20240108");
    ASSERT_EQ(load_series_cal(src, "20240109", 3, "2001", cal, s, true), 0);
    EXPECT_EQ(s[1].d1_code_yyyymmdd, "20240108");
    EXPECT_EQ(s[1].d5, "100") << "as of the 8th the split of the 9th is not known";
  }
}

}  // namespace
}  // namespace lp

namespace lp {
namespace {

// The day tables of a backtest come one day after another from the same store: a stock
// renamed between two days, or a code that is not four digits, must show each day's own names.
TEST(MarketStore, DayFilesShowEachDaysOwnNames) {
  test::TempDir dir;
  const std::string db = dir.file("db") + "/";
  test::write_series_file(db, 2024, "1001", "基準", {{"20240104", 1, 1, 1, 1, 1}});
  struct File {
    std::string date, text;
  };
  const std::vector<File> files = {
      {"20240104",
       "20240104,3,,,,,,\r\n1301,東証Ｐ,旧名,1,1,1,1,1\r\n130A,東証Ｓ,英字,1,1,1,1,1\r\n"
       "2001,東証Ｓ,残る,1,1,1,1,1\r\n"},
      {"20240105",
       "20240105,3,,,,,,\r\n1301,東証Ｓ,(株)新名,1,1,1,1,1\r\n130A,東証Ｐ,英字二,1,1,1,1,1\r\n"
       "2001,東証Ｓ,残る,1,1,1,1,1\r\n"},
  };
  for (const File& f : files) test::write_cp932(day_file_path(db, f.date), f.text);
  std::string error;
  auto store = MarketStore::load(db, "1001", error);
  ASSERT_TRUE(store) << error;
  for (const char* date : {"20240104", "20240105", "20240104", "20240105"}) {
    DayFile from_file, from_store;
    ASSERT_TRUE(read_day_file(day_file_path(db, date), from_file));
    ASSERT_TRUE(store->day_file(date, from_store));
    ASSERT_EQ(from_file.rows.size(), 3u);
    ASSERT_EQ(from_store.rows.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(from_store.rows[i].name, from_file.rows[i].name) << date << " " << i;
      EXPECT_EQ(from_store.rows[i].market, from_file.rows[i].market) << date << " " << i;
    }
  }
}

}  // namespace
}  // namespace lp

namespace lp {
namespace {

// A day line of the usual shape for day k of a file.
std::string plain_line(int k, std::string_view end = "\r\n") {
  char buf[96];
  std::snprintf(buf, sizeof buf, "202401%02d,%d,%d,%d,%d,%d", k + 1, 1000 + k, 1010 + k, 990 + k,
                1005 + k, 12000 + 37 * k);
  return std::string(buf) + std::string(end);
}

// The index must cut every day line exactly where the field reader does, whichever way a line
// is read (a word at a time in the body of the file, byte by byte near its end): a line of
// another shape anywhere makes the whole file go through the field reader, and the header's
// count bounds the lines.
TEST(MarketStore, IndexCutsEveryLineAsTheFieldReader) {
  struct Case {
    const char* name;
    std::string special;      // one line put among plain ones ("" none)
    bool plain;               // every line six bare fields: indexed without the field reader
    int count_delta = 0;      // added to the header's count of lines
    bool shifts = false;      // moves the field reader's later days off the lines
    bool cut_at_end = false;  // as the last line, without its line end, a day short of a field
  };
  const std::vector<Case> cases = {
      {"plain", "", true},
      {"LF only", "20240120,5,6,4,5,77\n", true},
      {"long volume", "20240120,5,6,4,5,1234567890123456\r\n", true},
      {"17-digit volume", "20240120,5,6,4,5,12345678901234567\r\n", true},
      {"leading zero price", "20240120,05,6,4,5,77\r\n", true},
      {"decimal price", "20240120,5,6,4,12.50,77\r\n", true},
      {"unknown volume", "20240120,5,6,4,5,0.1\r\n", true},
      {"empty field", "20240120,5,,4,5,77\r\n", true},
      {"empty volume", "20240120,5,6,4,5,\r\n", true, 0, false, true},
      {"quoted", "20240120,\"5\",6,4,5,77\r\n", false, 0, true},
      {"blank", "20240120, 5,6,4,5,77\r\n", false},
      {"seven fields", "20240120,5,6,4,5,77,9\r\n", false, 0, true},
      {"five fields", "20240120,5,6,4,5\r\n", false, 0, true},
      {"short date", "2024012,5,6,4,5,77\r\n", true},
      {"date going back", "20240101,5,6,4,5,77\r\n", true},
      {"CR inside", "20240120,5,6\r,4,5,77\r\n", false, 0, true},
      {"empty line", "\r\n", false, 0, true},
      {"line of 70 bytes", "20240120,123456789012345,123456789012345,123456789012345,1,2\r\n",
       true},
      {"count below the lines", "", true, -3},
      {"count above the lines", "", true, 4},
  };
  for (const Case& c : cases) {
    for (std::size_t at : {std::size_t{1}, std::size_t{9}, std::size_t{12}}) {
      std::vector<std::string> lines;
      for (int k = 0; k < 12; ++k) lines.push_back(plain_line(k));
      if (!c.special.empty()) lines.insert(lines.begin() + static_cast<long>(at), c.special);
      const int count = static_cast<int>(lines.size()) + c.count_delta;
      std::string text = "1301,d,n,20240101,20240112," + std::to_string(count) + "\r\n";
      for (const std::string& l : lines) text += l;
      if (at == 12) {  // the last line without its line end
        while (text.back() == '\n' || text.back() == '\r') text.pop_back();
      }

      // What the field reader makes of the file, as the loaders read it.
      FieldReader r(text);
      for (int h = 0; h < 6; ++h) r.next_or_empty();
      std::vector<std::array<std::string_view, 6>> want;
      for (int i = 0; i < count; ++i) {
        std::array<std::string_view, 6> d;
        int got = 0;
        while (got < 6 && r.next(d[static_cast<std::size_t>(got)])) ++got;
        if (got < 6) break;
        want.push_back(d);
      }

      StoredYear held, scratch, newest;
      held.bytes = scratch.bytes = newest.bytes = text;
      index_stored_year(held);
      const bool plain = index_plain_year(scratch);
      const std::string where = std::string(c.name) + " at " + std::to_string(at);
      ASSERT_EQ(held.size(), want.size()) << where;
      if (plain) {
        ASSERT_EQ(scratch.size(), want.size()) << where;
      }
      // A load's index of the last three lines, every value read in the pass: an older line
      // only has to leave the field reader's days on the lines.
      const bool cut = index_plain_year(newest, 3, IndexedNumbers::kAll);
      EXPECT_EQ(cut, at == 12 ? plain : !c.shifts) << where;
      for (std::size_t k = 0; cut && k < 3; ++k) {
        const std::size_t i = want.size() - 3 + k;
        ASSERT_EQ(newest.size(), 3u) << where;
        EXPECT_EQ(newest.day(k), want[i]) << where << " line " << i;
        if (!held.numeric()) continue;
        for (std::size_t f = 0; f < 3; ++f)
          EXPECT_EQ(newest.open_high_low()[3 * k + f], held.price(i, f + 1)) << where << " " << i;
        EXPECT_EQ(newest.close_volume[2 * k + 1], held.close_volume[2 * i + 1]) << where;
      }
      bool prices_plain = true, ascending = true;
      for (std::size_t i = 0; i < want.size(); ++i) {
        ascending = ascending && want[i][0].size() == 8 &&
                    want[i][0].find_first_not_of("0123456789") == std::string_view::npos &&
                    (i == 0 || parse_number(want[i][0]) > parse_number(want[i - 1][0]));
        EXPECT_EQ(held.day(i), want[i]) << where << " line " << i;
        if (plain) {
          EXPECT_EQ(scratch.day(i), want[i]) << where << " line " << i;
        }
        for (std::size_t f = 1; f <= 4; ++f) {
          const std::string_view t = want[i][f];
          prices_plain = prices_plain && !t.empty() && t.size() <= 15 &&
                         t.find_first_not_of("0123456789") == std::string_view::npos &&
                         !(t.size() > 1 && t[0] == '0');
        }
        if (!held.numeric()) continue;
        EXPECT_EQ(held.dates[i], parse_number(want[i][0])) << where << " line " << i;
        EXPECT_EQ(held.close_volume[2 * i], parse_number(want[i][4])) << where << " line " << i;
        EXPECT_EQ(held.close_volume[2 * i + 1], parse_number(want[i][5])) << where;
        for (std::size_t f = 1; f <= 3; ++f)
          EXPECT_EQ(held.price(i, f), parse_number(want[i][f])) << where << " line " << i;
      }
      EXPECT_EQ(held.prices_plain, prices_plain) << where;
      EXPECT_EQ(held.ascending && held.dates_plain, ascending) << where;
      if (plain) {
        EXPECT_EQ(scratch.numeric(), held.numeric()) << where;
        EXPECT_EQ(scratch.dates, held.dates) << where;
      }
      // A line of another shape sends the file through the field reader, unless the header's
      // count ends the file before it (the last line lies beyond a count of 12) or it is an
      // empty last line, which is no line.
      const bool beyond = at == 12 && (count <= 12 || c.special == "\r\n");
      EXPECT_EQ(plain, (c.plain && !(at == 12 && c.cut_at_end)) || beyond) << where;
    }
  }
}

}  // namespace
}  // namespace lp

namespace lp {
namespace {

// Weekdays from `from` to `to` (both in one month or across a year end), as eight digits.
std::vector<std::string> weekdays(int from, int to) {
  std::vector<std::string> out;
  for (int d = from; d <= to; ++d) {
    const int y = d / 10000, m = d / 100 % 100, day = d % 100;
    if (day > 31) {
      d = m == 12 ? (y + 1) * 10000 + 101 - 1 : y * 10000 + (m + 1) * 100 + 1 - 1;
      continue;
    }
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = m - 1;
    t.tm_mday = day;
    t.tm_hour = 12;
    std::mktime(&t);
    if (t.tm_mday != day || t.tm_wday == 0 || t.tm_wday == 6) continue;
    out.push_back(std::to_string(d));
  }
  return out;
}

// A series file: the header announcing `count` lines (-1: as many as given) and the lines.
std::string series_text(const std::string& code, const std::vector<std::string>& lines,
                        int count = -1) {
  std::string t = code + ",x,銘柄,0,0," +
                  std::to_string(count < 0 ? static_cast<int>(lines.size()) : count) + "\r\n";
  for (const std::string& l : lines) t += l + "\r\n";
  return t;
}

std::string day_text(const std::string& date, int k, std::string_view volume = {}) {
  const int o = 1000 + 7 * k;
  return date + "," + std::to_string(o) + "," + std::to_string(o + 13) + "," +
         std::to_string(o - 11) + "," + std::to_string(o + 3) + "," +
         (volume.empty() ? std::to_string(5000 + 101 * k) : std::string(volume));
}

// The numbers a criterion reads straight from the files (and from the in-memory market) are
// what it would read from the text loaded from the files, over stocks of every kind the loads
// meet: gaps, splits by fractional and reverse factors, corrections after the as-of day or
// with a zero term, the unknown volume, decimal prices and quoted fields (read as text), a
// header counting fewer lines than held, a date the calendar lacks, a day after its end.
TEST(MarketStore, NumbersFromTheFilesEqualTheTextLoad) {
  test::TempDir dir;
  const std::string db = dir.file("db") + "/";
  const std::vector<std::string> d23 = weekdays(20231211, 20231229);
  const std::vector<std::string> d24 = weekdays(20240104, 20240131);
  auto plain_days = [](const std::vector<std::string>& dates, int skip_every = 0) {
    std::vector<std::string> out;
    for (std::size_t k = 0; k < dates.size(); ++k) {
      if (skip_every > 0 && k % static_cast<std::size_t>(skip_every) == 1) continue;
      out.push_back(day_text(dates[k], static_cast<int>(k)));
    }
    return out;
  };
  test::write_cp932(series_file_path(db, 2023, "1001"), series_text("1001", plain_days(d23)));
  test::write_cp932(series_file_path(db, 2024, "1001"), series_text("1001", plain_days(d24)));
  struct Stock {
    std::string code;
    std::vector<std::string> y23, y24;  // day lines (none: no file)
    std::vector<std::tuple<int, std::string, double, double>> corrections;  // year, row
    int count24 = -1;
  };
  std::vector<Stock> stocks;
  stocks.push_back({"2101", plain_days(d23, 4), plain_days(d24, 3), {{2024, "20240115", 1, 2}}});
  stocks.push_back({"2102",
                    plain_days(d23),
                    plain_days(d24),
                    {{2024, "20240110", 3, 7}, {2023, "20231220", 5, 1}}});
  stocks.push_back({"2103",
                    plain_days(d23),
                    plain_days(d24),
                    {{2024, "20240108", 0, 2},
                     {2024, "20240109", 2, 0},
                     {2024, "20240110", 1, 3},
                     {2024, "20240122", 1, 3}}});
  {
    Stock s{"2104", plain_days(d23), plain_days(d24), {{2024, "20240117", 1, 2}}};
    s.y24[3] = day_text(d24[3], 3, "0.1");
    s.y23[5] = day_text(d23[5], 5, "0.1");
    stocks.push_back(s);
  }
  {
    Stock s{"2105", plain_days(d23), plain_days(d24), {{2024, "20240112", 1, 4}}};
    s.y24[2] = d24[2] + ",1000.5,1013,989,1234.5,7000";
    stocks.push_back(s);
  }
  {
    Stock s{"2106", plain_days(d23), plain_days(d24), {{2024, "20240112", 1, 2}}};
    s.y24[4] = d24[4] + ",\"1028\",1041,1017,1031,5404";
    stocks.push_back(s);
  }
  stocks.push_back(
      {"2107", plain_days(d23), plain_days(d24), {}, static_cast<int>(d24.size()) - 5});
  {
    Stock s{"2108", plain_days(d23), plain_days(d24), {{2024, "20240105", 1, 2}}};
    s.y24.insert(s.y24.begin() + 7, day_text("20240113", 40));  // a Saturday
    stocks.push_back(s);
  }
  {
    Stock s{"2109", {}, plain_days(d24), {}};
    s.y24.push_back(day_text("20240201", 50));  // after the reference's last day
    stocks.push_back(s);
  }
  {
    Stock s{"2110", plain_days(d23), plain_days(d24), {{2024, "20240111", 1, 10}}};
    s.y24[6] = day_text(d24[6], 6, "1234567890123");
    s.y24[7] = day_text(d24[7], 7, "12345678901234567");
    stocks.push_back(s);
  }
  for (const char* code : {"2112", "2113"}) {
    // Lines of another shape among the older days of a year that is read only in part: the
    // lines after them are still where the field reader finds them.
    Stock s{code, plain_days(d23), plain_days(d24), {{2023, "20231222", 1, 2}}};
    s.y23[1] = code == std::string("2112") ? d23[1] + ",\"1007\",1020,996,1010,5101"
                                           : d23[1] + ",1007,1020,996,1010,5101,9";
    stocks.push_back(s);
  }
  // An older year's file under another code: the header (and the code the criteria check) is
  // the newest year's that gave a day.
  stocks.push_back({"2114", plain_days(d23), plain_days(d24), {}});
  {
    Stock s{"2111", {}, plain_days(d24), {}};  // listed inside the span
    s.y24.erase(s.y24.begin(), s.y24.begin() + 8);
    stocks.push_back(s);
  }
  for (const Stock& s : stocks) {
    if (!s.y23.empty())
      test::write_cp932(series_file_path(db, 2023, s.code),
                        series_text(s.code == "2114" ? "9114" : s.code, s.y23));
    test::write_cp932(series_file_path(db, 2024, s.code), series_text(s.code, s.y24, s.count24));
    for (int y : {2023, 2024}) {
      std::vector<std::tuple<std::string, double, double>> rows;
      for (const auto& [year, date, num, den] : s.corrections)
        if (year == y) rows.emplace_back(date, num, den);
      if (!rows.empty()) test::write_correction_file(db, y, s.code, rows);
    }
  }
  std::string error;
  auto store = MarketStore::load(db, "1001", error);
  ASSERT_TRUE(store) << error;
  int compared = 0, loaded = 0;
  for (const std::string end : {"20240131", "20240119", "20240104", "20231229"}) {
    for (const std::string as_of : {"", "20240112"}) {
      SeriesSource files(db, "1001"), held(db, "1001");
      held.store = store;
      files.as_of = held.as_of = as_of;
      for (int days : {30, 8, -5}) {
        TradingCalendar cal;
        ASSERT_EQ(build_trading_calendar(files, cal, end, std::max(days, 0) + 3), 0);
        for (const Stock& s : stocks) {
          for (int lowest : {kLowestYear, 2024}) {
            for (bool adjust : {true, false}) {
              Series text, text_held, scratch;
              const int st = load_series_cal(files, end, days, s.code, cal, text, adjust, lowest);
              const int sh =
                  load_series_cal(held, end, days, s.code, cal, text_held, adjust, lowest);
              const std::string where = s.code + " end " + end + " as of " + as_of + " days " +
                                        std::to_string(days) + " lowest " + std::to_string(lowest) +
                                        " adjust " + std::to_string(adjust);
              ASSERT_EQ(series_text(text, st), series_text(text_held, sh)) << where;
              for (bool want_prices : {true, false}) {
                SeriesNumbers from_files, from_store;
                from_files.want_prices = from_store.want_prices = want_prices;
                const int nf = load_series_numbers(files, end, days, s.code, cal, from_files,
                                                   adjust, scratch, lowest);
                const int ns = load_series_numbers(held, end, days, s.code, cal, from_store, adjust,
                                                   scratch, lowest);
                const std::string want = numbers_of_text(text, st, want_prices);
                EXPECT_EQ(numbers_text(from_files, nf, want_prices), want) << where;
                EXPECT_EQ(numbers_text(from_store, ns, want_prices), want) << where;
              }
              ++compared;
              loaded += st == 0;
            }
          }
        }
      }
    }
  }
  EXPECT_GT(loaded, compared / 2);
}

}  // namespace
}  // namespace lp
