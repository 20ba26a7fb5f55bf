#include "results/results_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lp {
namespace {

// A result line: code, name, extra, open, close, volume, previous close, previous volume.
struct Line {
  std::string code, name, extra, open, close, volume, prev_close, prev_volume;
};

ResultTable make_table(const std::vector<Line>& lines, const std::string& caption = "-") {
  ResultTable t;
  t.header = {std::to_string(lines.size()), "20240105", "銘柄", caption};
  for (const Line& l : lines) {
    t.rows.push_back({l.code, "東証1部", l.name, l.extra, l.open, "0", "0", l.close, l.volume,
                      l.prev_close, l.prev_volume, "1"});
  }
  return t;
}

// n rising results with codes 1001, 1002, ...
ResultTable numbered(int n) {
  std::vector<Line> lines;
  for (int i = 1; i <= n; ++i)
    lines.push_back({std::to_string(1000 + i), "N", "-", "1", "2", "0", "1", "0"});
  return make_table(lines);
}

std::string codes(const ResultTable& t) {
  std::string s;
  for (const auto& r : t.rows) s += r[0] + " ";
  return s;
}

TEST(ResultPages, PageCountsButtonsAndPlacement) {
  struct Case {
    int n, page, last_page, rows_shown, first_result;
    bool next, back;
  };
  const Case cases[] = {
      {0, 0, -1, 0, 0, false, false},  // empty result: no page entry, both buttons off
      {25, 0, 0, 25, 1, false, false}, {26, 0, 1, 25, 1, true, false},
      {26, 1, 1, 1, 26, false, true},  // result 26 is row 1 of page 1
      {60, 1, 2, 25, 26, true, true},  {60, 2, 2, 10, 51, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("n=" + std::to_string(c.n) + " page=" + std::to_string(c.page));
    EXPECT_EQ(last_page(c.n), c.last_page);
    const GridPage page = fill_page(numbered(c.n), c.page);
    ASSERT_EQ(page.rows.size(), static_cast<std::size_t>(c.rows_shown));
    if (c.rows_shown > 0) {
      EXPECT_EQ(page.rows[0].cells[0], std::to_string(c.first_result));
      EXPECT_EQ(page.rows[0].cells[1], std::to_string(1000 + c.first_result));
    }
    EXPECT_EQ(page.next_enabled, c.next);
    EXPECT_EQ(page.back_enabled, c.back);
  }
  EXPECT_EQ(page_entries(26), (std::vector<std::string>{" 0", " 1"}));
}

TEST(ResultPages, RowColoursAndPriceTexts) {
  struct Case {
    Line line;
    RowColour colour;
    std::string close_text, ratio_text;
  };
  // One page in order: a row's colour may come from the row above.
  const Case cases[] = {
      {{"1", "A", "-", "100", "100", "0", "100", "500"}, RowColour::black, "100", "-"},
      // (1234 - 1200) * 100 / 1200; the close rounds for display.
      {{"2", "B", "-", "1200", "1234.4", "10", "1200", "5"}, RowColour::red, "1,234", "2.83"},
      // No volume: the colour of the row above, no ratio.
      {{"3", "C", "-", "900", "800", "0", "800", "5"}, RowColour::red, "800", "-"},
      {{"4", "D", "-", "1000", "990", "10", "1000", "7"}, RowColour::blue, "990", "-1.00"},
      // d1 = 0.5 rounds half to even to 0: unchanged.
      {{"5", "E", "-", "100", "100.5", "3", "100", "7"}, RowColour::green, "101", "0.00"},
      {{"6", "F", "-", "0", "0", "3", "100", "0"}, RowColour::green, "-", "-"},
      // A zero previous close has no ratio instead of a division by zero.
      {{"7", "G", "-", "10", "20", "3", "0", "4"}, RowColour::red, "20", "-"},
  };
  std::vector<Line> lines;
  for (const Case& c : cases) lines.push_back(c.line);
  const GridPage page = fill_page(make_table(lines), 0);
  ASSERT_EQ(page.rows.size(), std::size(cases));
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    SCOPED_TRACE("row " + std::to_string(k + 1));
    EXPECT_EQ(page.rows[k].colour, cases[k].colour);
    EXPECT_EQ(page.rows[k].cells[3], cases[k].close_text);
    EXPECT_EQ(page.rows[k].cells[4], cases[k].ratio_text);
  }
}

TEST(ResultPages, ExtraColumnFollowsItsCaptionAndNamesAreCut) {
  struct Case {
    std::string caption, extra, shown;
  };
  const Case cases[] = {
      {"値上率", "5.5", "5.50"},     {"値上率", "12.3456", "12.35"},
      {"値上率", "-", "-"},          {"最安値日付", "20231130", "20231130"},
      {"RSI", "3.14159", "3.14"},    {"RSI", "-", "-"},
      {"乖離", "1234.5", "1,234.5"}, {"乖離", "12", "12"},  // no dangling point
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.caption + " " + c.extra);
    const GridPage page = fill_page(
        make_table({{"1301", "株式会社サクラ精密工業所", c.extra, "1", "2", "3", "1", "3"}},
                   c.caption),
        0);
    EXPECT_EQ(page.captions,
              (std::array<std::string, 6>{"No", "ｺｰﾄﾞ", "銘柄", "終値", "前日比率", c.caption}));
    EXPECT_EQ(page.rows.at(0).cells[5], c.shown);
    EXPECT_EQ(page.rows.at(0).cells[2], "株式会社サクラ精");  // first 8 characters
  }
}

TEST(ResultSort, SameColumnReversesAndEqualKeysKeepTheExchangeOrder) {
  // Closes 1, 3, 1, 3: the exchange sort leaves equal keys where a stable sort would not.
  ResultTable t = make_table({{"1001", "A", "-", "1", "1", "1", "1", "1"},
                              {"1002", "B", "-", "1", "3", "1", "1", "1"},
                              {"1003", "C", "-", "1", "1", "1", "1", "1"},
                              {"1004", "D", "-", "1", "3", "1", "1", "1"}});
  struct Step {
    int column;
    bool descending;
    std::string order;
  };
  const Step steps[] = {
      {3, true, "1002 1004 1003 1001 "},   // first double click on 終値: descending
      {3, false, "1003 1001 1002 1004 "},  // second: ascending
      {1, false, "1001 1002 1003 1004 "},  // another column keeps the direction
  };
  ResultSorter sorter;
  for (const Step& s : steps) {
    EXPECT_EQ(sorter.sort(t, s.column), s.descending);
    EXPECT_EQ(codes(t), s.order) << "column " << s.column;
  }
}

TEST(ResultSort, CodesWithLettersSortAsText) {
  ResultTable t = make_table({{"1311", "A", "-", "1", "1", "1", "1", "1"},
                              {"130A", "B", "-", "1", "1", "1", "1", "1"},
                              {"1301", "C", "-", "1", "1", "1", "1", "1"},
                              {"285A", "D", "-", "1", "1", "1", "1", "1"},
                              {"2860", "E", "-", "1", "1", "1", "1", "1"}});
  ResultSorter sorter;
  EXPECT_TRUE(sorter.sort(t, 1));
  EXPECT_EQ(codes(t), "2860 285A 1311 130A 1301 ");
  EXPECT_FALSE(sorter.sort(t, 1));
  EXPECT_EQ(codes(t), "1301 130A 1311 285A 2860 ");
}

TEST(ResultSort, KeysOfTheRatioAndExtraColumns) {
  const ResultTable t = make_table({
      {"1301", "A", "12.5", "100", "110", "10", "100", "10"},  // +10%
      {"1302", "B", "-", "100", "90", "0", "100", "10"},       // no volume: ratio key 0
      {"1303", "C", "3", "100", "95", "10", "0", "10"},        // zero previous close: 0
  });
  const double expected[3][3] = {{110, 0.1, 12.5}, {90, 0, 0}, {95, 0, 3}};
  for (int i = 1; i <= 3; ++i) {
    EXPECT_DOUBLE_EQ(sort_key(t, i, 1), 1300 + i);
    for (int column = 3; column <= 5; ++column) {
      EXPECT_DOUBLE_EQ(sort_key(t, i, column), expected[i - 1][column - 3]) << i << "/" << column;
    }
  }
}

}  // namespace
}  // namespace lp
