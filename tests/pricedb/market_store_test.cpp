// The in-memory market must answer every load exactly as the files do: the backtest and the
// as-of screens rely on it giving the same picks as a screen over the files.
#include "pricedb/market_store.h"

#include <gtest/gtest.h>

#include <thread>

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
