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

// A March-year company: FY2023 results with next year's forecasts, a quarter without a forecast
// (texts, "" and null), a quarter with one, a forecast revision (not results), a 1-for-2 split
// on 2025-04-01, FY2024 results with a loss and no forecast, a quarter the day after.
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
                 "2025-03-31", {{FEPS, "130"}, {FDivAnn, "40"}}),
      disclosure("2025-03-10", "20250310001", "EarnForecastRevision", "FY", "2025-03-31",
                 {{FEPS, "90"}}),
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

const std::vector<Split> kSplits = {{20250401, 0.5}};

TEST(Fundamentals, EachRuleAsOfEachDay) {
  const std::optional<double> u;  // undefined
  const struct {
    int as_of;
    double close;
    std::optional<double> eps, dps, bps, shares, per, yield, roe, salesg;
  } cases[] = {
      {20240509, 1200, u, u, u, u, u, u, u, u},  // nothing disclosed yet
      // On the day of the FY results: next year's forecasts take over.
      {20240510, 1200, 120, 36, 1000, 10e6, 10, 3, 10, 10},
      // A quarter whose forecasts are "" and null: the FY results' forecasts still count.
      {20240805, 1200, 120, 36, 1010, 10e6, 10, 3, 10, 10},
      {20241105, 1300, 130, 40, 1010, 10e6, 10, 40.0 / 13, 10, 10},
      // A forecast revision is not results: its FEPS is the forecast.
      {20250310, 900, 90, 40, 1010, 10e6, 10, 40.0 / 9, 10, 10},
      // From the split day the older figures are on the new basis.
      {20250401, 450, 45, 20, 505, 20e6, 10, 40.0 / 9, 10, 10},
      // The year's results are out (a loss, no forecast): the actuals, PER undefined.
      {20250512, 500, -20, 20, 520, 22e6, u, 4, -200.0 / 110, u},
      // The disclosure of the day after is seen only from that day on.
      {20250513, 500, 50, 20, 520, 22e6, 10, 4, -200.0 / 110, u},
  };
  const std::vector<Disclosure> list = stock();
  for (const auto& c : cases) {
    const Figures f = figures_as_of(list, c.as_of, kSplits);
    auto same = [&](const char* what, const std::optional<double>& got,
                    const std::optional<double>& want) {
      ASSERT_EQ(got.has_value(), want.has_value()) << what << " as of " << c.as_of;
      if (want) {
        EXPECT_NEAR(*got, *want, 1e-9 * std::fabs(*want) + 1e-12) << what << c.as_of;
      }
    };
    same("EPS", f.eps, c.eps);
    same("DPS", f.dps, c.dps);
    same("BPS", f.bps, c.bps);
    same("shares", f.shares, c.shares);
    same("PER", metric_value(f, Metric::per, c.close), c.per);
    same("YIELD", metric_value(f, Metric::yield, c.close), c.yield);
    same("ROE", f.roe, c.roe);
    same("SALESG", f.salesg, c.salesg);
  }
  // PBR, MCAP, OPG and FIN on the split day: FIN is the value as served, not adjusted.
  const Figures f = figures_as_of(list, 20250401, kSplits);
  EXPECT_DOUBLE_EQ(*metric_value(f, Metric::pbr, 505), 1.0);
  EXPECT_DOUBLE_EQ(*metric_value(f, Metric::mcap, 450), 90.0);
  EXPECT_DOUBLE_EQ(*f.opg, 20.0);
  EXPECT_DOUBLE_EQ(*metric_value(f, Metric::fin, 0, NxFEPS), 120.0);
  EXPECT_DOUBLE_EQ(*metric_value(f, Metric::fin, 0, FEPS), 90.0);
  EXPECT_FALSE(metric_value(f, Metric::fin, 0, NxFNp).has_value());
  // A disclosure dated on the split day is already on the new basis; older ones are not.
  const Figures on_split = figures_as_of(list, 20240805, {{20240805, 0.5}});
  EXPECT_DOUBLE_EQ(*on_split.bps, 1010);
  EXPECT_DOUBLE_EQ(*on_split.eps, 60);
  // A zero divisor is no ratio: a yield at no price.
  EXPECT_FALSE(metric_value(f, Metric::yield, 0).has_value());
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
