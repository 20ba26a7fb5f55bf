// The sample market is what the demo, the tests of later windows and the benchmark run on: these
// tests check it holds what they rely on, in formats the project's own readers accept.
#include "sample-market/sample_market.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "common/csv.h"
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
  for (std::size_t pos = 0;;) {
    const std::size_t at = text.find(sep, pos);
    out.emplace_back(text.substr(pos, at == std::string_view::npos ? at : at - pos));
    if (at == std::string_view::npos) return out;
    pos = at + sep.size();
  }
}

std::size_t entries_in(const std::string& folder) {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator(folder), fs::directory_iterator{}));
}

// One market generated once for the whole suite.
struct Market {
  test::TempDir dir;
  sample::Summary summary;
  std::string error;
  bool ok = sample::generate(small_market(dir), error, summary);
  std::string db = dir.file("db") + "/";
  std::string packed_year(int year) const {
    return dir.file("packed") + "/html/kabuka_db/" + std::to_string(year) + "/";
  }
  SeriesSource source() const { return SeriesSource(db, "1001"); }
  // Every day record of one code over the span, oldest first.
  std::vector<std::string> dates_of(const std::string& code) const {
    std::vector<std::string> dates;
    for (int year : {2024, 2025}) {
      SeriesFile s;
      if (!read_series_file(series_file_path(db, year, code), s)) continue;
      for (const auto& d : s.days) dates.push_back(d.d1_code_yyyymmdd);
    }
    return dates;
  }
};

class SampleMarketTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m.ok) << m.error; }
  static const Market& market() {
    static const Market once;
    return once;
  }
  const Market& m = market();
};

TEST_F(SampleMarketTest, SameSeedGivesIdenticalBytesAndAnotherSeedDiffers) {
  test::TempDir again;
  std::string error;
  ASSERT_TRUE(sample::generate(small_market(again), error)) << error;
  const auto first = test::files_under(m.dir.path());
  ASSERT_GT(first.size(), 100u);
  EXPECT_TRUE(first == test::files_under(again.path()));

  test::TempDir other;
  ASSERT_TRUE(sample::generate(small_market(other, 8), error)) << error;
  EXPECT_FALSE(first == test::files_under(other.path()));
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
  for (std::size_t i = 1; i < lines.size();) {
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
      for (const auto& e : fs::directory_iterator(m.packed_year(year) + kind.staging)) {
        std::string bytes;
        ASSERT_TRUE(read_file_bytes(e.path(), bytes));
        EXPECT_EQ(split(bytes.substr(0, bytes.find("\r\n")), ",").size(), kind.header_fields);
        long long declared = 0;
        const auto blocks = packed_blocks(bytes, kind.count_field, declared);
        EXPECT_EQ(declared, static_cast<long long>(blocks.size())) << e.path();
        for (const auto& [name, block] : blocks) {
          std::string unpacked;
          ASSERT_TRUE(read_file_bytes(year_folder(m.db, year) + kind.target + "/" + name + ".csv",
                                      unpacked))
              << name;
          EXPECT_EQ(block, unpacked) << name;
        }
        packed_total += blocks.size();
      }
      EXPECT_EQ(packed_total, entries_in(year_folder(m.db, year) + kind.target))
          << year << kind.target;
    }
    // Months up to the end date only; all nine thousand-code blocks.
    EXPECT_EQ(entries_in(m.packed_year(year) + "data_dg"), year == 2025 ? 6u : 12u);
    EXPECT_EQ(entries_in(m.packed_year(year) + "data_mg"), 9u);
  }
}

TEST_F(SampleMarketTest, SplitAdjustedSeriesAreContinuousAcrossTheSplit) {
  int checked = 0, one_for_two = 0;
  for (int year : {2024, 2025}) {
    for (const auto& e : fs::directory_iterator(year_folder(m.db, year) + "data_mh")) {
      CorrectionFile corr;
      ASSERT_TRUE(read_correction_file(e.path().string(), corr));
      ASSERT_EQ(corr.rows.size(), 1u);
      const Correction& c = corr.rows[0];
      ASSERT_GT(c.numerator, 0);
      ASSERT_GT(c.denominator, 0);
      one_for_two += c.numerator == 1 && c.denominator == 2;

      Series adjusted, raw;
      const std::string code = corr.code;
      ASSERT_EQ(load_series(m.source(), kEnd, 600, code, adjusted, true), 0) << code;
      ASSERT_EQ(load_series(m.source(), kEnd, 600, code, raw, false), 0) << code;
      // The last traded day before the split and the first on or after it (newest first).
      int after = 0, before = 0;
      for (int i = 1; i <= series_count(adjusted) && before == 0; ++i) {
        const auto& r = adjusted[static_cast<std::size_t>(i)];
        if (parse_integer(r.d6) == 0) continue;  // gap or no trade
        (r.d1_code_yyyymmdd >= c.date ? after : before) = i;
      }
      ASSERT_GT(after, 0) << code;
      ASSERT_GT(before, 0) << code;
      const auto step = [&](const Series& s) {
        return parse_number(s[static_cast<std::size_t>(after)].d5) /
               parse_number(s[static_cast<std::size_t>(before)].d5);
      };
      EXPECT_GT(step(adjusted), 0.6) << code << " " << c.date;
      EXPECT_LT(step(adjusted), 1.67) << code << " " << c.date;
      // The raw prices jump by the split ratio (rounding to ticks aside).
      EXPECT_NEAR(step(raw) * c.denominator / c.numerator / step(adjusted), 1.0, 0.05) << code;
      ++checked;
    }
  }
  EXPECT_GE(checked, 2);
  EXPECT_GE(one_for_two, 1);
}

TEST_F(SampleMarketTest, ListingsDelistingsAndMissingDays) {
  std::vector<std::string> span;
  for (int d : sample::trading_days(2024, 20250613)) span.push_back(std::to_string(d));
  ASSERT_EQ(span.back(), kEnd);
  // One day file per trading day; the reference code and 1301 trade on every one of them.
  EXPECT_EQ(day_files_of_year(m.db, 2024).size() + day_files_of_year(m.db, 2025).size(),
            span.size());
  EXPECT_EQ(m.dates_of("1001"), span);
  EXPECT_EQ(m.dates_of("1301"), span);

  DayFile last;
  ASSERT_TRUE(read_day_file(day_file_path(m.db, kEnd), last));
  const auto trades_last_day = [&](const std::string& code) {
    return std::any_of(last.rows.begin(), last.rows.end(),
                       [&](const PriceRecord& r) { return r.code == code; });
  };
  const auto& s = m.summary;
  for (const auto* codes : {&s.listed_inside, &s.delisted_inside, &s.illiquid}) {
    ASSERT_FALSE(codes->empty());
    for (const std::string& code : *codes) {
      SCOPED_TRACE(code);
      const auto dates = m.dates_of(code);
      ASSERT_FALSE(dates.empty());
      if (codes == &s.listed_inside) {
        EXPECT_GT(dates.front(), span.front());
      } else if (codes == &s.delisted_inside) {
        EXPECT_LT(dates.back(), span.back());
        EXPECT_FALSE(trades_last_day(code));
      } else {
        const auto held = std::count_if(span.begin(), span.end(), [&](const std::string& d) {
          return d >= dates.front() && d <= dates.back();
        });
        EXPECT_LT(static_cast<long>(dates.size()), held);
      }
    }
  }
  // The screening's market boxes admit these names; names carry "(株)" at either end.
  std::set<std::string> segments;
  int marker_front = 0, marker_back = 0;
  for (const auto& r : last.rows) {
    segments.insert(r.market);
    marker_front += r.name.starts_with("(株)");
    marker_back += r.name.size() > 5 && r.name.ends_with("(株)");
  }
  for (const auto& seg : sample::listed_segment_names()) EXPECT_TRUE(segments.count(seg)) << seg;
  EXPECT_GT(marker_front, 0);
  EXPECT_GT(marker_back, 0);
}

}  // namespace
}  // namespace lp
