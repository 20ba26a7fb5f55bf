#include "common/settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/shared_settings.h"
#include "support/fixtures.h"

namespace lp {
namespace {

struct SettingsCase {
  const char* name;
  const char* file;  // nullptr: no settei.txt at all
  // Expected fields; "~" stands for the documents folder, "@" for the desktop folder.
  std::string db, user, ref, db_url;
};

std::string expand(std::string s, const std::string& docs, const std::string& desk) {
  if (!s.empty() && s[0] == '~') s = docs + s.substr(1);
  if (!s.empty() && s[0] == '@') s = desk + s.substr(1);
  return s;
}

TEST(Settings, ResolvesFoldersAndKeys) {
  const std::string kDefDb = "~/nordhaven/lumenpick/kabuka_db/";
  const std::string kDefUser = "~/nordhaven/lumenpick/user/";
  const std::string kDefUrl = "http://www.nordhaven.jp/kabu/kabu2/kabuka_db/";
  const std::vector<SettingsCase> cases = {
      {"no file", nullptr, kDefDb, kDefUser, "1001", kDefUrl},
      {"documents prefix", "株価データベースフォルダパス,MyDocuments\\kabu\\\r\nEOF\r\n", "~/kabu/",
       kDefUser, "1001", kDefUrl},
      {"desktop prefix", "ユーザフォルダパス,Desktop\\out\\\r\nEOF\r\n", kDefDb, "@/out/", "1001",
       kDefUrl},
      {"absolute value as written", "ユーザフォルダパス,/srv/lp/user/\r\nEOF\r\n", kDefDb,
       "/srv/lp/user/", "1001", kDefUrl},
      {"missing trailing separator is added", "ユーザフォルダパス,MyDocuments\\res\r\nEOF\r\n",
       kDefDb, "~/res/", "1001", kDefUrl},
      {"no EOF: read to the end", "基準コード１,1301\r\nnordhaven株DB_URL,http://h/db/\r\n", kDefDb,
       kDefUser, "1301", "http://h/db/"},
      {"empty lines skipped", "\r\n\r\n基準コード１,1301\r\n\r\nEOF\r\n", kDefDb, kDefUser, "1301",
       kDefUrl},
      {"half-width digit key ignored", "基準コード1,1301\r\nEOF\r\n", kDefDb, kDefUser, "1001",
       kDefUrl},
      {"later value wins", "基準コード１,1301\r\n基準コード１,1332\r\nEOF\r\n", kDefDb, kDefUser,
       "1332", kDefUrl},
      {"bare prefix leaves the field", "株価データベースフォルダパス,MyDocuments\r\nEOF\r\n",
       kDefDb, kDefUser, "1001", kDefUrl},
      {"values after EOF ignored", "EOF\r\n基準コード１,1301\r\n", kDefDb, kDefUser, "1001",
       kDefUrl},
  };
  for (const SettingsCase& c : cases) {
    test::TempDir docs, desk;
    if (c.file) test::write_cp932(docs.path() / "nordhaven/lumenpick/settei.txt", c.file);
    AppFolders f = read_settei_sub(docs.str(), desk.str());
    EXPECT_EQ(f.db_folder, expand(c.db, docs.str(), desk.str())) << c.name;
    EXPECT_EQ(f.user_folder, expand(c.user, docs.str(), desk.str())) << c.name;
    EXPECT_EQ(f.reference_code, c.ref) << c.name;
    EXPECT_EQ(f.db_url, c.db_url) << c.name;
    EXPECT_EQ(f.app_folder, docs.str() + "/nordhaven/lumenpick/") << c.name;
  }
}

TEST(Settings, DownloadTimeoutTakesOnlyWholeSecondsInRange) {
  const std::vector<std::pair<const char*, int>> cases = {
      {nullptr, 120}, {"30", 30}, {" 600 ", 600},       {"86400", 86400},
      {"86401", 120}, {"0", 120}, {"-5", 120},          {"1.5", 120},
      {"abc", 120},   {"", 120},  {"99999999999", 120},
  };
  for (const auto& [value, seconds] : cases) {
    test::TempDir docs, desk;
    if (value) {
      test::write_cp932(docs.path() / "nordhaven/lumenpick/settei.txt",
                        std::string("ダウンロード上限秒,") + value + "\r\nEOF\r\n");
    }
    EXPECT_EQ(read_settei_sub(docs.str(), desk.str()).download_timeout_s, seconds)
        << (value ? value : "no file");
  }
}

// The Free plan's prices are twelve weeks late: every notice names their day, and only then.
TEST(SharedSettings, TheFreePlansDataNamesItsDay) {
  const struct {
    const char* plan;  // "" : none chosen
    const char* host;
    const char* newest;
    const char* age;  // of the plan and host chosen in the window
  } cases[] = {
      {"free", "jquants", "20260911", "2026/09/11 分のデータ (12週遅れ)"},
      {"", "jquants", "20260911", "2026/09/11 分のデータ (12週遅れ)"},
      {"light", "jquants", "20260911", ""},
      {"free", "maker", "20260911", ""},  // the download host is not late
      {"free", "", "20260911", ""},
      {"free", "jquants", "", ""},  // an empty database names no day
  };
  for (const auto& c : cases) {
    test::TempDir app;
    const std::string folder = app.str() + "/";
    std::string error;
    for (const auto& [key, value] : {std::pair{"plan", c.plan}, std::pair{"host", c.host}}) {
      if (*value) {
        ASSERT_TRUE(write_shared_setting(folder, key, value, error)) << error;
      }
    }
    EXPECT_EQ(chosen_data_age_text(folder, c.newest), c.age) << c.plan << " " << c.host;
  }
  EXPECT_EQ(data_age_text("free", "20260911"), "2026/09/11 分のデータ (12週遅れ)");
  EXPECT_EQ(data_age_text("standard", "20260911"), "");
}

}  // namespace
}  // namespace lp
