#include "ledger/returns.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <unordered_map>

namespace lp::ledger {

int day_number(int d) {
  // Howard Hinnant's days_from_civil.
  int y = d / 10000;
  const unsigned m = static_cast<unsigned>(d / 100 % 100);
  const unsigned dd = static_cast<unsigned>(d % 100);
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + dd - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int>(doe) - 719468;
}

std::optional<double> xirr(const std::vector<Flow>& flows) {
  if (flows.size() < 2) return std::nullopt;
  bool paid = false, taken = false;
  for (const Flow& f : flows) {
    paid |= f.amount < 0;
    taken |= f.amount > 0;
  }
  if (!paid || !taken) return std::nullopt;
  const int d0 = day_number(flows.front().date);
  std::vector<double> years;
  for (const Flow& f : flows) years.push_back((day_number(f.date) - d0) / 365.0);
  auto npv = [&](double r, double* slope) {
    double v = 0, dv = 0;
    for (std::size_t i = 0; i < flows.size(); ++i) {
      const double g = std::pow(1 + r, -years[i]);
      v += flows[i].amount * g;
      dv -= years[i] * flows[i].amount * g / (1 + r);
    }
    if (slope) *slope = dv;
    return v;
  };
  double scale = 0;
  for (const Flow& f : flows) scale = std::max(scale, std::fabs(f.amount));
  const double tolerance = scale * 1e-12;
  // Newton from 10 %, as a spreadsheet's XIRR guesses; bisection when it strays.
  double r = 0.1;
  for (int i = 0; i < 100; ++i) {
    double slope = 0;
    const double v = npv(r, &slope);
    if (std::fabs(v) <= tolerance) return r;
    if (slope == 0 || !std::isfinite(slope)) break;
    const double next = r - v / slope;
    if (!std::isfinite(next) || next <= -1) break;
    if (std::fabs(next - r) < 1e-14) return next;
    r = next;
  }
  double lo = -0.999999999, hi = 1.0;
  double vlo = npv(lo, nullptr), vhi = npv(hi, nullptr);
  while (vlo * vhi > 0 && hi < 1e9) {
    hi *= 10;
    vhi = npv(hi, nullptr);
  }
  if (!(vlo * vhi <= 0)) return std::nullopt;
  for (int i = 0; i < 300; ++i) {
    const double mid = (lo + hi) / 2;
    const double vm = npv(mid, nullptr);
    if ((vm < 0) == (vlo < 0)) {
      lo = mid;
      vlo = vm;
    } else {
      hi = mid;
    }
  }
  return (lo + hi) / 2;
}

namespace {

int day_order(Kind k) {
  return k == Kind::deposit    ? 0
         : k == Kind::buy      ? 1
         : k == Kind::dividend ? 2
         : k == Kind::sell     ? 3
                               : 4;
}

// The holdings of one code over time: its shares (summed over the accounts measured), its next
// correction and where its closes have been read to.
struct Held {
  std::int64_t shares = 0;
  std::size_t next_split = 0;
  std::size_t cursor = 0;
  const CloseSeries* closes = nullptr;
  const std::vector<SplitEvent>* splits = nullptr;
  double last_close = 0;
};

}  // namespace

Performance measure(const std::vector<Transaction>& all, const SplitTable& splits,
                    const std::map<std::string, CloseSeries, std::less<>>& closes,
                    const CloseSeries& reference, int from, int to, const Account* only) {
  Performance out;
  std::vector<const Transaction*> list;
  for (const Transaction& t : all) {
    if (!only || t.account == *only) list.push_back(&t);
  }
  std::stable_sort(list.begin(), list.end(), [](const Transaction* a, const Transaction* b) {
    if (a->date != b->date) return a->date < b->date;
    return day_order(a->kind) < day_order(b->kind);
  });
  out.cash = std::any_of(list.begin(), list.end(), [](const Transaction* t) {
    return t->kind == Kind::deposit || t->kind == Kind::withdraw;
  });
  // The days: the last trading day before `from`, then those of the period.
  const auto& days = reference.dates;
  const std::size_t first =
      static_cast<std::size_t>(std::lower_bound(days.begin(), days.end(), from) - days.begin());
  const std::size_t last =
      static_cast<std::size_t>(std::upper_bound(days.begin(), days.end(), to) - days.begin());
  if (first >= last) {
    out.problem = "期間内に基準指数の取引日がありません。";
    return out;
  }
  const bool has_base = first > 0;
  const std::size_t start = has_base ? first - 1 : first;

  std::unordered_map<std::string, Held> held;
  double cash = 0;
  std::size_t k = 0;        // next transaction
  double in = 0, gone = 0;  // the day's money in (at its start) and out (at its end)
  auto apply_until = [&](int day) {
    for (; k < list.size() && list[k]->date <= day; ++k) {
      const Transaction& t = *list[k];
      Held* h = nullptr;
      if (!t.code.empty()) {
        auto [it, fresh] = held.try_emplace(t.code);
        h = &it->second;
        if (fresh) {
          auto c = closes.find(t.code);
          h->closes = c == closes.end() ? nullptr : &c->second;
          auto s = splits.find(t.code);
          h->splits = s == splits.end() ? nullptr : &s->second;
        }
        while (h->splits && h->next_split < h->splits->size() &&
               (*h->splits)[h->next_split].date <= t.date) {
          h->shares = std::llround(h->shares / (*h->splits)[h->next_split++].factor);
        }
      }
      const double money = static_cast<double>(t.amount);
      switch (t.kind) {
        case Kind::buy:
          h->shares += t.shares;
          cash -= money + static_cast<double>(t.fee);
          if (!out.cash) in += money + static_cast<double>(t.fee);
          if (!out.cash) out.flows.push_back({t.date, -(money + static_cast<double>(t.fee))});
          break;
        case Kind::sell:
          h->shares -= std::min(h->shares, t.shares);
          cash += money - static_cast<double>(t.fee);
          if (!out.cash) gone += money - static_cast<double>(t.fee);
          if (!out.cash) out.flows.push_back({t.date, money - static_cast<double>(t.fee)});
          break;
        case Kind::dividend:
          cash += money - static_cast<double>(t.tax);
          if (!out.cash) gone += money - static_cast<double>(t.tax);
          if (!out.cash) out.flows.push_back({t.date, money - static_cast<double>(t.tax)});
          break;
        case Kind::deposit:
          cash += money;
          in += money;
          out.flows.push_back({t.date, -money});
          break;
        case Kind::withdraw:
          cash -= money;
          gone += money;
          out.flows.push_back({t.date, money});
          break;
      }
    }
  };
  auto value_on = [&](int day) {
    double v = out.cash ? cash : 0.0;
    for (auto& [code, h] : held) {
      while (h.splits && h.next_split < h.splits->size() && (*h.splits)[h.next_split].date <= day) {
        h.shares = std::llround(h.shares / (*h.splits)[h.next_split++].factor);
      }
      if (h.closes) {
        const CloseSeries& c = *h.closes;
        while (h.cursor < c.dates.size() && c.dates[h.cursor] <= day) {
          h.last_close = c.closes[h.cursor++];
        }
      }
      if (h.shares > 0) v += static_cast<double>(h.shares) / kFixed * h.last_close;
    }
    return v;
  };

  double previous = 0;
  double growth = 1;
  double bench_base = reference.closes[start];
  if (has_base) {
    apply_until(days[start]);
    previous = value_on(days[start]);
    out.flows.clear();
    if (previous != 0) out.flows.push_back({days[start], -previous});
    out.points.push_back({days[start], previous, 100, 100});
    out.base = days[start];
  }
  for (std::size_t i = first; i < last; ++i) {
    in = gone = 0;
    if (!has_base && i == first) out.flows.clear();
    apply_until(days[i]);
    const double v = value_on(days[i]);
    const double denominator = previous + in;
    if (denominator > 0) growth *= (v + gone) / denominator;
    previous = v;
    out.points.push_back({days[i], v, 100 * growth, 100 * reference.closes[i] / bench_base});
  }
  out.end = days[last - 1];
  out.twr = (growth - 1) * 100;
  if (bench_base > 0) out.benchmark = (reference.closes[last - 1] / bench_base - 1) * 100;
  if (previous != 0) out.flows.push_back({out.end, previous});
  if (const std::optional<double> r = xirr(out.flows)) out.irr = *r * 100;
  return out;
}

Performance measure(const SeriesSource& src, const std::vector<Transaction>& list, int from, int to,
                    const Account* only) {
  const int first_year = from / 10000 - 1;
  const int last_year = to / 10000;
  std::vector<Transaction> scoped;
  for (const Transaction& t : list) {
    if (t.date <= to && (!only || t.account == *only)) scoped.push_back(t);
  }
  const std::vector<std::string> codes = ledger_codes(scoped);
  std::map<std::string, CloseSeries, std::less<>> closes;
  for (const std::string& code : codes) {
    CloseSeries s = load_closes(src.db_folder, code, first_year, last_year);
    // Held since before the years read: its last close before them starts it.
    if (auto before = latest_close(src.db_folder, code, first_year * 10000 + 100)) {
      s.dates.insert(s.dates.begin(), before->first);
      s.closes.insert(s.closes.begin(), before->second);
    }
    closes.emplace(code, std::move(s));
  }
  const CloseSeries reference =
      load_closes(src.db_folder, src.reference_code, first_year, last_year);
  return measure(scoped, load_splits(src, codes), closes, reference, from, to, nullptr);
}

}  // namespace lp::ledger
