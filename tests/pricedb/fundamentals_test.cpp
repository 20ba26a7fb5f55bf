// Results summaries: the point-in-time figures of one hand-made stock whose disclosures cover
// every rule, the page reader's four kinds of value, and the store's merge by DiscNo.
#include "pricedb/fundamentals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <optional>

#include "common/csv.h"
#include "pricedb/fins_store.h"
#include "pricedb/jquants_fins.h"
#include "pricedb/series.h"
#include "support/fixtures.h"

namespace lp {
namespace {

using namespace fins;
using Values = std::vector<std::pair<int, const char*>>;

Disclosure disclosure(const char* date, const char* no, const char* doc, const char* period,
                      const char* fy_end, const Values& values) {
  Disclosure d;
  d.set(DiscDate, date);
  d.set(Code, "7203");
  d.set(DiscNo, no);
  d.set(DocType, doc);
  d.set(CurPerType, period);
  d.set(CurFYEn, fy_end);
  for (const auto& [col, text] : values) d.set(col, text);
  return d;
}

// A March-year company: FY2023 results with next year's forecasts, a quarter that withdraws them
// (未定: "" and null), a quarter with new ones, an earnings revision (not results, and silent on
// the dividend), a 1-for-2 split on 2025-03-25, FY2024 results with a loss and no forecast, a
// quarter the day after with an EPS forecast and the dividend still 未定.
std::vector<Disclosure> stock() {
  const char* fy = "FYFinancialStatements_Consolidated_JP";
  return {
      disclosure("2024-05-10", "20240510001", fy, "FY", "2024-03-31",
                 {{EPS, "100"},
                  {DivAnn, "30"},
                  {BPS, "1000"},
                  {NP, "1000000000"},
                  {Eq, "10000000000"},
                  {Sales, "100000000000"},
                  {OP, "5000000000"},
                  {ShOutFY, "11000000"},
                  {TrShFY, "1000000"},
                  {NxtFYEn, "2025-03-31"},
                  {NxFEPS, "120"},
                  {NxFDivAnn, "36"},
                  {NxFSales, "110000000000"},
                  {NxFOP, "6000000000"}}),
      disclosure("2024-08-05", "20240805001", "1QFinancialStatements_Consolidated_JP", "1Q",
                 "2025-03-31", {{EPS, "25"}, {FEPS, ""}, {BPS, " 1010"}, {FDivAnn, "null"}}),
      disclosure("2024-11-05", "20241105001", "2QFinancialStatements_Consolidated_JP", "2Q",
                 "2025-03-31", {{FEPS, "130"}, {FDivAnn, "40"}, {FSales, "115000000000"}}),
      disclosure("2025-03-10", "20250310001", "EarnForecastRevision", "FY", "2025-03-31",
                 {{FEPS, "90"}, {FSales, "108000000000"}}),
      disclosure("2025-05-12", "20250512001", fy, "FY", "2025-03-31",
                 {{EPS, "-20"},
                  {DivAnn, "20"},
                  {BPS, "520"},
                  {NP, "-200000000"},
                  {Eq, "11000000000"},
                  {Sales, "120000000000"},
                  {OP, "-1000000000"},
                  {ShOutFY, "22000000"},
                  {NxtFYEn, "2026-03-31"},
                  {NxFEPS, "-"},
                  {NxFDivAnn, ""}}),
      disclosure("2025-05-13", "20250513001", "1QFinancialStatements_Consolidated_JP", "1Q",
                 "2026-03-31", {{FEPS, "50"}}),
  };
}

const std::vector<Split> kSplits = {{20250325, 0.5}};

void expect_same(const char* what, int as_of, const std::optional<double>& got,
                 const std::optional<double>& want) {
  ASSERT_EQ(got.has_value(), want.has_value()) << what << " as of " << as_of;
  if (want) {
    EXPECT_NEAR(*got, *want, 1e-9 * std::fabs(*want) + 1e-12) << what << " " << as_of;
  }
}

TEST(Fundamentals, EachRuleAsOfEachDay) {
  const std::optional<double> u;  // undefined
  const struct {
    int as_of;
    double close;
    std::optional<double> eps, dps, bps, shares, per, yield, aper, ayield, roe, salesg;
  } cases[] = {
      {20240509, 1200, u, u, u, u, u, u, u, u, u, u},  // nothing disclosed yet
      // On the day of the FY results: next year's forecasts take over. Shares are those issued.
      {20240510, 1200, 120, 36, 1000, 11e6, 10, 3, 12, 2.5, 10, 10},
      // The quarter leaves the forecasts blank: withdrawn (未定), not the older ones.
      {20240805, 1200, u, u, 1010, 11e6, u, u, 12, 2.5, 10, u},
      // A new forecast.
      {20241105, 1300, 130, 40, 1010, 11e6, 10, 40.0 / 13, 13, 30.0 / 13, 10, 15},
      // A revision of earnings is not results, and says nothing of the dividend.
      {20250310, 900, 90, 40, 1010, 11e6, 10, 40.0 / 9, 9, 30.0 / 9, 10, 8},
      // From the split day the older figures are on the new basis.
      {20250325, 450, 45, 20, 505, 22e6, 10, 40.0 / 9, 9, 30.0 / 9, 10, 8},
      // The year's last day still has its forecast.
      {20250331, 450, 45, 20, 505, 22e6, 10, 40.0 / 9, 9, 30.0 / 9, 10, 8},
      // Between the year's end and its results the ended year's forecast is no longer used.
      {20250511, 450, u, u, 505, 22e6, u, u, 9, 30.0 / 9, 10, u},
      // The year's results are out (a loss, no forecast): 予想 undefined, 実績PER undefined on a
      // loss; ROE over the average of the two year ends' equity (10 and 11 billion).
      {20250512, 500, u, u, 520, 22e6, u, u, u, 4, -200.0 / 105, u},
      // The disclosure of the day after is seen only from that day on; its dividend is 未定.
      {20250513, 500, 50, u, 520, 22e6, 10, u, u, 4, -200.0 / 105, u},
  };
  const std::vector<Disclosure> list = stock();
  for (const auto& c : cases) {
    const Figures f = figures_as_of(list, c.as_of, kSplits);
    expect_same("EPS", c.as_of, f.eps, c.eps);
    expect_same("DPS", c.as_of, f.dps, c.dps);
    expect_same("BPS", c.as_of, f.bps, c.bps);
    expect_same("shares", c.as_of, f.shares, c.shares);
    expect_same("PER", c.as_of, metric_value(f, Metric::per, c.close), c.per);
    expect_same("YIELD", c.as_of, metric_value(f, Metric::yield, c.close), c.yield);
    expect_same("APER", c.as_of, metric_value(f, Metric::aper, c.close), c.aper);
    expect_same("AYIELD", c.as_of, metric_value(f, Metric::ayield, c.close), c.ayield);
    expect_same("ROE", c.as_of, f.roe, c.roe);
    expect_same("SALESG", c.as_of, f.salesg, c.salesg);
  }
  // PBR, MCAP, MINBUY, OPG, FIN and FY on the split day: FIN and FY are the values as served.
  const Figures f = figures_as_of(list, 20250325, kSplits);
  EXPECT_DOUBLE_EQ(*metric_value(f, Metric::pbr, 505), 1.0);
  EXPECT_DOUBLE_EQ(*metric_value(f, Metric::mcap, 450), 99.0) << "22 million issued x 450";
  EXPECT_DOUBLE_EQ(*metric_value(f, Metric::minbuy, 450), 45000);
  EXPECT_FALSE(f.opg.has_value()) << "the revision gave no operating profit: 未定";
  EXPECT_DOUBLE_EQ(*metric_value(f, Metric::fin, 0, NxFEPS), 120.0);
  EXPECT_DOUBLE_EQ(*metric_value(f, Metric::fin, 0, FEPS), 90.0);
  EXPECT_DOUBLE_EQ(*metric_value(f, Metric::fin, 0, EPS), 25.0) << "the quarter's";
  EXPECT_DOUBLE_EQ(*metric_value(f, Metric::fy, 0, EPS), 100.0) << "the FY results'";
  EXPECT_DOUBLE_EQ(*metric_value(f, Metric::fy, 0, OP), 5e9);
  EXPECT_FALSE(metric_value(f, Metric::fy, 0, FEPS).has_value());
  EXPECT_FALSE(metric_value(f, Metric::fin, 0, NxFNp).has_value());
  EXPECT_DOUBLE_EQ(*figures_as_of(list, 20240510, kSplits).opg, 20.0);
  // A disclosure dated on the split day is already on the new basis; older ones are not.
  const Figures on_split = figures_as_of(list, 20241105, {{20241105, 0.5}});
  EXPECT_DOUBLE_EQ(*on_split.bps, 505) << "the 1Q's 1010 on the new basis";
  EXPECT_DOUBLE_EQ(*on_split.eps, 130);
  // A zero divisor is no ratio: a yield at no price.
  EXPECT_FALSE(metric_value(f, Metric::yield, 0).has_value());
  // The chart's basis: as of the day before the split, on the basis after it.
  const Figures chart = figures_as_of(list, 20250320, kSplits, 20251231);
  EXPECT_DOUBLE_EQ(*chart.eps, 45);
  EXPECT_DOUBLE_EQ(*chart.shares, 22e6);
  EXPECT_DOUBLE_EQ(*figures_as_of(list, 20250320, kSplits).eps, 90) << "a screen's own basis";
}

// Definitions as the 決算短信 and sites use them, by hand: ROE and ROA over the average of the
// year's start and end, 自己資本 as EqAR x TA, EQR, OPM, PAYOUT (disclosed, else DivAnn / EPS),
// a REIT's distributions, and a company that changes its fiscal year end (March to December).
TEST(Fundamentals, DefinitionsRevisionsReitsAndAChangedFiscalYear) {
  const char* fy = "FYFinancialStatements_Consolidated_IFRS";
  auto with_years = [](Disclosure d, const char* st, const char* nst, const char* nen) {
    d.set(CurFYSt, st);
    d.set(NxtFYSt, nst);
    d.set(NxtFYEn, nen);
    return d;
  };
  // FY2023: 自己資本 0.5 x 20 = 10 billion (net assets 10.5 with minority interests).
  // FY2024: NP 1 billion, 自己資本 0.4 x 50 = 20 billion: ROE 1 / 15 = 6.67 % (over year-end net
  // assets 22 billion: 4.5 %; over year-end 自己資本: 5 %). ROA 1 / 35 = 2.857 %.
  // Its next year runs nine months (to December), with a forecast of 9 months' sales.
  const std::vector<Disclosure> list = {
      with_years(disclosure("2024-05-10", "1", fy, "FY", "2024-03-31",
                            {{EqAR, "0.5"}, {TA, "20000000000"}, {Eq, "10500000000"},
                             {Sales, "30000000000"}, {OP, "2000000000"}}),
                 "2023-04-01", "2024-04-01", "2025-03-31"),
      with_years(disclosure("2025-05-12", "2", fy, "FY", "2025-03-31",
                            {{NP, "1000000000"}, {EqAR, "0.4"}, {TA, "50000000000"},
                             {Eq, "22000000000"}, {Sales, "40000000000"}, {OP, "3000000000"},
                             {EPS, "100"}, {DivAnn, "25"}, {PayoutRatioAnn, "0.3"},
                             {NxFSales, "33000000000"}, {NxFEPS, "80"}}),
                 "2024-04-01", "2025-04-01", "2025-12-31"),
      // The changed year's results (nine months) with a twelve-month forecast.
      with_years(disclosure("2026-02-13", "3", fy, "FY", "2025-12-31",
                            {{NP, "900000000"}, {Eq, "18000000000"}, {Sales, "33000000000"},
                             {OP, "2500000000"},
                             {EPS, "90"}, {DivAnn, "20"}, {NxFSales, "45000000000"},
                             {NxFEPS, "120"}}),
                 "2025-04-01", "2026-01-01", "2026-12-31"),
  };
  const Figures f = figures_as_of(list, 20250601, {});
  EXPECT_NEAR(*f.roe, 100.0 / 15, 1e-9);
  EXPECT_FALSE(f.roe_on_eq);
  EXPECT_NEAR(*f.roa, 100.0 / 35, 1e-9);
  EXPECT_NEAR(*f.eqr, 40, 1e-9);
  EXPECT_NEAR(*f.opm, 7.5, 1e-9);
  EXPECT_NEAR(*f.payout, 30, 1e-9) << "the disclosed ratio";
  EXPECT_EQ(f.fy_end, 20251231);
  EXPECT_NEAR(*f.eps, 80, 1e-9) << "the nine months' forecast is the year's";
  EXPECT_FALSE(f.salesg.has_value()) << "nine months against twelve";
  // Between the nine months' end and their results: no forecast.
  const Figures gap = figures_as_of(list, 20260110, {});
  EXPECT_FALSE(gap.eps.has_value());
  EXPECT_NEAR(*metric_value(gap, Metric::aper, 1000), 10, 1e-9);
  // The twelve-month forecast against nine months' actuals is no growth either; PAYOUT from
  // DivAnn / EPS; ROE without EqAR falls back to Eq (18 billion at the end).
  const Figures later = figures_as_of(list, 20260213, {});
  EXPECT_NEAR(*later.eps, 120, 1e-9);
  EXPECT_FALSE(later.salesg.has_value());
  EXPECT_NEAR(*later.payout, 100.0 * 20 / 90, 1e-9);
  EXPECT_NEAR(*later.roe, 100.0 * 0.9 / 19, 1e-9) << "(20 + 18) / 2 billion";
  EXPECT_TRUE(later.roe_on_eq);

  // A REIT: distributions where the dividend fields are blank; a dividend revision says
  // nothing of earnings.
  const char* reit = "FYFinancialStatements_NonConsolidated_REIT";
  const std::vector<Disclosure> r = {
      with_years(disclosure("2025-03-14", "1", reit, "FY", "2025-01-31",
                            {{EPS, "3000"}, {DivUnit, "3100"}, {NxFDivUnit, "3200"},
                             {NxFEPS, "3150"}}),
                 "2024-08-01", "2025-02-01", "2025-07-31"),
      disclosure("2025-04-10", "2", "REITDividendForecastRevision", "FY", "2025-07-31",
                 {{FDivUnit, "3300"}}),
  };
  const Figures rf = figures_as_of(r, 20250415, {});
  EXPECT_NEAR(*metric_value(rf, Metric::yield, 110000), 3.0, 1e-9);
  EXPECT_NEAR(*metric_value(rf, Metric::ayield, 100000), 3.1, 1e-9);
  EXPECT_NEAR(*rf.eps, 3150, 1e-9);
  EXPECT_FALSE(rf.salesg.has_value()) << "six-month periods";
}

// The chart draws prices adjusted for every correction of the years it loads: the day before a
// 1-for-10 split its close 1100 is drawn as 110, and the line divides that by figures on the
// same basis (EPS forecast 300 -> 30, actual 250 -> 25, BPS 3000 -> 300, dividend 100 -> 10),
// as `fins --as-of` does on the day's own basis (1100 / 300). The 決算 list shows the older
// rows on the new basis under a line marking the split.
TEST(Fundamentals, ChartLineAndListOnTheChartsShareBasis) {
  test::TempDir dir;
  const std::string db = dir.str() + "/";
  test::write_correction_file(db, 2025, "9647", {{"20250602", 1, 10}});
  Disclosure fy = disclosure("2025-05-09", "1", "FYFinancialStatements_Consolidated_JP", "FY",
                             "2025-03-31",
                             {{EPS, "250"}, {BPS, "3000"}, {DivAnn, "90"}, {NxFEPS, "300"},
                              {NxFDivAnn, "100"}, {NxtFYEn, "2026-03-31"}});
  fy.set(Code, "9647");
  Disclosure q1 = disclosure("2025-08-08", "2", "1QFinancialStatements_Consolidated_JP", "1Q",
                             "2026-03-31", {{FEPS, "32"}, {FDivAnn, "10"}, {BPS, "305"}});
  q1.set(Code, "9647");
  StoreStats stats;
  std::string error;
  ASSERT_TRUE(store_disclosures(db, {fy, q1}, stats, error)) << error;
  const SeriesSource src(db, "1001");

  EXPECT_EQ(valuation_line(src, "9647", 20250530, 110, load_basis(20250530)),
            "予想PER 3.7倍　実績PER 4.4倍　PBR 0.37倍　予想利回り 9.09%");
  // On the day's own basis (a screen, fins --as-of) the raw close gives the same figures.
  EXPECT_EQ(valuation_line(src, "9647", 20250530, 1100),
            "予想PER 3.7倍　実績PER 4.4倍　PBR 0.37倍　予想利回り 9.09%");
  // From the split day on both bases agree; a loss-free quarter's forecast after it.
  EXPECT_EQ(valuation_line(src, "9647", 20250602, 112, load_basis(20250602)),
            "予想PER 3.7倍　実績PER 4.5倍　PBR 0.37倍　予想利回り 8.93%");
  EXPECT_EQ(valuation_line(src, "9647", 20250808, 128, load_basis(20250808)),
            "予想PER 4.0倍　実績PER 5.1倍　PBR 0.42倍　予想利回り 7.81%");
  EXPECT_EQ(valuation_line(src, "9647", 20250508, 110, load_basis(20250508)), "");

  const std::vector<DisclosureListRow> list = disclosure_list(src, "9647", 0, 20251231);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].row.f_eps, "32");
  EXPECT_EQ(list[1].split.rfind("分割 1→10 (2025/06/02)", 0), 0u) << list[1].split;
  EXPECT_EQ(list[2].row.eps, "25");
  EXPECT_EQ(list[2].row.f_eps, "30");
  EXPECT_EQ(list[2].row.bps, "300");
  EXPECT_EQ(list[2].row.div, "9");
  // As of a day before the split and on that day's basis: the rows as served, no mark.
  const std::vector<DisclosureListRow> before = disclosure_list(src, "9647", 20250530, 20250530);
  ASSERT_EQ(before.size(), 1u);
  EXPECT_EQ(before[0].row.f_eps, "300");
}

TEST(Fundamentals, PageValuesAsNumbersTextsEmptyAndNull) {
  const std::string page =
      R"({"data":[{"DiscDate":"2025-05-12","DiscNo":"20250512002","Code":"72030",)"
      R"("DocType":"FYFinancialStatements_Consolidated_JP","CurFYEn":"2025-03-31",)"
      R"("EPS":-20.5,"BPS":"520","DivAnn":"","NxFEPS":null,"FEPS":"-","ShOutFY":22000000},)"
      R"({"DiscDate":"2025-05-12","DiscNo":"20250512003","Code":"13015","EPS":"1"}],)"
      R"("pagination_key":"k2"})";
  std::vector<Disclosure> out;
  std::string next, error;
  int skipped = 0;
  ASSERT_TRUE(jquants::parse_fins_page(page, "20250512", out, next, skipped, error)) << error;
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(skipped, 1) << "the preferred share has no database code";
  EXPECT_EQ(next, "k2");
  const Disclosure& d = out[0];
  EXPECT_EQ(d[Code], "7203");
  EXPECT_EQ(d[DiscDate], "20250512");
  EXPECT_TRUE(d.is_fy_results());
  EXPECT_DOUBLE_EQ(d.value(EPS), -20.5);
  EXPECT_DOUBLE_EQ(d.value(BPS), 520);
  EXPECT_DOUBLE_EQ(d.value(ShOutFY), 22000000);
  for (int col : {DivAnn, NxFEPS, FEPS, FOP}) EXPECT_FALSE(d.disclosed(col)) << col;
  // Figures no company reports are not used, with one warning line for the record; a text
  // with commas in odd places is no number.
  const std::string odd =
      R"({"data":[{"DiscDate":"2025-05-12","DiscNo":"1","Code":"99840","EPS":10000000,)"
      R"("BPS":-9999999,"DivAnn":-5,"FDivAnn":0,"ShOutFY":100000000001,"NP":"1,2,3"},)"
      R"({"DiscDate":"2025-05-12","DiscNo":"2","Code":"99830","ShOutFY":100,"TrShFY":101}]})";
  std::vector<Disclosure> odd_out;
  std::vector<std::string> warnings;
  ASSERT_TRUE(jquants::parse_fins_page(odd, "20250512", odd_out, next, skipped, error, &warnings));
  ASSERT_EQ(odd_out.size(), 2u);
  for (int col : {EPS, DivAnn, ShOutFY, NP}) EXPECT_FALSE(odd_out[0].disclosed(col)) << col;
  EXPECT_DOUBLE_EQ(odd_out[0].value(BPS), -9999999) << "just inside the bound";
  EXPECT_DOUBLE_EQ(odd_out[0].value(FDivAnn), 0) << "no dividend is a dividend of 0";
  EXPECT_FALSE(odd_out[1].disclosed(ShOutFY));
  EXPECT_FALSE(odd_out[1].disclosed(TrShFY));
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_NE(warnings[0].find("9984"), std::string::npos) << warnings[0];
  // A page that cannot be trusted is refused whole.
  const char* bad[] = {
      R"({"data":[{"DiscDate":"2025-05-13","Code":"72030"}]})",            // another day
      R"({"data":[{"DiscDate":"2025-05-12","Code":"72030","EPS":[1]}]})",  // a list
      R"({"data":[7]})",
      R"({"nodata":[]})",
  };
  for (const char* b : bad) {
    std::vector<Disclosure> none;
    EXPECT_FALSE(jquants::parse_fins_page(b, "20250512", none, next, skipped, error)) << b;
    EXPECT_TRUE(none.empty());
  }
}

TEST(Fundamentals, StoreMergesByDiscNoInOrderUnderItsLock) {
  test::TempDir dir;
  const std::string db = dir.str() + "/";
  std::vector<Disclosure> list = stock();
  StoreStats first;
  std::string error;
  // Offered newest first and twice over: stored once each, oldest first.
  std::vector<Disclosure> offered(list.rbegin(), list.rend());
  offered.insert(offered.end(), list.begin(), list.end());
  ASSERT_TRUE(store_disclosures(db, offered, first, error)) << error;
  EXPECT_EQ(first.added, 6);
  // A corrected copy of a disclosure replaces it; a new one of the same day sorts by DiscNo as
  // a number ("999" before "20240805001", though not as text).
  Disclosure corrected = list[1];
  corrected.set(EPS, "26");
  Disclosure same_day = list[1];
  same_day.set(DiscNo, "999");
  StoreStats second;
  ASSERT_TRUE(store_disclosures(db, {corrected, same_day}, second, error)) << error;
  EXPECT_EQ(second.added, 1);
  std::vector<Disclosure> back;
  ASSERT_TRUE(read_fins_file(fins_file_path(db, "7203"), back));
  ASSERT_EQ(back.size(), 7u);
  EXPECT_EQ(back[1][DiscNo], "999");
  EXPECT_DOUBLE_EQ(back[2].value(EPS), 26);
  EXPECT_EQ(back[6][DiscDate], "20250513");
  std::string bytes;
  ASSERT_TRUE(read_file_bytes(fins_file_path(db, "7203"), bytes));
  EXPECT_EQ(bytes.rfind("DiscDate,DiscTime,Code,DiscNo,", 0), 0u);
  EXPECT_NE(bytes.find("\r\n"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(db + ".fins.lock"));
  EXPECT_TRUE(database_has_fins(db));
  // Without DiscNo a second fetch of the same day changes nothing; another time is another one.
  Disclosure no_number = list[0];
  no_number.set(DiscNo, "");
  no_number.set(DiscTime, "15:00");
  Disclosure later = no_number;
  later.set(DiscTime, "15:30");
  StoreStats third, fourth;
  ASSERT_TRUE(store_disclosures(db, {no_number, later}, third, error)) << error;
  ASSERT_TRUE(store_disclosures(db, {no_number}, fourth, error)) << error;
  EXPECT_EQ(third.added, 2);
  EXPECT_EQ(fourth.added, 0);
  ASSERT_TRUE(read_fins_file(fins_file_path(db, "7203"), back));
  EXPECT_EQ(back.size(), 9u);
}

}  // namespace
}  // namespace lp
