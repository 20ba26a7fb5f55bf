// CSV import: every dialect a user's files come in reads the same bars; unreadable rows are
// reported by file and line; the database gets series, merged day files and an index that
// gives the calendar every imported date.
#include "pricedb/csv_import.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/encoding.h"
#include "common/numbers.h"
#include "pricedb/formats.h"
#include "pricedb/price_writer.h"
#include "pricedb/series.h"
#include "support/fixtures.h"

namespace lp {
namespace {

TEST(CsvImport, CodeFromFileName) {
  const std::pair<const char*, const char*> cases[] = {
      {"7203.csv", "7203"},    {"7203.T.csv", "7203"},
      {"130a.jp.txt", "130A"}, {"/x/y/9984.csv", "9984"},
      {"7203", "7203"},        {"7203_daily.csv", "7203"},
      {"prices.csv", ""},      {"72031.csv", ""},
      {"0123.csv", ""},        {"ab.csv", ""},
      {"A130.csv", ""}};
  for (const auto& [name, code] : cases) EXPECT_EQ(code_from_file_name(name), code) << name;
}

TEST(CsvImport, EveryDialectReadsTheSameBars) {
  const struct {
    const char* name;
    std::string bytes;
    const char* code;
  } cases[] = {
      {"English, Adj Close ignored",
       "Date,Open,High,Low,Close,Adj Close,Volume\n2025-06-09,100,110,95,105,52.5,1200\n"
       "2025-06-10,105,120,101,118.5,59.25,3400\n",
       "7203"},
      {"columns in another order, CR LF",
       "Volume,Close,Low,High,Open,Date\r\n1200,105,95,110,100,2025/06/09\r\n"
       "3400,118.5,101,120,105,2025/06/10\r\n",
       "7203"},
      {"Japanese captions in CP932, tab separated, the short date 2025/6/9",
       utf8_to_cp932("日付\t始値\t高値\t安値\t終値\t出来高\r\n2025/6/9\t100\t110\t95\t105\t1200\r\n"
                     "2025/6/10\t105\t120\t101\t118.5\t3400\r\n"),
       "7203"},
      {"UTF-8 with BOM, Japanese captions, YYYYMMDD",
       "\xEF\xBB\xBF日付,始値,高値,安値,終値,出来高\n20250609,100,110,95,105,1200\n"
       "20250610,105,120,101,118.5,3400\n",
       "7203"},
      {"quoted fields, quoted thousands",
       "\"Date\",\"Open\",\"High\",\"Low\",\"Close\",\"Volume\"\n\"2025-06-10\",\"105\",\"120\","
       "\"101\",\"118.5\",\"3,400\"\n\"2025-06-09\",\"100\",\"110\",\"95\",\"105\",\"1,200\"\n",
       "7203"},
      {"title line, captions with units, 年月日 dates",
       "トヨタ自動車 (7203) 日足\n日付,始値(円),高値(円),安値(円),終値(円),出来高(株)\n"
       "2025年6月9日,100,110,95,105,1200\n2025年6月10日,105,120,101,118.5,3400\n",
       "7203"},
      {"yfinance three header rows, ticker row gives the code",
       "Price,Close,High,Low,Open,Volume\nTicker,7203.T,7203.T,7203.T,7203.T,7203.T\n"
       "Date,,,,,\n2025-06-09,105.0,110.0,95.0,100.0,1200\n"
       "2025-06-10,118.5,120.0,101.0,105.0,3400\n",
       ""},
      {"bulk text form, ticker gives the code",
       "<TICKER>,<PER>,<DATE>,<TIME>,<OPEN>,<HIGH>,<LOW>,<CLOSE>,<VOL>,<OPENINT>\n"
       "7203.JP,D,20250609,000000,100,110,95,105,1200,0\n"
       "7203.JP,D,20250610,000000,105,120,101,118.5,3400,0\n",
       ""},
  };
  for (const auto& c : cases) {
    ParsedPriceFile out;
    ASSERT_TRUE(parse_price_csv(c.bytes, c.code, "f.csv", out))
        << c.name << ": " << out.problems.back();
    EXPECT_TRUE(out.problems.empty()) << c.name << ": " << out.problems.front();
    ASSERT_EQ(out.bars.count("7203"), 1u) << c.name;
    const auto& bars = out.bars["7203"];
    ASSERT_EQ(bars.size(), 2u) << c.name;
    EXPECT_EQ(bars[0].date, "20250609") << c.name;
    EXPECT_EQ(bars[1].date, "20250610") << c.name;
    EXPECT_EQ(bars[1].open, 105) << c.name;
    EXPECT_EQ(bars[1].high, 120) << c.name;
    EXPECT_EQ(bars[1].low, 101) << c.name;
    EXPECT_EQ(bars[1].close, 118.5) << c.name;
    EXPECT_EQ(bars[1].volume, 3400) << c.name;
    EXPECT_TRUE(bars[1].volume_known) << c.name;
  }
}

TEST(CsvImport, BadRowsAreReportedByLineAndSkipped) {
  // Each bad row with the reason a user must read; the good rows around them are kept.
  const std::pair<const char*, const char*> bad[] = {
      {"2025-13-01,100,110,95,105,1200", "日付を読めません"},
      {"2025-06-11,abc,110,95,105,1200", "始値を数として読めません"},
      {"2025-06-11,0x10,110,95,105,1200", "始値を数として読めません"},
      {"2025-06-11,100,110,95,105,1.2.3", "出来高を読めません"},
      {"2025-06-11,100,90,95,105,1200", "高値が安値より低い"},
      {"2025-06-11,100,110,95,111,1200", "終値が高値と安値の間にありません"},
      {"2025-06-11,94,110,95,105,1200", "始値が高値と安値の間にありません"},
      {"2025-06-11,0,0,0,0,0", "始値が0以下です"},
      {"2025-06-11,-5,110,95,105,1200", "始値が0以下です"},
      {"2025-06-11,100,110", "列が足りません"},
      {"2025-06-11,3,204,3,220,3,154,3,188,49,315,300", "列が見出しより多く"},
      {"2025-06-11,100,110,95,105,-3", "出来高を読めません"},
      {"2025-06-11,100,110,95,105,-0", "出来高を読めません"},
      {"2025-06-11,100,110,95,105,9000000000000000000", "出来高が大きすぎて"},
      {"2025-06-11,100,110,95,105,1,200", "列が見出しより多く"},
      // A decimal comma is no thousands separator: not 1055, which would fit the row.
      {"2025-06-11,1000,1100,950,\"105,5\",1200", "終値を数として読めません"},
      {"2025-06-11,\"1,00,000\",110000,95000,100000,1200", "始値を数として読めません"},
      {"2025-06-21,100,110,95,105,1200", "今日 (2025/06/20) より後の日付です"},
      {"1982-12-30,100,110,95,105,1200", "1983年より前の日付です"},
      {"2025-06-10,100,110,95,106,500", "2行目と重複しています"},
  };
  std::string text = "Date,Open,High,Low,Close,Volume\n2025-06-10,100,110,95,105,1200\n";
  for (const auto& [row, why] : bad) text += std::string(row) + "\n";
  text += "\n2025-06-20,100,110,95,110,\n2025-06-19,110,110,110,110,0\n";
  ParsedPriceFile out;
  ASSERT_TRUE(parse_price_csv(text, "7203", "x.csv", out, "20250620"));
  EXPECT_EQ(out.rows_read, 3);
  ASSERT_EQ(out.problems.size(), std::size(bad));
  for (std::size_t i = 0; i < std::size(bad); ++i) {
    const std::string at = "x.csv:" + std::to_string(i + 3) + ": ";
    EXPECT_EQ(out.problems[i].rfind(at, 0), 0u) << out.problems[i];
    EXPECT_NE(out.problems[i].find(bad[i].second), std::string::npos) << out.problems[i];
  }
  const auto& bars = out.bars["7203"];
  ASSERT_EQ(bars.size(), 3u);
  EXPECT_EQ(bars[0].close, 105) << "a repeated date keeps the first row";
  EXPECT_EQ(bars[1].date, "20250619");
  EXPECT_TRUE(bars[1].volume_known) << "a volume of 0 is known: the stock did not trade";
  EXPECT_FALSE(bars[2].volume_known) << "an empty volume is unknown, not 0";

  // Refused whole: no header it understands, no code, or clearly not a price file.
  const std::pair<const char*, std::string> refused[] = {
      {"no header", "a,b,c\n1,2,3\n"},
      {"no code", "Date,Open,High,Low,Close\n"},
      {"a line of commas", std::string(300000, ',')},
      {"binary bytes", std::string("\x7f"
                                   "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0>\0",
                                   20) +
                           std::string(5000, '\xff')},
      {"header never comes", std::string("x\n").append(std::string(20, ';')).append("\n") +
                                 std::string(30, '\n') + "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n"},
      {"one bad row after another",
       [] {
         std::string t = "Date,Open,High,Low,Close\n";
         for (int i = 0; i < 1200; ++i) t += "x,y,z,w,v\n";
         return t + "2025-06-10,100,110,95,105\n";
       }()},
      {"several stocks side by side",
       "Price,Close,Close,High,High,Low,Low,Open,Open,Volume,Volume\n"
       "Ticker,7203.T,9984.T,7203.T,9984.T,7203.T,9984.T,7203.T,9984.T,7203.T,9984.T\n"
       "Date,,,,,,,,,,\n2025-06-10,1,1,1,1,1,1,1,1,1,1\n"},
  };
  for (const auto& [name, bytes] : refused) {
    ParsedPriceFile none;
    EXPECT_FALSE(
        parse_price_csv(bytes, name == std::string("no code") ? "" : "7203", "y.csv", none))
        << name;
    EXPECT_FALSE(none.problems.empty()) << name;
    EXPECT_LE(none.problems.size(), 21u) << name;
  }
}

TEST(CsvImport, SplitsFileLines) {
  const struct {
    const char* line;
    const char* date;
    long long new_shares, old_shares;  // 0: refused
  } cases[] = {
      {"20211001,5", "20211001", 5, 1},
      {"2021-10-01, 1.5", "20211001", 3, 2},
      {"7203,20211001,2", "20211001", 2, 1},
      {"20211001,0.1", "20211001", 1, 10},
      {"20211001,1/10", "20211001", 1, 10},
      {"20211001,1", "", 0, 0},
      {"20211001,1001", "", 0, 0},
      {"20211001,0", "", 0, 0},
      {"20211001,1e3", "", 0, 0},
      {"20210230,5", "", 0, 0},
      {"20211001", "", 0, 0},
      {"19830101,2", "19830101", 2, 1},  // dates bounded as price rows are
      {"19821231,2", "", 0, 0},
      {"20260301,2", "20260301", 2, 1},  // today
      {"20260302,2", "", 0, 0},
  };
  for (const auto& c : cases) {
    std::vector<SplitLine> out;
    std::string error;
    const bool ok = parse_splits(std::string("# Toyota\n\n") + c.line + "\n", "s.txt", out, error,
                                 "20260301");
    ASSERT_EQ(ok, c.new_shares > 0) << c.line << ": " << error;
    if (!ok) {
      EXPECT_EQ(error.rfind("s.txt:3: ", 0), 0u) << error;
      continue;
    }
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].date, c.date);
    EXPECT_EQ(out[0].new_shares, c.new_shares) << c.line;
    EXPECT_EQ(out[0].old_shares, c.old_shares) << c.line;
  }
}

std::string write_file(const test::TempDir& dir, const std::string& name, const std::string& text) {
  test::write_bytes(dir.path() / name, text);
  return dir.file(name);
}

TEST(CsvImport, FillsSeriesDayFilesAndTheIndexAndRerunsChangeNothing) {
  test::TempDir dir;
  const std::string db = dir.file("db") + "/";
  const std::string a = write_file(dir, "7203.T.csv",
                                   "Date,Open,High,Low,Close,Volume\n"
                                   "2024-12-30,100,110,95,105,1200\n"
                                   "2025-01-06,105,120,101,110,3400\n"
                                   "2025-01-07,110,112,98,99,100\n");
  const std::string b =
      write_file(dir, "130a.jp.txt",
                 "<TICKER>,<PER>,<DATE>,<TIME>,<OPEN>,<HIGH>,<LOW>,<CLOSE>,<VOL>,<OPENINT>\n"
                 "130A.JP,D,20250106,000000,50,55,49,50,10,0\n"
                 "130A.JP,D,20250107,000000,50,56,48,55,20,0\n"
                 "130A.JP,D,20250108,000000,55,57,50,56,30,0\n");
  const std::string nameless =
      write_file(dir, "prices.csv", "Date,Open,High,Low,Close\n2025-01-06,1,1,1,1\n");
  const std::string empty =
      write_file(dir, "9984.csv", "Date,Open,High,Low,Close,Volume\nbad,1,1,1,1,1\n");
  CsvImportReport report;
  std::string error;
  ASSERT_TRUE(import_price_csv(db, "1001", {a, b, nameless, empty}, {}, report, error)) << error;
  EXPECT_EQ(report.files_used, 2);
  EXPECT_EQ(report.files_refused, 2);
  EXPECT_EQ(report.rows_imported, 6);
  EXPECT_EQ(report.dates_touched, 4);
  EXPECT_TRUE(report.index_rebuilt);

  DayFile day;
  ASSERT_TRUE(read_day_file(day_file_path(db, "20250107"), day));
  ASSERT_EQ(day.rows.size(), 3u);
  EXPECT_EQ(day.declared, 3);
  EXPECT_EQ(day.rows[0].code, "1001");
  EXPECT_EQ(day.rows[0].name, kEqualWeightIndexName);
  // 1000 on the first day; then 7203 alone had a previous close (110/105); then both moved,
  // 7203 by 99/110 and 130A by 55/50, and the index by their average ratio.
  const double second = static_cast<double>(round_half_even(1000 * 110.0 / 105 * 100)) / 100;
  EXPECT_EQ(
      parse_number(day.rows[0].close),
      static_cast<double>(round_half_even(second * (99.0 / 110 + 55.0 / 50) / 2 * 100)) / 100);
  std::string latest;
  ASSERT_TRUE(read_latest_date(db, "1001", 2025, 1983, latest));
  EXPECT_EQ(latest, "20250108");
  TradingCalendar cal;
  SeriesSource src(db, "1001");
  ASSERT_EQ(build_trading_calendar(src, cal, "20250108", 10), 0);
  EXPECT_EQ(cal.dates, (std::vector<std::string>{"20250108", "20250107", "20250106", "20241230"}));
  Series s;
  ASSERT_EQ(load_series(src, "20250108", 4, "7203", s, false), 0);
  EXPECT_EQ(s[0].d3, "7203") << "no name given: the code stands for it";
  EXPECT_EQ(s[2].d5, "99");

  const auto before = test::files_under(db);
  CsvImportReport again;
  ASSERT_TRUE(import_price_csv(db, "1001", {a, b}, {}, again, error));
  EXPECT_EQ(test::files_under(db), before);
  CsvImportReport nothing;
  ASSERT_TRUE(import_price_csv(db, "1001", {nameless, empty}, {}, nothing, error));
  EXPECT_EQ(nothing.files_used, 0);
  EXPECT_EQ(test::files_under(db), before);

  // A corrected file replaces its stock's lines; the other stock's lines stay.
  const std::string fixed = write_file(
      dir, "7203.csv", "Date,Open,High,Low,Close,Volume\n2025-01-07,110,112,100,101,100\n");
  CsvImportOptions named;
  named.name = "トヨタ自動車";
  named.market = "プライム";
  ASSERT_TRUE(import_price_csv(db, "1001", {fixed}, named, again, error));
  ASSERT_TRUE(read_day_file(day_file_path(db, "20250107"), day));
  ASSERT_EQ(day.rows.size(), 3u);
  for (const auto& row : day.rows) {
    if (row.code == "7203") {
      EXPECT_EQ(row.close, "101");
      EXPECT_EQ(row.name, "トヨタ自動車");
      EXPECT_EQ(row.market, "プライム");
    }
  }
  ASSERT_TRUE(read_day_file(day_file_path(db, "20250108"), day));
  EXPECT_EQ(day.rows.size(), 2u);

  // Without --name the name the database knows stays; a comma in a name never reaches a file.
  const std::string later = write_file(
      dir, "7203_2.csv", "Date,Open,High,Low,Close,Volume\n2025-01-08,101,103,100,102,50\n");
  ASSERT_TRUE(import_price_csv(db, "1001", {later}, {}, again, error)) << error;
  ASSERT_EQ(load_series(src, "20250108", 1, "7203", s, false), 0);
  EXPECT_EQ(s[0].d3, "トヨタ自動車");
  named.name = "Sample Holdings, Inc.";
  ASSERT_TRUE(import_price_csv(db, "1001", {later}, named, again, error)) << error;
  ASSERT_TRUE(read_day_file(day_file_path(db, "20250108"), day));
  ASSERT_EQ(day.rows.size(), 3u);
  EXPECT_EQ(day.rows[2].code, "7203");
  EXPECT_EQ(day.rows[2].name, "Sample Holdings， Inc.");
  EXPECT_EQ(day.rows[2].volume, "50");
}

// `count` weekdays of 2021 from m/d on, as yyyymmdd.
std::vector<std::string> weekdays(int y, int m, int d, int count) {
  std::vector<std::string> out;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  // 1 Jan 2021 was a Friday; only 2021 is needed here.
  int weekday = 5;
  for (int mm = 1; mm < m; ++mm) weekday += kDays[mm - 1];
  weekday = (weekday + d - 1) % 7;
  while (static_cast<int>(out.size()) < count) {
    if (weekday != 0 && weekday != 6) {
      out.push_back(std::to_string(y * 10000 + m * 100 + d));
    }
    weekday = (weekday + 1) % 7;
    if (++d > kDays[m - 1]) {
      d = 1;
      ++m;
    }
  }
  return out;
}

TEST(CsvImport, SplitsOfUnadjustedPricesAreRecordedOrWarned) {
  // Toyota's 5-for-1 split, first day at the new price 2021-10-01, as an unadjusted
  // Japanese-captioned file with quoted thousands writes it.
  test::TempDir dir;
  const std::string db = dir.file("db") + "/";
  std::string text = "\"日付\",\"始値\",\"高値\",\"安値\",\"終値\",\"出来高\"\r\n";
  std::vector<double> raw;
  const auto dates = weekdays(2021, 9, 1, 40);
  for (std::size_t i = 0; i < dates.size(); ++i) {
    const bool after = dates[i] >= "20211001";
    const double close = (after ? 2000 : 10000) + static_cast<double>(i % 7) * (after ? 4 : 20);
    raw.push_back(close);
    const auto q = [](double v) { return "\"" + format_pattern(v, "#,##0") + "\""; };
    text += dates[i].substr(0, 4) + "/" + dates[i].substr(4, 2) + "/" + dates[i].substr(6, 2) +
            "," + q(close) + "," + q(close) + "," + q(close) + "," + q(close) + "," +
            q(1000000 + static_cast<double>(i)) + "\r\n";
  }
  const std::string file = write_file(dir, "7203.csv", utf8_to_cp932(text));
  CsvImportReport warned;
  std::string error;
  CsvImportOptions opt;
  opt.today = "20211231";
  ASSERT_TRUE(import_price_csv(db, "1001", {file}, opt, warned, error)) << error;
  EXPECT_EQ(warned.rows_imported, 40);
  EXPECT_EQ(warned.rows_skipped, 0);
  ASSERT_EQ(warned.split_warnings, 1);
  bool line_given = false;
  for (const auto& m : warned.messages) line_given |= m.find(": 20211001,5") != std::string::npos;
  EXPECT_TRUE(line_given);

  const std::string splits = write_file(dir, "splits.txt", "20211001,5\n");
  opt.splits = splits;
  CsvImportReport report;
  ASSERT_TRUE(import_price_csv(db, "1001", {file}, opt, report, error)) << error;
  EXPECT_EQ(report.split_warnings, 0);
  EXPECT_EQ(report.corrections_written, 1);
  EXPECT_EQ(test::read_bytes(correction_file_path(db, 2021, "7203")),
            "7203,2021,1\r\n20211001,1,5\r\n");
  SeriesSource src(db, "1001");
  Series s;
  ASSERT_EQ(load_series(src, "20211231", 40, "7203", s, true), 0);
  ASSERT_EQ(series_count(s), 40);
  // Record i is day 40 - i; before the split the close is a fifth of the file's.
  double sum = 0;
  for (int i = 1; i <= 40; ++i) {
    const std::size_t k = static_cast<std::size_t>(40 - i);
    const double expected = dates[k] < "20211001" ? raw[k] / 5 : raw[k];
    EXPECT_DOUBLE_EQ(parse_number(s[static_cast<std::size_t>(i)].d5), expected) << dates[k];
    if (i <= 25) sum += expected;
  }
  // MA(C,25) runs through the split instead of standing at about three times the close.
  EXPECT_NEAR(sum / 25 / parse_number(s[1].d5), 1, 0.02);

  CsvImportReport again;
  const auto before = test::files_under(db);
  ASSERT_TRUE(import_price_csv(db, "1001", {file}, opt, again, error));
  EXPECT_EQ(again.corrections_written, 0);
  EXPECT_EQ(test::files_under(db), before);
}

TEST(CsvImport, HolidayRowsAndUnknownVolumes) {
  test::TempDir dir;
  const std::string db = dir.file("db") + "/";
  // yfinance writes exchange holidays as zero-volume rows with unchanged prices.
  const std::string toyota = write_file(dir, "7203.T.csv",
                                        "Date,Open,High,Low,Close,Adj Close,Volume\n"
                                        "2015-12-24,7500,7550,7480,7520,7000,1000\n"
                                        "2015-12-25,7520,7520,7520,7520,7000,0\n"
                                        "2015-12-28,7500,7600,7450,7580,7050,2000\n");
  // A stock that did not trade on a day others did keeps its zero-volume row.
  const std::string quiet = write_file(dir, "9997.csv",
                                       "Date,Open,High,Low,Close,Volume\n"
                                       "2015-12-24,500,500,500,500,0\n"
                                       "2015-12-25,500,500,500,500,0\n"
                                       "2015-12-28,500,510,495,505,300\n");
  // An index file has no volume at all: every day traded, volume unknown.
  const std::string index = write_file(dir, "1321.csv",
                                       "Date,Open,High,Low,Close\n"
                                       "2015-12-28,19000,19100,18900,19050\n"
                                       "2015-12-29,19050,19200,19000,19150\n");
  CsvImportReport report;
  std::string error;
  ASSERT_TRUE(import_price_csv(db, "1001", {toyota, quiet, index}, {}, report, error)) << error;
  EXPECT_EQ(report.holiday_rows, 2);
  EXPECT_EQ(report.rows_imported, 6);
  SeriesSource src(db, "1001");
  TradingCalendar cal;
  ASSERT_EQ(build_trading_calendar(src, cal, "20151231", 10), 0);
  EXPECT_EQ(cal.dates, (std::vector<std::string>{"20151229", "20151228", "20151224"}));

  Series s;
  ASSERT_EQ(load_series(src, "20151231", 3, "9997", s, true), 0);
  EXPECT_EQ(s[3].d6, "0");
  ASSERT_EQ(load_series(src, "20151231", 2, "1321", s, true), 0);
  for (int i = 1; i <= 2; ++i) {
    const double v = parse_number(s[static_cast<std::size_t>(i)].d6);
    EXPECT_GT(v, 0) << "a day of unknown volume is a traded day";
    EXPECT_TRUE(is_unknown_volume(v));
  }
  // The market's volume on a day only the index file traded is unknown as well, and known
  // volumes are never taken for unknown ones.
  DayFile day;
  ASSERT_TRUE(read_day_file(day_file_path(db, "20151229"), day));
  ASSERT_EQ(day.rows.size(), 2u);
  EXPECT_EQ(day.rows[0].volume, kUnknownVolumeText);
  ASSERT_TRUE(read_day_file(day_file_path(db, "20151228"), day));
  EXPECT_EQ(day.rows[0].volume, "2300");
  for (double real : {0.0, 1.0, 100.0}) EXPECT_FALSE(is_unknown_volume(real)) << real;

  // A day the database already holds stays a trading day for a stock that did not trade.
  const std::string late = write_file(dir, "9996.csv",
                                      "Date,Open,High,Low,Close,Volume\n"
                                      "2015-12-29,300,300,300,300,0\n");
  CsvImportReport more;
  ASSERT_TRUE(import_price_csv(db, "1001", {late}, {}, more, error)) << error;
  EXPECT_EQ(more.holiday_rows, 0);
  ASSERT_TRUE(read_day_file(day_file_path(db, "20151229"), day));
  EXPECT_EQ(day.rows.size(), 3u);
}

TEST(CsvImport, FailedImportLeavesNoYearBehind) {
  test::TempDir dir;
  const std::string db = dir.file("db") + "/";
  test::write_series_file(db, 2025, "7203", "トヨタ自動車", {{"20250106", 1, 1, 1, 1, 1}});
  // The day file's name is taken by a folder: writing that day fails.
  std::filesystem::create_directories(day_file_path(db, "20250107"));
  const std::string file = write_file(dir, "7203.csv",
                                      "Date,Open,High,Low,Close,Volume\n"
                                      "2024-12-30,100,110,95,105,1200\n"
                                      "2025-01-07,105,120,101,110,3400\n"
                                      "2031-01-07,105,120,101,110,3400\n");
  const auto before = test::files_under(db);
  CsvImportReport report;
  std::string error;
  CsvImportOptions opt;
  opt.today = "20250110";
  EXPECT_FALSE(import_price_csv(db, "1001", {file}, opt, report, error));
  EXPECT_EQ(test::files_under(db), before);
  EXPECT_FALSE(std::filesystem::exists(year_folder(db, 2024)));
  EXPECT_FALSE(std::filesystem::exists(year_folder(db, 2031)));
  EXPECT_TRUE(std::filesystem::exists(year_folder(db, 2025)));

  // Options that cannot apply refuse the import before anything is written.
  const std::string other = write_file(dir, "9984.csv",
                                       "Date,Open,High,Low,Close,Volume\n"
                                       "2024-12-30,100,110,95,105,1200\n");
  CsvImportOptions two = opt;
  two.name = "ソフトバンクグループ";
  EXPECT_FALSE(import_price_csv(db, "1001", {file, other}, two, report, error));
  two.name.clear();
  two.splits = write_file(dir, "s.txt", "20241230,2\n");
  EXPECT_FALSE(import_price_csv(db, "1001", {file, other}, two, report, error));
  EXPECT_EQ(test::files_under(db), before);
  EXPECT_FALSE(std::filesystem::exists(year_folder(db, 2024)));
}

TEST(CsvImport, ForeignReferenceSeriesIsLeftAlone) {
  test::TempDir dir;
  const std::string db = dir.file("db") + "/";
  test::write_series_file(db, 2025, "1001", "ルミナ総合指数", {{"20250106", 1, 1, 1, 1, 1}});
  const auto kept = test::read_bytes(series_file_path(db, 2025, "1001"));
  const std::string a =
      write_file(dir, "7203.csv", "Date,Open,High,Low,Close,Volume\n2025-01-06,1,1,1,1,1\n");
  CsvImportReport report;
  std::string error;
  ASSERT_TRUE(import_price_csv(db, "1001", {a}, {}, report, error)) << error;
  EXPECT_FALSE(report.index_rebuilt);
  EXPECT_EQ(test::read_bytes(series_file_path(db, 2025, "1001")), kept);
  ASSERT_FALSE(report.messages.empty());
  EXPECT_NE(report.messages.back().find("1001"), std::string::npos);
}

}  // namespace
}  // namespace lp
