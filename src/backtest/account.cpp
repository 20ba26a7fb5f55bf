#include "backtest/account.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

#include "common/numbers.h"

namespace lp::backtest {

namespace {

// The daily price limits of the Tokyo Stock Exchange by base price (the previous day's close):
// the 制限値幅 table of the exchange's Enforcement Rules for Business Regulations, Rule 10
// (東京証券取引所 業務規程施行規則 第10条; published on jpx.co.jp as 「制限値幅」, the table in
// force since 2010). A base price below `below` has the limit `width`.
struct LimitBand {
  double below, width;
};
constexpr LimitBand kPriceLimits[] = {
    {100, 30},           {200, 50},
    {500, 80},           {700, 100},
    {1000, 150},         {1500, 300},
    {2000, 400},         {3000, 500},
    {5000, 700},         {7000, 1000},
    {10000, 1500},       {15000, 3000},
    {20000, 4000},       {30000, 5000},
    {50000, 7000},       {70000, 10000},
    {100000, 15000},     {150000, 30000},
    {200000, 40000},     {300000, 50000},
    {500000, 70000},     {700000, 100000},
    {1000000, 150000},   {1500000, 300000},
    {2000000, 400000},   {3000000, 500000},
    {5000000, 700000},   {7000000, 1000000},
    {10000000, 1500000}, {15000000, 3000000},
    {20000000, 4000000}, {30000000, 5000000},
    {50000000, 7000000}, {std::numeric_limits<double>::infinity(), 10000000},
};

constexpr int kTurnoverDays = 20;

struct Position {
  std::string code, name, signal_date;
  int entry_day = 0;
  double shares = 0;      // now held (a split inside the trade changes it)
  long long bought = 0;   // shares bought
  double entry_ref = 0;   // the entry day's open, in today's share terms (stop and target)
  double high_close = 0;  // highest close since entry up to the day before (today's terms)
  double last_close = 0;  // today's terms: what the position is valued at
  double paid = 0;        // amount paid, slippage included
  double entry_fee = 0;
  double entry_price = 0;  // paid per share at the entry
  bool pending = false;    // to be sold at the next open it can be
  ExitReason pending_reason = ExitReason::exit;
  bool sold = false;
};

double limit_base(const AccountMarket& m, const std::string& code, int day) {
  // The previous record's close, in the terms of `day` (a correction dated `day` applies).
  for (int d = day - 1; d >= 0 && d >= day - 40; --d) {
    DayBar b;
    if (m.bar(code, d, b) && b.close > 0) {
      double f = 1;
      for (int k = d + 1; k <= day; ++k) f *= m.split_on(code, k);
      return b.close * f;
    }
  }
  return 0;
}

// The day traded only at its limit-down price: nobody could sell.
bool stuck_at_limit_down(const AccountMarket& m, const std::string& code, int day,
                         const DayBar& b) {
  if (!(b.high == b.low)) return false;
  const double base = limit_base(m, code, day);
  return base > 0 && b.low <= base - price_limit_width(base);
}

bool opened_at_limit_up(const AccountMarket& m, const std::string& code, int day, const DayBar& b) {
  const double base = limit_base(m, code, day);
  return base > 0 && b.open >= base + price_limit_width(base);
}

double mean_turnover(const AccountMarket& m, const std::string& code, int day) {
  double sum = 0;
  for (int d = day; d > day - kTurnoverDays; --d) {
    DayBar b;
    if (d >= 0 && m.bar(code, d, b)) sum += b.close * b.volume;
  }
  return sum / kTurnoverDays;
}

}  // namespace

double price_limit_width(double base) {
  for (const LimitBand& band : kPriceLimits) {
    if (base < band.below) return band.width;
  }
  return kPriceLimits[std::size(kPriceLimits) - 1].width;
}

const char* exit_reason_name(ExitReason r) {
  switch (r) {
    case ExitReason::hold:
      return "hold";
    case ExitReason::stop:
      return "stop";
    case ExitReason::target:
      return "target";
    case ExitReason::trail:
      return "trail";
    case ExitReason::exit:
      return "exit";
    case ExitReason::end:
      break;
  }
  return "end";
}

bool parse_commission(std::string_view text, Commission& out, std::string& error) {
  out = Commission{};
  auto number = [](std::string_view s, double& v) {
    if (s.empty() || s.size() > 20) return false;
    bool dot = false;
    for (char c : s) {
      if (c == '.' && !dot) {
        dot = true;
      } else if (c < '0' || c > '9') {
        return false;
      }
    }
    v = parse_number(s);
    return std::isfinite(v);
  };
  error = "--commission は 0.1%,min=100,max=1000 か 500 (円) の形で指定してください: " +
          std::string(text);
  std::vector<std::string_view> parts;
  for (std::size_t p = 0;;) {
    const std::size_t comma = text.find(',', p);
    parts.push_back(text.substr(p, comma == std::string_view::npos ? text.npos : comma - p));
    if (comma == std::string_view::npos) break;
    p = comma + 1;
  }
  std::string_view head = parts[0];
  if (!head.empty() && head.back() == '%') {
    if (!number(head.substr(0, head.size() - 1), out.percent) || out.percent >= 100) return false;
    for (std::size_t i = 1; i < parts.size(); ++i) {
      const std::string_view p = parts[i];
      if (p.substr(0, 4) == "min=") {
        if (!number(p.substr(4), out.minimum)) return false;
      } else if (p.substr(0, 4) == "max=") {
        if (!number(p.substr(4), out.maximum)) return false;
      } else {
        return false;
      }
    }
    if (out.maximum > 0 && out.maximum < out.minimum) return false;
  } else {
    if (parts.size() != 1 || !number(head, out.flat)) return false;
  }
  error.clear();
  return true;
}

double commission_of(const Commission& c, double amount) {
  if (c.percent <= 0) return c.flat;
  double fee = std::floor(amount * c.percent / 100.0 + 1e-9);
  if (c.minimum > 0) fee = std::max(fee, c.minimum);
  if (c.maximum > 0) fee = std::min(fee, c.maximum);
  return fee;
}

AccountResult simulate_account(const AccountMarket& market, int first, int last,
                               const std::vector<std::vector<Signal>>& by_day,
                               const AccountParams& params) {
  AccountResult res;
  res.params = params;
  const std::vector<std::string>& days = market.days();
  if (days.empty()) return res;
  first = std::max(first, 0);
  last = std::min(last, static_cast<int>(days.size()) - 1);
  if (first > last) return res;
  const int places = std::max(1, params.max_positions);
  const double lot = std::max(1, params.lot);
  const double slip = params.slippage / 100.0;
  const int calendar_end = static_cast<int>(days.size()) - 1;
  const std::string ref = market.reference_code();
  double ref_base = 0;
  if (!ref.empty()) {
    DayBar b;
    if (market.bar(ref, first, b) && b.close > 0) ref_base = b.close;
  }

  double cash = params.capital;
  std::vector<Position> open;

  auto sell = [&](Position& p, int day, double price, ExitReason reason) {
    const double fill = price * (1.0 - slip);
    const double amount = fill * p.shares;
    const double fee = commission_of(params.commission, amount);
    cash += amount - fee;
    AccountTrade t;
    t.signal_date = p.signal_date;
    t.code = p.code;
    t.name = p.name;
    t.entry_date = days[static_cast<std::size_t>(p.entry_day)];
    t.exit_date = days[static_cast<std::size_t>(day)];
    t.shares = p.bought;
    t.entry_price = p.entry_price;
    t.exit_price = p.bought > 0 ? amount / static_cast<double>(p.bought) : fill;
    t.entry_fee = p.entry_fee;
    t.exit_fee = fee;
    t.profit = amount - fee - p.paid - p.entry_fee;
    t.return_pct = t.profit / (p.paid + p.entry_fee) * 100.0;
    t.reason = reason;
    t.days_held = day - p.entry_day + 1;
    res.trades.push_back(std::move(t));
    p.sold = true;
  };

  for (int day = first; day <= last; ++day) {
    bool exposed = false;
    // Corrections dated today: more shares at a lower price, the levels with them.
    for (Position& p : open) {
      const double f = market.split_on(p.code, day);
      if (f != 1.0 && f > 0) {
        p.shares = std::round(p.shares / f);
        p.entry_ref *= f;
        p.high_close *= f;
        p.last_close *= f;
      }
    }
    if (!open.empty()) exposed = true;
    // Exits decided yesterday (exit formula, a hold or a stop that could not be filled): at
    // today's open, unless the day traded only at its limit-down.
    for (Position& p : open) {
      if (!p.pending) continue;
      DayBar b;
      if (!market.bar(p.code, day, b) || !(b.open > 0)) continue;
      if (stuck_at_limit_down(market, p.code, day, b)) continue;
      sell(p, day, b.open, p.pending_reason);
    }
    std::erase_if(open, [](const Position& p) { return p.sold; });

    // Entries: yesterday's signals at today's open, best rank first.
    if (day > first && day - 1 < static_cast<int>(by_day.size()) &&
        !by_day[static_cast<std::size_t>(day - 1)].empty()) {
      std::vector<const Signal*> order;
      for (const Signal& s : by_day[static_cast<std::size_t>(day - 1)]) order.push_back(&s);
      std::stable_sort(order.begin(), order.end(), [&](const Signal* a, const Signal* b) {
        if (a->ranked != b->ranked) return a->ranked;
        if (a->ranked && a->rank != b->rank)
          return params.rank_asc ? a->rank < b->rank : a->rank > b->rank;
        return a->code < b->code;
      });
      // The account's value at today's open: the equal share of each new position.
      double value = cash;
      for (const Position& p : open) {
        DayBar b;
        value += p.shares * (market.bar(p.code, day, b) && b.open > 0 ? b.open : p.last_close);
      }
      const double share = value / places;
      for (const Signal* s : order) {
        ++res.signal_count;
        if (std::any_of(open.begin(), open.end(),
                        [&](const Position& p) { return p.code == s->code; })) {
          ++res.skipped.held;
          continue;
        }
        if (static_cast<int>(open.size()) >= places) {
          ++res.skipped.full;
          continue;
        }
        if (params.min_turnover > 0 &&
            mean_turnover(market, s->code, day - 1) < params.min_turnover) {
          ++res.skipped.turnover;
          continue;
        }
        DayBar b;
        if (!market.bar(s->code, day, b) || !(b.open > 0)) {
          ++res.skipped.no_price;
          continue;
        }
        if (opened_at_limit_up(market, s->code, day, b)) {
          ++res.skipped.limit;
          continue;
        }
        const double fill = b.open * (1.0 + slip);
        double units = std::floor(share / (fill * lot) + 1e-9);
        while (units > 0 &&
               units * lot * fill + commission_of(params.commission, units * lot * fill) >
                   cash + 1e-6) {
          --units;
        }
        if (units <= 0) {
          ++res.skipped.unit;
          continue;
        }
        Position p;
        p.code = s->code;
        p.name = s->name;
        p.signal_date = days[static_cast<std::size_t>(day - 1)];
        p.entry_day = day;
        p.shares = units * lot;
        p.bought = static_cast<long long>(p.shares);
        p.entry_ref = b.open;
        p.high_close = b.open;
        p.last_close = b.open;
        p.paid = p.shares * fill;
        p.entry_fee = commission_of(params.commission, p.paid);
        p.entry_price = fill;
        cash -= p.paid + p.entry_fee;
        res.bought += p.paid;
        open.push_back(std::move(p));
        exposed = true;
      }
    }

    // Stops, trailing stops and targets inside the day's range; a gap through a level fills
    // at the open. The downside first: a day that reaches both is taken as a stop.
    for (Position& p : open) {
      DayBar b;
      if (!market.bar(p.code, day, b) || !(b.open > 0)) continue;
      if (stuck_at_limit_down(market, p.code, day, b)) continue;
      double down = -1;
      ExitReason why = ExitReason::stop;
      if (params.stop > 0) down = p.entry_ref * (1.0 - params.stop / 100.0);
      if (params.trail > 0) {
        const double t = p.high_close * (1.0 - params.trail / 100.0);
        if (t > down) {
          down = t;
          why = ExitReason::trail;
        }
      }
      if (down > 0 && b.open <= down) {
        sell(p, day, b.open, why);
      } else if (down > 0 && b.low <= down) {
        sell(p, day, down, why);
      } else if (params.target > 0) {
        const double up = p.entry_ref * (1.0 + params.target / 100.0);
        if (b.open >= up) {
          sell(p, day, b.open, ExitReason::target);
        } else if (b.high >= up) {
          sell(p, day, up, ExitReason::target);
        }
      }
    }
    std::erase_if(open, [](const Position& p) { return p.sold; });

    // The close: holds that end today, delistings, the exit formula for tomorrow's open.
    for (Position& p : open) {
      DayBar b;
      const bool traded = market.bar(p.code, day, b) && b.close > 0;
      if (traded) p.last_close = b.close;
      if (day == last) continue;  // closed below with the rest
      if (traded && day == market.last_record(p.code) && day < calendar_end) {
        sell(p, day, b.close, ExitReason::end);  // its last record: delisted
        continue;
      }
      if (params.hold > 0 && day - p.entry_day + 1 >= params.hold) {
        if (traded && !stuck_at_limit_down(market, p.code, day, b)) {
          sell(p, day, b.close, ExitReason::hold);
        } else if (!p.pending) {
          p.pending = true;
          p.pending_reason = ExitReason::hold;
        }
        continue;
      }
      if (!p.pending && market.exit_signal(p.code, day)) {
        p.pending = true;
        p.pending_reason = ExitReason::exit;
      }
      if (traded) p.high_close = std::max(p.high_close, b.close);
    }
    if (day == last) {
      for (Position& p : open) sell(p, day, p.last_close, ExitReason::end);
    }
    std::erase_if(open, [](const Position& p) { return p.sold; });

    AccountDay d;
    d.date = days[static_cast<std::size_t>(day)];
    d.cash = cash;
    d.value = cash;
    for (const Position& p : open) d.value += p.shares * p.last_close;
    d.positions = static_cast<int>(open.size());
    d.exposed = exposed;
    if (ref_base > 0) {
      DayBar b;
      const double prev = res.days.empty() ? params.capital : res.days.back().benchmark;
      d.benchmark =
          market.bar(ref, day, b) && b.close > 0 ? params.capital * b.close / ref_base : prev;
      d.has_benchmark = true;
    }
    res.days.push_back(std::move(d));
  }
  return res;
}

std::vector<double> drawdowns(const std::vector<double>& values) {
  std::vector<double> out;
  double peak = 0;
  for (double v : values) {
    peak = std::max(peak, v);
    out.push_back(peak > 0 ? v / peak - 1.0 : 0.0);
  }
  return out;
}

namespace {

// Days between two yyyymmdd dates on the civil calendar.
long calendar_days(const std::string& a, const std::string& b) {
  auto to_days = [](const std::string& s) {
    const std::int64_t v = parse_integer(s);
    std::tm tm{};
    tm.tm_year = static_cast<int>(v / 10000) - 1900;
    tm.tm_mon = static_cast<int>(v / 100 % 100) - 1;
    tm.tm_mday = static_cast<int>(v % 100);
    tm.tm_hour = 12;
    return static_cast<long>(timegm(&tm) / 86400);
  };
  return to_days(b) - to_days(a);
}

}  // namespace

AccountStats account_stats(const AccountResult& r) {
  AccountStats s;
  s.start_capital = r.params.capital;
  s.end_value = r.days.empty() ? r.params.capital : r.days.back().value;
  s.total_return = (s.end_value / s.start_capital - 1.0) * 100.0;
  s.trades = static_cast<int>(r.trades.size());
  s.few_trades = s.trades < kFewTrades;
  if (r.days.empty()) return s;

  // Daily returns over the period, the first day's against the capital.
  std::vector<double> values;
  for (const AccountDay& d : r.days) values.push_back(d.value);
  std::vector<double> rets;
  for (std::size_t i = 1; i < values.size(); ++i) rets.push_back(values[i] / values[i - 1] - 1.0);
  const double n = static_cast<double>(rets.size());
  if (!rets.empty()) {
    s.cagr = (std::pow(s.end_value / s.start_capital, kTradingDaysPerYear / n) - 1.0) * 100.0;
    double mean = 0;
    for (double x : rets) mean += x;
    mean /= n;
    double sq = 0, down = 0;
    for (double x : rets) {
      sq += (x - mean) * (x - mean);
      down += std::min(x, 0.0) * std::min(x, 0.0);
    }
    const double sd = rets.size() > 1 ? std::sqrt(sq / (n - 1)) : 0;
    const double dd = std::sqrt(down / n);
    if (sd > 0) s.sharpe = mean / sd * std::sqrt(kTradingDaysPerYear);
    if (dd > 0) s.sortino = mean * kTradingDaysPerYear / (dd * std::sqrt(kTradingDaysPerYear));
  }

  // The deepest drawdown: its peak, bottom and recovery.
  const std::vector<double> dd = drawdowns(values);
  std::size_t bottom = 0;
  for (std::size_t i = 0; i < dd.size(); ++i) {
    if (dd[i] < dd[bottom]) bottom = i;
  }
  if (dd[bottom] < 0) {
    std::size_t peak = 0;
    // The peak is the last day before the bottom whose value was the running maximum.
    for (std::size_t i = bottom; i-- > 0;) {
      if (dd[i] == 0) {
        peak = i;
        break;
      }
    }
    s.max_drawdown = dd[bottom] * 100.0;
    s.max_drawdown_yen = values[bottom] - values[peak];
    s.drawdown_start = r.days[peak].date;
    s.drawdown_bottom = r.days[bottom].date;
    std::string end = r.days.back().date;
    for (std::size_t i = bottom + 1; i < values.size(); ++i) {
      if (values[i] >= values[peak]) {
        s.drawdown_recovery = r.days[i].date;
        end = s.drawdown_recovery;
        break;
      }
    }
    s.max_drawdown_days = static_cast<int>(calendar_days(s.drawdown_start, end));
    if (s.max_drawdown < 0) s.calmar = s.cagr / -s.max_drawdown;
  }

  // Trades.
  double gains = 0, losses = 0, sum = 0, sum_pct = 0;
  int wins = 0, lost = 0;
  for (const AccountTrade& t : r.trades) {
    sum += t.profit;
    sum_pct += t.return_pct;
    if (t.profit > 0) {
      gains += t.profit;
      ++wins;
    } else if (t.profit < 0) {
      losses -= t.profit;
      ++lost;
    }
  }
  if (s.trades > 0) {
    s.expectancy = sum / s.trades;
    s.expectancy_pct = sum_pct / s.trades;
    s.win_rate = 100.0 * wins / s.trades;
  }
  if (wins > 0) s.avg_win = gains / wins;
  if (lost > 0) s.avg_loss = -losses / lost;
  if (losses > 0) s.profit_factor = gains / losses;

  int exposed = 0;
  double mean_value = 0;
  for (const AccountDay& d : r.days) {
    if (d.exposed) ++exposed;
    mean_value += d.value;
  }
  mean_value /= static_cast<double>(r.days.size());
  s.exposure = 100.0 * exposed / static_cast<double>(r.days.size());
  if (mean_value > 0 && n > 0) s.turnover = r.bought / mean_value * kTradingDaysPerYear / n * 100.0;

  if (r.days.front().has_benchmark) {
    s.has_benchmark = true;
    std::vector<double> b;
    for (const AccountDay& d : r.days) b.push_back(d.benchmark);
    s.benchmark_return = (b.back() / r.params.capital - 1.0) * 100.0;
    const std::vector<double> bdd = drawdowns(b);
    s.benchmark_max_drawdown = *std::min_element(bdd.begin(), bdd.end()) * 100.0;
  }
  return s;
}

std::vector<MonthRow> monthly_returns(const AccountResult& r) {
  std::vector<MonthRow> rows;
  double month_base = r.params.capital, year_base = r.params.capital;
  for (std::size_t i = 0; i < r.days.size(); ++i) {
    const AccountDay& d = r.days[i];
    const int year = static_cast<int>(parse_integer(d.date.substr(0, 4)));
    const int month = static_cast<int>(parse_integer(d.date.substr(4, 2)));
    if (rows.empty() || rows.back().year != year) rows.push_back({year, {}, {}});
    const bool month_end =
        i + 1 == r.days.size() || r.days[i + 1].date.substr(0, 6) != d.date.substr(0, 6);
    if (month_end) {
      rows.back().months[static_cast<std::size_t>(month - 1)] =
          (d.value / month_base - 1.0) * 100.0;
      month_base = d.value;
    }
    const bool year_end =
        i + 1 == r.days.size() || r.days[i + 1].date.substr(0, 4) != d.date.substr(0, 4);
    if (year_end) {
      rows.back().year_return = (d.value / year_base - 1.0) * 100.0;
      year_base = d.value;
    }
  }
  return rows;
}

namespace {

std::string fixed(double v, int places) {
  const double scale = std::pow(10.0, places);
  const double r = static_cast<double>(round_half_even(v * scale)) / scale;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", places, r == 0 ? 0.0 : r);
  return buf;
}

}  // namespace

std::string stats_text(const AccountResult& r, const AccountStats& s) {
  auto pct = [](double v) { return fixed(v, 4); };
  std::string out;
  auto line = [&out](const std::string& key, const std::string& value) {
    out += key + "=" + value + "\n";
  };
  line("total_return", pct(s.total_return));
  line("cagr", pct(s.cagr));
  line("max_drawdown", pct(s.max_drawdown));
  line("max_drawdown_days", std::to_string(s.max_drawdown_days));
  line("profit_factor", s.profit_factor ? fixed(*s.profit_factor, 4) : "-");
  line("expectancy", s.trades ? fixed(s.expectancy, 0) : "-");
  line("win_rate", s.trades ? pct(s.win_rate) : "-");
  line("sharpe", fixed(s.sharpe, 4));
  line("sortino", fixed(s.sortino, 4));
  line("calmar", fixed(s.calmar, 4));
  line("exposure", pct(s.exposure));
  line("trades", std::to_string(s.trades));
  line("skipped_unit", std::to_string(r.skipped.unit));
  line("skipped_limit", std::to_string(r.skipped.limit));
  line("skipped_turnover", std::to_string(r.skipped.turnover));
  line("skipped_full", std::to_string(r.skipped.full));
  line("skipped_held", std::to_string(r.skipped.held));
  line("skipped_no_price", std::to_string(r.skipped.no_price));
  line("signals", std::to_string(r.signal_count));
  line("start_capital", fixed(s.start_capital, 0));
  line("end_value", fixed(s.end_value, 0));
  line("max_drawdown_yen", fixed(s.max_drawdown_yen, 0));
  line("max_drawdown_start", s.drawdown_start);
  line("max_drawdown_bottom", s.drawdown_bottom);
  line("max_drawdown_recovery", s.drawdown_recovery);
  line("expectancy_pct", s.trades ? pct(s.expectancy_pct) : "-");
  line("avg_win", fixed(s.avg_win, 0));
  line("avg_loss", fixed(s.avg_loss, 0));
  line("turnover", pct(s.turnover));
  if (s.has_benchmark) {
    line("benchmark_return", pct(s.benchmark_return));
    line("benchmark_max_drawdown", pct(s.benchmark_max_drawdown));
  }
  if (s.few_trades) line("warning", "few_trades");
  return out;
}

std::string monthly_text(const std::vector<MonthRow>& rows) {
  std::string out = "年,1,2,3,4,5,6,7,8,9,10,11,12,年間\n";
  for (const MonthRow& row : rows) {
    out += std::to_string(row.year);
    for (const auto& m : row.months) out += "," + (m ? fixed(*m, 2) : std::string());
    out += "," + (row.year_return ? fixed(*row.year_return, 2) : std::string()) + "\n";
  }
  return out;
}

std::string report_text(const AccountResult& r, const AccountStats& s) {
  auto yen = [](double v) { return format_pattern(std::round(v), "#,##0") + "円"; };
  auto pc = [](double v) { return fixed(v, 2) + "%"; };
  std::string out;
  auto line = [&out](const std::string& k, const std::string& v) { out += k + "　" + v + "\n"; };
  if (s.few_trades) out += std::string(kFewTradesWarning) + "\n";
  line("初期資金", yen(s.start_capital));
  line("最終資産", yen(s.end_value));
  line("総リターン", pc(s.total_return));
  line("年率リターン", pc(s.cagr));
  line("最大ドローダウン", pc(s.max_drawdown) + "（" + yen(s.max_drawdown_yen) + "）");
  if (!s.drawdown_start.empty()) {
    line("　期間", s.drawdown_start + "〜" + s.drawdown_bottom + "〜" +
                       (s.drawdown_recovery.empty() ? std::string("未回復") : s.drawdown_recovery) +
                       "（" + std::to_string(s.max_drawdown_days) + "日）");
  }
  line("プロフィットファクター", s.profit_factor ? fixed(*s.profit_factor, 2) : "-");
  line("期待値", s.trades ? yen(s.expectancy) + "（" + pc(s.expectancy_pct) + "）" : "-");
  line("勝率", s.trades ? pc(s.win_rate) : "-");
  line("平均利益／平均損失", yen(s.avg_win) + "／" + yen(s.avg_loss));
  line("シャープレシオ", fixed(s.sharpe, 2));
  line("ソルティノレシオ", fixed(s.sortino, 2));
  line("カルマーレシオ", fixed(s.calmar, 2));
  line("エクスポージャー", pc(s.exposure));
  line("売買回転率（年）", pc(s.turnover));
  line("取引数", std::to_string(s.trades));
  line("見送り", "単元" + std::to_string(r.skipped.unit) + "　値幅制限" +
                     std::to_string(r.skipped.limit) + "　売買代金" +
                     std::to_string(r.skipped.turnover) + "　枠なし" +
                     std::to_string(r.skipped.full) + "　保有中" + std::to_string(r.skipped.held) +
                     "　値なし" + std::to_string(r.skipped.no_price));
  if (s.has_benchmark) {
    line("基準リターン", pc(s.benchmark_return));
    line("基準最大ドローダウン", pc(s.benchmark_max_drawdown));
  }
  return out;
}

}  // namespace lp::backtest
