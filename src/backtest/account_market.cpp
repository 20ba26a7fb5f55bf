#include "backtest/account_market.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/numbers.h"
#include "common/parallel.h"
#include "pricedb/fins_store.h"
#include "pricedb/formats.h"

namespace lp::backtest {

namespace {

// What the loaders make of a price rescaled by a correction: the shortest decimal read back.
double rescaled(double v, double factor) {
  return parse_number(format_decimal(factor * v));
}

double known_volume(double v) {
  return is_unknown_volume(v) ? std::numeric_limits<double>::quiet_NaN() : v;
}

}  // namespace

StockHistory::StockHistory(const MarketStore& store, const StoredStock& stock,
                           const std::string& code)
    : store_(store), code_(code) {
  // Years are held newest first; each year's lines oldest first.
  std::vector<std::pair<std::int32_t, DayBar>> rows;
  for (auto y = stock.years.rbegin(); y != stock.years.rend(); ++y) {
    const StoredYear& sy = *y;
    const bool numeric = sy.numeric() && !sy.close_volume.empty();
    const double* ohl = numeric ? sy.open_high_low() : nullptr;
    for (std::size_t i = 0; i < sy.size(); ++i) {
      DayBar b;
      std::int32_t date = 0;
      if (numeric && ohl) {
        date = sy.dates[i];
        b.open = ohl[3 * i];
        b.high = ohl[3 * i + 1];
        b.low = ohl[3 * i + 2];
        b.close = sy.close_volume[2 * i];
        b.volume = sy.close_volume[2 * i + 1];
      } else {
        const auto f = sy.day(i);
        date = static_cast<std::int32_t>(parse_integer(f[0]));
        b.open = parse_number(f[1]);
        b.high = parse_number(f[2]);
        b.low = parse_number(f[3]);
        b.close = parse_number(f[4]);
        b.volume = parse_number(f[5]);
      }
      rows.emplace_back(date, b);
    }
  }
  // Years newest first, lines oldest first: already in order unless a file is not.
  auto by_date = [](const auto& a, const auto& b) { return a.first < b.first; };
  if (!std::is_sorted(rows.begin(), rows.end(), by_date))
    std::stable_sort(rows.begin(), rows.end(), by_date);
  dates_.reserve(rows.size());
  bars_.reserve(rows.size());
  for (const auto& [date, bar] : rows) {
    if (!dates_.empty() && dates_.back() == date) continue;  // a repeated day: the first kept
    dates_.push_back(date);
    bars_.push_back(bar);
  }
  for (const auto& [year, list] : stock.corrections) {
    for (const Correction& c : list) {
      // A zero numerator or denominator is damage, as the loaders treat it.
      if (c.numerator == 0.0 || c.denominator == 0.0) continue;
      const auto d = static_cast<std::int32_t>(parse_integer(c.date));
      splits_.emplace_back(d, c.numerator / c.denominator);
      fins_splits_.push_back({d, c.numerator / c.denominator});
    }
  }
  std::stable_sort(splits_.begin(), splits_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t i = 0; i < dates_.size(); ++i) {
    if (bars_[i].volume > 0) traded_.push_back(dates_[i]);
  }
}

const DayBar* StockHistory::on(std::int32_t date) const {
  auto it = std::lower_bound(dates_.begin(), dates_.end(), date);
  if (it == dates_.end() || *it != date) return nullptr;
  return &bars_[static_cast<std::size_t>(it - dates_.begin())];
}

double StockHistory::splits_between(std::int32_t after, std::int32_t upto) const {
  double f = 1;
  for (const auto& [d, factor] : splits_) {
    if (d > after && d <= upto) f *= factor;
  }
  return f;
}

formula::TradedDays& StockHistory::as_of(const formula::Formula& f, std::int32_t date,
                                         int& offset) {
  // The corrections known on `date` and the traded days up to it: moved on from the last day
  // asked when the days come in order, else found by halving.
  if (date >= cursor_date_) {
    while (cursor_known_ < splits_.size() && splits_[cursor_known_].first <= date) ++cursor_known_;
    while (cursor_traded_ < traded_.size() && traded_[cursor_traded_] <= date) ++cursor_traded_;
  } else {
    cursor_known_ = static_cast<std::size_t>(
        std::upper_bound(splits_.begin(), splits_.end(), std::make_pair(date, 1e300)) -
        splits_.begin());
    cursor_traded_ = static_cast<std::size_t>(
        std::upper_bound(traded_.begin(), traded_.end(), date) - traded_.begin());
  }
  cursor_date_ = date;
  const std::size_t known = cursor_known_;
  if (segments_.size() <= known) segments_.resize(known + 1);
  if (!segments_[known]) {
    // As apply_split_adjustment does: walking from the newest day back, each correction (the
    // newest first) multiplies every price dated before it.
    auto days = std::make_unique<formula::TradedDays>();
    double factor = 1.0;
    std::size_t pending = 0;  // into the known corrections, newest first
    for (std::size_t i = dates_.size(); i-- > 0;) {
      if (pending < known && splits_[known - 1 - pending].first > dates_[i]) {
        factor = splits_[known - 1 - pending].second * factor;
        ++pending;
      }
      const DayBar& b = bars_[i];
      if (!(b.volume > 0)) continue;
      const bool scale = factor != 1.0;
      days->open.push_back(scale ? rescaled(b.open, factor) : b.open);
      days->high.push_back(scale ? rescaled(b.high, factor) : b.high);
      days->low.push_back(scale ? rescaled(b.low, factor) : b.low);
      days->close.push_back(scale ? rescaled(b.close, factor) : b.close);
      days->volume.push_back(known_volume(b.volume));
    }
    segments_[known] = std::move(days);
  }
  formula::TradedDays& days = *segments_[known];
  offset = static_cast<int>(traded_.size() - cursor_traded_);
  days.fins = nullptr;
  if (f.uses_fins()) {
    if (!disclosures_) disclosures_ = &store_.fins()->of(code_);
    const int disclosed = static_cast<int>(
        std::upper_bound(disclosures_->begin(), disclosures_->end(), date,
                         [](std::int32_t d, const fins::Disclosure& x) { return d < x.date; }) -
        disclosures_->begin());
    if (disclosed > 0) {
      auto& slot = figures_[{disclosed, static_cast<int>(known)}];
      // The same disclosures give other figures once the fiscal year they speak of has ended
      // (its forecast is no longer used): the figures hold only within their fiscal year.
      const bool stale =
          slot && slot->fy_end != 0 && !(date >= slot->fy_start && date <= slot->fy_end);
      if (!slot || stale) {
        slot =
            std::make_unique<fins::Figures>(fins::figures_as_of(*disclosures_, date, fins_splits_));
      }
      days.fins = slot.get();
    }
  }
  return days;
}

formula::Evaluation StockHistory::evaluate(const formula::Formula& f, std::int32_t date) {
  int offset = 0;
  const formula::TradedDays& days = as_of(f, date, offset);
  return formula::evaluate_at(f, days, offset);
}

bool StockHistory::holds(const formula::Formula& f, std::int32_t date) {
  int offset = 0;
  const formula::TradedDays& days = as_of(f, date, offset);
  return formula::holds_at(f, days, offset);
}

StoreAccountMarket::StoreAccountMarket(std::shared_ptr<const MarketStore> store,
                                       const formula::Formula* exit)
    : store_(std::move(store)), exit_(exit) {
  for (const std::string& d : store_->trading_dates())
    calendar_.push_back(static_cast<std::int32_t>(parse_integer(d)));
}

StockHistory* StoreAccountMarket::history(const std::string& code) const {
  auto it = histories_.find(code);
  if (it != histories_.end()) return it->second.get();
  const StoredStock* s = store_->stock(code);
  std::unique_ptr<StockHistory> h;
  if (s) h = std::make_unique<StockHistory>(*store_, *s, code);
  StockHistory* out = h.get();
  histories_.emplace(code, std::move(h));
  return out;
}

bool StoreAccountMarket::bar(const std::string& code, int day, DayBar& out) const {
  if (day < 0 || day >= static_cast<int>(calendar_.size())) return false;
  StockHistory* h = history(code);
  const DayBar* b = h ? h->on(calendar_[static_cast<std::size_t>(day)]) : nullptr;
  if (!b) return false;
  out = *b;
  return true;
}

double StoreAccountMarket::split_on(const std::string& code, int day) const {
  if (day <= 0 || day >= static_cast<int>(calendar_.size())) return 1.0;
  StockHistory* h = history(code);
  return h ? h->splits_between(calendar_[static_cast<std::size_t>(day - 1)],
                               calendar_[static_cast<std::size_t>(day)])
           : 1.0;
}

int StoreAccountMarket::last_record(const std::string& code) const {
  StockHistory* h = history(code);
  if (!h || h->dates().empty()) return -1;
  return static_cast<int>(std::upper_bound(calendar_.begin(), calendar_.end(), h->dates().back()) -
                          calendar_.begin()) -
         1;
}

bool StoreAccountMarket::exit_signal(const std::string& code, int day) const {
  if (!exit_ || exit_->empty() || day < 0 || day >= static_cast<int>(calendar_.size()))
    return false;
  StockHistory* h = history(code);
  return h && formula::holds(h->evaluate(*exit_, calendar_[static_cast<std::size_t>(day)]));
}

std::vector<std::vector<Signal>> rank_signals(const StoreAccountMarket& market,
                                              const std::vector<PickDay>& picks,
                                              const formula::Formula* rank) {
  std::vector<std::vector<Signal>> out(market.days().size());
  for (const PickDay& day : picks) {
    if (day.day < 0 || day.day >= static_cast<int>(out.size())) continue;
    const auto date =
        static_cast<std::int32_t>(parse_integer(market.days()[static_cast<std::size_t>(day.day)]));
    auto& list = out[static_cast<std::size_t>(day.day)];
    for (const auto& [code, name] : day.picks) {
      Signal s{code, name, false, 0};
      if (rank && !rank->empty()) {
        if (StockHistory* h = market.history(code)) {
          const formula::Evaluation e = h->evaluate(*rank, date);
          s.ranked = e.ok;
          s.rank = e.value;
        }
      }
      list.push_back(std::move(s));
    }
  }
  return out;
}

std::vector<std::vector<Signal>> formula_signals(
    const MarketStore& store, const std::vector<formula::Formula>& all_of,
    const formula::Formula* rank, const std::vector<int>& signal_days,
    const std::function<bool(int done, int stocks)>& progress) {
  const std::vector<std::string>& cal_text = store.trading_dates();
  std::vector<std::int32_t> cal;
  for (const std::string& d : cal_text) cal.push_back(static_cast<std::int32_t>(parse_integer(d)));
  std::vector<std::vector<Signal>> out(cal.size());
  if (signal_days.empty() || all_of.empty()) return out;

  // Every code of the market, in code order (the reference code too, as a screen sees it).
  const std::vector<std::string> codes = store.codes();
  const int n = static_cast<int>(codes.size());
  struct Found {
    std::vector<std::pair<int, Signal>> hits;  // (signal day, signal)
  };
  std::vector<Found> found(static_cast<std::size_t>(n));
  const std::int32_t first = cal[static_cast<std::size_t>(signal_days.front())];
  const std::int32_t last = cal[static_cast<std::size_t>(signal_days.back())];
  ordered_for(
      n,
      [&](int i, int) {
        const std::string& code = codes[static_cast<std::size_t>(i)];
        const StoredStock* s = store.stock(code);
        StockHistory h(store, *s, code);
        if (h.dates().empty() || h.dates().back() < first || h.dates().front() > last) return;
        Found& f = found[static_cast<std::size_t>(i)];
        for (int day : signal_days) {
          const std::int32_t date = cal[static_cast<std::size_t>(day)];
          if (!h.on(date)) continue;  // not in the day's table
          bool kept = true;
          for (const formula::Formula& formula : all_of) {
            if (!h.holds(formula, date)) {
              kept = false;
              break;
            }
          }
          if (!kept) continue;
          Signal sig{code, {}, false, 0};
          if (rank && !rank->empty()) {
            const formula::Evaluation e = h.evaluate(*rank, date);
            sig.ranked = e.ok;
            sig.rank = e.value;
          }
          f.hits.emplace_back(day, std::move(sig));
        }
      },
      [&](int i) {
        for (auto& [day, sig] : found[static_cast<std::size_t>(i)].hits)
          out[static_cast<std::size_t>(day)].push_back(std::move(sig));
        found[static_cast<std::size_t>(i)].hits = {};
        return !progress || progress(i + 1, n);
      });
  return out;
}

}  // namespace lp::backtest
