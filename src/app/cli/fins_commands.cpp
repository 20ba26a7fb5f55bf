// lumenpick-cli fins: a stock's results summaries known on a day and the figures screens use.
#include <algorithm>
#include <iostream>

#include "app/cli/cli.h"
#include "app/cli/screen_options.h"
#include "common/numbers.h"
#include "pricedb/formats.h"
#include "pricedb/fundamentals.h"
#include "pricedb/series.h"
#include "pricedb/stock_code.h"

namespace lp::cli {
namespace {

std::string figure_text(const std::optional<double>& v) {
  if (!v) return "-";
  std::string t = format_pattern(*v, "0.####");
  if (!t.empty() && t.back() == '.') t.pop_back();
  return t;
}

int run_fins(Context& ctx) {
  std::string as_of;
  if (ctx.take_option("--as-of", as_of) && !valid_yyyymmdd(as_of)) {
    return fail("fins: --as-of は YYYYMMDD で指定してください: " + as_of);
  }
  if (ctx.args.size() != 1) {
    return fail("fins: 銘柄コードを1つ指定してください (fins CODE [--as-of D])");
  }
  const std::string code = ctx.args.front();
  if (!is_stock_code(code)) return fail("fins: 銘柄コードではありません: " + code);
  const AppFolders folders = ctx.folders();
  if (as_of.empty()) {
    const std::string today = ctx.platform.today();
    if (!read_latest_date(folders.db_folder, folders.reference_code,
                          static_cast<int>(parse_integer(today.substr(0, 4))), kLowestYear,
                          as_of)) {
      as_of = today;
    }
  }
  SeriesSource src = SeriesSource::from(folders);
  src.as_of = as_of;
  const std::vector<fins::Disclosure> all = fins::disclosures_of(src, code);
  const int day = static_cast<int>(parse_integer(as_of));

  // The close the ratios use: the stock's last traded close on or before the day.
  std::optional<double> close;
  Series series;
  const bool priced = load_series(src, as_of, 30, code, series, true) == 0;
  // A code the database does not know is a mistake to say, not an empty table.
  if (!priced && all.empty()) {
    return fail("fins: 銘柄コード " + code + " は株価データベースにも決算データにもありません");
  }
  if (priced) {
    const int n = series_count(series);
    for (int i = 1; i <= n && !close; ++i) {
      const SeriesRecord& r = series[static_cast<std::size_t>(i)];
      if (parse_number(r.d6) > 0) close = parse_number(r.d5);
    }
  }

  const auto& captions = fins::disclosure_captions();
  for (std::size_t i = 0; i < captions.size(); ++i) std::cout << (i ? "," : "") << captions[i];
  std::cout << "\n";
  int known = 0;
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    if (it->date > day) continue;
    ++known;
    const fins::DisclosureRow r = fins::disclosure_row(*it);
    for (const std::string* f :
         {&r.date, &r.period, &r.sales, &r.op, &r.np, &r.eps, &r.f_eps, &r.bps, &r.div, &r.f_div}) {
      // Thousands separators would split the line's fields.
      std::string text = *f;
      text.erase(std::remove(text.begin(), text.end(), ','), text.end());
      std::cout << (f == &r.date ? "" : ",") << text;
    }
    std::cout << "\n";
  }
  const fins::Figures f = fins::figures_as_of(all, day, fins::known_splits(src, code, day));
  const double c = close.value_or(0);
  std::cout << "\ncode=" << code << "\nas_of=" << as_of << "\ndisclosures=" << known
            << "\nclose=" << (close ? format_decimal(c) : "-");
  for (fins::Metric m : {fins::Metric::eps, fins::Metric::dps, fins::Metric::bps}) {
    std::cout << "\n" << fins::metric_name(m) << "=" << figure_text(fins::metric_value(f, m, c));
  }
  std::cout << "\nAEPS=" << figure_text(f.aeps) << "\nADPS=" << figure_text(f.adps)
            << "\nSHARES=" << figure_text(f.shares) << "\nFY_END=" << (f.fy_end ? std::to_string(f.fy_end) : "-");
  using fins::Metric;
  for (Metric m : {Metric::per, Metric::aper, Metric::pbr, Metric::yield, Metric::ayield,
                   Metric::mcap, Metric::minbuy, Metric::roe, Metric::roa, Metric::eqr,
                   Metric::opm, Metric::payout, Metric::salesg, Metric::opg}) {
    const bool on_close = fins::metric_on_close(m);
    std::cout << "\n"
              << fins::metric_name(m) << "="
              << figure_text(on_close && !close ? std::nullopt : fins::metric_value(f, m, c));
  }
  std::cout << "\n";
  return 0;
}

}  // namespace

LP_CLI_COMMAND("fins", "fins CODE [--as-of YYYYMMDD]",
               "prints the results summaries of CODE known on the day (newest first; default the "
               "latest trading date) and the figures formulas use: EPS, DPS, BPS, AEPS, ADPS, "
               "SHARES, FY_END, PER, APER, PBR, YIELD, AYIELD, MCAP, MINBUY, ROE, ROA, EQR, OPM, "
               "PAYOUT, SALESG, OPG (\"-\" when undefined)",
               run_fins);

}  // namespace lp::cli
