// A damaged or foreign "settei.txt" must never leave the program without its folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/encoding.h"
#include "common/settings.h"
#include "support/fixtures.h"

namespace lp {
namespace {

TEST(SettingsRobustness, DamagedSettingsKeepUsableFolders) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string db_suffix;  // expected db_folder below the documents folder
    std::string ref;
  };
  const std::string kDb = "nordhaven/lumenpick/kabuka_db/";
  const std::vector<Case> cases = {
      // An empty folder value would put the database (and its deletion) in whatever folder the
      // program was started from.
      {"empty folder values",
       utf8_to_cp932("株価データベースフォルダパス,\r\nユーザフォルダパス,  \r\nEOF\r\n"), kDb,
       "1001"},
      {"utf-8 with bom",
       "\xEF\xBB\xBF"
       "株価データベースフォルダパス,MyDocuments\\db8\\\r\n基準コード１,1301\r\nEOF\r\n",
       "db8/", "1301"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const std::string docs = dir.str() + "/docs";
    test::write_bytes(std::filesystem::path(product_folder(docs)) / "settei.txt", c.bytes);
    const AppFolders f = read_settei_sub(docs, dir.str() + "/desk");
    EXPECT_EQ(f.db_folder, docs + "/" + c.db_suffix);
    EXPECT_EQ(f.user_folder, docs + "/nordhaven/lumenpick/user/");
    EXPECT_EQ(f.reference_code, c.ref);
  }
}

}  // namespace
}  // namespace lp
