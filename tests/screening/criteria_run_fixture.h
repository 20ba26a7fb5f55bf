// A small database and a screening run around one criterion routine: the reference code
// trades every weekday, the stocks are given newest first, and the routine runs with the
// window's built-in controls, a day table and a candidate list of the stocks added.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/numbers.h"
#include "screening/criteria/criterion.h"
#include "screening/screening_session.h"
#include "support/fixtures.h"

namespace lp::test {

// One day of a stock; a bar of zeros is a day without a line (a gap day).
struct Bar {
  double open, high, low, close;
  long long volume;
  bool gap() const { return volume == 0 && open == 0 && high == 0 && low == 0 && close == 0; }
};

class CriteriaRun {
 public:
  // `trading_days` weekdays ending on Friday 2024-12-27 (crossing into 2023 when long).
  explicit CriteriaRun(int trading_days = 60) {
    using namespace std::chrono;
    for (sys_days d = year{2024} / December / 27; static_cast<int>(dates_.size()) < trading_days;
         d -= days{1}) {
      if (weekday{d} == Saturday || weekday{d} == Sunday) continue;
      const year_month_day ymd{d};
      char buf[16];
      std::snprintf(buf, sizeof buf, "%04d%02u%02u", static_cast<int>(ymd.year()),
                    static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
      dates_.push_back(buf);
    }
    std::filesystem::create_directories(user);
    write_stock("1001", "1001", std::vector<Bar>(dates_.size(), Bar{1000, 1000, 1000, 1000, 1}));
    table.records.resize(1);
    table.records[0].f[0] = dates_.front();
    table.records[0].f[1] = "0";
    controls = screening::ControlSet::with_builtins();
    names = screening::criterion_name_list();
    ctx.source = SeriesSource(db, "1001");
    ctx.today = dates_.front();
    ctx.user_folder = user;
    ctx.day_table = &table;
    ctx.controls = &controls;
    ctx.trading_day_count = trading_days;
    ctx.criterion_names = &names;
    ctx.events.message = [this](const std::string& text, screening::TextColor) {
      if (!text.empty()) messages.push_back(text);
    };
    ctx.events.result_label = [this](int n, const std::string& text) { labels[n] = text; };
    ctx.events.show_option = [this](int n) { shown.push_back(n); };
  }

  // Trading date of day i (1 = newest).
  const std::string& date(int i) const { return dates_[static_cast<std::size_t>(i - 1)]; }

  // Writes the stock's series files (bars newest first on the latest trading days) under the
  // header code `file_code` (another code makes a damaged file) and adds a day-table row whose
  // close and previous close are those of days 1 and 2.
  void add_stock(const std::string& code, const std::vector<Bar>& bars,
                 const std::string& file_code = "") {
    write_stock(code, file_code.empty() ? code : file_code, bars);
    auto close = [&](std::size_t i) {
      return i < bars.size() ? format_decimal(bars[i].close) : "0";
    };
    add_row(code, close(0), close(1));
  }

  // Closes newest first, each day open = high = low = close; 0 is a gap day.
  void add_closes(const std::string& code, const std::vector<double>& newest_first) {
    std::vector<Bar> bars;
    for (double c : newest_first)
      bars.push_back(c > 0 ? Bar{c, c, c, c, 1000} : Bar{0, 0, 0, 0, 0});
    add_stock(code, bars);
  }

  void add_row(const std::string& code, const std::string& close, const std::string& prev) {
    screening::DayRecord r;
    r.f = {code, "東証1部", "銘柄" + code, close, close, close, close, "1000", prev, "1000"};
    table.records.push_back(r);
    table.records[0].f[1] = std::to_string(table.records.size() - 1);
  }

  // The candidate list of every day-table row, as the universe step leaves it.
  void start() {
    candidates = {table.date(), "", {}};
    for (std::size_t k = 1; k < table.records.size(); ++k) {
      candidates.items.push_back({table.records[k].code(), std::to_string(k), ""});
    }
    output = candidates;
  }

  // Runs the routine as the run does: with its box ticked (unless `tick` is false).
  void run(screening::CriterionFn routine, int n, bool tick = true) {
    if (candidates.date.empty()) start();
    controls.set_checked(screening::indexed("pr_chk", n), tick);
    routine(ctx, candidates, output, n);
  }

  std::vector<std::string> kept() const {
    std::vector<std::string> out;
    for (const auto& c : candidates.items) out.push_back(c.code);
    return out;
  }
  // Code -> value text of the candidates now in the list.
  std::map<std::string, std::string> values() const {
    std::map<std::string, std::string> out;
    for (const auto& c : candidates.items) out[c.code] = c.value;
    return out;
  }
  std::string text(const std::string& control) const { return controls.text(control); }
  void set(const std::string& control, const std::string& value) {
    controls.set_text(control, value);
  }

  TempDir dir;
  std::string db = dir.str() + "/db/", user = dir.str() + "/user/";
  screening::DayTable table;
  screening::ControlSet controls;
  std::vector<std::string> names;
  screening::RunContext ctx;
  screening::CandidateList candidates, output;
  std::vector<std::string> messages;
  std::map<int, std::string> labels;
  std::vector<int> shown;

 private:
  void write_stock(const std::string& code, const std::string& file_code,
                   const std::vector<Bar>& newest_first) {
    std::map<int, std::vector<Day>> by_year;  // oldest first within a year
    for (std::size_t i = newest_first.size(); i-- > 0;) {
      const Bar& b = newest_first[i];
      if (b.gap()) continue;
      const std::string& d = dates_.at(i);
      by_year[std::stoi(d.substr(0, 4))].push_back({d, b.open, b.high, b.low, b.close, b.volume});
    }
    for (auto& [y, days] : by_year) {
      write_series_file(db, y, file_code, "銘柄" + code, days);
      if (file_code != code) {
        std::filesystem::rename(series_file_path(db, y, file_code), series_file_path(db, y, code));
      }
    }
  }

  std::vector<std::string> dates_;  // newest first
};

// The two bound boxes as typed, and the codes kept with their values.
struct BoundsCase {
  const char *lo, *hi;
  std::map<std::string, std::string> kept;
};

// Runs criterion `n` per case on a fresh run that `setup` fills, the bounds typed into the two
// boxes; checks what it keeps, the value title and the count label, then what `after` adds.
inline void check_bounds_table(
    screening::CriterionFn routine, int n, int days, const std::string& lo_box,
    const std::string& hi_box, const std::string& title, const std::vector<BoundsCase>& cases,
    const std::function<void(CriteriaRun&)>& setup,
    const std::function<void(const CriteriaRun&, const BoundsCase&)>& after = {}) {
  for (const BoundsCase& c : cases) {
    SCOPED_TRACE("criterion " + std::to_string(n) + ", bounds " + c.lo + ".." + c.hi);
    CriteriaRun r(days);
    setup(r);
    const std::size_t total = r.table.records.size() - 1;
    r.set(lo_box, c.lo);
    r.set(hi_box, c.hi);
    r.run(routine, n);
    EXPECT_EQ(r.values(), c.kept);
    EXPECT_EQ(r.candidates.title, title);
    EXPECT_EQ(r.labels[n], std::to_string(c.kept.size()) + "/" + std::to_string(total));
    if (after) after(r, c);
  }
}

}  // namespace lp::test
