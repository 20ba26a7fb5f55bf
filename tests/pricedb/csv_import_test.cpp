// CSV import: every dialect a user's files come in reads the same bars; unreadable rows are
// reported by file and line; the database gets series, merged day files and an index that
// gives the calendar every imported date.
#include "pricedb/csv_import.h"

#include <gtest/gtest.h>

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
       "Date,Open,High,Low,Close,Adj Close,Volume\n2025-06-12,100,110,95,105,52.5,1200\n"
       "2025-06-13,105,120,101,118.5,59.25,3400\n",
       "7203"},
      {"columns in another order, CR LF",
       "Volume,Close,Low,High,Open,Date\r\n1200,105,95,110,100,2025/06/12\r\n"
       "3400,118.5,101,120,105,2025/06/13\r\n",
       "7203"},
      {"Japanese captions in CP932, tab separated",
       utf8_to_cp932(
           "日付\t始値\t高値\t安値\t終値\t出来高\r\n2025/6/12\t100\t110\t95\t105\t1200\r\n"
           "2025/6/13\t105\t120\t101\t118.5\t3400\r\n"),
       "7203"},
      {"UTF-8 with BOM, Japanese captions, YYYYMMDD",
       "\xEF\xBB\xBF日付,始値,高値,安値,終値,出来高\n20250612,100,110,95,105,1200\n"
       "20250613,105,120,101,118.5,3400\n",
       "7203"},
      {"quoted fields",
       "\"Date\",\"Open\",\"High\",\"Low\",\"Close\",\"Volume\"\n\"2025-06-13\",\"105\",\"120\","
       "\"101\",\"118.5\",\"3400\"\n\"2025-06-12\",\"100\",\"110\",\"95\",\"105\",\"1200\"\n",
       "7203"},
      {"bulk text form, ticker gives the code",
       "<TICKER>,<PER>,<DATE>,<TIME>,<OPEN>,<HIGH>,<LOW>,<CLOSE>,<VOL>,<OPENINT>\n"
       "7203.JP,D,20250612,000000,100,110,95,105,1200,0\n"
       "7203.JP,D,20250613,000000,105,120,101,118.5,3400,0\n",
       ""},
  };
  for (const auto& c : cases) {
    ParsedPriceFile out;
    ASSERT_TRUE(parse_price_csv(c.bytes, c.code, "f.csv", out)) << c.name;
    EXPECT_TRUE(out.problems.empty()) << c.name << ": " << out.problems.front();
    ASSERT_EQ(out.bars.count("7203"), 1u) << c.name;
    const auto& bars = out.bars["7203"];
    ASSERT_EQ(bars.size(), 2u) << c.name;
    EXPECT_EQ(bars[0].date, "20250612") << c.name;
    EXPECT_EQ(bars[1].date, "20250613") << c.name;
    EXPECT_EQ(bars[1].open, 105) << c.name;
    EXPECT_EQ(bars[1].high, 120) << c.name;
    EXPECT_EQ(bars[1].low, 101) << c.name;
    EXPECT_EQ(bars[1].close, 118.5) << c.name;
    EXPECT_EQ(bars[1].volume, 3400) << c.name;
  }
}

TEST(CsvImport, BadRowsAreReportedByLineAndSkipped) {
  const std::string text =
      "Date,Open,High,Low,Close,Volume\n"
      "2025-06-10,100,110,95,105,1200\n"
      "2025-13-01,100,110,95,105,1200\n"
      "2025-06-11,abc,110,95,105,1200\n"
      "2025-06-12,100,90,95,105,1200\n"
      "2025-06-13,100,110\n"
      "\n"
      "2025-06-16,100,110,95,105,-3\n"
      "2025-06-17,100,110,95,106,\n";
  ParsedPriceFile out;
  ASSERT_TRUE(parse_price_csv(text, "7203", "x.csv", out));
  EXPECT_EQ(out.rows_read, 2);
  ASSERT_EQ(out.problems.size(), 5u);
  const char* lines[] = {"x.csv:3:", "x.csv:4:", "x.csv:5:", "x.csv:6:", "x.csv:8:"};
  for (std::size_t i = 0; i < 5; ++i)
    EXPECT_EQ(out.problems[i].rfind(lines[i], 0), 0u) << out.problems[i];
  EXPECT_EQ(out.bars["7203"].back().volume, 0) << "an empty volume reads 0";

  // No header it understands, or no code: the whole file is refused.
  ParsedPriceFile none;
  EXPECT_FALSE(parse_price_csv("a,b,c\n1,2,3\n", "7203", "y.csv", none));
  EXPECT_FALSE(parse_price_csv("Date,Open,High,Low,Close\n", "", "prices.csv", none));
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
                                   "2025-01-07,110,112,100,99,100\n");
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
