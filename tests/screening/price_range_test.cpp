#include <gtest/gtest.h>

#include "screening/criteria/criterion.h"
#include "screening_fixture.h"

namespace lp::screening {
namespace {

TEST(PriceRange, BoundsAreRoundedOrderedClampedAndWrittenBack) {
  struct Case {
    const char *min, *max, *min_after, *max_after;
    std::vector<std::string> kept;
  };
  const std::vector<Case> cases = {
      {"300", "30", "30", "300", {"1302", "1303", "1304", "1306", "1307"}},
      {"-50", "100", "0", "100", {"1302", "1303", "1306", "1307"}},
      {"100", "100", "100", "100", {"1303", "1306", "1307"}},
      {"1,000", "200", "1", "200", {"1302", "1303", "1306", "1307"}},
      {"99.5", "200.5", "100", "200", {"1303", "1306", "1307"}},
      {" 50 ", "abc", "0", "50", {"1302"}},
      {"0", "0", "0", "0", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.min) + ".." + c.max);
    test::MiniMarket m(3);
    m.add({"1301", "東証1部", "無", {test::kGap}});
    m.add({"1302", "東証1部", "三十", {30}});
    m.add({"1303", "東証1部", "百", {100}});
    m.add({"1304", "東証1部", "三百", {300}});
    m.add({"1305", "東証1部", "超", {301}});
    m.add({"1306", "東証1部", "下", {99.5}});
    m.add({"1307", "東証1部", "上", {100.5}});
    test::CriterionBench b(m);
    b.controls.set_text("kabukamin", c.min);
    b.controls.set_text("kabukamax", c.max);
    f_kabukasel(b.ctx, b.candidates, b.output, 1);
    EXPECT_EQ(b.controls.text("kabukamin"), c.min_after);
    EXPECT_EQ(b.controls.text("kabukamax"), c.max_after);
    EXPECT_EQ(b.codes(), c.kept);
    EXPECT_EQ(b.label, std::to_string(c.kept.size()) + "/7");
    for (const auto& k : b.candidates.items) EXPECT_EQ(k.value, "-");
  }
}

TEST(PriceRange, EmptyCandidateListWritesHeaderOnly) {
  test::MiniMarket m(3);
  m.add({"1302", "東証1部", "三十", {30}});
  test::CriterionBench b(m);
  b.candidates.items.clear();
  b.output = b.candidates;
  b.candidates.title = b.output.title = "値上率";
  f_kabukasel(b.ctx, b.candidates, b.output, 1);
  EXPECT_EQ(b.label, "0/0");
  EXPECT_EQ(test::read_cp932(m.folders.user_folder + "sel1.csv"),
            "0," + m.dates.back() + ",値上率\r\n");
  ASSERT_FALSE(b.messages.empty());
  EXPECT_EQ(b.messages.back(), "");
}

TEST(PriceRange, IntermediateFileHoldsTheKeptStocks) {
  test::MiniMarket m(3);
  m.add({"1302", "東証1部", "三十", {30}});
  m.add({"1305", "東証1部", "超", {301}});
  m.add({"1303", "東証1部", "百", {100}});
  test::CriterionBench b(m);
  b.names[1] = "株価範囲による銘柄選択";
  bool shown = false;
  b.ctx.events.show_option = [&](int n) { shown = (n == 1); };
  std::vector<std::string> seen;
  b.ctx.events.message = [&](const std::string& t, TextColor) { seen.push_back(t); };
  f_kabukasel(b.ctx, b.candidates, b.output, 1);
  EXPECT_TRUE(shown);
  EXPECT_NE(std::find(seen.begin(), seen.end(), "株価範囲による銘柄選択処理中"), seen.end());
  EXPECT_EQ(test::read_cp932(m.folders.user_folder + "sel1.csv"),
            "2," + m.dates.back() + ",-\r\n1302,1,-\r\n1303,3,-\r\n");
}

}  // namespace
}  // namespace lp::screening
