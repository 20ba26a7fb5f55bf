// Where a program finds its templates: installed under <prefix>/share/lumenpick, or beside
// itself in the build tree.
#include "common/install_layout.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/fixtures.h"

namespace fs = std::filesystem;

TEST(FindInstallFolder, PrefersTheInstalledLayoutAndFallsBackToTheProgramFolder) {
  enum class Want { share, program };
  struct Case {
    const char* what;
    std::vector<const char*> files;    // created with some bytes
    std::vector<const char*> folders;  // created empty
    Want want;
  };
  const Case cases[] = {
      {"installed: bin/ with share/lumenpick/ holding the templates",
       {"share/lumenpick/settei.txt", "share/lumenpick/init.txt", "share/lumenpick/cmd.txt"},
       {"bin"},
       Want::share},
      {"build tree: templates next to the program",
       {"bin/settei.txt", "bin/init.txt", "bin/cmd.txt"},
       {},
       Want::program},
      {"both: an installation wins over stray copies beside the program",
       {"bin/settei.txt", "share/lumenpick/settei.txt"},
       {},
       Want::share},
      {"an empty share/lumenpick left by an uninstall does not hide the build templates",
       {"bin/settei.txt"},
       {"share/lumenpick"},
       Want::program},
      {"a folder named settei.txt is no installation",
       {},
       {"bin", "share/lumenpick/settei.txt"},
       Want::program},
  };
  for (const Case& c : cases) {
    lp::test::TempDir dir;
    for (const char* f : c.files) lp::test::write_bytes(dir.path() / f, "x\r\nEOF\r\n");
    for (const char* f : c.folders) fs::create_directories(dir.path() / f);
    const std::string program = (dir.path() / "bin").string();
    const std::string want =
        c.want == Want::share ? (dir.path() / "share/lumenpick").string() : program;
    EXPECT_EQ(lp::find_install_folder(program), want) << c.what;
  }
  EXPECT_EQ(lp::find_install_folder(""), "");
}
