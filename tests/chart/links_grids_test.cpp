#include <gtest/gtest.h>

#include "pricedb/formats.h"

#include "bars_fixture.h"
#include "chart/chart_grids.h"
#include "chart/links.h"
#include "support/fixtures.h"

namespace lp::chart {
namespace {

using lp::test::TempDir;
using lp::test::write_cp932;

TEST(Links, NamesUpToEndAndAddressesWithTheCode) {
  TempDir dir;
  write_cp932(dir.path() / "cmd.txt",
              "株価情報,https://finance.example.jp,/quote/,?code=,$$$$,,,\r\n"
              "掲示板,https://bbs.example.jp/,$$$$,/board,?c=,$$$$,.T,\r\n"
              "END,,,,,,,\r\n"
              "後ろ,http://after.example/,,,,,,\r\n");
  const LinkList list = read_links(dir.file("cmd.txt"));
  EXPECT_TRUE(list.complete);
  EXPECT_EQ(link_names(list), (std::vector<std::string>{"株価情報", "掲示板"}));
  EXPECT_EQ(build_link_address(list.records[0], " 7203 "),
            "https://finance.example.jp/quote/?code=7203");
  EXPECT_EQ(find_link_address(dir.file("cmd.txt"), "掲示板", "1301"),
            "https://bbs.example.jp/1301/board?c=1301.T");
  EXPECT_FALSE(find_link_address(dir.file("cmd.txt"), "後ろ", "1301").has_value());
  EXPECT_FALSE(find_link_address(dir.file("cmd.txt"), "消えた", "1301").has_value());
}

TEST(Links, AFileWithoutEndOpensNothing) {
  TempDir dir;
  write_cp932(dir.path() / "cmd.txt", "株価情報,https://a.example/,$$$$,,,,,\r\nhalf,http://b\r\n");
  const LinkList list = read_links(dir.file("cmd.txt"));
  EXPECT_FALSE(list.complete);
  EXPECT_EQ(list.records.size(), 1u);  // the cut-off record is not a link
  EXPECT_TRUE(link_names(list).empty());
  EXPECT_FALSE(find_link_address(dir.file("cmd.txt"), "株価情報", "1301").has_value());
  EXPECT_FALSE(read_links(dir.file("missing.txt")).complete);
}

TEST(GridText, PricesAndClipboard) {
  const std::pair<double, const char*> prices[] = {
      {1234, "1,234"}, {1234.5, "1,234.5"}, {0.25, "0.25"}, {-12, "-12"}, {1234567, "1,234,567"}};
  for (const auto& [v, text] : prices) EXPECT_EQ(price_text(v), text);

  EXPECT_EQ(clipboard_text(selection_text({{"1,234", "5,678"}})), "1234,5678");
  EXPECT_EQ(clipboard_text(selection_text({{"20240628", "1,000"}, {"20240627", "-5"}})),
            "20240628,1000\r\n20240627,-5");
}

std::vector<std::string> texts(const std::vector<GridCell>& row) {
  std::vector<std::string> out;
  for (const GridCell& c : row) out.push_back(c.text);
  return out;
}

TEST(GridRows, NewestDayAndMouseReadout) {
  const Bars b = bars_from_series(test::make_series(
      {
          {1000, 1050, 990, 1010, 12345, "20240628"},
          {1020, 1030, 1000, 1020, 500, "20240627"},
          {0, 0, 0, 0, 0, "20240626"},
          {900, 950, 880, 1010, 1000, "20240625"},
      },
      "7203", "トヨタ"));
  const std::vector<GridCell> summary = newest_day_summary(b);
  EXPECT_EQ(texts(summary),
            (std::vector<std::string>{"7203", "トヨタ", "20240628", "1,000", "1,050", "990",
                                      "1,010", "-10", "12,345", "-0.98", "1.00", ""}));
  EXPECT_EQ(summary[0].color, kLightRed);  // the candle rose
  EXPECT_EQ(summary[7].color, kLightBlue);
  EXPECT_EQ(summary[10].color, kLightRed);

  EXPECT_EQ(texts(newest_day_row(b)),
            (std::vector<std::string>{"20240628", "1,000", "1,050", "990", "1,010", "-10",
                                      "12,345", "", ""}));

  // Day 2: its day before did not trade, so no change; 1010 - 1020 from the newest close.
  const std::vector<GridCell> day2 = day_readout(b, 2);
  EXPECT_EQ(texts(day2), (std::vector<std::string>{"20240627", "1,020", "1,030", "1,000", "1,020",
                                                   "-", "500", "-10", "-0.98"}));
  EXPECT_EQ(day2[7].color, kLightBlue);
  // The gap day itself shows "-" everywhere but its date.
  EXPECT_EQ(texts(day_readout(b, 3)),
            (std::vector<std::string>{"20240626", "-", "-", "-", "-", "-", "-", "-", "-"}));
  const std::vector<GridCell> day4 = day_readout(b, 4);
  EXPECT_EQ(day4[7].text, "0");
  EXPECT_EQ(day4[7].color, kGreen);
  EXPECT_EQ(texts(day_readout(b, 5)), std::vector<std::string>(9));  // outside the series

  // A day of unknown volume (a CSV without volumes) is traded: prices shown, volume 不明.
  Series unknown = test::make_series({{1000, 1050, 990, 1010, 1, "20240628"}});
  unknown[1].d6 = kUnknownVolumeText;
  EXPECT_EQ(texts(day_readout(bars_from_series(unknown), 1)),
            (std::vector<std::string>{"20240628", "1,000", "1,050", "990", "1,010", "-",
                                      "不明", "0", "0.00"}));
}

}  // namespace
}  // namespace lp::chart
