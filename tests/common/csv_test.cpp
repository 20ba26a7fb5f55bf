#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/csv.h"
#include "common/encoding.h"
#include "support/fixtures.h"

namespace lp {
namespace {

std::vector<std::string> all_fields(std::string_view data) {
  FieldReader r(data);
  std::vector<std::string> out;
  std::string_view f;
  while (r.next(f)) out.emplace_back(f);
  return out;
}

TEST(FieldReader, SplitsByTheInputConvention) {
  struct Case {
    const char* name;
    std::string data;
    std::vector<std::string> fields;
  };
  const std::vector<Case> cases = {
      {"crlf lines", "a,b\r\nc,d\r\n", {"a", "b", "c", "d"}},
      {"lf lines", "a,b\nc,d\n", {"a", "b", "c", "d"}},
      {"cr lines", "a,b\rc,d\r", {"a", "b", "c", "d"}},
      {"no final line end", "a,b", {"a", "b"}},
      {"quoted keeps commas and loses quotes", "\"x,y\",z\r\n", {"x,y", "z"}},
      {"quoted keeps line ends", "\"x\r\ny\",z", {"x\r\ny", "z"}},
      {"blanks around unquoted dropped", "  a  ,\tb\t\r\n", {"a", "b"}},
      {"blanks inside kept", " a b ,c", {"a b", "c"}},
      {"empty fields", "a,,b\r\n,\r\n", {"a", "", "b", "", ""}},
      {"empty line is one empty field", "a\r\n\r\nb\r\n", {"a", "", "b"}},
      {"text after closing quote dropped", "\"a\" junk,b", {"a", "b"}},
      {"unclosed quote runs to the end", "\"abc,d", {"abc,d"}},
      {"empty input", "", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(all_fields(c.data), c.fields) << c.name;
  }
}

TEST(FieldReader, StopsAtTheEndWithWhatItRead) {
  // A header claiming ten records over a file that holds one: the reader ends cleanly.
  FieldReader r("20240105,10\r\n1301,x\r\n");
  std::string_view f;
  int read = 0;
  for (int i = 0; i < 2 + 10 * 2; ++i) {
    if (!r.next(f)) break;
    ++read;
  }
  EXPECT_EQ(read, 4);
  EXPECT_TRUE(r.at_end());
  EXPECT_EQ(r.next_or_empty(), "");
}

TEST(CsvWriter, WritesCp932WithCrLfAtomically) {
  test::TempDir dir;
  const std::string path = dir.file("out.csv");
  test::write_bytes(path, "old content that must be replaced whole");
  CsvWriter w;
  w.fields({"1301", "東証1部", "極洋"}).field(42).end_line().field("EOF").end_line();
  ASSERT_TRUE(w.commit(path));
  std::string bytes;
  ASSERT_TRUE(read_file_bytes(path, bytes));
  EXPECT_EQ(bytes, utf8_to_cp932("1301,東証1部,極洋,42\r\nEOF\r\n"));
  // No temporary file is left behind next to the target.
  int files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 1);
}

TEST(WriteFileAtomic, FailsWithoutTouchingAnythingWhenTheFolderIsMissing) {
  test::TempDir dir;
  EXPECT_FALSE(write_file_atomic(dir.file("missing/x.csv"), "data"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
}

TEST(ReadFileBytes, ReadsWholeFilesAndRefusesFolders) {
  test::TempDir dir;
  std::string big(3 * 1024 * 1024 + 17, 'x');
  test::write_bytes(dir.file("big.bin"), big);
  std::string got;
  ASSERT_TRUE(read_file_bytes(dir.file("big.bin"), got));
  EXPECT_EQ(got.size(), big.size());
  EXPECT_FALSE(read_file_bytes(dir.str(), got));
  EXPECT_FALSE(read_file_bytes(dir.file("none.csv"), got));
}

}  // namespace
}  // namespace lp
