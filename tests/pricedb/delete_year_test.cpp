#include "pricedb/delete_year.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/fixtures.h"

namespace lp {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::write_bytes;

// A database with 2012 (every kind of subfolder plus a loose file) and 2013.
struct Db {
  TempDir dir;
  std::string db = dir.str() + "/db/";
  std::vector<std::pair<std::string, MessageColor>> messages;
  std::vector<std::string> statuses;
  std::vector<std::string> questions;
  DeleteHooks hooks;
  Db() {
    for (const char* sub :
         {"data_d_db", "data_d", "data_dg", "data_m", "data_mg", "data_mh", "data_mhg"}) {
      write_bytes(fs::path(db) / "2012" / sub / "x.csv", "x\r\n");
    }
    write_bytes(fs::path(db) / "2012/readme.txt", "x");
    write_bytes(fs::path(db) / "2013/data_m/1001.csv", "x\r\n");
    hooks.confirm = [this](const std::string& q) {
      questions.push_back(q);
      return true;
    };
    hooks.message = [this](const std::string& t, MessageColor c) { messages.emplace_back(t, c); };
    hooks.status = [this](const std::string& s) { statuses.push_back(s); };
    hooks.refresh = [] { return true; };
  }
};

TEST(DeleteYear, RemovesTheWholeYearFolder) {
  Db d;
  EXPECT_EQ(run_delete_year(d.db, " 2012年 ", d.hooks), DeleteResult::deleted);
  EXPECT_FALSE(fs::exists(d.db + "2012"));
  EXPECT_TRUE(fs::exists(d.db + "2013/data_m/1001.csv"));
  EXPECT_EQ(d.questions, std::vector<std::string>{"2012年のデータを削除しますか？"});
  EXPECT_EQ(d.statuses, (std::vector<std::string>{"株価削除開始", "株価削除完了"}));
  ASSERT_EQ(d.messages.size(), 2u);
  EXPECT_EQ(d.messages[0].first, "2012年の株価情報を削除中");
  EXPECT_EQ(d.messages[1].first, "2012年の株価情報を削除しました。");
}

TEST(DeleteYear, AFolderThatCannotGoIsReportedNotHidden) {
  Db d;
  write_bytes(fs::path(d.db) / "2012/data_m/keep/mine.txt", "the user's");
  write_bytes(fs::path(d.db) / "2012/own/mine.txt", "the user's");
  d.hooks.refresh = [] { return false; };
  EXPECT_EQ(run_delete_year(d.db, "2012年", d.hooks), DeleteResult::incomplete);
  // Every plain file went; the user's folders and their content stay.
  EXPECT_FALSE(fs::exists(d.db + "2012/data_m/x.csv"));
  EXPECT_FALSE(fs::exists(d.db + "2012/readme.txt"));
  EXPECT_FALSE(fs::exists(d.db + "2012/data_d"));
  EXPECT_TRUE(fs::exists(d.db + "2012/data_m/keep/mine.txt"));
  EXPECT_TRUE(fs::exists(d.db + "2012/own/mine.txt"));
  ASSERT_GE(d.messages.size(), 2u);
  EXPECT_EQ(d.messages[d.messages.size() - 2].first, "株価データがありません。ご確認ください。");
  EXPECT_EQ(d.messages.back().second, MessageColor::red);
  EXPECT_EQ(d.messages.back().first.rfind("2012年の株価情報を削除できませんでした。", 0), 0u);
  EXPECT_EQ(d.statuses.back(), "株価削除完了");
}

TEST(DeleteYear, SymbolicLinksAreRemovedNeverFollowed) {
  struct Case {
    const char* name;
    std::string link;    // inside the database, relative to it
    bool to_folder;      // the link points at the outside folder (else at its file)
  };
  const std::vector<Case> cases = {
      {"a database subfolder that is a link", "2012/data_d", true},
      {"a link to a folder inside a subfolder", "2012/data_m/elsewhere", true},
      {"a link to a file inside a subfolder", "2012/data_m/1301.csv", false},
      {"a link to a folder in the year folder", "2012/extra", true},
      {"the year folder itself is a link", "2012", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Db d;
    const fs::path outside = d.dir.path() / "outside";
    write_bytes(outside / "precious.csv", "mine\r\n");
    const fs::path link = fs::path(d.db) / c.link;
    fs::remove_all(link);
    fs::create_directories(link.parent_path());
    if (c.to_folder) {
      fs::create_directory_symlink(outside, link);
    } else {
      fs::create_symlink(outside / "precious.csv", link);
    }
    EXPECT_EQ(run_delete_year(d.db, "2012年", d.hooks), DeleteResult::deleted);
    EXPECT_EQ(test::read_bytes(outside / "precious.csv"), "mine\r\n");
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    EXPECT_FALSE(fs::exists(fs::symlink_status(fs::path(d.db) / "2012")));
  }
}

}  // namespace
}  // namespace lp
