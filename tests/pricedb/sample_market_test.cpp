// The sample market is what the demo, the tests of later windows and the benchmark run on: these
// tests check it holds what they rely on, in formats the project's own readers accept.
#include "sample-market/sample_market.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "common/csv.h"
#include "common/encoding.h"
#include "common/numbers.h"
#include "pricedb/formats.h"
#include "pricedb/series.h"
#include "support/fixtures.h"

namespace lp {
namespace {

namespace fs = std::filesystem;

constexpr const char* kEnd = "20250613";  // a Friday

sample::Options small_market(const test::TempDir& dir, unsigned seed = 7) {
  sample::Options o;
  o.codes = 60;
  o.years = 2;
  o.end_date = kEnd;
  o.seed = seed;
  o.db_folder = dir.file("db") + "/";
  o.packed_root = dir.file("packed");
  return o;
}

std::vector<std::string> split(std::string_view text, std::string_view sep) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (true) {
    const std::size_t at = text.find(sep, pos);
    if (at == std::string_view::npos) {
      out.emplace_back(text.substr(pos));
      return out;
    }
    out.emplace_back(text.substr(pos, at - pos));
    pos = at + sep.size();
  }
}

class SampleMarketTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir;
    std::string error;
    ok_ = sample::generate(small_market(*dir_), error, summary_);
    error_ = error;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(ok_) << error_; }

  static std::string db() { return dir_->file("db") + "/"; }
  static std::string packed_year(int year) {
    return dir_->file("packed") + "/html/kabuka_db/" + std::to_string(year) + "/";
  }
  static SeriesSource source() {
    SeriesSource src;
    src.db_folder = db();
    src.reference_code = "1001";
    return src;
  }

  static test::TempDir* dir_;
  static sample::Summary summary_;
  static bool ok_;
  static std::string error_;
};

test::TempDir* SampleMarketTest::dir_ = nullptr;
sample::Summary SampleMarketTest::summary_;
bool SampleMarketTest::ok_ = false;
std::string SampleMarketTest::error_;

TEST_F(SampleMarketTest, SameSeedGivesIdenticalBytesAndAnotherSeedDiffers) {
  test::TempDir again;
  std::string error;
  ASSERT_TRUE(sample::generate(small_market(again), error)) << error;
  const auto first = test::files_under(dir_->path());
  const auto second = test::files_under(again.path());
  ASSERT_GT(first.size(), 100u);
  EXPECT_TRUE(first == second);

  test::TempDir other;
  ASSERT_TRUE(sample::generate(small_market(other, 8), error)) << error;
  EXPECT_FALSE(first == test::files_under(other.path()));
}

TEST_F(SampleMarketTest, ReferenceCodeTradesOnEveryTradingDay) {
  const std::vector<int> expected = sample::trading_days(2024, 20250613);
  std::vector<int> reference_days;
  for (int year : {2024, 2025}) {
    SeriesFile file;
    ASSERT_TRUE(read_series_file(series_file_path(db(), year, "1001"), file));
    ASSERT_FALSE(file.days.empty());
    EXPECT_EQ(file.header.d5, file.days.back().d1_code_yyyymmdd) << year;
    EXPECT_EQ(file.header.d6, std::to_string(file.days.size()));
    for (const auto& d : file.days) reference_days.push_back(std::stoi(d.d1_code_yyyymmdd));
    // One day file per trading day, each holding the reference code.
    const auto day_files = day_files_of_year(db(), year);
    std::size_t from_reference = 0;
    for (const auto& d : file.days) from_reference += d.d1_code_yyyymmdd.size() == 8;
    EXPECT_EQ(day_files.size(), from_reference);
  }
  EXPECT_EQ(reference_days, expected);
  EXPECT_EQ(summary_.end_date, kEnd);

  std::string latest;
  ASSERT_TRUE(read_latest_date(db(), "1001", 2025, 1982, latest));
  EXPECT_EQ(latest, kEnd);

  TradingCalendar cal;
  ASSERT_EQ(build_trading_calendar(source(), cal, kEnd, 300), 0);
  ASSERT_EQ(cal.count(), 300);
  EXPECT_EQ(cal.at(1), kEnd);
  EXPECT_EQ(cal.at(300), std::to_string(expected[expected.size() - 300]));
}

// Walks a packed file line by line: its header's field 2 blocks, each a header whose count field
// says how many lines follow. Returns the blocks as (name, bytes).
std::vector<std::pair<std::string, std::string>> packed_blocks(const std::string& bytes,
                                                               std::size_t count_field,
                                                               long long& declared) {
  std::vector<std::pair<std::string, std::string>> blocks;
  std::vector<std::string> lines = split(bytes, "\r\n");
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  declared = lines.empty() ? -1 : parse_integer(split(lines[0], ",")[1]);
  std::size_t i = 1;
  while (i < lines.size()) {
    const auto header = split(lines[i], ",");
    if (header.size() <= count_field) break;
    const auto n = static_cast<std::size_t>(parse_integer(header[count_field]));
    std::string block;
    for (std::size_t k = i; k <= i + n && k < lines.size(); ++k) block += lines[k] + "\r\n";
    blocks.emplace_back(header[0], block);
    i += n + 1;
  }
  return blocks;
}

TEST_F(SampleMarketTest, PackedFilesHoldExactlyTheDatabaseFiles) {
  const struct {
    const char* staging;
    const char* target;
    std::size_t count_field;
    std::size_t header_fields;
  } kinds[] = {
      {"data_dg", "data_d", 1, 8}, {"data_mg", "data_m", 5, 6}, {"data_mhg", "data_mh", 2, 3}};
  for (int year : {2024, 2025}) {
    for (const auto& kind : kinds) {
      std::size_t packed_total = 0;
      for (const auto& e : fs::directory_iterator(packed_year(year) + kind.staging)) {
        std::string bytes;
        ASSERT_TRUE(read_file_bytes(e.path(), bytes));
        EXPECT_EQ(split(bytes.substr(0, bytes.find("\r\n")), ",").size(), kind.header_fields);
        long long declared = 0;
        const auto blocks = packed_blocks(bytes, kind.count_field, declared);
        EXPECT_EQ(declared, static_cast<long long>(blocks.size())) << e.path();
        for (const auto& [name, block] : blocks) {
          std::string unpacked;
          ASSERT_TRUE(read_file_bytes(year_folder(db(), year) + kind.target + "/" + name + ".csv",
                                      unpacked))
              << name;
          EXPECT_EQ(block, unpacked) << name;
        }
        packed_total += blocks.size();
      }
      const auto in_db = std::distance(
          fs::directory_iterator(year_folder(db(), year) + kind.target), fs::directory_iterator{});
      EXPECT_EQ(packed_total, static_cast<std::size_t>(in_db)) << year << kind.target;
    }
    // Months up to the end date only; all nine thousand-code blocks.
    const int months = year == 2025 ? 6 : 12;
    EXPECT_EQ(std::distance(fs::directory_iterator(packed_year(year) + "data_dg"),
                            fs::directory_iterator{}),
              months);
    EXPECT_EQ(std::distance(fs::directory_iterator(packed_year(year) + "data_mg"),
                            fs::directory_iterator{}),
              9);
  }
}

TEST_F(SampleMarketTest, SplitAdjustedSeriesAreContinuousAcrossTheSplit) {
  int checked = 0, one_for_two = 0;
  for (int year : {2024, 2025}) {
    for (const auto& e : fs::directory_iterator(year_folder(db(), year) + "data_mh")) {
      CorrectionFile corr;
      ASSERT_TRUE(read_correction_file(e.path().string(), corr));
      ASSERT_EQ(corr.rows.size(), 1u);
      const Correction& c = corr.rows[0];
      ASSERT_GT(c.numerator, 0);
      ASSERT_GT(c.denominator, 0);
      one_for_two += c.numerator == 1 && c.denominator == 2;

      Series adjusted, raw;
      const std::string code = corr.code;
      ASSERT_EQ(load_series(source(), kEnd, 600, code, adjusted, true), 0) << code;
      ASSERT_EQ(load_series(source(), kEnd, 600, code, raw, false), 0) << code;
      // The last traded day before the split and the first on or after it (newest first).
      const int n = series_count(adjusted);
      int after = 0, before = 0;
      for (int i = 1; i <= n; ++i) {
        const auto& r = adjusted[static_cast<std::size_t>(i)];
        if (parse_integer(r.d6) == 0) continue;  // gap or no trade
        if (r.d1_code_yyyymmdd >= c.date) {
          after = i;
        } else {
          before = i;
          break;
        }
      }
      ASSERT_GT(after, 0) << code;
      ASSERT_GT(before, 0) << code;
      const auto close = [](const Series& s, int i) {
        return parse_number(s[static_cast<std::size_t>(i)].d5);
      };
      const double adjusted_step = close(adjusted, after) / close(adjusted, before);
      const double raw_step = close(raw, after) / close(raw, before);
      EXPECT_GT(adjusted_step, 0.6) << code << " " << c.date;
      EXPECT_LT(adjusted_step, 1.67) << code << " " << c.date;
      // The raw prices jump by the split ratio (rounding to ticks aside).
      EXPECT_NEAR(raw_step * c.denominator / c.numerator / adjusted_step, 1.0, 0.05) << code;
      ++checked;
    }
  }
  EXPECT_GE(checked, 2);
  EXPECT_GE(one_for_two, 1);
}

// Every day record of one code over the span, oldest first.
std::vector<std::string> dates_of(const std::string& db, const std::string& code) {
  std::vector<std::string> dates;
  for (int year : {2024, 2025}) {
    SeriesFile s;
    if (!read_series_file(series_file_path(db, year, code), s)) continue;
    for (const auto& d : s.days) dates.push_back(d.d1_code_yyyymmdd);
  }
  return dates;
}

TEST_F(SampleMarketTest, ListingsDelistingsAndMissingDays) {
  std::vector<std::string> span;
  for (int d : sample::trading_days(2024, 20250613)) span.push_back(std::to_string(d));
  const auto trading_days_between = [&](const std::string& from, const std::string& to) {
    return std::count_if(span.begin(), span.end(),
                         [&](const std::string& d) { return d >= from && d <= to; });
  };
  const struct {
    const char* kind;
    const std::vector<std::string>& codes;
  } kinds[] = {{"listed", summary_.listed_inside},
               {"delisted", summary_.delisted_inside},
               {"illiquid", summary_.illiquid}};
  for (const auto& kind : kinds) {
    ASSERT_FALSE(kind.codes.empty()) << kind.kind;
    for (const std::string& code : kind.codes) {
      const auto dates = dates_of(db(), code);
      ASSERT_FALSE(dates.empty()) << code;
      const std::string k = kind.kind;
      if (k == "listed") {
        EXPECT_GT(dates.front(), span.front()) << code;
      } else if (k == "delisted") {
        EXPECT_LT(dates.back(), span.back()) << code;
        DayFile last;
        ASSERT_TRUE(read_day_file(day_file_path(db(), kEnd), last, false));
        EXPECT_TRUE(std::none_of(last.rows.begin(), last.rows.end(),
                                 [&](const PriceRecord& r) { return r.code == code; }));
      } else {
        EXPECT_LT(static_cast<long>(dates.size()),
                  trading_days_between(dates.front(), dates.back()))
            << code;
      }
    }
  }
  // A liquid stock present over the whole span trades every day: 1301.
  const auto dates_1301 = dates_of(db(), "1301");
  EXPECT_EQ(dates_1301, span);
}

TEST_F(SampleMarketTest, NamesAndSegmentsOfTheLatestDay) {
  DayFile day;
  ASSERT_TRUE(read_day_file(day_file_path(db(), kEnd), day));
  std::set<std::string> segments, names;
  for (const auto& r : day.rows) {
    segments.insert(r.market);
    names.insert(r.name);
    EXPECT_EQ(r.name.find('?'), std::string::npos) << r.name;  // a character CP932 lacks
  }
  for (const auto& s : sample::listed_segment_names()) EXPECT_TRUE(segments.count(s)) << s;
  EXPECT_GT(segments.size(), sample::listed_segment_names().size());
  EXPECT_TRUE(names.count("サクラ精密工業(株)"));
  EXPECT_TRUE(names.count("ｻｸﾗ電機"));
  const auto count_if = [&](auto pred) { return std::count_if(names.begin(), names.end(), pred); };
  const std::string marker = "(株)";
  EXPECT_GT(count_if([&](const std::string& n) { return n.rfind(marker, 0) == 0; }), 0);
  EXPECT_GT(count_if([&](const std::string& n) {
              return n.size() > marker.size() && n.ends_with(marker);
            }),
            0);
  EXPECT_GT(count_if([&](const std::string& n) { return n.find("(株)") == std::string::npos; }), 0);
  // The loader's name clean-up sees the marker as written.
  Series s;
  ASSERT_EQ(load_series(source(), kEnd, 5, "1301", s, false), 0);
  EXPECT_EQ(s[0].d3, "北洋水産");
}

}  // namespace
}  // namespace lp
