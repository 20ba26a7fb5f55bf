#include "common/user_folders.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/fixtures.h"

namespace lp {
namespace {

namespace fs = std::filesystem;

TEST(UserFolders, DocumentsFollowUserDirsWithHomeExpanded) {
  test::TempDir tmp;
  const std::string home = tmp.file("home");
  struct Case {
    std::string dirs_file;  // contents of ~/.config/user-dirs.dirs, "-" for no file
    std::string want;       // "~" stands for the home folder
  };
  const std::vector<Case> cases = {
      {"-", "~/Documents"},
      {"XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n", "~/Documents"},
      {"XDG_DOCUMENTS_DIR=\"$HOME/文書\"\n", "~/文書"},
      {"# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"${HOME}/Docs/\"\n", "~/Docs"},
      {"XDG_DOCUMENTS_DIR=\"/srv/papers\"\r\n", "/srv/papers"},
      {"  XDG_DOCUMENTS_DIR=\"$HOME/My \\\"Files\\\"\"  \n", "~/My \"Files\""},
      {"XDG_DOCUMENTS_DIR=$HOME/plain\n", "~/plain"},
      {"XDG_DOCUMENTS_DIR=\"$HOME\"\n", "~"},
      // The file is shell: the last assignment wins, comments do not count.
      {"XDG_DOCUMENTS_DIR=\"$HOME/a\"\nXDG_DOCUMENTS_DIR=\"$HOME/b\"\n#XDG_DOCUMENTS_DIR=\"/c\"\n",
       "~/b"},
      // Forms the convention does not allow fall back to ~/Documents.
      {"XDG_DOCUMENTS_DIR=\"relative/docs\"\n", "~/Documents"},
      {"XDG_DOCUMENTS_DIR=\"$HOMEWORK/x\"\n", "~/Documents"},
      {"XDG_DOCUMENTS_DIR=\"$HOME/unclosed\n", "~/Documents"},
      {"XDG_DOCUMENTS_DIR=\"\"\n", "~/Documents"},
      {"XDG_DOCUMENTS_DIRS=\"/wrong/key\"\n", "~/Documents"},
  };
  for (const Case& c : cases) {
    fs::remove_all(home);
    fs::create_directories(home + "/.config");
    if (c.dirs_file != "-") test::write_bytes(home + "/.config/user-dirs.dirs", c.dirs_file);
    HomeEnvironment env;
    env.home = home;
    std::string want = c.want;
    if (want.front() == '~') want = home + want.substr(1);
    EXPECT_EQ(documents_folder(env), want) << c.dirs_file;
  }
}

TEST(UserFolders, ConfigHomeOverrideAndMissingHome) {
  test::TempDir tmp;
  test::write_bytes(tmp.file("cfg/user-dirs.dirs"),
                    "XDG_DOCUMENTS_DIR=\"/abs/docs\"\nXDG_DESKTOP_DIR=\"$HOME/Bureau\"\n");
  HomeEnvironment env;
  env.config_home = tmp.file("cfg");
  env.home = "/home/u";
  EXPECT_EQ(documents_folder(env), "/abs/docs");
  EXPECT_EQ(desktop_folder(env), "/home/u/Bureau");
  // No home: an absolute folder still resolves, "$HOME" and the default do not.
  env.home.clear();
  EXPECT_EQ(documents_folder(env), "/abs/docs");
  EXPECT_EQ(desktop_folder(env), "");
  env.config_home.clear();
  EXPECT_EQ(documents_folder(env), "");
  // The program's own override wins over everything.
  env.documents_override = "/tmp/demo/documents/";
  EXPECT_EQ(documents_folder(env), "/tmp/demo/documents");
}

TEST(UserFolders, UnreadableHomeNeverThrows) {
  test::TempDir tmp;
  // Homes the file system refuses to look into even for root: a symlink loop, a name longer
  // than the system allows, a home that is a file.
  fs::create_symlink("loop", tmp.path() / "loop");
  test::write_bytes(tmp.file("file"), "x");
  const std::vector<std::string> homes = {
      tmp.file("loop/home"), tmp.str() + "/" + std::string(5000, 'h'), tmp.file("file")};
  for (const std::string& home : homes) {
    HomeEnvironment env;
    env.home = home;
    std::string got;
    EXPECT_NO_THROW(got = documents_folder(env)) << home.substr(0, 80);
    EXPECT_EQ(got, home + "/Documents") << home.substr(0, 80);
    EXPECT_NO_THROW(desktop_folder(env));
  }
}

}  // namespace
}  // namespace lp
