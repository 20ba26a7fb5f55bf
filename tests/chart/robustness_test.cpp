// Damaged preference and link files and absurd prices fed to the chart: each returns, lists stay
// within the size of their file, and a redraw's scene stays bounded whatever the data says.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "bars_fixture.h"
#include "chart/chart_model.h"
#include "chart/chart_state.h"
#include "chart/links.h"
#include "common/encoding.h"
#include "pricedb/formats.h"
#include "support/damaged_inputs.h"
#include "support/fixtures.h"

namespace lp::chart {
namespace {

using Input = lp::test::DamagedInput;
using lp::test::place;
constexpr std::string_view kFolder = lp::test::kFolderMarker;

std::vector<Input> damaged_files() {
  std::vector<Input> more = {
      {"invalid shift_jis", "\x81\x20,\xFF\xFE,\x82"},
      {"count of 10^9", "1301,d,n,x,1000000000,1000000000\r\n"},
      {"the same list key 100000 times",
       [] {
         std::string s;
         for (int i = 0; i < 100000; ++i) s += utf8_to_cp932("期間") + ",60\r\n";
         return s;
       }()},
  };
  return lp::test::base_damaged_inputs(31, std::move(more));
}

std::size_t list_items(const ChartPrefs& p) {
  std::size_t n = 0;
  for (const ComboPrefs* c :
       {&p.period, &p.ma1, &p.ma2, &p.rsi_period, &p.band_period, &p.bar_unit}) {
    n += c->items.size();
  }
  return n;
}

TEST(ChartPrefsRobustness, DamagedInitFilesKeepTheDefaultsTheyDoNotName) {
  for (const Input& in : damaged_files()) {
    SCOPED_TRACE(in.name);
    lp::test::TempDir dir;
    place(dir.path() / "init.txt", in.bytes);
    ChartPrefs prefs = chart_defaults();
    const std::size_t before = list_items(prefs);
    EXPECT_EQ(read_chart_prefs(dir.file("init.txt"), prefs), in.bytes != kFolder);
    EXPECT_LE(list_items(prefs), before + in.bytes.size() / 2 + 1);
  }
  // Saved as UTF-8 with a byte order mark by an editor: the Japanese keys still apply.
  lp::test::TempDir dir;
  lp::test::write_bytes(dir.path() / "init.txt",
                        "\xEF\xBB\xBF"
                        "期間_初期値,500\r\nローソク表示,OFF\r\nEOF\r\n");
  ChartPrefs prefs = chart_defaults();
  ASSERT_TRUE(read_chart_prefs(dir.file("init.txt"), prefs));
  EXPECT_EQ(prefs.period.text, "500");
  EXPECT_FALSE(prefs.candles);
}

TEST(LinksRobustness, DamagedLinkFilesOfferNoBrokenLink) {
  const std::string end = "\r\nEND\r\n";
  struct Case {
    const char* name;
    std::string bytes;
    std::size_t names;  // entries the link box shows
  };
  std::vector<Case> cases;
  for (const Input& in : damaged_files()) cases.push_back({in.name, in.bytes, 0});
  const std::vector<Case> more = {
      {"no END after good records", "a,http://x/,$$$$,,,,,\r\nb,http://y/,,,,,,\r\n", 0},
      {"record cut before END", "a,http://x/,$$$$,,,,,\r\nb,http" + end, 0},
      {"invalid shift_jis name before END", "\x81\x20,http://x/,,,,,," + end, 1},
      {"utf-8 with bom",
       "\xEF\xBB\xBF"
       "株価,http://x/,$$$$,,,,," +
           end,
       1},
      {"END only", "END", 0},
  };
  cases.insert(cases.end(), more.begin(), more.end());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    lp::test::TempDir dir;
    place(dir.path() / "cmd.txt", c.bytes);
    const LinkList list = read_links(dir.file("cmd.txt"));
    EXPECT_LE(list.records.size(), c.bytes.size() / 8 + 1);
    EXPECT_EQ(link_names(list).size(), c.names);
    for (const std::string& name : link_names(list)) {
      EXPECT_TRUE(find_link_address(dir.file("cmd.txt"), name, "1301").has_value());
    }
  }
  // The name shown for a UTF-8 file is its text, not the byte order mark or mojibake.
  lp::test::TempDir dir;
  lp::test::write_bytes(dir.path() / "cmd.txt",
                        "\xEF\xBB\xBF"
                        "株価,http://x/,$$$$,,,,," +
                            end);
  const std::vector<std::string> names = link_names(read_links(dir.file("cmd.txt")));
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], "株価");
  EXPECT_EQ(find_link_address(dir.file("cmd.txt"), "株価", "1301"), "http://x/1301");
}

TEST(SteppingRobustness, DamagedCodeFilesGiveAYearOrNothing) {
  for (const Input& in : damaged_files()) {
    SCOPED_TRACE(in.name);
    lp::test::TempDir dir;
    const std::string db = dir.str() + "/db/";
    place(series_file_path(db, 2024, "1301"), in.bytes);
    const std::optional<int> year = stepping_year(db, "20240110");
    if (in.bytes == kFolder) {
      EXPECT_FALSE(year.has_value());
    }
    // The codes come from file names only; the damaged file is one of them (or none).
    EXPECT_LE(code_files_of_year(db, 2024).size(), 1u);
  }
}

// A series whose prices a damaged file or a slip of the keyboard made absurd.
Bars absurd(double open, double high, double low, double close, double volume) {
  Series s = test::make_series({{100, 110, 90, 100, 1000}, {100, 110, 90, 100, 1000}});
  s[1].d2 = format_decimal(open);
  s[1].d3 = format_decimal(high);
  s[1].d4 = format_decimal(low);
  s[1].d5 = format_decimal(close);
  s[1].d6 = format_decimal(volume);
  return bars_from_series(s);
}

TEST(SceneRobustness, AbsurdPricesAndReferencesGiveABoundedScene) {
  struct Case {
    const char* name;
    Bars bars;
    bool reference_on;
    double reference;
    int period;
  };
  const std::vector<Case> cases = {
      {"high of 1e300", absurd(100, 1e300, 90, 100, 1000), false, 0, 250},
      {"low of -1e300", absurd(100, 110, -1e300, 100, 1000), false, 0, 250},
      {"both extremes", absurd(-1e300, 1e300, -1e300, 1e300, 1e300), false, 0, 250},
      {"close of 1e-300 under a high of 1e9", absurd(1, 1e9, 1e-300, 1e-300, 1000), false, 0, 250},
      {"tiny typed reference", absurd(100, 110, 90, 100, 1000), true, 1e-9, 250},
      {"reference far below a high range", absurd(5e8, 1e9, 9e8, 9e8, 1000), true, 0.5, 250},
      {"huge period", absurd(100, 110, 90, 100, 1000), false, 0, 1000000000},
      {"negative period", absurd(100, 110, 90, 100, 1000), false, 0, -5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChartOptions o;
    o.period = c.period;
    o.ratio = o.ma = o.rsi = o.bands = o.alg1 = true;
    o.ma1 = 1000000000;
    o.ma2 = 25;
    o.rsi_period = 14;
    o.band_period = 1000000000;
    o.reference_on = c.reference_on;
    o.reference = c.reference;
    const ChartScene s = build_scene(c.bars, o);
    // A pane is 10000 logical units high: more lines than that cannot be told apart (plus the
    // reference and the ten lines below it).
    EXPECT_LE(s.ratio.size(), 1u + 10000u + 10u);
    EXPECT_LE(s.levels.size(), 1000u);
    EXPECT_LE(s.ma1.points.size(), 3u);
    for (const RatioLine& l : s.ratio) EXPECT_TRUE(std::isfinite(l.value));
  }
}

TEST(SceneRobustness, RatioLinesKeepTheirPlacesWithinTheCap) {
  // The familiar case is untouched, and a tiny reference gives the lines of the range only.
  const std::vector<RatioLine> normal = ratio_lines(1000, 850, 1250);
  ASSERT_EQ(normal.size(), 4u);
  EXPECT_DOUBLE_EQ(normal[1].value, 1100);
  const std::vector<RatioLine> tiny = ratio_lines(0.5, 1000, 1001);
  ASSERT_FALSE(tiny.empty());
  for (const RatioLine& l : tiny) {
    EXPECT_GE(l.value, 1000);
    EXPECT_LE(l.value, 1001);
  }
  EXPECT_EQ(tiny.size(), 21u);  // 1000.0, 1000.05, ... 1001.0
}

}  // namespace
}  // namespace lp::chart
