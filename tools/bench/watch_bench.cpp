// Watched screens: ten screens after a one-day update (the market's load included), twenty
// days of history for ten screens, and the daily report with thirty new-entrant charts.
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "common/csv.h"
#include "common/encoding.h"
#include "pricedb/formats.h"
#include "screening/formula/formula_step.h"
#include "screening/preferences.h"
#include "screening/saved_screens.h"
#include "watch/report_painter.h"
#include "watch/watch_report.h"
#include "watch/watch_run.h"

namespace {

namespace fs = std::filesystem;
using lp::bench::Case;
using lp::bench::Setup;

std::string template_init() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return (exe.parent_path() / "init.txt").string();
}

// A documents folder of its own whose settings point at the sample database, so the saved
// screens and histories of the bench touch nothing the other cases read.
lp::Platform watch_platform(const Setup& setup) {
  lp::Platform p = lp::bench::bench_platform(setup);
  p.documents_folder = setup.market_dir + "/watch-documents";
  p.desktop_folder = p.documents_folder;
  const lp::AppFolders f = lp::read_settei_sub(p.documents_folder, p.desktop_folder);
  fs::create_directories(f.app_folder);
  lp::write_file_atomic(
      f.app_folder + "settei.txt",
      lp::utf8_to_cp932("株価データベースフォルダパス," + setup.db_folder + "\r\nEOF,0\r\n"));
  return p;
}

// Ten screens: criteria from the template's defaults and formula rows, mixed.
void save_ten_screens(const std::string& user) {
  std::error_code ec;
  fs::remove_all(lp::screening::screens_folder(user), ec);
  struct Def {
    std::vector<int> criteria;
    const char* formula;
    const char* show;
  };
  const std::vector<Def> defs = {
      {{1}, nullptr, nullptr},           {{1, 8}, nullptr, nullptr},
      {{1, 10}, nullptr, nullptr},       {{7}, nullptr, nullptr},
      {{8, 10}, nullptr, nullptr},       {{}, "C > MA(C,25)", "C/MA(C,25)"},
      {{}, "RSI(14) < 30", "RSI(14)"},   {{1}, "C > MA(C,25) AND RSI(14) < 30", nullptr},
      {{}, "C < MA(C,75)*0.9", nullptr}, {{8}, "C > MA(C,5)", "C/MA(C,5)"},
  };
  int i = 0;
  for (const Def& d : defs) {
    lp::screening::ControlSet c = lp::screening::ControlSet::with_builtins();
    lp::screening::read_init_sel(c, template_init());
    for (int n = 1; n <= 45; ++n) c.set_checked(lp::screening::indexed("pr_chk", n), false);
    for (int n : d.criteria) c.set_checked(lp::screening::indexed("pr_chk", n), true);
    c.set_text("kabukamin", "30");
    c.set_text("kabukamax", "3000");
    for (int m = 0; m < 6; ++m) c.set_checked(lp::screening::indexed("shijyou_chk", m), true);
    if (d.formula) {
      c.set_checked(lp::screening::indexed("pr_chk", 41), true);
      c.set_text(lp::screening::formula_text_control(41), d.formula);
      if (d.show) c.set_text(lp::screening::formula_show_control(41), d.show);
    }
    std::string error;
    lp::screening::save_screen(user, "screen" + std::to_string(++i), c, {true, ""}, error);
  }
}

double cpu_seconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The judge of a timed target that also says how much CPU the last run took: on a shared
// machine the wall time includes waiting for the processor.
std::function<std::string(const lp::bench::Result&, const std::vector<lp::bench::Result>&)> judge(
    double target, std::shared_ptr<double> cpu) {
  return [target, cpu](const lp::bench::Result& self, const std::vector<lp::bench::Result>&) {
    char text[64];
    std::snprintf(text, sizeof text, " (%.2f s CPU)", *cpu);
    return lp::bench::yes_no(self.median_seconds <= target) + text;
  };
}

std::vector<std::string> newest_dates(const lp::AppFolders& f, std::size_t n) {
  std::vector<std::string> all = lp::watch::trading_dates(f);
  if (all.size() > n) all.erase(all.begin(), all.end() - static_cast<long>(n));
  return all;
}

void add_watch_cases(const Setup& setup, std::vector<Case>& cases) {
  const lp::Platform platform = watch_platform(setup);
  const lp::AppFolders folders =
      lp::read_settei_sub(platform.documents_folder, platform.desktop_folder);
  const std::string user = folders.user_folder;
  auto seeded = std::make_shared<std::vector<std::pair<std::string, std::string>>>();
  auto days = std::make_shared<std::vector<std::string>>();
  auto one_cpu = std::make_shared<double>(0);
  auto twenty_cpu = std::make_shared<double>(0);
  {
    // The steady state: yesterday's blocks are there, the update added today.
    Case c{"watch: 10 watched screens after a one-day update (market load included)", "<= 1 s",
           [platform, folders, user, seeded, days] {
             save_ten_screens(user);
             std::error_code ec;
             fs::remove_all(lp::watch::watch_folder(user), ec);
             *days = newest_dates(folders, 2);
             lp::watch::RunRequest r;
             r.platform = platform;
             r.days = {days->front()};
             lp::watch::run_watched(r);
             for (int i = 1; i <= 10; ++i) {
               const std::string path = lp::watch::history_path(user, "screen" + std::to_string(i));
               std::string bytes;
               lp::read_file_bytes(path, bytes);
               seeded->emplace_back(path, bytes);
             }
           },
           [platform, seeded, days, cpu = one_cpu]() -> long long {
             for (const auto& [path, bytes] : *seeded) lp::write_file_atomic(path, bytes);
             const double start = cpu_seconds();
             lp::watch::RunRequest r;
             r.platform = platform;
             r.days = {days->back()};
             const long long n = lp::watch::run_watched(r).blocks_written;
             *cpu = cpu_seconds() - start;
             return n;
           }};
    c.item = "screen";
    c.judge = judge(1, one_cpu);
    cases.push_back(std::move(c));
  }
  {
    Case c{"watch: 20 days of history for 10 screens (market load included)", "<= 5 s",
           [user] { save_ten_screens(user); },
           [platform, folders, user, cpu = twenty_cpu]() -> long long {
             std::error_code ec;
             fs::remove_all(lp::watch::watch_folder(user), ec);
             const double start = cpu_seconds();
             lp::watch::RunRequest r;
             r.platform = platform;
             r.days = newest_dates(folders, 20);
             const long long n = lp::watch::run_watched(r).blocks_written;
             *cpu = cpu_seconds() - start;
             return n;
           }};
    c.item = "screen-day";
    c.judge = judge(5, twenty_cpu);
    c.runs = 3;
    cases.push_back(std::move(c));
  }
  {
    // One watched screen whose newest day lets 30 stocks in.
    auto date = std::make_shared<std::string>();
    Case c{"watch report: 30 new-entrant charts, 120 days each", "<= 2 s",
           [folders, user, date] {
             save_ten_screens(user);
             std::error_code ec;
             fs::remove_all(lp::watch::watch_folder(user), ec);
             for (int i = 2; i <= 10; ++i) {
               std::string error;
               lp::screening::write_screen_marks(user, "screen" + std::to_string(i), {false, ""},
                                                 error);
             }
             const std::vector<std::string> two = newest_dates(folders, 2);
             *date = two.back();
             lp::DayFile day;
             lp::read_day_file(lp::day_file_path(folders.db_folder, *date), day);
             lp::watch::Block today{*date, {}};
             for (const lp::PriceRecord& r : day.rows) {
               if (today.hits.size() == 30) break;
               if (r.code == "1001") continue;
               today.hits.push_back({r.code, r.name, r.close, "-"});
             }
             std::string error;
             std::vector<lp::watch::Block> blocks = {{two.front(), {}}, today};
             lp::watch::append_blocks(user, "screen1", blocks, error);
             lp::watch::ensure_gui_application();
           },
           [folders, date]() -> long long {
             std::string path, error;
             int charts = 0;
             const lp::watch::ChartPicture draw = lp::watch::report_chart_picture(folders);
             const lp::watch::ChartPicture counted = [&](const std::string& code,
                                                         const std::string& d) {
               std::string png = draw(code, d);
               charts += !png.empty();
               return png;
             };
             lp::watch::write_report(folders, *date, counted, path, error);
             return charts;
           }};
    c.item = "chart";
    cases.push_back(std::move(c));
  }
}

LP_BENCH(add_watch_cases);

}  // namespace
