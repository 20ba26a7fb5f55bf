// A small database and a screening run around one criterion routine: the reference code
// trades every weekday, the stocks are given newest first, and the routine runs with the
// window's built-in controls, a day table and a candidate list of the stocks added.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "common/numbers.h"
#include "screening/criteria/criterion.h"
#include "screening/criteria_test_series.h"
#include "support/fixtures.h"

namespace lp::test {

class CriteriaRun {
 public:
  // `trading_days` weekdays ending on Friday 2024-12-27 (crossing into 2023 when long).
  explicit CriteriaRun(int trading_days = 60) {
    using namespace std::chrono;
    sys_days d = sys_days{year{2024} / December / 27};
    while (static_cast<int>(dates_.size()) < trading_days) {
      const weekday wd{d};
      if (wd != Saturday && wd != Sunday) {
        const year_month_day ymd{d};
        char buf[16];
        std::snprintf(buf, sizeof buf, "%04d%02u%02u", static_cast<int>(ymd.year()),
                      static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
        dates_.push_back(buf);
      }
      d -= days{1};
    }
    db = dir.str() + "/db/";
    user = dir.str() + "/user/";
    std::filesystem::create_directories(user);
    std::vector<Bar> ref;
    for (std::size_t i = 0; i < dates_.size(); ++i) ref.push_back(close_bar("", 1000));
    write_stock("1001", ref);

    table.records.push_back({});
    table.records[0].f[0] = dates_.front();
    table.records[0].f[1] = "0";
    controls = screening::ControlSet::with_builtins();
    names = {"",
             "株価範囲による銘柄選択",
             "最安値日による銘柄選択",
             "最安値による銘柄選択",
             "値幅による銘柄選択１",
             "値幅による銘柄選択２",
             "値幅率による銘柄選択",
             "前日比による銘柄選択",
             "移動平均差による銘柄選択１",
             "移動平均クロスによる銘柄選択２",
             "偏差による銘柄選択",
             "RSIによる銘柄選択",
             "SEMI ALGによる銘柄選択",
             "乖離率による選択処理"};
    names.resize(51);

    ctx.source.db_folder = db;
    ctx.source.reference_code = "1001";
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

  // Writes the stock's series files (bars newest first on the latest trading days; a bar of
  // zeros is a day without a line) and adds a day-table row whose close and previous close
  // are those of days 1 and 2.
  void add_stock(const std::string& code, const std::vector<Bar>& newest_first) {
    write_stock(code, newest_first);
    const auto text = [](const std::vector<Bar>& b, std::size_t i) {
      return i < b.size() ? format_decimal(b[i].close) : std::string("0");
    };
    add_row(code, text(newest_first, 0), text(newest_first, 1));
  }

  // Closes newest first, each day open = high = low = close.
  void add_closes(const std::string& code, const std::vector<double>& newest_first) {
    std::vector<Bar> bars;
    for (double c : newest_first) bars.push_back(c > 0 ? close_bar("", c) : Bar{"", 0, 0, 0, 0, 0});
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
    candidates = {};
    candidates.date = table.date();
    for (std::size_t k = 1; k < table.records.size(); ++k) {
      candidates.items.push_back({table.records[k].code(), std::to_string(k), ""});
    }
    output = candidates;
  }

  void run(screening::CriterionFn routine, int n) {
    if (candidates.date.empty()) start();
    controls.set_checked(screening::indexed("pr_chk", n), true);
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
  std::string intermediate(int n) const {
    return read_cp932(user + "sel" + std::to_string(n) + ".csv");
  }

  // Writes the series file of `code` with the header code `header_code` (a damaged file).
  void write_stock_as(const std::string& code, const std::string& header_code,
                      const std::vector<Bar>& newest_first) {
    write_stock(header_code, newest_first);
    for (int y : years()) {
      const auto from = series_file_path(db, y, header_code);
      if (std::filesystem::exists(from)) {
        std::filesystem::rename(from, series_file_path(db, y, code));
      }
    }
  }

  TempDir dir;
  std::string db, user;
  screening::DayTable table;
  screening::ControlSet controls;
  std::vector<std::string> names;
  screening::RunContext ctx;
  screening::CandidateList candidates, output;
  std::vector<std::string> messages;
  std::map<int, std::string> labels;
  std::vector<int> shown;

 private:
  std::vector<int> years() const {
    std::vector<int> ys;
    for (const auto& d : dates_) {
      const int y = std::stoi(d.substr(0, 4));
      if (ys.empty() || ys.back() != y) ys.push_back(y);
    }
    return ys;
  }

  void write_stock(const std::string& code, const std::vector<Bar>& newest_first) {
    std::map<int, std::vector<Day>> by_year;  // oldest first within a year
    for (std::size_t i = newest_first.size(); i-- > 0;) {
      const Bar& b = newest_first[i];
      if (b.volume == 0 && b.open == 0 && b.high == 0 && b.low == 0 && b.close == 0) continue;
      const std::string& d = dates_.at(i);
      by_year[std::stoi(d.substr(0, 4))].push_back({d, b.open, b.high, b.low, b.close, b.volume});
    }
    for (auto& [y, days] : by_year) write_series_file(db, y, code, "銘柄" + code, days);
  }

  std::vector<std::string> dates_;  // newest first
};

}  // namespace lp::test
