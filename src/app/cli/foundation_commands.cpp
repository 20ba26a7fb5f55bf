// settings, latest-date, calendar and series: the database as the loaders see it.
#include <iostream>

#include "app/cli/cli.h"
#include "common/numbers.h"
#include "pricedb/formats.h"
#include "pricedb/series.h"

namespace lp::cli {

namespace {

bool take_int(Context& ctx, const std::string& name, int& value) {
  std::string text;
  if (!ctx.take_option(name, text)) return false;
  value = static_cast<int>(parse_integer(text));
  return true;
}

int current_year(const Context& ctx) {
  return static_cast<int>(parse_integer(today_yyyymmdd(ctx.platform).substr(0, 4)));
}

int cmd_latest_date(Context& ctx) {
  AppFolders f = ctx.folders();
  std::string date;
  if (!read_latest_date(f.db_folder, f.reference_code, current_year(ctx), 1982, date)) {
    return fail("株価データがありません: " + f.db_folder);
  }
  std::cout << date << "\n";
  return 0;
}

int cmd_calendar(Context& ctx) {
  std::string end;
  int count = 0;
  if (!ctx.take_option("--end", end) || !take_int(ctx, "--count", count)) {
    return fail("使い方: calendar --end YYYYMMDD --count N");
  }
  TradingCalendar cal;
  int status = build_trading_calendar(SeriesSource::from(ctx.folders()), cal, end, count);
  if (status == -1) return fail(end + " 以前の取引日がありません");
  std::cout << cal.count() << "\n";
  for (const std::string& d : cal.dates) std::cout << d << "\n";
  return 0;
}

int cmd_series(Context& ctx) {
  std::string end;
  int days = 0;
  if (!ctx.take_option("--end", end) || !take_int(ctx, "--days", days)) {
    return fail("使い方: series CODE --end YYYYMMDD --days N [--no-adjust] [--calendar]");
  }
  bool adjust = !ctx.take_flag("--no-adjust");
  bool with_calendar = ctx.take_flag("--calendar");
  if (ctx.args.size() != 1) return fail("使い方: series CODE --end YYYYMMDD --days N");
  const std::string code = ctx.args[0];
  SeriesSource src = SeriesSource::from(ctx.folders());
  Series series;
  int result = 0;
  if (with_calendar) {
    TradingCalendar cal;
    build_trading_calendar(src, cal, end, days);
    result = load_series_cal(src, end, days, code, cal, series, adjust);
  } else {
    result = load_series(src, end, days, code, series, adjust);
  }
  if (result == -1) return fail(code + " の株価データがありません");
  int n = series_count(series);
  for (int i = 0; i <= n; ++i) {
    const SeriesRecord& r = series[static_cast<std::size_t>(i)];
    std::cout << r.d1_code_yyyymmdd << "," << r.d2 << "," << r.d3 << "," << r.d4 << "," << r.d5
              << "," << r.d6 << "\n";
  }
  return 0;
}

}  // namespace

LP_CLI_COMMAND("latest-date", "latest-date", "the latest trading date of the database",
               cmd_latest_date);
LP_CLI_COMMAND("calendar", "calendar --end YYYYMMDD --count N",
               "the count, then the N latest trading dates on or before the end, newest first",
               cmd_calendar);
LP_CLI_COMMAND("series", "series CODE --end YYYYMMDD --days N [--no-adjust] [--calendar]",
               "records 0..count of a split-adjusted load, six fields a line", cmd_series);

}  // namespace lp::cli
