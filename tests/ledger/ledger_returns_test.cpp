// Returns of a small flow table. The answers were worked out apart from this program: the TWR as
// the product of the daily factors by hand, the IRR with a hand-written Newton iteration in
// python3 (npv(r) = sum(a / (1 + r) ** (days / 365))), and Microsoft's XIRR example.
#include <gtest/gtest.h>

#include "ledger/returns.h"
#include "ledger_fixture.h"

namespace lp::ledger {
namespace {

TEST(LedgerReturns, XirrMatchesTheSpreadsheetExample) {
  // Excel's documented XIRR example: 0.373362535.
  const std::optional<double> r = xirr(
      {{20080101, -10000}, {20080301, 2750}, {20081030, 4250}, {20090215, 3250}, {20090401, 2750}});
  ASSERT_TRUE(r);
  EXPECT_NEAR(*r, 0.3733625335, 1e-9);
  EXPECT_FALSE(xirr({{20080101, -100}, {20090101, -5}}));  // money never comes back
  const std::optional<double> loss = xirr({{20230101, -1000}, {20240101, 500}});
  ASSERT_TRUE(loss);
  EXPECT_NEAR(*loss, -0.5, 1e-9);
}

Transaction entry(int date, Kind kind, std::int64_t amount, const char* code = "",
                  std::int64_t shares = 0, std::int64_t price = 0, std::int64_t tax = 0) {
  Transaction t;
  t.date = date;
  t.kind = kind;
  t.code = code;
  t.shares = shares * kFixed;
  t.price = price * kFixed;
  t.amount = shares ? trade_amount(t.price, t.shares) : amount;
  t.tax = tax;
  return t;
}

// Six trading days; 1301 closes 98, 100, 110, 105, 120, 126; the index 1980 ... 2100.
struct FlowTable {
  CloseSeries reference{{20231229, 20240104, 20240401, 20240701, 20241001, 20241227},
                        {1980, 2000, 2020, 1990, 2050, 2100}};
  std::map<std::string, CloseSeries, std::less<>> closes{
      {"1301",
       {{20231229, 20240104, 20240401, 20240701, 20241001, 20241227},
        {98, 100, 110, 105, 120, 126}}}};
  std::vector<Transaction> trades = {
      entry(20240104, Kind::buy, 0, "1301", 500, 100),
      entry(20240701, Kind::buy, 0, "1301", 400, 105),
      entry(20241001, Kind::dividend, 1000, "1301", 0, 0, 203),
  };
};

TEST(LedgerReturns, CashAccountWithDepositsAndAWithdrawal) {
  FlowTable f;
  std::vector<Transaction> list = f.trades;
  list.push_back(entry(20240104, Kind::deposit, 100'000));
  list.push_back(entry(20240701, Kind::deposit, 50'000));
  list.push_back(entry(20241001, Kind::withdraw, 20'000));
  const Performance p = measure(list, {}, f.closes, f.reference, 20240101, 20241231);
  ASSERT_TRUE(p.problem.empty()) << p.problem;
  EXPECT_TRUE(p.cash);
  EXPECT_EQ(p.base, 20231229);
  EXPECT_EQ(p.end, 20241227);
  // Factors 1, 1.05, 152500/155000, 166797/152500, 152197/146797.
  EXPECT_NEAR(p.twr, 17.147964742401566, 1e-9);
  ASSERT_TRUE(p.irr);
  EXPECT_NEAR(*p.irr, 18.989111174142692, 1e-7);
  ASSERT_TRUE(p.benchmark);
  EXPECT_NEAR(*p.benchmark, 6.060606060606055, 1e-9);
  ASSERT_EQ(p.points.size(), 6u);
  EXPECT_DOUBLE_EQ(p.points.back().value, 152'197);
}

TEST(LedgerReturns, HoldingsAloneWhenNoCashIsEntered) {
  FlowTable f;
  const Performance p = measure(f.trades, {}, f.closes, f.reference, 20240101, 20241231);
  EXPECT_FALSE(p.cash);
  // Factors 1, 1.1, 94500/97000, 108797/94500, 113400/108000.
  EXPECT_NEAR(p.twr, 29.546943298969076, 1e-9);
  ASSERT_TRUE(p.irr);
  EXPECT_NEAR(*p.irr, 32.7159626625049, 1e-7);
  // From the second day on: the value on 2024-01-04 (50,000) is the start.
  const Performance later = measure(f.trades, {}, f.closes, f.reference, 20240105, 20241231);
  EXPECT_EQ(later.base, 20240104);
  EXPECT_NEAR(later.twr, 29.546943298969076, 1e-9);
  EXPECT_NEAR(*later.benchmark, (2100.0 / 2000 - 1) * 100, 1e-9);
  // One account's entries only: none here, so nothing was held.
  const Account nisa = Account::nisa_growth;
  EXPECT_EQ(measure(f.trades, {}, f.closes, f.reference, 20240101, 20241231, &nisa).twr, 0);
  // No trading day in the period.
  EXPECT_FALSE(measure(f.trades, {}, f.closes, f.reference, 20250101, 20250131).problem.empty());
}

TEST(LedgerReturns, SplitKeepsTheValue) {
  // 100 shares at 1,000 become 200 at 500 on 2024-04-01: the value does not jump.
  CloseSeries ref{{20240104, 20240329, 20240401}, {1, 1, 1}};
  std::map<std::string, CloseSeries, std::less<>> closes{
      {"6758", {{20240104, 20240329, 20240401}, {1000, 1000, 500}}}};
  const Performance p = measure({entry(20240104, Kind::buy, 0, "6758", 100, 1000)},
                                {{"6758", {{20240401, 0.5}}}}, closes, ref, 20240104, 20240401);
  EXPECT_NEAR(p.twr, 0, 1e-12);
  EXPECT_DOUBLE_EQ(p.points.back().value, 100'000);
}

}  // namespace
}  // namespace lp::ledger
