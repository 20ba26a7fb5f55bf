#include "ledger/book.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "common/numbers.h"

namespace lp::ledger {

namespace {

std::int64_t ceil_div(__int128 a, __int128 b) {
  if (b <= 0) return 0;
  __int128 q = a / b;
  if (a % b != 0 && a > 0) ++q;
  return static_cast<std::int64_t>(q);
}

// The order of a day's entries: money in, buys, dividends, sells, money out.
int day_order(Kind k) {
  switch (k) {
    case Kind::deposit:
      return 0;
    case Kind::buy:
      return 1;
    case Kind::dividend:
      return 2;
    case Kind::sell:
      return 3;
    case Kind::withdraw:
      return 4;
  }
  return 5;
}

std::int64_t cost_of(std::int64_t unit, std::int64_t shares) {
  return ceil_div(static_cast<__int128>(unit) * shares, kFixed);
}

// Applies the corrections dated on or before `date` that the holding has not had yet. After a
// correction the cost per share is worked out again and rounded up, as after a sale.
void apply_splits(Position& p, const SplitTable& splits, int date) {
  const auto it = splits.find(p.code);
  if (it == splits.end()) return;
  const std::vector<SplitEvent>& list = it->second;
  while (p.next_split < list.size() && list[p.next_split].date <= date) {
    const SplitEvent& s = list[p.next_split++];
    if (p.shares <= 0 || s.factor <= 0) continue;
    p.shares = std::llround(static_cast<double>(p.shares) / s.factor);
    if (p.shares <= 0) {
      p.shares = 0;
      p.cost = 0;
      continue;
    }
    p.cost = cost_of(p.unit_cost(), p.shares);
  }
}

std::string limit_text(const char* what, int year, std::int64_t cost, std::int64_t used,
                       std::int64_t limit) {
  return std::string(what) + "を超えます: この買付 " + yen_text(cost) + "円、" +
         std::to_string(year) + "年の使用済み " + yen_text(used) + "円、残り " +
         yen_text(std::max<std::int64_t>(0, limit - used)) + "円（上限 " + yen_text(limit) + "円）";
}

}  // namespace

std::int64_t Position::unit_cost() const {
  return shares > 0 ? ceil_div(static_cast<__int128>(cost) * kFixed, shares) : 0;
}

const Position* Replay::find(std::string_view code, Account account) const {
  for (const Position& p : positions) {
    if (p.code == code && p.account == account) return &p;
  }
  return nullptr;
}

Replay replay(const std::vector<Transaction>& list, const SplitTable& splits, int as_of) {
  Replay r;
  std::vector<std::size_t> order(list.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    if (list[a].date != list[b].date) return list[a].date < list[b].date;
    return day_order(list[a].kind) < day_order(list[b].kind);
  });
  std::map<std::pair<std::string, Account>, std::size_t> where;
  NisaCounts bought_total;  // every NISA buy since 2024, at cost
  for (std::size_t i : order) {
    const Transaction& t = list[i];
    if (t.date > as_of) break;
    const int year = t.date / 10000;
    if (t.kind == Kind::deposit || t.kind == Kind::withdraw) continue;
    std::array<YearAccount, kAccountCount>& ya = r.years[year];
    YearAccount& acc = ya[static_cast<std::size_t>(t.account)];
    if (t.kind == Kind::dividend) {
      acc.dividends += t.amount;
      acc.dividend_tax += t.tax;
      continue;
    }
    auto [it, fresh] = where.try_emplace({t.code, t.account}, r.positions.size());
    if (fresh) r.positions.push_back(Position{t.code, t.account});
    Position& p = r.positions[it->second];
    apply_splits(p, splits, t.date);
    if (t.kind == Kind::buy) {
      const std::int64_t cost = t.amount + t.fee;
      if (is_nisa(t.account) && year >= kNisaFirstYear) {
        const bool growth = t.account == Account::nisa_growth;
        NisaCounts& in_year = r.nisa_bought[year];
        std::int64_t freed = 0, freed_growth = 0;
        for (const auto& [y, f] : r.nisa_freed) {
          if (y >= year) break;
          freed += f.growth + f.tsumitate;
          freed_growth += f.growth;
        }
        const std::int64_t used_year = growth ? in_year.growth : in_year.tsumitate;
        const std::int64_t year_limit = growth ? kNisaGrowthYear : kNisaTsumitateYear;
        const std::int64_t lifetime = bought_total.growth + bought_total.tsumitate - freed;
        const std::int64_t growth_lifetime = bought_total.growth - freed_growth;
        std::string refused;
        if (used_year + cost > year_limit) {
          refused =
              limit_text(growth ? "NISA成長投資枠の年間投資枠" : "NISAつみたて投資枠の年間投資枠",
                         year, cost, used_year, year_limit);
        } else if (lifetime + cost > kNisaLifetime) {
          refused = limit_text("NISAの生涯投資枠", year, cost, lifetime, kNisaLifetime);
        } else if (growth && growth_lifetime + cost > kNisaGrowthLifetime) {
          refused = limit_text("NISA成長投資枠の生涯の上限", year, cost, growth_lifetime,
                               kNisaGrowthLifetime);
        }
        if (!refused.empty()) {
          r.problems.push_back({i, date_text(t.date) + " " + t.code + " " + refused});
          continue;
        }
        (growth ? in_year.growth : in_year.tsumitate) += cost;
        (growth ? bought_total.growth : bought_total.tsumitate) += cost;
      }
      p.shares += t.shares;
      p.cost += cost;
      continue;
    }
    // A sell.
    if (t.shares > p.shares) {
      r.problems.push_back({i, date_text(t.date) + " の売却 " + shares_text(t.shares) +
                                   "株 が保有株数 " + shares_text(p.shares) +
                                   "株 を超えています（" + t.code + " " +
                                   std::string(account_name(t.account)) + "）"});
      continue;
    }
    const std::int64_t unit = p.unit_cost();
    const std::int64_t sold_cost = cost_of(unit, t.shares);
    Sale s{i, t.date, t.code, t.account, t.shares, t.amount - t.fee, sold_cost, 0};
    s.gain = s.proceeds - s.cost;
    p.shares -= t.shares;
    p.cost = p.shares > 0 ? cost_of(unit, p.shares) : 0;
    if (is_nisa(t.account) && year >= kNisaFirstYear) {
      NisaCounts& f = r.nisa_freed[year];
      (t.account == Account::nisa_growth ? f.growth : f.tsumitate) += sold_cost;
    }
    (s.gain >= 0 ? acc.gains : acc.losses) += s.gain;
    r.sales.push_back(std::move(s));
  }
  for (Position& p : r.positions) apply_splits(p, splits, as_of);
  return r;
}

YearTax year_tax(const Replay& r, int year, const Account* only) {
  YearTax y;
  y.year = year;
  if (auto it = r.years.find(year); it != r.years.end()) y.accounts = it->second;
  if (only) {
    for (Account a : kAccounts) {
      if (a != *only) y.accounts[static_cast<std::size_t>(a)] = YearAccount{};
    }
  }
  std::int64_t taxable = 0;
  for (Account a : kAccounts) {
    const YearAccount& acc = y.accounts[static_cast<std::size_t>(a)];
    std::int64_t& withheld = y.withheld[static_cast<std::size_t>(a)];
    y.realised += acc.realised();
    y.dividends += acc.dividends;
    if (is_nisa(a)) continue;  // NISA gains and dividends (received into it) are not taxed
    taxable += acc.realised() + acc.dividends;
    if (a == Account::tokutei) {
      // The account withholds on its net gain, and a net loss is set against the dividends
      // received into it: their tax is refunded down to 20.315 % of what the loss leaves.
      const std::int64_t g = acc.realised();
      withheld = withholding_tax(g);
      withheld += g >= 0 ? acc.dividend_tax
                         : std::min(acc.dividend_tax, withholding_tax(acc.dividends + g));
    } else {
      withheld = acc.dividend_tax;  // dividends are withheld at source; gains are declared
    }
    y.tax_withheld += withheld;
  }
  y.taxable_net = std::max<std::int64_t>(0, taxable);
  y.tax_due = withholding_tax(y.taxable_net);
  y.tax_balance = y.tax_due - y.tax_withheld;
  return y;
}

NisaUse nisa_use(const Replay& r, int year) {
  NisaUse u;
  if (auto it = r.nisa_bought.find(year); it != r.nisa_bought.end()) {
    u.growth_used = it->second.growth;
    u.tsumitate_used = it->second.tsumitate;
  }
  for (const auto& [y, b] : r.nisa_bought) {
    if (y > year) break;
    u.lifetime_used += b.growth + b.tsumitate;
    u.growth_lifetime_used += b.growth;
  }
  for (const auto& [y, f] : r.nisa_freed) {
    if (y >= year) break;  // a sale frees its cost from the next year on
    u.lifetime_used -= f.growth + f.tsumitate;
    u.growth_lifetime_used -= f.growth;
  }
  return u;
}

std::string date_text(int d) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", d / 10000, d / 100 % 100, d % 100);
  return buf;
}

std::string yen_text(std::int64_t yen) {
  return format_pattern(static_cast<double>(yen), "#,##0");
}

std::string shares_text(std::int64_t shares) {
  std::string s = fixed_text(shares);
  const std::size_t point = s.find('.');
  std::string whole = s.substr(0, point);
  const std::string rest = point == std::string::npos ? "" : s.substr(point);
  for (int i = static_cast<int>(whole.size()) - 3;
       i > 0 && whole[static_cast<std::size_t>(i - 1)] != '-'; i -= 3) {
    whole.insert(static_cast<std::size_t>(i), ",");
  }
  return whole + rest;
}

}  // namespace lp::ledger
