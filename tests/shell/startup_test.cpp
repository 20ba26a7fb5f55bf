// The templates shipped next to the program are what a first start copies: they must hold
// working settings and a link list the chart can read to its end.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/csv.h"
#include "common/settings.h"
#include "support/fixtures.h"

namespace lp {
namespace {

namespace fs = std::filesystem;

// The build copies the templates beside the test programs too.
fs::path shipped(const char* name) {
  return fs::canonical("/proc/self/exe").parent_path() / name;
}

TEST(Templates, SetteiHoldsTheDefaultsAndCmdEndsWithEnd) {
  test::TempDir docs;
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

}  // namespace
}  // namespace lp
