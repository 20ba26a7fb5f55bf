// The ledger's cost, realised gains, tax and NISA allowance on worked examples whose answers come
// from outside this program: brokers' help pages on 総平均法に準ずる方法 and hand arithmetic on the
// tax rates.
#include <gtest/gtest.h>

#include "ledger/book.h"

namespace lp::ledger {
namespace {

Transaction trade(int date, Kind kind, const char* code, std::int64_t shares, std::int64_t price,
                  std::int64_t fee = 0, Account account = Account::tokutei) {
  Transaction t;
  t.date = date;
  t.kind = kind;
  t.code = code;
  t.shares = shares * kFixed;
  t.price = price * kFixed;
  t.amount = trade_amount(t.price, t.shares);
  t.fee = fee;
  t.account = account;
  return t;
}

Transaction dividend(int date, const char* code, std::int64_t gross, Account account) {
  Transaction t;
  t.date = date;
  t.kind = Kind::dividend;
  t.code = code;
  t.amount = gross;
  t.tax = is_nisa(account) ? 0 : withholding_tax(gross);
  t.account = account;
  return t;
}

// Iwai Cosmo's FAQ example: 5,000 shares for 4,000,000 yen and 2,000 for 1,700,000; 3,000 sold
// (cost 815 x 3,000 = 2,445,000); 5,000 bought for 4,350,000; 6,000 sold (cost 846 x 6,000 =
// 5,076,000). Naito's help page: 1,000 at 100 with a 200 yen fee, sold at 101 with 200 yen:
// unit 100.2 rounded up to 101, loss 200; 2,000 at 100 sold in two halves at 101 and 102: -200
// and +800.
TEST(LedgerCost, BrokersWorkedExamplesOfTheMovingAverage) {
  struct Case {
    const char* name;
    std::vector<Transaction> list;
    std::vector<std::int64_t> costs, gains;
  };
  const std::vector<Case> cases = {
      {"iwai cosmo",
       {trade(20100301, Kind::buy, "7203", 5000, 800),
        trade(20100501, Kind::buy, "7203", 2000, 850),
        trade(20100802, Kind::sell, "7203", 3000, 900),
        trade(20110301, Kind::buy, "7203", 5000, 870),
        trade(20110701, Kind::sell, "7203", 6000, 880)},
       {2'445'000, 5'076'000},
       {2'700'000 - 2'445'000, 5'280'000 - 5'076'000}},
      {"naito 1",
       {trade(20240105, Kind::buy, "1301", 1000, 100, 200),
        trade(20240110, Kind::sell, "1301", 1000, 101, 200)},
       {101'000},
       {-200}},
      {"naito 2",
       {trade(20240105, Kind::buy, "1301", 2000, 100, 200),
        trade(20240110, Kind::sell, "1301", 1000, 101, 200),
        trade(20240115, Kind::sell, "1301", 1000, 102, 200)},
       {101'000, 101'000},
       {-200, 800}},
      // A sell dated the day of a buy counts after it, whatever the order entered.
      {"same day",
       {trade(20240105, Kind::sell, "1301", 100, 120),
        trade(20240105, Kind::buy, "1301", 100, 100)},
       {10'000},
       {2'000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Replay r = replay(c.list, {});
    ASSERT_TRUE(r.problems.empty()) << r.problems[0].message;
    ASSERT_EQ(r.sales.size(), c.costs.size());
    for (std::size_t i = 0; i < c.costs.size(); ++i) {
      EXPECT_EQ(r.sales[i].cost, c.costs[i]) << i;
      EXPECT_EQ(r.sales[i].gain, c.gains[i]) << i;
    }
  }
  // After Iwai Cosmo's first sale 4,000 shares are carried at 815.
  const Replay mid = replay(cases[0].list, {}, 20101231);
  ASSERT_EQ(mid.positions.size(), 1u);
  EXPECT_EQ(mid.positions[0].shares, 4000 * kFixed);
  EXPECT_EQ(mid.positions[0].unit_cost(), 815);
}

// 100 at 1,000, a 1:2 split (prices before it halved), 100 more at 520: 300 shares costing
// 152,000 (506.67 a share, 507 rounded up); all sold at 600: 180,000 - 507 x 300 = 27,900.
TEST(LedgerCost, SplitBetweenTwoBuys) {
  const std::vector<Transaction> list = {trade(20230301, Kind::buy, "6758", 100, 1000),
                                         trade(20230701, Kind::buy, "6758", 100, 520),
                                         trade(20231002, Kind::sell, "6758", 300, 600)};
  const SplitTable splits = {{"6758", {{20230601, 0.5}}}};
  const Replay before_sale = replay(list, splits, 20230930);
  EXPECT_EQ(before_sale.positions[0].shares, 300 * kFixed);
  EXPECT_EQ(before_sale.positions[0].cost, 152'000);
  EXPECT_EQ(before_sale.positions[0].unit_cost(), 507);
  const Replay r = replay(list, splits);
  ASSERT_TRUE(r.problems.empty()) << r.problems[0].message;
  ASSERT_EQ(r.sales.size(), 1u);
  EXPECT_EQ(r.sales[0].gain, 27'900);
  // Without the split the sell of 300 would be more than the 200 bought.
  const Replay unsplit = replay(list, {});
  ASSERT_EQ(unsplit.problems.size(), 1u);
  EXPECT_NE(unsplit.problems[0].message.find("300株 が保有株数 200株"), std::string::npos)
      << unsplit.problems[0].message;
  // A consolidation (10 to 1) after the buy: 10 shares at 10,000 each.
  const Replay merged =
      replay({trade(20230301, Kind::buy, "6758", 100, 1000)}, {{"6758", {{20230601, 10.0}}}});
  EXPECT_EQ(merged.positions[0].shares, 10 * kFixed);
  EXPECT_EQ(merged.positions[0].unit_cost(), 10'000);
}

// A loss in 特定(源泉なし) and gains and dividends in 特定(源泉あり), by hand at 15.315 % + 5 %:
//   特定(源泉あり): gain 500,000 -> 76,575 + 25,000; dividends 50,000 -> 7,657 + 2,500.
//   損益通算: 500,000 - 300,000 + 50,000 = 250,000 taxable -> 38,287 + 12,500 = 50,787 due,
//   111,732 withheld: 60,945 back by declaring.
TEST(LedgerTax, LossInOneAccountSetAgainstGainsAndDividendsOfAnother) {
  const std::vector<Transaction> list = {
      trade(20240105, Kind::buy, "1301", 1000, 1000, 0, Account::tokutei_nowh),
      trade(20240605, Kind::sell, "1301", 1000, 700, 0, Account::tokutei_nowh),
      trade(20240105, Kind::buy, "7203", 1000, 2000),
      trade(20240705, Kind::sell, "7203", 1000, 2500),
      dividend(20240625, "7203", 50'000, Account::tokutei),
      // Another year and NISA count for nothing here.
      trade(20250106, Kind::buy, "7203", 100, 2000),
      dividend(20240625, "8306", 10'000, Account::nisa_growth),
  };
  const Replay r = replay(list, {});
  ASSERT_TRUE(r.problems.empty());
  const YearTax y = year_tax(r, 2024);
  EXPECT_EQ(y.realised, 200'000);
  EXPECT_EQ(y.dividends, 60'000);
  EXPECT_EQ(y.withheld[static_cast<std::size_t>(Account::tokutei)], 76'575 + 25'000 + 10'157);
  EXPECT_EQ(y.tax_withheld, 111'732);
  EXPECT_EQ(y.taxable_net, 250'000);
  EXPECT_EQ(y.tax_due, 50'787);
  EXPECT_EQ(y.tax_balance, -60'945);
  // One account alone.
  const Account nowh = Account::tokutei_nowh;
  const YearTax only = year_tax(r, 2024, &nowh);
  EXPECT_EQ(only.realised, -300'000);
  EXPECT_EQ(only.taxable_net, 0);
  EXPECT_EQ(only.tax_withheld, 0);
}

// In one 特定口座 with withholding a loss of 30,000 is set against its 100,000 of dividends:
// the tax on them falls from 20,315 to 20.315 % of 70,000 = 10,720 + 3,500.
TEST(LedgerTax, WithholdingAccountSetsItsLossAgainstItsDividends) {
  const std::vector<Transaction> list = {trade(20240105, Kind::buy, "7203", 100, 2000),
                                         trade(20240305, Kind::sell, "7203", 100, 1700),
                                         dividend(20240625, "8306", 100'000, Account::tokutei)};
  const YearTax y = year_tax(replay(list, {}), 2024);
  EXPECT_EQ(y.tax_withheld, 14'220);
  EXPECT_EQ(y.taxable_net, 70'000);
  EXPECT_EQ(y.tax_balance, 0);
}

TEST(LedgerTax, WithholdingRoundsEachTaxDown) {
  EXPECT_EQ(withholding_tax(0), 0);
  EXPECT_EQ(withholding_tax(-5000), 0);
  EXPECT_EQ(withholding_tax(1), 0);
  EXPECT_EQ(withholding_tax(100), 15 + 5);
  EXPECT_EQ(withholding_tax(10'000), 1'531 + 500);
  EXPECT_EQ(withholding_tax(1'000'000), 153'150 + 50'000);
}

// NISA: 2,400,000 a year in 成長, 12,000,000 in a lifetime; a sale frees its cost the next year.
TEST(LedgerNisa, AllowanceAcrossASellAndTheNextYear) {
  const Account g = Account::nisa_growth, t = Account::nisa_tsumitate;
  std::vector<Transaction> list;
  // 2024 to 2028: the year's growth allowance each year (1,200 shares at 2,000).
  for (int y = 2024; y <= 2028; ++y)
    list.push_back(trade(y * 10000 + 110, Kind::buy, "7203", 1200, 2000, 0, g));
  list.push_back(trade(20240110, Kind::buy, "1306", 400, 3000, 0, t));   // tsumitate: 1,200,000
  list.push_back(trade(20240111, Kind::buy, "1306", 1, 1, 0, t));        // one yen over
  list.push_back(trade(20290110, Kind::buy, "8306", 100, 1000, 0, g));   // growth lifetime full
  list.push_back(trade(20290601, Kind::sell, "7203", 500, 2500, 0, g));  // frees 1,000,000 in 2030
  list.push_back(trade(20291001, Kind::buy, "8306", 100, 1000, 0, g));   // still full this year
  list.push_back(trade(20300110, Kind::buy, "8306", 1000, 1000, 0, g));  // 1,000,000: fits
  list.push_back(trade(20300111, Kind::buy, "8306", 1, 1, 0, g));        // one yen over
  const Replay r = replay(list, {});
  ASSERT_EQ(r.problems.size(), 4u);
  EXPECT_EQ(r.problems[0].index, 6u);
  EXPECT_NE(r.problems[0].message.find("残り 0円（上限 1,200,000円）"), std::string::npos)
      << r.problems[0].message;
  EXPECT_EQ(r.problems[1].index, 7u);
  EXPECT_NE(r.problems[1].message.find("生涯の上限"), std::string::npos) << r.problems[1].message;
  EXPECT_NE(r.problems[1].message.find("使用済み 12,000,000円"), std::string::npos);
  EXPECT_EQ(r.problems[2].index, 9u);
  EXPECT_EQ(r.problems[3].index, 11u);

  const NisaUse y2024 = nisa_use(r, 2024);
  EXPECT_EQ(y2024.growth_used, 2'400'000);
  EXPECT_EQ(y2024.tsumitate_used, 1'200'000);
  EXPECT_EQ(y2024.lifetime_used, 3'600'000);
  const NisaUse y2029 = nisa_use(r, 2029);
  EXPECT_EQ(y2029.growth_used, 0);
  EXPECT_EQ(y2029.lifetime_used, 13'200'000);  // the sale counts only from 2030
  const NisaUse y2030 = nisa_use(r, 2030);
  EXPECT_EQ(y2030.growth_used, 1'000'000);
  EXPECT_EQ(y2030.growth_lifetime_used, 12'000'000);
  EXPECT_EQ(y2030.lifetime_used, 13'200'000);
  // NISA sales are not taxed.
  EXPECT_EQ(year_tax(r, 2029).taxable_net, 0);
  EXPECT_EQ(year_tax(r, 2029).realised, 500 * 2500 - 1'000'000);
}

}  // namespace
}  // namespace lp::ledger
