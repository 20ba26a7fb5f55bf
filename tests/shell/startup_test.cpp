#include "shell/startup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/csv.h"
#include "shell/settings.h"
#include "support/fixtures.h"

namespace lp {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::write_bytes;

TEST(ProductFolders, TemplatesAreCopiedOnlyAtTheVeryFirstStart) {
  TempDir install, docs;
  write_bytes(install.path() / "cmd.txt", "c");
  write_bytes(install.path() / "settei.txt", "s");  // init.txt missing: skipped
  const fs::path product = docs.path() / "nordhaven/lumenpick";

  const ProductFolderSetup first = prepare_product_folders(docs.str(), install.str());
  EXPECT_TRUE(first.created);
  EXPECT_EQ(first.copied, (std::vector<std::string>{"cmd.txt", "settei.txt"}));
  EXPECT_TRUE(fs::exists(product / "cmd.txt"));
  EXPECT_FALSE(fs::exists(product / "init.txt"));

  // The user deletes a template and edits another: the second start restores nothing.
  fs::remove(product / "cmd.txt");
  write_bytes(product / "settei.txt", "edited");
  write_bytes(install.path() / "init.txt", "i");
  const ProductFolderSetup second = prepare_product_folders(docs.str(), install.str());
  EXPECT_FALSE(second.created);
  EXPECT_TRUE(second.copied.empty());
  EXPECT_FALSE(fs::exists(product / "cmd.txt"));
  EXPECT_FALSE(fs::exists(product / "init.txt"));
  EXPECT_EQ(test::read_cp932(product / "settei.txt"), "edited");
}

TEST(YearLists, PresentYearsAndTheRestDownTo1983) {
  struct Case {
    const char* name;
    std::vector<std::string> folders;
    int current;
    std::vector<std::string> present;
    std::size_t download_count;
    std::string first_download;
  };
  const std::vector<Case> cases = {
      {"empty database", {}, 2013, {}, 31, "2013年"},
      {"2012 and 2013", {"2012", "2013"}, 2013, {"2013年", "2012年"}, 29, "2011年"},
      {"a name ending in a year counts", {"old2012"}, 2013, {"2012年"}, 30, "2013年"},
      {"years beyond the current one are not listed",
       {"2015", "1990"},
       2013,
       {"1990年"},
       30,
       "2013年"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string db = dir.str() + "/kabuka_db/";
    for (const auto& f : c.folders) fs::create_directories(db + f);
    const YearLists lists = build_year_lists(db, c.current);
    EXPECT_TRUE(fs::is_directory(db));
    EXPECT_EQ(lists.present, c.present);
    ASSERT_EQ(lists.download.size(), c.download_count);
    EXPECT_EQ(lists.download.front(), c.first_download);
    EXPECT_EQ(lists.download.back(), "1983年");
  }
}

TEST(DatabaseStatus, DateOrNoData) {
  EXPECT_EQ(database_status_text(true, "20130315"), "株価データベース:　～20130315");
  EXPECT_EQ(database_status_text(true, "0"), "株価データベース:　データ無");
  EXPECT_EQ(database_status_text(false, "20130315"), "株価データベース:　データ無");
}

TEST(MainStatus, TheStatusTable) {
  const std::vector<std::string> six = {"download_cmd",  "meigara_sel2_cmd", "graph_cmd",
                                        "portforio_cmd", "vup1_cmd",         "end_cmd"};
  struct Case {
    std::string status;
    bool six_on;
    std::map<std::string, bool> others;  // every other control the status touches
  };
  const std::vector<Case> cases = {
      {"idle", true, {{"mnt_frm", true}}},
      {"株価ダウンローﾄﾞ開始",
       false,
       {{"cmd_frm", false},
        {"mnt_frm", false},
        {"yyyy_dl_cmb", false},
        {"yyyy_dl_cmd", false},
        {"yyyy_delet_cmb", false},
        {"yyyy_del_cmd", false},
        {"see_data_cmd", false},
        {"yyyy_cmb", false}}},
      {"株価ダウンローﾄﾞ完了",
       true,
       {{"cmd_frm", true},
        {"mnt_frm", true},
        {"yyyy_dl_cmb", true},
        {"yyyy_dl_cmd", true},
        {"yyyy_delet_cmb", true},
        {"yyyy_del_cmd", true},
        {"see_data_cmd", true},
        {"yyyy_cmb", true}}},
      {"株価削除開始",
       false,
       {{"yyyy_dl_cmb", false},
        {"yyyy_dl_cmd", false},
        {"yyyy_delet_cmb", false},
        {"yyyy_del_cmd", false}}},
      {"株価削除完了",
       true,
       {{"yyyy_dl_cmb", true},
        {"yyyy_dl_cmd", true},
        {"yyyy_delet_cmb", true},
        {"yyyy_del_cmd", true},
        {"see_data_cmd", true}}},
      {"something else", true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    std::map<std::string, bool> got;
    for (const auto& [name, on] : main_status_effects(c.status)) got[std::string(name)] = on;
    std::map<std::string, bool> expected = c.others;
    if (!c.others.empty() || c.status == "idle") {
      for (const auto& n : six) expected[n] = c.six_on;
    }
    EXPECT_EQ(got, expected);
  }
}

// The templates shipped next to the program (the build copies them beside the tests too).
fs::path shipped(const char* name) { return fs::canonical("/proc/self/exe").parent_path() / name; }

TEST(Templates, SetteiHoldsTheDefaultsAndCmdEndsWithEnd) {
  TempDir docs;
  const AppFolders defaults = read_settei_sub(docs.str(), docs.str() + "/desktop");
  ASSERT_TRUE(fs::exists(shipped("settei.txt")));
  fs::create_directories(docs.path() / "nordhaven/lumenpick");
  fs::copy_file(shipped("settei.txt"), docs.path() / "nordhaven/lumenpick/settei.txt");
  const AppFolders from_template = read_settei_sub(docs.str(), docs.str() + "/desktop");
  EXPECT_EQ(from_template.db_folder, defaults.db_folder);
  EXPECT_EQ(from_template.user_folder, defaults.user_folder);
  EXPECT_EQ(from_template.reference_code, "1001");
  EXPECT_EQ(from_template.db_url, defaults.db_url);
  EXPECT_EQ(from_template.hp_url, defaults.hp_url);

  CsvFile cmd;
  ASSERT_TRUE(cmd.open(shipped("cmd.txt")));
  int links = 0, with_code = 0;
  while (true) {
    std::string_view name;
    ASSERT_TRUE(cmd.next(name)) << "no END record";
    if (name == "END") break;
    ++links;
    for (int i = 0; i < 7; ++i) {
      if (cmd.next_or_empty() == "$$$$") ++with_code;
    }
  }
  EXPECT_GE(links, 3);
  EXPECT_EQ(with_code, links);
}

TEST(BusyIndicator, TenFramesEndingBlank) {
  const auto& frames = busy_frames();
  EXPECT_EQ(frames[0], "－");
  EXPECT_EQ(frames[2], "＊");
  EXPECT_EQ(frames[9], "");
}

}  // namespace
}  // namespace lp
