// Where a program finds its templates: installed under <prefix>/share/lumenpick, or beside
// itself in the build tree.
#include "common/install_layout.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

struct TempDir {
  fs::path path;
  TempDir() {
    path =
        fs::temp_directory_path() /
        ("lp_install_layout_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

void touch(const fs::path& p) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << "x";
}

}  // namespace

TEST(FindInstallFolder, PrefersTheInstalledLayoutAndFallsBackToTheProgramFolder) {
  enum class Want { share, program };
  struct Case {
    const char* what;
    void (*lay_out)(const fs::path& root);
    Want want;
  };
  const Case cases[] = {
      {"installed: bin/ with share/lumenpick/settei.txt",
       [](const fs::path& r) {
         fs::create_directories(r / "bin");
         for (const char* t : {"settei.txt", "init.txt", "cmd.txt"}) {
           touch(r / "share/lumenpick" / t);
         }
       },
       Want::share},
      {"build tree: templates next to the program",
       [](const fs::path& r) {
         for (const char* t : {"settei.txt", "init.txt", "cmd.txt"}) touch(r / "bin" / t);
       },
       Want::program},
      {"both: an installation wins over stray copies beside the program",
       [](const fs::path& r) {
         touch(r / "bin/settei.txt");
         touch(r / "share/lumenpick/settei.txt");
       },
       Want::share},
      {"empty share/lumenpick left by an uninstall does not hide the build templates",
       [](const fs::path& r) {
         touch(r / "bin/settei.txt");
         fs::create_directories(r / "share/lumenpick");
       },
       Want::program},
      {"settei.txt that is a folder is no installation",
       [](const fs::path& r) {
         fs::create_directories(r / "bin");
         fs::create_directories(r / "share/lumenpick/settei.txt");
       },
       Want::program},
  };
  for (const Case& c : cases) {
    TempDir dir;
    c.lay_out(dir.path);
    const std::string program = (dir.path / "bin").string();
    const std::string got = lp::find_install_folder(program);
    const std::string want =
        c.want == Want::share ? (dir.path / "share/lumenpick").string() : program;
    EXPECT_EQ(got, want) << c.what;
  }
}

TEST(FindInstallFolder, EmptyProgramFolderStaysEmpty) {
  EXPECT_EQ(lp::find_install_folder(""), "");
}
