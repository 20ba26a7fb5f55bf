// Foreign preference and link files and absurd prices fed to the chart: an editor's UTF-8 file
// still applies, and a redraw's scene stays bounded whatever the data says.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "bars_fixture.h"
#include "chart/chart_model.h"
#include "chart/chart_state.h"
#include "chart/links.h"
#include "support/fixtures.h"

namespace lp::chart {
namespace {

TEST(ChartFilesRobustness, Utf8FilesWithAByteOrderMarkStillApply) {
  lp::test::TempDir dir;
  lp::test::write_bytes(dir.path() / "init.txt",
                        "\xEF\xBB\xBF"
                        "期間_初期値,500\r\nローソク表示,OFF\r\nEOF\r\n");
  ChartPrefs prefs = chart_defaults();
  ASSERT_TRUE(read_chart_prefs(dir.file("init.txt"), prefs));
  EXPECT_EQ(prefs.period.text, "500");
  EXPECT_FALSE(prefs.candles);

  // The link name shown is the file's text, not the byte order mark or mojibake.
  lp::test::write_bytes(dir.path() / "cmd.txt",
                        "\xEF\xBB\xBF"
                        "株価,http://x/,$$$$,,,,,\r\nEND\r\n");
  EXPECT_EQ(link_names(read_links(dir.file("cmd.txt"))), std::vector<std::string>{"株価"});
  EXPECT_EQ(find_link_address(dir.file("cmd.txt"), "株価", "1301"), "http://x/1301");
}

// A series whose newest day a damaged file or a slip of the keyboard made absurd.
Bars absurd(double open, double high, double low, double close) {
  Series s = test::make_series({{100, 110, 90, 100, 1000}, {100, 110, 90, 100, 1000}});
  s[1].d2 = format_decimal(open);
  s[1].d3 = format_decimal(high);
  s[1].d4 = format_decimal(low);
  s[1].d5 = format_decimal(close);
  return bars_from_series(s);
}

TEST(SceneRobustness, AbsurdPricesAndReferencesGiveABoundedScene) {
  struct Case {
    const char* name;
    Bars bars;
    double reference;  // typed by the user; 0: the newest close
  };
  const std::vector<Case> cases = {
      // The price levels run up to the integer limit, where one more step would wrap.
      {"both extremes", absurd(-1e300, 1e300, -1e300, 1e300), 0},
      // Ten-percent lines from 1e-9 up to 110 would never end.
      {"tiny typed reference", absurd(100, 110, 90, 100), 1e-9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChartOptions o;
    o.period = 250;
    o.ratio = true;
    o.reference_on = c.reference > 0;
    o.reference = c.reference;
    const ChartScene s = build_scene(c.bars, o);
    // A pane is 10000 logical units high: more lines than that cannot be told apart (plus the
    // reference and the ten lines below it).
    EXPECT_LE(s.ratio.size(), 1u + 10000u + 10u);
    EXPECT_LE(s.levels.size(), 1000u);
    for (const RatioLine& l : s.ratio) EXPECT_TRUE(std::isfinite(l.value));
  }
}

}  // namespace
}  // namespace lp::chart
