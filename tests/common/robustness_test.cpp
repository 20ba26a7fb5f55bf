// Damaged and foreign files fed to the field reader, the file reader and the key/value reader.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "common/csv.h"
#include "common/keyvalue.h"
#include "support/damaged_inputs.h"
#include "support/fixtures.h"

namespace lp {
namespace {

namespace fs = std::filesystem;

TEST(FieldReaderRobustness, EveryInputEndsWithFieldsInsideTheBuffer) {
  const std::vector<test::DamagedInput> inputs = {
      {"binary garbage", test::garbage(64 * 1024, 7)},
      {"unclosed quote", "a,\"" + std::string(100000, 'q')},
      {"quotes only", std::string(10001, '"')},
      {"bare cr lines", std::string(50000, '\r')},
  };
  for (const test::DamagedInput& in : inputs) {
    SCOPED_TRACE(in.name);
    FieldReader r(in.bytes);
    std::string_view f;
    std::size_t last = 0;
    while (r.next(f)) {
      // Every field consumes input: no read can loop in place.
      ASSERT_GT(r.position(), last);
      last = r.position();
      ASSERT_LE(r.position(), in.bytes.size());
      if (!f.empty()) {
        ASSERT_GE(f.data(), in.bytes.data());
        ASSERT_LE(f.data() + f.size(), in.bytes.data() + in.bytes.size());
      }
    }
    EXPECT_TRUE(r.at_end());
    EXPECT_FALSE(FieldReader(in.bytes).skip(in.bytes.size() + 2));
  }
}

TEST(FileReadRobustness, WhatIsNoRegularFileReadsAsMissing) {
  test::TempDir dir;
  fs::create_directories(dir.path() / "folder.csv");
  const std::string fifo = dir.file("pipe.csv");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"a folder", dir.file("folder.csv")},
      // Opening a pipe with nobody writing to it would block the window for good.
      {"a named pipe", fifo},
      {"a character device", "/dev/zero"},
  };
  // A read that blocks ends the test run instead of hanging it.
  ::alarm(5);
  for (const auto& [name, path] : cases) {
    SCOPED_TRACE(name);
    std::string out = "previous";
    EXPECT_FALSE(read_file_bytes(path, out));
    EXPECT_TRUE(out.empty());
    bool called = false;
    EXPECT_FALSE(read_key_values(path, [&](auto&, auto&) { called = true; }));
    EXPECT_FALSE(called);
  }
  ::alarm(0);
}

TEST(KeyValueRobustness, DamagedFilesGiveWhatTheyHold) {
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  struct Case {
    const char* name;
    std::string bytes;
    Pairs want;
  };
  const std::vector<Case> cases = {
      {"no EOF: read to the end", "k,1301\r\nx,1\r\n", {{"k", "1301"}, {"x", "1"}}},
      // Notepad's UTF-8 with a byte order mark: the keys must still be recognised.
      {"utf-8 with bom",
       "\xEF\xBB\xBF"
       "基準コード１,1301\r\nユーザフォルダパス,D:\\u\\\r\nEOF\r\n",
       {{"基準コード１", "1301"}, {"ユーザフォルダパス", "D:\\u\\"}}},
      {"EOF as a value is a value", "k,EOF\r\nEOF,\r\nz,1", {{"k", "EOF"}}},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::write_bytes(dir.path() / "k.txt", c.bytes);
    Pairs got;
    read_key_values(dir.file("k.txt"),
                    [&](const std::string& k, const std::string& v) { got.emplace_back(k, v); });
    EXPECT_EQ(got, c.want);
  }
}

}  // namespace
}  // namespace lp
