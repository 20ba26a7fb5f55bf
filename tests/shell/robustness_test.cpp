// A damaged or foreign "settei.txt" must never leave the program without its folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/encoding.h"
#include "shell/settings.h"
#include "support/damaged_inputs.h"
#include "support/fixtures.h"

namespace lp {
namespace {

namespace fs = std::filesystem;

TEST(SettingsRobustness, DamagedSettingsKeepUsableFolders) {
  struct Case {
    const char* name;
    std::string bytes;      // raw file content; kFolderMarker makes settei.txt a folder
    std::string db_suffix;  // expected db_folder below the documents folder ("" = default)
    std::string ref;
  };
  const std::string kDb = "nordhaven/lumenpick/kabuka_db/";
  const std::string db_key = utf8_to_cp932("株価データベースフォルダパス");
  const std::string user_key = utf8_to_cp932("ユーザフォルダパス");
  const std::string ref_key = utf8_to_cp932("基準コード１");
  const std::vector<Case> cases = {
      {"settei.txt is a folder", std::string(test::kFolderMarker), kDb, "1001"},
      {"empty file", "", kDb, "1001"},
      {"binary garbage", test::garbage(32 * 1024, 3), kDb, "1001"},
      // An empty folder value would put the database (and its deletion) in whatever folder the
      // program was started from.
      {"empty folder values", db_key + ",\r\n" + user_key + ",  \r\nEOF\r\n", kDb, "1001"},
      {"folder key at the very end", db_key, kDb, "1001"},
      {"utf-8 with bom",
       "\xEF\xBB\xBF"
       "株価データベースフォルダパス,MyDocuments\\db8\\\r\n基準コード１,1301\r\nEOF\r\n",
       "db8/", "1301"},
      {"invalid shift_jis before a good key", "\x81\x20\xFF,1\r\n" + ref_key + ",1332\r\nEOF", kDb,
       "1332"},
      {"1 MB line", std::string(1 << 20, 'k') + ",v\r\n" + ref_key + ",1301\r\n", kDb, "1301"},
      {"quoted value cut off", ref_key + ",\"1301", kDb, "1301"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const std::string docs = dir.str() + "/docs";
    const fs::path settei = fs::path(product_folder(docs)) / "settei.txt";
    test::place(settei, c.bytes);
    const AppFolders f = read_settei_sub(docs, dir.str() + "/desk");
    EXPECT_EQ(f.db_folder, docs + "/" + c.db_suffix);
    EXPECT_EQ(f.user_folder, docs + "/nordhaven/lumenpick/user/");
    EXPECT_EQ(f.reference_code, c.ref);
    for (const std::string* folder : {&f.db_folder, &f.user_folder, &f.app_folder}) {
      ASSERT_FALSE(folder->empty());
      EXPECT_EQ(folder->back(), '/');
    }
    // The file is only read, never replaced.
    if (c.bytes != test::kFolderMarker) {
      EXPECT_EQ(fs::file_size(settei), c.bytes.size());
    }
  }
}

}  // namespace
}  // namespace lp
