#include "bench/bench_market.h"

#include <filesystem>
#include <system_error>

#include "common/numbers.h"
#include "pricedb/formats.h"
#include "pricedb/series.h"

namespace lp::bench {

namespace sc = lp::screening;

void prepare_market(const Setup& setup, BenchMarket& m, const std::string& user_sub) {
  if (m.ready) return;
  m.ready = true;
  SeriesSource src;
  src.db_folder = setup.db_folder;
  src.reference_code = "1001";
  sc::read_day_table(day_file_path(setup.db_folder, setup.today), m.table);
  TradingCalendar cal;
  build_trading_calendar(src, cal, setup.today, 1500);
  Series buffer;
  sc::fill_previous_day(m.table, src, setup.today, cal, buffer, {});
  sc::count_trading_days(setup.db_folder, "1001",
                         static_cast<int>(parse_integer(setup.today.substr(0, 4))),
                         m.trading_days);
  m.all.date = m.table.date();
  for (int k = 1; k <= m.table.count(); ++k) {
    m.all.items.push_back({m.table.row(k)->code(), std::to_string(k), ""});
  }
  m.user_folder = setup.market_dir + "/" + user_sub + "/";
  std::error_code ec;
  std::filesystem::create_directories(m.user_folder, ec);
}

long long run_step(const Setup& setup, BenchMarket& m, sc::CriterionFn routine, int n) {
  m.controls.set_checked(sc::indexed("pr_chk", n), true);
  m.ctx = sc::RunContext{};
  m.ctx.source.db_folder = setup.db_folder;
  m.ctx.source.reference_code = "1001";
  m.ctx.today = setup.today;
  m.ctx.user_folder = m.user_folder;
  m.ctx.day_table = &m.table;
  m.ctx.controls = &m.controls;
  m.ctx.trading_day_count = m.trading_days;
  m.candidates = m.all;
  m.output = m.all;
  routine(m.ctx, m.candidates, m.output, n);
  return m.all.count();
}

}  // namespace lp::bench
