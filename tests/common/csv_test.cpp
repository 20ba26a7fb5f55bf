#include "common/csv.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

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

TEST(CsvWriter, TextFieldsNeverCarryTheSeparatorQuotesOrControls) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"Sample Holdings, Inc.", "Sample Holdings， Inc."},
      {"\"押し目", "押し目"},
      {"a\r\nb\"c\"", "abc"},
      {"\x1b]0;x\x07名\x7f前", "]0;x名前"},
      {"\xc2\x9b"
       "2J\xc2\xa0",
       "2J\xc2\xa0"},  // C1 CSI dropped, a no-break space kept
      {"極洋，ＡＢＣ", "極洋，ＡＢＣ"},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(csv_safe_text(c.in), c.out) << c.in;
    CsvWriter w;
    w.field(c.in).field("x").end_line();
    FieldReader r(w.text());
    EXPECT_EQ(r.next_or_empty(), c.out) << c.in;
    EXPECT_EQ(r.next_or_empty(), "x") << c.in;  // the next field stays in its column
  }
  // CP932 bytes: the comma becomes 「，」 (81 43); 「ﾂ」 (C2) before a double-byte character is
  // a character of its own, not the lead of a control.
  EXPECT_EQ(csv_safe_text("A,\xc2\x81\x5b\"", TextEncoding::cp932), "A\x81\x43\xc2\x81\x5b");
  EXPECT_TRUE(is_csv_safe_text("\xc2\x81\x5b", TextEncoding::cp932));
}

TEST(WriteFileAtomic, KeepsThePermissionsOfTheFileItReplaces) {
  test::TempDir dir;
  const mode_t mask = ::umask(022);
  const struct {
    const char* name;
    int before;  // -1: no file yet
    int after;
    bool link = false;  // the name is a link to a file with mode `before`
  } cases[] = {
      {"private.csv", 0600, 0600},
      {"link.csv", 0600, 0644, true},  // the link is replaced; its target lends nothing
      {"shared.csv", 0664, 0664},
      {"readonly.csv", 0444, 0444},
      {"new.csv", -1, 0644},  // what the umask leaves of 0666
  };
  for (const auto& c : cases) {
    const std::string path = dir.file(c.name);
    if (c.before >= 0) {
      const std::string file = c.link ? path + ".target" : path;
      test::write_bytes(file, "old");
      ::chmod(file.c_str(), static_cast<mode_t>(c.before));
      if (c.link) {
        ASSERT_EQ(::symlink(file.c_str(), path.c_str()), 0);
      }
    }
    ASSERT_TRUE(write_file_atomic(path, "new", true)) << c.name;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, static_cast<mode_t>(c.after)) << c.name;
    // The same through the folder-relative writer the database uses.
    std::string scratch;
    const int fd = ::open(dir.str().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_TRUE(write_file_atomic_at(fd, c.name, {"again"}, scratch)) << c.name;
    ::close(fd);
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, static_cast<mode_t>(c.after)) << c.name;
  }
  ::umask(mask);
}

TEST(WriteFileAtomic, TemporaryFilesAreCreatedExclusively) {
  test::TempDir dir;
  const std::filesystem::path target = dir.file("out.xlsx");
  std::filesystem::path a, b;
  ASSERT_TRUE(create_temp_file(target, a));
  ASSERT_TRUE(create_temp_file(target, b));
  EXPECT_NE(a, b);
  EXPECT_EQ(a.parent_path(), target.parent_path());  // beside the target, not in $TMPDIR
  EXPECT_TRUE(is_temp_file_name(a.filename().string()));
  // A name taken by something else (a planted link) is never opened: the next name is used.
  const auto counter_name = [](const std::string& n) {
    return std::stoul(n.substr(n.rfind('_') + 1));
  };
  std::string planted;
  temp_file_name("x.csv", planted);
  planted.replace(planted.rfind('_') + 1, std::string::npos,
                  std::to_string(counter_name(planted) + 1) + ".lptmp");
  std::filesystem::create_symlink(dir.file("victim"), dir.file(planted));
  ASSERT_TRUE(write_file_atomic(dir.file("x.csv"), "data"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("victim")));
  ASSERT_TRUE(commit_temp_file(a, target, true));
  EXPECT_FALSE(std::filesystem::exists(a));
  EXPECT_TRUE(std::filesystem::exists(target));
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
