// A small hand-made market for the screening tests: a weekday calendar, the reference code
// trading every day, stocks given by their closes (oldest first, aligned to the last day).
#pragma once

#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "common/csv.h"
#include "common/numbers.h"
#include "common/platform.h"
#include "common/settings.h"
#include "pricedb/formats.h"
#include "support/fixtures.h"

namespace lp::test {

constexpr double kGap = std::numeric_limits<double>::quiet_NaN();

struct StockDef {
  std::string code, market, name;
  std::vector<double> closes;  // oldest first, the last on the last day; kGap = no record
  long long volume = 1000;
};

class MiniMarket {
 public:
  // `days` weekdays from 2024-01-04 on.
  explicit MiniMarket(int days = 60) {
    using namespace std::chrono;
    for (sys_days d = sys_days{year{2024} / January / 4}; static_cast<int>(dates.size()) < days;
         d += std::chrono::days{1}) {
      if (weekday wd{d}; wd == Saturday || wd == Sunday) continue;
      const year_month_day ymd{d};
      dates.push_back(std::to_string(static_cast<int>(ymd.year()) * 10000 +
                                     static_cast<int>(static_cast<unsigned>(ymd.month())) * 100 +
                                     static_cast<int>(static_cast<unsigned>(ymd.day()))));
    }
    folders = read_settei_sub(dir.str(), dir.str());
  }

  void add(StockDef s) { stocks.push_back(std::move(s)); }

  // Writes the series files, the reference code and the day file of the last date.
  void write() {
    std::vector<Day> ref;
    for (const auto& d : dates) ref.push_back({d, 100, 100, 100, 100, 1});
    write_series_file(folders.db_folder, 2024, "1001", "基準", ref);
    for (const auto& s : stocks) {
      std::vector<Day> days;
      const std::size_t offset = dates.size() - s.closes.size();
      for (std::size_t i = 0; i < s.closes.size(); ++i) {
        const double c = s.closes[i];
        if (std::isnan(c)) continue;
        days.push_back({dates[offset + i], c, c, c, c, s.volume});
      }
      if (s.code != "1001") write_series_file(folders.db_folder, 2024, s.code, s.name, days);
    }
    CsvWriter w;
    w.field(dates.back()).field(static_cast<long long>(stocks.size()));
    for (int i = 0; i < 6; ++i) w.field("0");
    w.end_line();
    for (const auto& s : stocks) {
      const double c = s.closes.empty() ? kGap : s.closes.back();
      const std::string t = std::isnan(c) ? "0" : format_decimal(c);
      w.fields({s.code, s.market, s.name, t, t, t, t}).field(std::isnan(c) ? 0 : s.volume);
      w.end_line();
    }
    std::filesystem::create_directories(year_folder(folders.db_folder, 2024) + "data_d");
    w.commit(day_file_path(folders.db_folder, dates.back()));
    write_cp932(folders.app_folder + "settei.txt", "EOF,0\r\n");
  }

  Platform platform() const {
    Platform p;
    p.documents_folder = dir.str();
    p.desktop_folder = dir.str();
    std::string today = dates.back();
    p.today = [today] { return today; };
    return p;
  }

  TempDir dir;
  AppFolders folders;
  std::vector<std::string> dates;
  std::vector<StockDef> stocks;
};

// Three stocks of three segments (names with "(株)") and one code that is no stock code.
inline void add_small_market(MiniMarket& m) {
  m.add({"1301", "東証1部", "(株)極洋", {250, 251, 252}, 1200});
  m.add({"1332", "マザーズ", "日本水産(株)", {500, 480, 520}, 3000});
  m.add({"2001", "名証", "その他株", {40, 41, 42}, 100});
  m.add({"0998", "東証1部", "四桁未満", {40, 41, 42}, 100});
}

}  // namespace lp::test

#include "screening/criteria/criterion.h"
#include "screening/universe.h"

namespace lp::test {

// A run context over a MiniMarket: every stock of its day file is a candidate, labels and
// messages are recorded.
struct CriterionBench {
  explicit CriterionBench(MiniMarket& m) : market(m) {
    m.write();
    std::filesystem::create_directories(m.folders.user_folder);
    screening::read_day_table(day_file_path(m.folders.db_folder, m.dates.back()), table);
    ctx.source = SeriesSource::from(m.folders);
    ctx.today = m.dates.back();
    ctx.user_folder = m.folders.user_folder;
    ctx.day_table = &table;
    ctx.controls = &controls;
    ctx.criterion_names = &names;
    ctx.events.result_label = [this](int, const std::string& t) { label = t; };
    ctx.events.message = [this](const std::string& t, screening::TextColor) {
      messages.push_back(t);
    };
    screening::filter_markets(table, {true, true, true, true, true, true}, candidates);
    output = candidates;
  }

  std::vector<std::string> codes() const {
    std::vector<std::string> out;
    for (const auto& c : candidates.items) out.push_back(c.code);
    return out;
  }

  MiniMarket& market;
  screening::DayTable table;
  screening::ControlSet controls = screening::ControlSet::with_builtins();
  std::vector<std::string> names = std::vector<std::string>(51);
  screening::RunContext ctx;
  screening::CandidateList candidates, output;
  std::string label;
  std::vector<std::string> messages;
};

}  // namespace lp::test
