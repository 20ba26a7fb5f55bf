// The ledger file and its writer: what an entry must give, refusals that write nothing, the
// file's form, a damaged file left alone, the import of a holdings list and of a mapped CSV.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/encoding.h"
#include "ledger_fixture.h"
#include "portfolio/portfolio_model.h"
#include "pricedb/fins_store.h"

namespace lp::ledger {
namespace {

Entry buy(const char* date, const char* code, const char* shares, const char* price,
          const char* account = "tokutei") {
  return Entry{date, "buy", code, shares, price, "", "", "", account};
}

Transaction made(const Entry& e) {
  std::string problem;
  std::optional<Transaction> t = transaction_from_entry(e, problem);
  EXPECT_TRUE(t) << problem;
  return t.value_or(Transaction{});
}

TEST(LedgerEntry, EachRefusalNamesItsField) {
  struct Case {
    Entry entry;
    const char* names;  // empty: accepted
  };
  const std::vector<Case> cases = {
      {buy("2024-01-04", "1301", "100", "110"), ""},
      {buy("２０２４／０１／０４", "１３０１", "1,000", "110.5"), ""},
      {buy("20240230", "1301", "100", "110"), "--date"},
      {{"20240104", "hold", "1301", "100", "110", "", "", "", "tokutei"}, "--kind"},
      {buy("20240104", "1301", "100", "110", "nisa"), "--account"},
      {buy("20240104", "", "100", "110"), "--code"},
      {buy("20240104", "1301", "", "110"), "--shares"},
      {buy("20240104", "1301", "0", "110"), "--shares"},
      {buy("20240104", "1301", "1.00001", "110"), "--shares"},
      {buy("20240104", "1301", "-5", "110"), "--shares"},
      {buy("20240104", "1301", "100", "1e3"), "--price"},
      {{"20240104", "sell", "1301", "100", "110", "5000", "", "", "tokutei"}, "--amount"},
      {{"20240104", "dividend", "1301", "", "", "", "", "", "tokutei"}, "--amount"},
      {{"20240104", "dividend", "", "", "", "1000", "", "", "tokutei"}, "--code"},
      {{"20240104", "dividend", "1301", "", "", "1000", "", "1001", "tokutei"}, "--tax"},
      {{"20240104", "deposit", "1301", "", "", "1000", "", "", "tokutei"}, "--code"},
      {{"20240104", "withdraw", "", "10", "", "1000", "", "", "tokutei"}, "--shares"},
      {{"20240104", "deposit", "", "", "", "1000", "", "", "ippan"}, ""},
  };
  for (const Case& c : cases) {
    std::string problem;
    const std::optional<Transaction> t = transaction_from_entry(c.entry, problem);
    SCOPED_TRACE(c.entry.date + " " + c.entry.kind + " " + c.entry.shares + " " + c.entry.price);
    if (*c.names == 0) {
      EXPECT_TRUE(t) << problem;
    } else {
      EXPECT_FALSE(t);
      EXPECT_NE(problem.find(c.names), std::string::npos) << problem;
    }
  }
  // A dividend's tax is 20.315 % when not given, none in NISA.
  Entry d{"20240104", "dividend", "1301", "", "", "10,000", "", "", "tokutei"};
  EXPECT_EQ(made(d).tax, 2'031);
  d.account = "nisa-growth";
  EXPECT_EQ(made(d).tax, 0);
  d.account = "ippan";
  d.tax = "0";
  EXPECT_EQ(made(d).tax, 0);
  EXPECT_EQ(made(buy("20240104", "1301", "1,000", "110.5")).amount, 110'500);
}

TEST(LedgerFile, WritesCp932LinesThatReadBack) {
  test::TempDir dir;
  const std::string path = dir.file("ledger/ptf3.csv");
  std::filesystem::create_directories(dir.file("ledger"));
  std::vector<Transaction> list = {
      made(buy("20240104", "1301", "100", "110.25", "nisa-tsumitate")),
      made({"20240301", "dividend", "1301", "", "", "1000", "", "", "tokutei-nowh"}),
      made({"20240105", "deposit", "", "", "", "500000", "", "", "ippan"})};
  std::sort(list.begin(), list.end(), [](auto& a, auto& b) { return a.date < b.date; });
  ASSERT_TRUE(save_ledger(path, list));
  const std::string bytes = test::read_bytes(path);
  EXPECT_EQ(cp932_to_utf8(bytes),
            "日付,区分,コード,株数,単価,金額,手数料,税額,口座\r\n"
            "20240104,買付,1301,100,110.25,11025,0,0,NISAつみたて\r\n"
            "20240105,入金,,,,500000,0,0,一般\r\n"
            "20240301,配当,1301,,,1000,0,203,特定(源泉なし)\r\n");
  const LoadResult r = load_ledger(path);
  EXPECT_EQ(r.status, LoadStatus::loaded);
  EXPECT_EQ(r.transactions, list);
  // A line that is no transaction: the file is shown, never rewritten.
  test::write_bytes(path, bytes + utf8_to_cp932("20240105,買付,1301,100\r\n"));
  const LoadResult damaged = load_ledger(path);
  EXPECT_EQ(damaged.status, LoadStatus::damaged);
  EXPECT_EQ(damaged.transactions.size(), 3u);
  EXPECT_NE(damaged.problem.find("5行目"), std::string::npos) << damaged.problem;
}

TEST(LedgerStore, RefusalsNameTheFiguresAndWriteNothing) {
  test::LedgerMarket m;
  LedgerStore store = m.store();
  ASSERT_TRUE(store.add(0, made(buy("20240104", "1301", "100", "110"))).ok);
  const std::string before = test::read_bytes(m.ledger_file(0));
  struct Case {
    Transaction t;
    const char* says;
  };
  Transaction sell = made({"20240110", "sell", "1301", "150", "110", "", "", "", "tokutei"});
  Transaction nisa = made(buy("20240110", "7203", "1300", "2000", "nisa-growth"));
  const std::vector<Case> cases = {
      {sell, "売却 150株 が保有株数 100株 を超えています"},
      {made(buy("20240105", "1301", "10", "110")),
       "2024/01/05 に価格がありません（直前の取引日は 2024/01/04、終値 110円"},
      {made(buy("20241230", "1301", "10", "110")), "最新の取引日 2024/12/27 より後"},
      {made({"20241228", "deposit", "", "", "", "1000", "", "", "tokutei"}),
       "今日 2024/12/27 より後"},
      {nisa, "この買付 2,600,000円、2024年の使用済み 0円、残り 2,400,000円"},
      {made(buy("20240110", "130/", "10", "110")), "コード"},
  };
  for (const Case& c : cases) {
    const Outcome o = store.add(0, c.t);
    EXPECT_FALSE(o.ok);
    EXPECT_TRUE(o.refused);
    EXPECT_NE(o.message.find(c.says), std::string::npos) << o.message;
    EXPECT_EQ(test::read_bytes(m.ledger_file(0)), before);
  }
  // Deleting the buy would leave a later sell without shares.
  ASSERT_TRUE(
      store.add(0, made({"20240110", "sell", "1301", "60", "110", "", "", "", "tokutei"})).ok);
  const Outcome removed = store.remove(0, 0);
  EXPECT_TRUE(removed.refused) << removed.message;
  EXPECT_EQ(store.load(0).transactions.size(), 2u);
  // An import is all or nothing.
  const Outcome all = store.add_all(0, {made(buy("20240111", "1301", "1", "110")), sell});
  EXPECT_FALSE(all.ok);
  EXPECT_EQ(store.load(0).transactions.size(), 2u);
  // A day before the database begins cannot be checked: taken as entered.
  EXPECT_TRUE(store.add(0, made(buy("20220105", "1301", "10", "95"))).ok);
}

TEST(LedgerStore, SplitFromTheDatabaseFollowsTheHolding) {
  test::LedgerMarket m;
  LedgerStore store = m.store();
  ASSERT_TRUE(store.add(0, made(buy("20230301", "6758", "100", "1000"))).ok);
  ASSERT_TRUE(store.add(0, made(buy("20230703", "6758", "100", "520"))).ok);
  // 300 shares after the split: a sell of 300 passes, one of 301 does not.
  EXPECT_TRUE(store.add(0, made({"20231002", "sell", "6758", "301", "520", "", "", "", "tokutei"}))
                  .refused);
  const PnlReport r = pnl_report(m.source(), store.load(0).transactions, 2024, 20241227);
  ASSERT_EQ(r.holdings.size(), 1u);
  EXPECT_EQ(r.holdings[0].shares, 300 * kFixed);
  EXPECT_EQ(r.holdings[0].unit_cost, 507);
  EXPECT_EQ(r.holdings[0].value, 156'000);
  EXPECT_EQ(r.holdings[0].unrealised, 156'000 - 152'100);
  EXPECT_EQ(r.holdings[0].name, "ソニー");
}

TEST(LedgerStore, PortfolioImportReadsThePtfFileAndLeavesIt) {
  test::LedgerMarket m;
  const std::string ptf = portfolio::holdings_path(m.user, 2);
  ASSERT_TRUE(portfolio::save_holdings(ptf, {{"1301", "105.5", "200", "20240104", "", ""},
                                             {"7203", "1900", "100", "20231106", "", ""}}));
  const std::string ptf_bytes = test::read_bytes(ptf);
  LedgerStore store = m.store();
  ASSERT_TRUE(store.import_portfolio(2).ok);
  const std::vector<Transaction> list = store.load(2).transactions;
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].date, 20231106);  // in date order
  EXPECT_EQ(list[1].price, 1'055'000);
  EXPECT_EQ(list[1].account, Account::tokutei);
  EXPECT_EQ(test::read_bytes(ptf), ptf_bytes);
  EXPECT_TRUE(store.import_portfolio(5).refused);  // nothing to import
}

TEST(LedgerImport, MappedCsvRowsAreCheckedAllOrNothing) {
  std::string problem;
  const std::optional<ColumnMap> map = parse_column_map(
      "date=約定日,kind=取引,code=銘柄コード,shares=数量,price=単価,fee=手数料,amount=受渡金額,"
      "account=口座",
      problem);
  ASSERT_TRUE(map) << problem;
  const std::string file = utf8_to_cp932(
      "約定履歴\r\n\r\n"
      "約定日,銘柄コード,取引,数量,単価,手数料,受渡金額,口座\r\n"
      "2024/01/04,1301,株式現物買,\"1,000\",110,0,\"110,000\",特定\r\n"
      "2024/01/10,1301,株式現物売,500,115,55,\"57,445\",特定\r\n"
      "2024/03/29,1301,配当金,-,-,-,\"2,000\",NISA\r\n");
  const auto rows = read_mapped_csv(file, *map, problem);
  ASSERT_TRUE(rows) << problem;
  ASSERT_EQ(rows->size(), 3u);
  EXPECT_EQ((*rows)[0].shares, 1000 * kFixed);
  EXPECT_EQ((*rows)[1].kind, Kind::sell);
  EXPECT_EQ((*rows)[1].fee, 55);
  EXPECT_EQ((*rows)[2].kind, Kind::dividend);
  EXPECT_EQ((*rows)[2].account, Account::nisa_growth);
  EXPECT_EQ((*rows)[2].tax, 0);
  // One bad row fails the whole file, naming its line.
  const auto bad =
      read_mapped_csv(file + utf8_to_cp932("2024/13/01,1301,買,1,1,0,1,特定\r\n"), *map, problem);
  EXPECT_FALSE(bad);
  EXPECT_NE(problem.find("7行目"), std::string::npos) << problem;
  EXPECT_FALSE(parse_column_map("date=日,code=c", problem));  // no kind
  EXPECT_NE(problem.find("kind"), std::string::npos);
  EXPECT_TRUE(parse_column_map("date=日,kind==buy,account==nisa-growth,code=c", problem));
}

// 予想: 200 shares of a March-year company forecasting 36 yen a share -> 7,200 in March; 実績:
// the dividends entered, by the month they were paid.
TEST(LedgerDividends, CalendarOfEnteredAndForecastDividends) {
  test::LedgerMarket m;
  fins::Disclosure d;
  d.set(fins::DiscDate, "2024-05-10");
  d.set(fins::Code, "7203");
  d.set(fins::DiscNo, "20240510001");
  d.set(fins::DocType, "FYFinancialStatements_Consolidated_JP");
  d.set(fins::CurPerType, "FY");
  d.set(fins::CurFYEn, "2024-03-31");
  d.set(fins::DivAnn, "30");
  d.set(fins::NxtFYEn, "2025-03-31");
  d.set(fins::NxFDivAnn, "36");
  test::write_bytes(fins::fins_file_path(m.db, "7203"), fins::fins_file_bytes({d}));
  const std::vector<Transaction> list = {
      made(buy("20240105", "7203", "200", "2000")),
      made({"20240628", "dividend", "7203", "", "", "6,000", "", "", "tokutei"}),
      made({"20241205", "dividend", "7203", "", "", "3,000", "", "", "tokutei"})};
  const DividendCalendar c = dividend_calendar(m.source(), list, 2024, 20241227);
  EXPECT_EQ(c.actual[5], 6'000);
  EXPECT_EQ(c.actual[11], 3'000);
  EXPECT_EQ(c.expected[2], 7'200);
  ASSERT_EQ(c.rows.size(), 1u);
  EXPECT_EQ(c.rows[0].month, 3);
  // Nothing is expected before the results were disclosed.
  EXPECT_TRUE(dividend_calendar(m.source(), list, 2024, 20240401).rows.empty());
}

}  // namespace
}  // namespace lp::ledger
