// Damaged result files fed to the results viewer: the table stays within its 6001 lines, never
// shows blank records for a header's promise, and pages and sorts whatever was read.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/encoding.h"
#include "results/results_model.h"
#include "support/damaged_inputs.h"
#include "support/fixtures.h"

namespace lp {
namespace {

namespace fs = std::filesystem;

const std::string kHeader = utf8_to_cp932(
    "2,20241227,銘柄,前日比率,始値,高値,安値,終値,出来高,前日引値,前日出来高,ポインタ\r\n");
const std::string kLine = utf8_to_cp932("1301,東証1部,極洋,4.76,100,110,90,105,1000,100,500,1\r\n");

std::string many_lines(const std::string& count, int lines) {
  std::string s = count + ",20241227,x,y,a,b,c,d,e,f,g,h\r\n";
  for (int i = 0; i < lines; ++i) s += kLine;
  return s;
}

TEST(ResultFileRobustness, DamagedFilesGiveBoundedTables) {
  struct Case {
    const char* name;
    std::string bytes;  // kFolderMarker: the result file is a folder
    int rows;           // -1: any count up to the limit
    bool readable;
  };
  const std::vector<Case> cases = {
      {"empty", "", 0, true},
      {"a folder", std::string(test::kFolderMarker), 0, false},
      {"binary garbage", test::garbage(64 * 1024, 4), -1, true},
      {"count of 10^9 over two lines", many_lines("1000000000", 2), 2, true},
      {"count of 10^9 over 7000 lines", many_lines("1000000000", 7000), kMaxResults, true},
      {"count of 10^30 over 1 MB of commas",
       "1e30,20241227,a,b,c,d,e,f,g,h,i,j\r\n" + std::string(1 << 20, ','), kMaxResults, true},
      {"1 MB line", std::string(1 << 20, '5') + "\r\n", 0, true},
      {"negative count", many_lines("-3", 2), 0, true},
      // A line cut short is still the line present; it is not padded into a blank one.
      {"truncated last record", kHeader + kLine + "1332,x,y,1,", 2, true},
      {"invalid shift_jis", "1,2,a,b,c,d,e,f,g,h,i,j\r\n\x81\x20,\xFF,\x82", 1, true},
      {"utf-8 with bom", "\xEF\xBB\xBF" + many_lines("1", 1), 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const fs::path p = dir.path() / "sel0_out.csv";
    test::place(p, c.bytes);
    ResultTable t;
    t.rows.resize(3);  // what a previous load left
    EXPECT_EQ(read_result_file(p.string(), t), c.readable);
    if (c.rows >= 0) {
      EXPECT_EQ(t.count(), c.rows);
    }
    EXPECT_LE(t.count(), kMaxResults);
    EXPECT_LE(t.rows.capacity(), 2u * kMaxResults);

    // Whatever was read can be paged, sorted and stepped through.
    const std::vector<std::string> pages = page_entries(t.count());
    EXPECT_EQ(static_cast<int>(pages.size()), last_page(t.count()) + 1);
    for (int p : {0, last_page(t.count()), last_page(t.count()) + 1}) {
      const GridPage page = fill_page(t, p);
      EXPECT_LE(page.rows.size(), static_cast<std::size_t>(kRowsPerPage));
    }
    ResultSorter sorter;
    sorter.sort(t, 4);
    EXPECT_LE(t.count(), kMaxResults);
    EXPECT_EQ(step_result(t.count(), t.count(), true), t.count() > 0 ? 1 : 0);
  }
}

}  // namespace
}  // namespace lp
