#include "results/results_model.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/numbers.h"
#include "support/fixtures.h"

namespace lp {
namespace {

// A result line: code, name, extra, open, close, volume, previous close, previous volume.
struct Line {
  std::string code, name, extra, open, close, volume, prev_close, prev_volume;
};

ResultFields make_row(const Line& l) {
  return {l.code, "東証1部", l.name,   l.extra,      l.open,        "0",
          "0",    l.close,   l.volume, l.prev_close, l.prev_volume, "1"};
}

ResultTable make_table(const std::vector<Line>& lines, const std::string& caption = "-") {
  ResultTable t;
  t.header = {std::to_string(lines.size()),
              "20240105",
              "銘柄",
              caption,
              "始値",
              "高値",
              "安値",
              "終値",
              "出来高",
              "前日引値",
              "前日出来高",
              "ポインタ"};
  for (const Line& l : lines) t.rows.push_back(make_row(l));
  return t;
}

// n plain rising results with codes 1001, 1002, ...
ResultTable numbered(int n) {
  std::vector<Line> lines;
  for (int i = 0; i < n; ++i) {
    lines.push_back({std::to_string(1001 + i), "銘柄" + std::to_string(i), "-", "100", "110", "500",
                     "100", "400"});
  }
  return make_table(lines);
}

std::string codes(const ResultTable& t) {
  std::string s;
  for (const auto& r : t.rows) s += r[0] + " ";
  return s;
}

TEST(ResultFile, ReadsHeaderAndLinesAndStopsWhereTheFileEnds) {
  test::TempDir dir;
  const std::string path = dir.file("sel0_out.csv");
  // Header promises 3 lines; the file holds 2. The name needs decoding from CP932.
  test::write_cp932(
      path,
      "3,20240105,銘柄,値上率,始値,高値,安値,終値,出来高,前日引値,前日出来高,ポインタ\r\n"
      "1301,東証1部,極洋,12.5,3000,3100,2990,3050,12000,3000,9000,4\r\n"
      "7203,東証1部,トヨタ自動車,-,2500,2550,2480,2520,900000,2490,800000,7\r\n");
  ResultTable t;
  ASSERT_TRUE(read_result_file(path, t));
  ASSERT_EQ(t.count(), 2);
  EXPECT_EQ(t.date(), "20240105");
  EXPECT_EQ(t.extra_caption(), "値上率");
  EXPECT_EQ(t.field(1, result_field::kName), "極洋");
  EXPECT_EQ(t.field(2, result_field::kName), "トヨタ自動車");
  EXPECT_EQ(t.field(2, result_field::kPrevVolume), "800000");
  EXPECT_EQ(t.rows[1][11], "7");

  ResultTable missing;
  missing.rows.push_back({});
  EXPECT_FALSE(read_result_file(dir.file("none.csv"), missing));
  EXPECT_EQ(missing.count(), 0);

  test::write_cp932(
      path, "0,20240105,銘柄,-,始値,高値,安値,終値,出来高,前日引値,前日出来高,ポインタ\r\n");
  ASSERT_TRUE(read_result_file(path, t));
  EXPECT_EQ(t.count(), 0);
  EXPECT_EQ(t.date(), "20240105");
}

TEST(ResultPages, PageCountsButtonsAndPlacement) {
  struct Case {
    int n, page;
    int last_page;
    int rows_shown;
    int first_result;
    bool next, back;
  };
  const Case cases[] = {
      {0, 0, -1, 0, 0, false, false},  // empty result: no page entry, both buttons off
      {1, 0, 0, 1, 1, false, false},
      {25, 0, 0, 25, 1, false, false},  // exactly one page
      {26, 0, 1, 25, 1, true, false},
      {26, 1, 1, 1, 26, false, true},  // result 26 is row 1 of page 1
      {60, 1, 2, 25, 26, true, true},
      {60, 2, 2, 10, 51, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("n=" + std::to_string(c.n) + " page=" + std::to_string(c.page));
    const ResultTable t = numbered(c.n);
    EXPECT_EQ(last_page(c.n), c.last_page);
    EXPECT_EQ(page_entries(c.n).size(), static_cast<std::size_t>(c.last_page + 1));
    const GridPage page = fill_page(t, c.page);
    ASSERT_EQ(page.rows.size(), static_cast<std::size_t>(c.rows_shown));
    if (c.rows_shown > 0) {
      EXPECT_EQ(page.rows[0].result, c.first_result);
      EXPECT_EQ(page.rows[0].cells[0], std::to_string(c.first_result));
      EXPECT_EQ(page.rows[0].cells[1], std::to_string(1000 + c.first_result));
    }
    EXPECT_EQ(page.next_enabled, c.next);
    EXPECT_EQ(page.back_enabled, c.back);
  }
  EXPECT_EQ(page_entries(26), (std::vector<std::string>{" 0", " 1"}));
  EXPECT_EQ(fill_page(numbered(3), 0).captions,
            (std::array<std::string, 6>{"No", "ｺｰﾄﾞ", "銘柄", "終値", "前日比率", "-"}));
}

TEST(ResultPages, RowColoursAndDisplayTexts) {
  struct Case {
    Line line;
    RowColour colour;
    std::string close_text, ratio_text;
  };
  // One page in order: each row's colour may depend on the row above.
  const Case cases[] = {
      // No trade on the first row: black, no ratio.
      {{"1001", "A", "-", "100", "100", "0", "100", "500"}, RowColour::black, "100", "-"},
      // Close above open: red; 1234.4 shows as 1,234; (1234 - 1200) * 100 / 1200.
      {{"1002", "B", "-", "1200", "1234.4", "10", "1200", "5"}, RowColour::red, "1,234", "2.83"},
      // Volume 0 takes the colour of the row above and shows no ratio.
      {{"1003", "C", "-", "900", "800", "0", "800", "5"}, RowColour::red, "800", "-"},
      // Close below open: blue, a negative ratio.
      {{"1004", "D", "-", "1000", "990", "10", "1000", "7"}, RowColour::blue, "990", "-1.00"},
      // Unchanged within half a yen (d1 rounds half to even to 0): green.
      {{"1005", "E", "-", "100", "100.5", "3", "100", "7"}, RowColour::green, "101", "0.00"},
      // No previous volume: no ratio; a zero close shows "-".
      {{"1006", "F", "-", "0", "0", "3", "100", "0"}, RowColour::green, "-", "-"},
      // A zero previous close has no ratio instead of a division by zero.
      {{"1007", "G", "-", "10", "20", "3", "0", "4"}, RowColour::red, "20", "-"},
      // Large numbers keep their grouping.
      {{"1008", "H", "-", "1", "12345678", "3", "12345678", "4"},
       RowColour::red,
       "12,345,678",
       "0.00"},
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

TEST(ResultPages, ExtraColumnFollowsTheCaptionAndNamesAreCut) {
  struct Case {
    std::string caption, extra, shown;
  };
  const Case cases[] = {
      {"値上率", "5.5", "5.50"},     {"値上率", "12.3456", "12.35"},
      {"値上率", "-", "-"},          {"最安値日付", "20231130", "20231130"},
      {"RSI", "3.14159", "3.14"},    {"RSI", "-", "-"},
      {"乖離", "1234.5", "1,234.5"}, {"値幅率", "-0.25", "-0.25"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.caption + " " + c.extra);
    const ResultTable t = make_table(
        {{"1301", "株式会社サクラ精密工業所", c.extra, "1", "2", "3", "1", "3"}}, c.caption);
    const GridPage page = fill_page(t, 0);
    EXPECT_EQ(page.captions[5], c.caption);
    EXPECT_EQ(page.rows.at(0).cells[5], c.shown);
    EXPECT_EQ(page.rows.at(0).cells[2], "株式会社サクラ精");  // first 8 characters
  }
}

// The exchange sort as written for the window, recomputing every key from the text and
// moving whole records: the optimised sort must give exactly this order.
void literal_exchange_sort(ResultTable& t, int column, bool descending) {
  const int n = t.count();
  for (int i = 1; i <= n; ++i) {
    double a = sort_key(t, i, column);
    for (int j = i + 1; j <= n; ++j) {
      const double b = sort_key(t, j, column);
      if ((descending && b > a) || (!descending && b < a)) {
        std::swap(t.rows[i - 1], t.rows[j - 1]);
        a = b;
      }
    }
  }
}

TEST(ResultSort, DoubleClicksOnTheSameColumnReverseAndEqualKeysKeepExchangeOrder) {
  // Closes 1, 3, 1, 3 under codes A..D: the exchange order puts equal keys where a stable
  // sort would not.
  const ResultTable base = make_table({{"1001", "A", "-", "1", "1", "1", "1", "1"},
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
      {1, true, "1004 1003 1002 1001 "},
  };
  ResultTable t = base;
  ResultSorter sorter;
  for (const Step& s : steps) {
    SCOPED_TRACE("column " + std::to_string(s.column));
    EXPECT_EQ(sorter.sort(t, s.column), s.descending);
    EXPECT_EQ(codes(t), s.order);
  }
}

TEST(ResultSort, KeysPerColumn) {
  const ResultTable t = make_table({
      {"1301", "A", "12.5", "100", "110", "10", "100", "10"},  // +10%
      {"1302", "B", "-", "100", "90", "0", "100", "10"},       // no volume: ratio key 0
      {"1303", "C", "3", "100", "95", "10", "100", "10"},      // -5%
      {"1304", "D", "x", "100", "95", "10", "0", "10"},        // zero previous close: 0
  });
  const double expected[4][6] = {
      {0, 1301, 1301, 110, 0.1, 12.5},
      {0, 1302, 1302, 90, 0, 0},
      {0, 1303, 1303, 95, -0.05, 3},
      {0, 1304, 1304, 95, 0, 0},
  };
  for (int i = 1; i <= 4; ++i) {
    for (int column = 0; column < 6; ++column) {
      EXPECT_DOUBLE_EQ(sort_key(t, i, column), expected[i - 1][column])
          << "result " << i << " column " << column;
    }
  }
}

TEST(ResultSort, MatchesTheLiteralExchangeSortOnManyDuplicateKeys) {
  std::mt19937 rng(7);
  std::vector<Line> lines;
  for (int i = 0; i < 400; ++i) {
    // Few distinct values so that equal keys are common; some rows without volume.
    const int close = 100 + static_cast<int>(rng() % 12);
    const int prev = 100 + static_cast<int>(rng() % 5);
    lines.push_back({std::to_string(1000 + i), "N", std::to_string(rng() % 7), "100",
                     std::to_string(close), (rng() % 5) ? "10" : "0", std::to_string(prev), "10"});
  }
  const ResultTable base = make_table(lines, "値上率");
  for (int column : {1, 3, 4, 5}) {
    for (bool descending : {true, false}) {
      SCOPED_TRACE("column " + std::to_string(column) + (descending ? " desc" : " asc"));
      ResultTable fast = base, literal = base;
      exchange_sort(fast, column, descending);
      literal_exchange_sort(literal, column, descending);
      EXPECT_EQ(codes(fast), codes(literal));
    }
  }
}

TEST(ResultStepping, WrapsAroundBothEnds) {
  struct Case {
    int n, current;
    bool forward;
    int expected, page;
  };
  const Case cases[] = {
      {30, 30, true, 1, 0},                         // ▽ on the last result wraps to 1 on page 0
      {30, 1, false, 30, 1},                        // △ on the first wraps to n on the last page
      {30, 25, true, 26, 1},                        // crossing a page boundary
      {30, 26, false, 25, 0}, {30, 0, true, 1, 0},  // caption row current: next is result 1
      {1, 1, true, 1, 0},     {1, 1, false, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("n=" + std::to_string(c.n) + " i=" + std::to_string(c.current));
    const int i = step_result(c.n, c.current, c.forward);
    EXPECT_EQ(i, c.expected);
    EXPECT_EQ(page_of(i), c.page);
  }
  EXPECT_EQ(step_result(0, 1, true), 0);
  EXPECT_EQ(step_result(0, 1, false), 0);
}

TEST(ResultCopy, RowsCrLfCommasRemovedTabsToCommas) {
  struct Case {
    std::vector<std::vector<std::string>> cells;
    std::string text;
  };
  const Case cases[] = {
      {{{"1301", "極洋", "3,050"}, {"7203", "トヨタ自動", "12,345,678"}},
       "1301,極洋,3050\r\n7203,トヨタ自動,12345678"},
      {{{"1,234"}}, "1234"},
      {{{"a", ""}, {"", "b"}}, "a,\r\n,b"},
      {{}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(copy_text(c.cells), c.text);
}

}  // namespace
}  // namespace lp
