// The one naming scheme of temporary files, and how listers skip and clear stale ones.
#include <gtest/gtest.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/csv.h"
#include "support/fixtures.h"

namespace lp {
namespace {

namespace fs = std::filesystem;

TEST(TempFiles, NamesOfAtomicWritesAreRecognised) {
  const std::vector<std::pair<std::string, bool>> names = {
      {".1000.csv.123_4.lptmp", true},
      {".x.lptmp", true},
      {"1000.csv", false},
      {"1000.csv.tmp123_4", false},  // not ours: read by nobody either, but not cleared
      {".lptmp", false},
      {"a.lptmp", false},
      {".hidden", false},
  };
  for (const auto& [name, temp] : names) EXPECT_EQ(is_temp_file_name(name), temp) << name;
  const fs::path t = temp_file_for("/db/2013/data_d/20130104.csv");
  EXPECT_EQ(t.parent_path(), "/db/2013/data_d");
  EXPECT_TRUE(is_temp_file_name(t.filename().string())) << t;
  EXPECT_NE(temp_file_for("/a/b.csv"), temp_file_for("/a/b.csv"));
}

TEST(TempFiles, ListersSkipThemAndClearOnlyThoseWhoseWriterIsGone) {
  test::TempDir dir;
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  const std::string dead = std::to_string(child);
  const std::string alive = std::to_string(::getpid());
  struct Case {
    std::string name;
    bool old;     // a day and more untouched
    bool listed;  // list_files returns it
    bool stays;   // still on disk afterwards
  };
  const std::vector<Case> cases = {
      {"20130104.csv", false, true, true},
      {".20130104.csv." + dead + "_0.lptmp", false, false, false},
      {".20130105.csv." + alive + "_1.lptmp", false, false, true},  // a write under way
      {".20130106.csv." + alive + "_2.lptmp", true, false, false},  // abandoned long ago
      {".20130107.csv.garbage.lptmp", false, false, false},
      {"notes.txt", true, true, true},
  };
  for (const Case& c : cases) {
    test::write_bytes(dir.path() / c.name, "x");
    if (c.old) {
      const timeval times[2] = {{::time(nullptr) - 2 * 86400, 0}, {::time(nullptr) - 2 * 86400, 0}};
      ::utimes((dir.path() / c.name).c_str(), times);
    }
  }
  fs::create_directory(dir.path() / "sub");
  std::vector<std::string> listed;
  for (const fs::path& p : list_files(dir.path())) listed.push_back(p.filename().string());
  EXPECT_EQ(listed, (std::vector<std::string>{"20130104.csv", "notes.txt"}));
  for (const Case& c : cases) EXPECT_EQ(fs::exists(dir.path() / c.name), c.stays) << c.name;
}

}  // namespace
}  // namespace lp
