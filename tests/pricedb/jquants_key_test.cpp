// The API key outside the program: only a file private to the user is read.
#include "pricedb/jquants_key.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "support/fixtures.h"

namespace lp {
namespace {

namespace fs = std::filesystem;

TEST(JQuantsKey, OnlyAFilePrivateToTheUserIsRead) {
  const struct {
    mode_t mode;
    bool accepted;
  } cases[] = {{0600, true},  {0400, true},  {0644, false},
               {0640, false}, {0604, false}, {0660, false}};
  for (const auto& c : cases) {
    test::TempDir home;
    const std::string path = jquants::key_file_path(home.str());
    test::write_bytes(path, "  secret-key-42\n");
    ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
    const auto found = jquants::find_api_key(nullptr, home.str());
    EXPECT_EQ(found.key, c.accepted ? "secret-key-42" : "") << std::oct << c.mode;
    if (!c.accepted) {
      EXPECT_NE(found.error.find("chmod 600"), std::string::npos) << found.error;
      EXPECT_EQ(found.error.find("secret"), std::string::npos) << "the message never shows the key";
    }
  }
}

TEST(JQuantsKey, EnvironmentWinsAndSymlinksAndJunkAreRefused) {
  test::TempDir home;
  const std::string path = jquants::key_file_path(home.str());
  ASSERT_TRUE([&] {
    std::string error;
    return jquants::write_key_file(path, "file-key\n", error);
  }());
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(jquants::find_api_key(nullptr, home.str()).key, "file-key");
  auto env = [](const char* name) -> const char* {
    return std::string(name) == "JQUANTS_API_KEY" ? "env-key" : nullptr;
  };
  EXPECT_EQ(jquants::find_api_key(env, home.str()).key, "env-key");

  // A link to a private file elsewhere is not the user's key file.
  test::TempDir other;
  const std::string target = other.file("k");
  test::write_bytes(target, "linked");
  ::chmod(target.c_str(), 0600);
  fs::remove(path);
  fs::create_symlink(target, path);
  EXPECT_EQ(jquants::find_api_key(nullptr, home.str()).key, "");

  // Whatever is not a regular file is refused without opening it: a FIFO would wait forever
  // for a writer.
  for (const auto& make :
       {std::function<void()>([&] { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }),
        std::function<void()>([&] { fs::create_directory(path); })}) {
    fs::remove(path);
    make();
    const auto found = jquants::find_api_key(nullptr, home.str());
    EXPECT_EQ(found.key, "");
    EXPECT_NE(found.error.find("通常のファイルではありません"), std::string::npos) << found.error;
  }
  fs::remove(path);

  std::string error;
  EXPECT_FALSE(jquants::write_key_file(path + "2", "two words", error));
  EXPECT_FALSE(jquants::write_key_file(path + "2", "", error));
  EXPECT_FALSE(fs::exists(path + "2"));
}

}  // namespace
}  // namespace lp
