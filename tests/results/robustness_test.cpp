// Damaged result files fed to the results viewer: the table stays within its 6001 lines and
// never shows blank records for a header's promise.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/encoding.h"
#include "results/results_model.h"
#include "support/fixtures.h"

namespace lp {
namespace {

TEST(ResultFileRobustness, HeaderCountsGiveBoundedTables) {
  const std::string line =
      utf8_to_cp932("1301,東証1部,極洋,4.76,100,110,90,105,1000,100,500,1\r\n");
  struct Case {
    const char* name;
    int lines;  // below a header that promises 10^9
    int rows;
  };
  const std::vector<Case> cases = {
      {"over two lines", 2, 2},
      {"over 7000 lines", 7000, kMaxResults},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    std::string bytes = "1000000000,20241227,x,y,a,b,c,d,e,f,g,h\r\n";
    for (int i = 0; i < c.lines; ++i) bytes += line;
    test::write_bytes(dir.path() / "sel0_out.csv", bytes);
    ResultTable t;
    ASSERT_TRUE(read_result_file(dir.file("sel0_out.csv"), t));
    EXPECT_EQ(t.count(), c.rows);
    EXPECT_LE(t.rows.capacity(), 2u * kMaxResults);
  }
}

}  // namespace
}  // namespace lp
