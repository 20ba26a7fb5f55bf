// A screen as of a past day must see nothing dated later: every file dated after the day is
// altered and the result must not change, whether the screen reads the files or the
// in-memory market. The backtest's honesty rests on this.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "backtest/screen_backtest.h"
#include "common/csv.h"
#include "common/numbers.h"
#include "pricedb/formats.h"
#include "pricedb/market_store.h"
#include "sample-market/sample_market.h"
#include "screening/formula/formula_step.h"
#include "screening/rankings.h"
#include "support/fixtures.h"

namespace lp {
namespace {

namespace fs = std::filesystem;
using screening::indexed;
using screening::ScreeningSession;

constexpr const char* kAsOf = "20240610";

struct Market {
  test::TempDir dir;
  AppFolders folders = read_settei_sub(dir.str(), dir.str());
  std::string error;
  bool ok = [this] {
    sample::Options o;
    o.codes = 150;
    o.years = 2;
    o.end_date = "20250613";
    o.seed = 5;
    o.db_folder = folders.db_folder;
    test::write_cp932(folders.app_folder + "settei.txt", "EOF,0\r\n");
    fs::create_directories(folders.user_folder);
    return sample::generate(o, error);
  }();
  Platform platform() const {
    Platform p;
    p.documents_folder = dir.str();
    p.desktop_folder = dir.str();
    p.today = [] { return std::string("20250613"); };
    return p;
  }
};

// "123" -> "1237": a different number of the same shape.
std::string altered(std::string_view field) {
  return std::string(field) + "7";
}

// Rewrites every field from `first` on of the lines selected by `pick` (CP932 is kept: only
// numeric fields are touched).
void alter_lines(const fs::path& file, std::size_t first,
                 const std::function<bool(const std::vector<std::string>&, bool header)>& pick) {
  const std::string bytes = test::read_bytes(file);
  std::string out;
  std::size_t pos = 0;
  bool header = true;
  while (pos < bytes.size()) {
    std::size_t nl = bytes.find("\r\n", pos);
    if (nl == std::string::npos) nl = bytes.size();
    std::vector<std::string> f;
    std::size_t s = pos;
    while (true) {
      const std::size_t c = bytes.find(',', s);
      if (c == std::string::npos || c > nl) {
        f.push_back(bytes.substr(s, nl - s));
        break;
      }
      f.push_back(bytes.substr(s, c - s));
      s = c + 1;
    }
    if (pick(f, header)) {
      for (std::size_t i = first; i < f.size(); ++i) f[i] = altered(f[i]);
    }
    for (std::size_t i = 0; i < f.size(); ++i) out += (i ? "," : "") + f[i];
    out += "\r\n";
    pos = nl + 2;
    header = false;
  }
  test::write_bytes(file, out);
}

bool after(std::string_view date) {
  return date.size() == 8 && parse_integer(date) > parse_integer(kAsOf);
}

// Prices, later days, later corrections, later listings: all changed.
void alter_everything_after(const std::string& db) {
  for (int y : years_present(db)) {
    const fs::path year = year_folder(db, y);
    for (const auto& e : fs::directory_iterator(year / "data_d")) {
      if (after(e.path().stem().string())) {
        alter_lines(e.path(), 3,
                    [](const std::vector<std::string>&, bool header) { return !header; });
      }
    }
    for (const auto& e : fs::directory_iterator(year / "data_m")) {
      alter_lines(e.path(), 1, [](const std::vector<std::string>& f, bool header) {
        return !header && after(f[0]);
      });
      if (y < 2024) continue;
      // A split announced after the day, for every stock.
      const std::string code = e.path().stem().string();
      CorrectionFile cf;
      read_correction_file(correction_file_path(db, y, code), cf);
      std::vector<std::tuple<std::string, double, double>> rows;
      for (const Correction& c : cf.rows) rows.emplace_back(c.date, c.numerator, c.denominator);
      rows.emplace_back(std::to_string(y) + "1120", 1, 3);
      test::write_correction_file(db, y, code, rows);
    }
  }
  // A stock listed after the day.
  test::write_series_file(db, 2025, "9998", "新規上場", {{"20250401", 100, 100, 100, 100, 5}});
}

struct Screen {
  std::vector<int> criteria;
  std::vector<std::pair<std::string, std::string>> values;
};

// The screen's counts and its result file, as of kAsOf, from the files or from memory.
std::string screen_as_of(const Market& m, const Screen& s,
                         std::shared_ptr<const MarketStore> store) {
  ScreeningSession session(m.platform(), nullptr);
  session.load(false);
  for (int n = 1; n <= 40; ++n) session.controls().set_checked(indexed("pr_chk", n), false);
  for (int n : s.criteria) session.controls().set_checked(indexed("pr_chk", n), true);
  for (const auto& [name, value] : s.values) session.controls().set_text(name, value);
  session.use_market(std::move(store), kAsOf);
  EXPECT_TRUE(session.run());
  std::string out;
  for (const auto& [n, count] : session.last_counts())
    out += std::to_string(n) + " " + count + "\n";
  return out + test::read_cp932(session.file_in_user_folder("sel0_out.csv"));
}

std::string ranking_as_of(const Market& m, const std::string& name,
                          std::shared_ptr<const MarketStore> store) {
  test::TempDir scratch;
  screening::RankingSource src;
  src.source = SeriesSource::from(m.folders);
  src.source.store = std::move(store);
  src.source.as_of = kAsOf;
  src.summary_folder = scratch.str() + "/";
  const screening::Top25 top = screening::rank_top25(src, name);
  std::string out = top.date + "\n";
  for (const auto& e : top.entries) out += e.code() + "," + e.close() + "," + e.value + "\n";
  return out;
}

TEST(AsOf, NothingDatedAfterTheDayChangesTheResult) {
  Market m;
  ASSERT_TRUE(m.ok) << m.error;
  const std::vector<Screen> screens = {
      {{1}, {{"kabukamin", "30"}, {"kabukamax", "3000"}}},
      {{1, 2}, {{"kabukamin", "30"}, {"kabukamax", "100000"}}},
      {{1, 8}, {{"kabukamin", "0"}, {"kabukamax", "100000"}}},
      {{4, 9}, {}},
      {{12, 13}, {}},
      {{7, 10}, {}},
      {{41}, {{screening::formula_text_control(41), "C > MA(C,25) AND V > 0"}}},
  };
  const std::vector<std::string> rankings = {"前日比上率ﾄｯﾌﾟ25", "上方乖離率ﾄｯﾌﾟ25"};
  std::string error;
  auto store = MarketStore::load(m.folders.db_folder, m.folders.reference_code, error);
  ASSERT_TRUE(store) << error;

  std::vector<std::string> before;
  for (const Screen& s : screens) {
    before.push_back(screen_as_of(m, s, nullptr));
    EXPECT_EQ(screen_as_of(m, s, store), before.back()) << "memory and files disagree";
  }
  EXPECT_NE(before[0].find(",20240610,"), std::string::npos) << before[0];
  std::size_t lines = 0;
  for (const std::string& b : before)
    lines += static_cast<std::size_t>(std::count(b.begin(), b.end(), '\n'));
  EXPECT_GT(lines, screens.size() * 4) << "the screens must keep stocks to compare";
  for (const auto& r : rankings) before.push_back(ranking_as_of(m, r, nullptr));
  EXPECT_EQ(before.back().substr(0, 8), kAsOf);

  // Without an as-of day the altered files do show: the alteration is real.
  alter_everything_after(m.folders.db_folder);
  auto altered_store = MarketStore::load(m.folders.db_folder, m.folders.reference_code, error);
  ASSERT_TRUE(altered_store) << error;
  for (std::size_t i = 0; i < screens.size(); ++i) {
    EXPECT_EQ(screen_as_of(m, screens[i], nullptr), before[i]) << "files, screen " << i;
    EXPECT_EQ(screen_as_of(m, screens[i], altered_store), before[i]) << "memory, screen " << i;
  }
  for (std::size_t i = 0; i < rankings.size(); ++i) {
    EXPECT_EQ(ranking_as_of(m, rankings[i], nullptr), before[screens.size() + i]) << rankings[i];
    EXPECT_EQ(ranking_as_of(m, rankings[i], altered_store), before[screens.size() + i]);
  }
}

// The session-driven backtest gives the same trades from a screen over the files day by day.
TEST(AsOf, BacktestPicksAreTheAsOfScreensPicks) {
  Market m;
  ASSERT_TRUE(m.ok) << m.error;
  std::string error;
  auto store = MarketStore::load(m.folders.db_folder, m.folders.reference_code, error);
  ASSERT_TRUE(store) << error;
  ScreeningSession session(m.platform(), nullptr);
  session.load(false);
  for (int n = 1; n <= 40; ++n) session.controls().set_checked(indexed("pr_chk", n), false);
  session.controls().set_checked(indexed("pr_chk", 1), true);
  session.controls().set_text("kabukamin", "100");
  session.controls().set_text("kabukamax", "400");
  const backtest::ScreenFn screen = backtest::session_screen(session, store);
  const std::vector<std::string> days = {"20240610", "20240611", "20241227"};
  std::vector<std::vector<backtest::Pick>> all(days.size());
  for (std::size_t d = 0; d < days.size(); ++d) {
    ASSERT_TRUE(screen(days[d], all[d], error)) << error;
    ASSERT_FALSE(all[d].empty()) << days[d];
  }
  // The backtest runs wrote no result file over the user's last result.
  EXPECT_FALSE(fs::exists(session.file_in_user_folder("sel1.csv")));
  EXPECT_FALSE(fs::exists(session.file_in_user_folder("sel0_out.csv")));
  for (std::size_t d = 0; d < days.size(); ++d) {
    const std::string& day = days[d];
    const std::vector<backtest::Pick>& picks = all[d];
    ScreeningSession alone(m.platform(), nullptr);
    alone.load(false);
    alone.controls() = session.controls();
    alone.use_market(nullptr, day);
    ASSERT_TRUE(alone.run());
    ASSERT_EQ(alone.kept().count(), static_cast<int>(picks.size())) << day;
    for (std::size_t i = 0; i < picks.size(); ++i) {
      EXPECT_EQ(alone.kept().items[i].code, picks[i].code);
    }
  }
}

}  // namespace
}  // namespace lp
