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
      {"0", "0", "0", "0", {}},  // a stock without a close (1301) never passes
  };
  test::MiniMarket m(3);
  m.add({"1301", "東証1部", "無", {test::kGap}});
  m.add({"1302", "東証1部", "三十", {30}});
  m.add({"1303", "東証1部", "百", {100}});
  m.add({"1304", "東証1部", "三百", {300}});
  m.add({"1305", "東証1部", "超", {301}});
  m.add({"1306", "東証1部", "下", {99.5}});
  m.add({"1307", "東証1部", "上", {100.5}});
  test::CriterionBench b(m);
  b.names[1] = "株価範囲による銘柄選択";
  const CandidateList all = b.candidates;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.min) + ".." + c.max);
    b.candidates = b.output = all;
    b.messages.clear();
    int shown = 0;
    b.ctx.events.show_option = [&](int n) { shown = n; };
    b.controls.set_text("kabukamin", c.min);
    b.controls.set_text("kabukamax", c.max);
    f_kabukasel(b.ctx, b.candidates, b.output, 1);
    EXPECT_EQ(b.controls.text("kabukamin"), c.min_after);
    EXPECT_EQ(b.controls.text("kabukamax"), c.max_after);
    EXPECT_EQ(b.codes(), c.kept);
    EXPECT_EQ(b.label, std::to_string(c.kept.size()) + "/7");
    EXPECT_EQ(shown, 1);
    ASSERT_GE(b.messages.size(), 2u);
    EXPECT_EQ(b.messages[1], "株価範囲による銘柄選択処理中");
    EXPECT_EQ(b.messages.back(), "");
    // The intermediate file: header, then code, day-table row (codes 1301.. are rows 1..) and "-".
    std::string file = std::to_string(c.kept.size()) + "," + m.dates.back() + ",-\r\n";
    for (const auto& code : c.kept)
      file += code + "," + std::to_string(std::stoi(code) - 1300) + ",-\r\n";
    EXPECT_EQ(test::read_cp932(m.folders.user_folder + "sel1.csv"), file);
  }
}

}  // namespace
}  // namespace lp::screening
