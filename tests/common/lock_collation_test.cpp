#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "common/collation.h"
#include "common/file_lock.h"
#include "support/fixtures.h"

namespace lp {
namespace {

TEST(FileLock, OneHolderAtATimeAndABoundedWait) {
  test::TempDir dir;
  const std::filesystem::path target = dir.path() / "ptf0.csv";
  EXPECT_EQ(lock_file_path(target), dir.path() / ".ptf0.csv.lock");
  std::string error;
  auto first = FileLock::acquire(target, std::chrono::milliseconds(0), error);
  ASSERT_TRUE(first) << error;
  // A second open of the lock file is another holder, as another process would be.
  const auto start = std::chrono::steady_clock::now();
  auto second = FileLock::acquire(target, std::chrono::milliseconds(150), error);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(second);
  EXPECT_GE(waited, std::chrono::milliseconds(150));
  EXPECT_LT(waited, std::chrono::seconds(3));
  EXPECT_NE(error.find("ptf0.csv"), std::string::npos) << error;
  first.reset();
  EXPECT_TRUE(FileLock::acquire(target, std::chrono::milliseconds(0), error));

  // No folder to put the lock file in: a message, not a crash or a lock on nothing.
  error.clear();
  EXPECT_FALSE(FileLock::acquire(dir.path() / "missing" / "ptf0.csv",
                                 std::chrono::milliseconds(0), error));
  EXPECT_FALSE(error.empty());
}

TEST(Collation, JapaneseNamesInKanaOrderWhateverTheirWidthOrScript) {
  // Each name sorts before the next.
  const char* ordered[] = {
      "(株)アイ",  // punctuation first
      "123商事",   // then digits
      "ABC",       // Latin letters, case apart
      "abd",
      "あおば",    // the same letters in three forms: hiragana, katakana, half-width with a
      "アオバ",    // separate voiced mark; told apart only after the letters tie
      "ｱｵﾊﾞ",
      "ガイア",    // が sorts with か: かいあ before かふと
      "かぶと",
      "サクラ",
      "ｻｸﾗ電機",  // サクラ, then more
      "日本",      // kanji after every kana
  };
  for (std::size_t i = 0; i + 1 < std::size(ordered); ++i) {
    SCOPED_TRACE(std::string(ordered[i]) + " < " + ordered[i + 1]);
    EXPECT_LT(compare_japanese_text(ordered[i], ordered[i + 1]), 0);
    EXPECT_GT(compare_japanese_text(ordered[i + 1], ordered[i]), 0);
  }
  EXPECT_EQ(compare_japanese_text("サクラ", "サクラ"), 0);
  // Full-width and half-width letters are the same at level 1, told apart only on a tie.
  EXPECT_LT(compare_japanese_text("ＡＢＣ", "ABD"), 0);
  EXPECT_LT(compare_japanese_text("ｻｸﾗ", "さくら電機"), 0);
}

}  // namespace
}  // namespace lp
